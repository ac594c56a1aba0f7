// Reads a package the way the launcher will: the 7z database through the same SDK, every entry
// name through the launcher's own rule, and only the coders the launcher decodes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rules/EntryName.h"

struct PackageReport {
    bool ok = false;
    std::string problem;  // what is wrong, for the publisher
    uint32_t entries = 0;
    uint32_t folders = 0;
    uint64_t unpackedBytes = 0;
    uint64_t largestFolder = 0;  // unpacked bytes of the largest solid block
};

PackageReport CheckPackage(const std::string& path);

// The publisher's message for a refused name: the entry, what is wrong, and the entry it clashes
// with.
std::string DescribeNameCheck(const NameCheck& check, const std::vector<PackageEntry>& entries);
