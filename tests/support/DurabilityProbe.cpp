#include "tests/support/DurabilityProbe.h"

#include <algorithm>
#include <cwctype>

#include "platform/DurableFile.h"
#include "platform/ScopedWin.h"

namespace testing_support {

namespace {
DurabilityProbe* g_probe = nullptr;

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = wchar_t(std::towlower(c));
    return text;
}
}  // namespace

std::wstring FinalPathOf(HANDLE file) {
    wchar_t buffer[1024] = {};
    const DWORD length = GetFinalPathNameByHandleW(file, buffer, 1024, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= 1024) return std::wstring();
    std::wstring path(buffer, length);
    if (path.compare(0, 4, L"\\\\?\\") == 0) path.erase(0, 4);
    return Lower(path);
}

std::wstring FinalPathOf(const std::wstring& path) {
    scoped::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.IsValid() ? FinalPathOf(file.Get()) : std::wstring();
}

DurabilityProbe::DurabilityProbe() {
    g_probe = this;
    SetDurabilityCallsForTesting(&DurabilityProbe::Flush, &DurabilityProbe::MoveFile);
}

DurabilityProbe::~DurabilityProbe() {
    SetDurabilityCallsForTesting(nullptr, nullptr);
    g_probe = nullptr;
}

std::vector<std::wstring> DurabilityProbe::Flushed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_flushed;
}

std::vector<DurabilityProbe::Move> DurabilityProbe::Moves() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_moves;
}

BOOL WINAPI DurabilityProbe::Flush(HANDLE file) {
    const std::wstring path = FinalPathOf(file);
    if (g_probe->failFlush && g_probe->failFlush(path)) {
        SetLastError(ERROR_IO_DEVICE);
        return FALSE;
    }
    if (!FlushFileBuffers(file)) return FALSE;
    std::lock_guard<std::mutex> lock(g_probe->m_mutex);
    g_probe->m_flushed.push_back(path);
    return TRUE;
}

BOOL WINAPI DurabilityProbe::MoveFile(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (g_probe->failMove && g_probe->failMove(from, to)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    const BOOL moved = MoveFileExW(from, to, flags);
    if (moved) {
        std::lock_guard<std::mutex> lock(g_probe->m_mutex);
        g_probe->m_moves.push_back(Move{from, to, flags});
    }
    return moved;
}

}  // namespace testing_support
