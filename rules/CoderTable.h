// The coders and coder arrangements the launcher's streaming decoder takes, in one table that
// the extractor and the release tool both judge a package by. No Windows calls in here.
#pragma once

#include <cstdint>

extern "C" {
#include "7z.h"
}

namespace coder {
inline constexpr uint32_t kCopy = 0, kLzma = 0x30101, kLzma2 = 0x21, kBcj2 = 0x303011B;
inline constexpr uint32_t kDelta = 3, kBcj = 0x3030103, kPpc = 0x3030205, kIa64 = 0x3030401, kArm = 0x3030501,
                          kArmt = 0x3030701, kSparc = 0x3030805;
}  // namespace coder

enum class CoderRole {
    Main,    // Copy, LZMA, LZMA2: one packed stream in, the data out
    Filter,  // Delta and the branch converters, over a main coder
    Bcj2,    // over three main coders and a raw stream
};

struct LauncherCoder {
    uint32_t methodId;
    const char* name;
    CoderRole role;
    int propsSize;  // the properties it needs in bytes, or -1 for the main coders' own checks
};

// The entry for a method, or null when the launcher does not decode it.
const LauncherCoder* FindLauncherCoder(uint32_t methodId);

// Whether a folder's coders are arranged as the launcher decodes them: one main coder; a filter
// over one; or BCJ2 over three main coders and a raw stream (as 7-Zip writes it).
bool IsLauncherArrangement(const CSzFolder& folder);
