// A bounded queue of bytes between one writing and one reading thread: the writer waits while it
// is full, the reader while it is empty. Either side can end it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

class ByteQueue {
public:
    explicit ByteQueue(size_t capacity) : m_ring(capacity) {}
    ByteQueue(const ByteQueue&) = delete;
    ByteQueue& operator=(const ByteQueue&) = delete;

    // Writer: queues all of data, waiting for room. False when the reader has given up.
    bool Push(const void* data, size_t size);
    // Writer: nothing more comes; the reader gets what is queued, then 0.
    void Close();
    // Reader: takes up to size bytes, waiting for some. 0 once closed and empty, or given up.
    size_t Pop(void* data, size_t size);
    // Reader: takes nothing more; a waiting or later Push returns false.
    void GiveUp();

private:
    std::vector<unsigned char> m_ring;
    size_t m_head = 0, m_count = 0;
    bool m_closed = false, m_givenUp = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
};
