// SHA-256 computed on a thread of its own while the caller goes on: the data is copied into a
// bounded queue and hashed there, so a fast download is not slowed by its hash.
#pragma once

#include <atomic>
#include <cstddef>
#include <thread>

#include "platform/ByteQueue.h"
#include "platform/Sha256.h"

class BackgroundSha256 {
public:
    BackgroundSha256();
    ~BackgroundSha256();
    BackgroundSha256(const BackgroundSha256&) = delete;
    BackgroundSha256& operator=(const BackgroundSha256&) = delete;

    // Queues the bytes (waits while the queue is full). False once hashing has failed.
    bool Add(const void* data, size_t size);
    // Waits for everything queued, then gives the digest; false when anything failed. Ends the
    // hash; later calls give the same answer.
    bool Finish(Sha256Digest& digest);

private:
    void Run();

    Sha256 m_hash;
    ByteQueue m_queue;
    std::atomic<bool> m_failed{false};
    std::thread m_thread;
    bool m_finished = false, m_result = false;
    Sha256Digest m_digest{};
};
