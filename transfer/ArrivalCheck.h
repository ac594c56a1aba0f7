// A package checked as it downloads: its bytes, fed in order from the first, are hashed span by
// span on a thread of their own (the spans tile the package, each with the SHA-256 the signed
// index gives), and a reader may use the bytes before end once every span up to end matched.
// A span that does not match ends the check: nothing after it is ever released.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ByteQueue.h"
#include "rules/ByteSpan.h"
#include "transfer/ArrivalGate.h"

class ArrivalCheck : public ArrivalGate {
public:
    // spans: in order, from offset 0, each starting where the one before ends.
    explicit ArrivalCheck(std::vector<ByteSpan> spans);
    ~ArrivalCheck() override;
    ArrivalCheck(const ArrivalCheck&) = delete;
    ArrivalCheck& operator=(const ArrivalCheck&) = delete;

    // The next bytes of the package (waits while the queue is full). False once the check has
    // ended (a span did not match, or it was abandoned).
    bool Add(const void* data, size_t size);
    // Whether any byte has been fed.
    bool Fed() const { return m_fed; }
    // No more bytes come; what is queued is still checked.
    void Close();
    // Ends the check now: every waiting and later WaitFor past what was checked returns false.
    void Abandon();

    // Bytes arrive in order: whatever offset, every byte before end must be checked.
    bool WaitFor(uint64_t end) { return WaitFor(0, end); }
    bool WaitFor(uint64_t offset, uint64_t end) override;
    // Whether a span's bytes were not the index's.
    bool Mismatched() const;
    // The end of the bytes checked so far.
    uint64_t CheckedEnd() const;
    // How long readers have waited for bytes so far, together (for benchmarks).
    uint64_t WaitedMs() const { return m_waitedMs; }

private:
    void Run();
    void Finish(bool mismatched);

    std::vector<ByteSpan> m_spans;
    ByteQueue m_queue;
    bool m_fed = false;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    uint64_t m_checked = 0;
    bool m_ended = false, m_mismatched = false;
    std::atomic<uint64_t> m_waitedMs{0};
    std::thread m_thread;
};
