// A SHA-256 digest as 32 bytes. No Windows calls in here: the release tool uses it too.
#pragma once

#include <array>
#include <cstdint>

using Sha256Digest = std::array<uint8_t, 32>;
