// A piece of work run on a thread of its own while the caller goes on. No exception leaves the
// thread, and the thread is joined before the job goes, whichever way its owner returns.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

class BackgroundJob {
public:
    BackgroundJob() = default;
    ~BackgroundJob() { Join(); }
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;

    // Starts work (one job at a time). Where no thread can be had, work runs here and now: the
    // same result, without the overlap. An exception it throws ends it (work reports its own
    // failures).
    void Start(std::function<void()> work) {
        Join();
        m_done = false;
        try {
            m_thread = std::thread([this, work] {
                Run(work);
                m_done = true;
            });
        } catch (...) {
            Run(work);
            m_done = true;
        }
    }
    bool Done() const { return m_done; }
    void Join() {
        if (m_thread.joinable()) m_thread.join();
    }

private:
    static void Run(const std::function<void()>& work) {
        try {
            work();
        } catch (...) {
        }
    }

    std::thread m_thread;
    std::atomic<bool> m_done{true};
};
