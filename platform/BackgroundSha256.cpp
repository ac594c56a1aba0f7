#include "platform/BackgroundSha256.h"

#include <vector>

namespace {
constexpr size_t kQueueBytes = 4u << 20;
constexpr size_t kHashPiece = 256u << 10;
}  // namespace

BackgroundSha256::BackgroundSha256() : m_queue(kQueueBytes) {
    m_failed = !m_hash.Ok();
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (...) {
        m_failed = true;
    }
}

BackgroundSha256::~BackgroundSha256() {
    m_queue.GiveUp();  // an unfinished hash is of no use to anyone
    if (m_thread.joinable()) m_thread.join();
}

bool BackgroundSha256::Add(const void* data, size_t size) {
    return !m_failed && m_queue.Push(data, size) && !m_failed;
}

bool BackgroundSha256::Finish(Sha256Digest& digest) {
    if (!m_finished) {
        m_queue.Close();
        if (m_thread.joinable()) m_thread.join();
        m_finished = true;
        m_result = !m_failed && m_hash.Finish(m_digest);
    }
    digest = m_digest;
    return m_result;
}

// The hashing thread's entry: hashes what is queued, in order, until the queue is closed and
// empty. No exception leaves it.
void BackgroundSha256::Run() {
    try {
        std::vector<unsigned char> piece(kHashPiece);
        while (const size_t got = m_queue.Pop(piece.data(), piece.size())) {
            m_hash.Add(piece.data(), got);
            if (!m_hash.Ok()) break;
        }
        if (!m_hash.Ok()) m_failed = true;
    } catch (...) {
        m_failed = true;
    }
    if (m_failed) m_queue.GiveUp();  // a writer waiting for room is let go
}
