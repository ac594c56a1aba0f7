#include "transfer/ArrivalCheck.h"

#include <windows.h>

#include <algorithm>

#include "platform/Sha256.h"

namespace {
constexpr size_t kQueueBytes = 4u << 20;
constexpr size_t kHashPiece = 256u << 10;
}  // namespace

ArrivalCheck::ArrivalCheck(std::vector<ByteSpan> spans) : m_spans(std::move(spans)), m_queue(kQueueBytes) {
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (...) {
        Finish(false);
    }
}

ArrivalCheck::~ArrivalCheck() {
    Abandon();
    if (m_thread.joinable()) m_thread.join();
}

bool ArrivalCheck::Add(const void* data, size_t size) {
    m_fed = true;
    return m_queue.Push(data, size);
}

void ArrivalCheck::Close() { m_queue.Close(); }

void ArrivalCheck::Abandon() {
    m_queue.GiveUp();
    Finish(false);
}

bool ArrivalCheck::WaitFor(uint64_t, uint64_t end) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_checked >= end) return true;
    const ULONGLONG started = GetTickCount64();
    m_changed.wait(lock, [&] { return m_checked >= end || m_ended; });
    m_waitedMs += GetTickCount64() - started;
    return m_checked >= end;
}

bool ArrivalCheck::Mismatched() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mismatched;
}

uint64_t ArrivalCheck::CheckedEnd() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_checked;
}

void ArrivalCheck::Finish(bool mismatched) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mismatched = m_mismatched || mismatched;
    m_ended = true;
    m_changed.notify_all();
}

// The checking thread's entry: each span's bytes hashed in turn, the checked end moved past it
// when it matches. No exception leaves it.
void ArrivalCheck::Run() {
    bool mismatched = false;
    try {
        std::vector<unsigned char> piece(kHashPiece);
        size_t span = 0;
        uint64_t inSpan = 0;
        std::unique_ptr<Sha256> hash(new Sha256);
        while (const size_t got = m_queue.Pop(piece.data(), piece.size())) {
            for (size_t used = 0; used < got;) {
                if (span == m_spans.size()) {  // more bytes than the package has
                    mismatched = true;
                    break;
                }
                const ByteSpan& current = m_spans[span];
                const size_t take = size_t(std::min<uint64_t>(got - used, current.length - inSpan));
                hash->Add(piece.data() + used, take);
                used += take;
                inSpan += take;
                if (inSpan < current.length) continue;
                Sha256Digest digest{};
                if (!hash->Finish(digest) || digest != current.sha256) {
                    mismatched = true;
                    break;
                }
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_checked = current.End();
                    m_changed.notify_all();
                }
                ++span;
                inSpan = 0;
                hash.reset(new Sha256);
            }
            if (mismatched) break;
        }
    } catch (...) {
        mismatched = false;  // no memory: the check ends, the bytes are not blamed
    }
    m_queue.GiveUp();  // a writer waiting for room is let go
    Finish(mismatched);
}
