// Sums of sizes that refuse to wrap around. No Windows calls in here.
#pragma once

#include <cstdint>

// Adds value to total; false (total unchanged) when the sum would not fit 64 bits.
inline bool AddWithoutOverflow(uint64_t& total, uint64_t value) {
    if (value > UINT64_MAX - total) return false;
    total += value;
    return true;
}
