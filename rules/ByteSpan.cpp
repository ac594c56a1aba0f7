#include "rules/ByteSpan.h"

std::vector<ByteSpan> MergeIntoRequests(const std::vector<ByteSpan>& spans, uint64_t mergeGap) {
    std::vector<ByteSpan> requests;
    for (const ByteSpan& span : spans) {
        if (!requests.empty() && span.offset >= requests.back().End() && span.offset - requests.back().End() < mergeGap) {
            requests.back().length = span.End() - requests.back().offset;
            continue;
        }
        ByteSpan request;
        request.offset = span.offset;
        request.length = span.length;
        requests.push_back(request);
    }
    return requests;
}

uint64_t TotalLength(const std::vector<ByteSpan>& spans) {
    uint64_t total = 0;
    for (const ByteSpan& span : spans) total += span.length;
    return total;
}
