#include "platform/ByteQueue.h"

#include <algorithm>
#include <cstring>

bool ByteQueue::Push(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (size_t done = 0; done < size;) {
        m_changed.wait(lock, [this] { return m_count < m_ring.size() || m_givenUp; });
        if (m_givenUp) return false;
        const size_t tail = (m_head + m_count) % m_ring.size();
        const size_t run = std::min({size - done, m_ring.size() - m_count, m_ring.size() - tail});
        memcpy(m_ring.data() + tail, bytes + done, run);
        m_count += run;
        done += run;
        m_changed.notify_all();
    }
    return true;
}

void ByteQueue::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    m_changed.notify_all();
}

size_t ByteQueue::Pop(void* data, size_t size) {
    auto* bytes = static_cast<unsigned char*>(data);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_count > 0 || m_closed || m_givenUp; });
    if (m_givenUp) return 0;
    const size_t n = std::min(size, m_count);
    for (size_t copied = 0; copied < n;) {
        const size_t run = std::min(n - copied, m_ring.size() - m_head);
        memcpy(bytes + copied, m_ring.data() + m_head, run);
        m_head = (m_head + run) % m_ring.size();
        copied += run;
    }
    m_count -= n;
    m_changed.notify_all();
    return n;
}

void ByteQueue::GiveUp() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_givenUp = true;
    m_changed.notify_all();
}
