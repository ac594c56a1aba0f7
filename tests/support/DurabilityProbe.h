// Watches the flushes and renames that the launcher asks for through its durability seam, and
// lets a test make chosen ones fail. One probe at a time; it restores the real calls when it goes.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testing_support {

class DurabilityProbe {
public:
    struct Move {
        std::wstring from, to;
        DWORD flags;
    };
    DurabilityProbe();
    ~DurabilityProbe();
    DurabilityProbe(const DurabilityProbe&) = delete;
    DurabilityProbe& operator=(const DurabilityProbe&) = delete;

    // Paths (as the system names them, lower case) of the files flushed successfully so far.
    std::vector<std::wstring> Flushed() const;
    std::vector<Move> Moves() const;
    // Whether a flush of this file (lower-cased final path) is to fail; a rename from/to to fail.
    std::function<bool(const std::wstring& path)> failFlush;
    std::function<bool(const std::wstring& from, const std::wstring& to)> failMove;

private:
    static BOOL WINAPI Flush(HANDLE file);
    static BOOL WINAPI MoveFile(LPCWSTR from, LPCWSTR to, DWORD flags);
    mutable std::mutex m_mutex;
    std::vector<std::wstring> m_flushed;
    std::vector<Move> m_moves;
};

// The final path of an open file as the probe records it, or of a path (lower case, without the
// "\\?\" prefix).
std::wstring FinalPathOf(HANDLE file);
std::wstring FinalPathOf(const std::wstring& path);

}  // namespace testing_support
