// SHA-256 computed on a thread of its own while the caller goes on: the data is copied into a
// bounded queue and hashed there, so a fast download is not slowed by its hash.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Sha256.h"

class BackgroundSha256 {
public:
    BackgroundSha256();
    ~BackgroundSha256();
    BackgroundSha256(const BackgroundSha256&) = delete;
    BackgroundSha256& operator=(const BackgroundSha256&) = delete;

    // Queues the bytes (waits while the queue is full). False once hashing has failed.
    bool Add(const void* data, size_t size);
    // Waits for everything queued, then gives the digest; false when anything failed.
    bool Finish(Sha256Digest& digest);

private:
    void Run();

    Sha256 m_hash;
    std::vector<unsigned char> m_queue;
    size_t m_head = 0, m_count = 0;
    bool m_closing = false, m_failed = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
    bool m_finished = false, m_result = false;
    Sha256Digest m_digest{};
};
