#include "platform/DurableFile.h"

#include <atomic>

namespace {
std::atomic<FlushFunction> g_flush{FlushFileBuffers};
std::atomic<MoveFunction> g_move{MoveFileExW};
}  // namespace

bool FlushAndClose(scoped::Handle& file) {
    if (!file.IsValid()) return false;
    const bool flushed = g_flush.load()(file.Get()) != FALSE;
    const bool closed = CloseHandle(file.Release()) != FALSE;
    return flushed && closed;
}

bool MoveWriteThrough(const std::wstring& from, const std::wstring& to) {
    return g_move.load()(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

void SetDurabilityCallsForTesting(FlushFunction flush, MoveFunction move) {
    g_flush = flush ? flush : FlushFileBuffers;
    g_move = move ? move : MoveFileExW;
}
