// The file index of a package, worked out from the package itself: its spans and their hashes
// read from the archive's own records, every file and chunk decoded to hash what it holds. The
// release tool writes what it builds and checks a published index by building it again.
#pragma once

#include <string>

#include "rules/PackageIndex.h"

// "" and the index, or what is wrong with the package.
std::string BuildPackageIndex(const std::string& packagePath, PackageIndex& index);
