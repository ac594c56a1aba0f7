// The two kinds of value a worker thread and the window thread share: a 32-bit integer that is
// never torn, and a string handed over under a lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// A progress or result field: written by one thread, read by the other, never torn.
using AtomicInt = std::atomic<int32_t>;

// A string that one thread replaces while another copies it. Each side holds the lock only for
// the copy, so the reader never sees a string that is being replaced or released.
class SharedText {
public:
    void Set(std::wstring text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_text.swap(text);
    }
    std::wstring Get() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_text;
    }

private:
    mutable std::mutex m_mutex;
    std::wstring m_text;
};
