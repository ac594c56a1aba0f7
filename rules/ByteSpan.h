// A span of a package's bytes with the SHA-256 they must have, and the requests that fetch
// spans. No Windows calls in here.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Sha256Digest.h"

struct ByteSpan {
    uint64_t offset = 0, length = 0;
    Sha256Digest sha256{};
    uint64_t End() const { return offset + length; }
};

// Requests for spans in package order: spans less than mergeGap bytes apart share one request
// (the bytes between them are fetched and never used). Only offset and length are set.
inline constexpr uint64_t RANGE_MERGE_GAP = 1ull << 20;
std::vector<ByteSpan> MergeIntoRequests(const std::vector<ByteSpan>& spans, uint64_t mergeGap = RANGE_MERGE_GAP);
uint64_t TotalLength(const std::vector<ByteSpan>& spans);
