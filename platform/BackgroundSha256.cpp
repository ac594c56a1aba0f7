#include "platform/BackgroundSha256.h"

#include <algorithm>
#include <cstring>

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
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

bool BackgroundSha256::Add(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (size_t done = 0; done < size;) {
        m_changed.wait(lock, [this] { return m_count < m_queue.size() || m_failed; });
        if (m_failed) return false;
        const size_t tail = (m_head + m_count) % m_queue.size();
        const size_t run = std::min({size - done, m_queue.size() - m_count, m_queue.size() - tail});
        memcpy(m_queue.data() + tail, bytes + done, run);
        m_count += run;
        done += run;
        m_changed.notify_all();
    }
    return !m_failed;
}

bool BackgroundSha256::Finish(Sha256Digest& digest) {
    if (!m_finished) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_closing = true;
        }
        m_changed.notify_all();
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
        for (;;) {
            size_t run = 0;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [this] { return m_count > 0 || m_closing || m_failed; });
                if (m_failed || m_count == 0) return;  // closed and drained
                run = std::min({m_count, piece.size(), m_queue.size() - m_head});
                memcpy(piece.data(), m_queue.data() + m_head, run);
                m_head = (m_head + run) % m_queue.size();
                m_count -= run;
            }
            m_changed.notify_all();
            m_hash.Add(piece.data(), run);
            if (!m_hash.Ok()) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_failed = true;
                m_changed.notify_all();
                return;
            }
        }
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failed = true;
        m_changed.notify_all();
    }
}
