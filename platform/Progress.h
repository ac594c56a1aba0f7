// The progress scale every stage counts in. No Windows calls in here.
#pragma once

#include <cstdint>

// Every progress value runs from 0 to PROGRESS_FULL (hundredths of a percent).
inline constexpr int32_t PROGRESS_FULL = 10000;
