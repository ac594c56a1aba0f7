// Reads a package the way the launcher will: the 7z database through the same SDK, every entry
// name through the launcher's own rule, and only the coders the launcher decodes.
#pragma once

#include <cstdint>
#include <string>

struct PackageReport {
    bool ok = false;
    std::string problem;  // what is wrong, for the publisher
    uint32_t entries = 0;
    uint32_t folders = 0;
    uint64_t unpackedBytes = 0;
    uint64_t largestFolder = 0;  // unpacked bytes of the largest solid block
};

PackageReport CheckPackage(const std::string& path);

// Whether the launcher's decoder takes a coder: Copy, LZMA, LZMA2, the filters Delta, BCJ, PPC,
// IA64, ARM, ARMT, SPARC, and BCJ2.
bool IsLauncherCoder(uint32_t methodId);
