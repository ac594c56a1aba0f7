#include "platform/FileSystem.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/DurableFile.h"
#include "platform/ScopedWin.h"

namespace {

// A constant without a destructor: the worker may use it while the process ends.
constexpr wchar_t kSeparators[] = L"\\/";

// Writes a + b into a MAX_PATH buffer; false when the result (with its terminator) does not fit.
bool JoinInto(wchar_t (&buffer)[MAX_PATH], const std::wstring& a, const wchar_t* b) {
    size_t lenB = wcslen(b);
    if (a.size() + lenB + 1 > MAX_PATH) return false;
    std::memcpy(buffer, a.data(), a.size() * sizeof(wchar_t));
    std::memcpy(buffer + a.size(), b, (lenB + 1) * sizeof(wchar_t));
    return true;
}

// Removes a directory link itself. Some systems report a failure although the link is gone.
bool RemoveLink(const wchar_t* path) {
    return RemoveDirectoryW(path) || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool CreateDirectoryTree(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0;

    size_t lastSeparator = path.find_last_of(kSeparators);
    if (lastSeparator != std::wstring::npos) CreateDirectoryTree(path.substr(0, lastSeparator));
    return CreateDirectoryW(path.c_str(), nullptr) != FALSE;
}

bool DeleteDirectoryTree(const std::wstring& directory) {
    // A link given as the tree itself goes alone: its target is somebody else's folder.
    const DWORD attributes = GetFileAttributesW(directory.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return RemoveLink(directory.c_str());

    wchar_t pattern[MAX_PATH];
    wchar_t prefix[MAX_PATH];
    if (!JoinInto(pattern, directory, L"\\*") || !JoinInto(prefix, directory, L"\\")) return false;
    const std::wstring prefixText = prefix;

    WIN32_FIND_DATAW entry;
    scoped::FindHandle search(FindFirstFileW(pattern, &entry));
    if (!search.IsValid()) return false;

    do {
        if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;

        wchar_t entryPath[MAX_PATH];
        if (!JoinInto(entryPath, prefixText, entry.cFileName)) return false;

        const bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool isLink = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (isDirectory && isLink) {
            // A junction or directory link: remove the link, leave its target alone.
            if (!RemoveLink(entryPath)) return false;
        } else if (isDirectory) {
            if (!DeleteDirectoryTree(entryPath)) return false;
        } else {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(entryPath, entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
            if (!DeleteFileW(entryPath)) return false;
        }
    } while (FindNextFileW(search.Get(), &entry));

    if (GetLastError() != ERROR_NO_MORE_FILES) return false;
    // The search must be closed before the directory can go.
    search.Close();
    return RemoveDirectoryW(directory.c_str()) != FALSE;
}

bool RemoveTreeIfPresent(const std::wstring& directory) {
    if (GetFileAttributesW(directory.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    DeleteDirectoryTree(directory);
    return GetFileAttributesW(directory.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool CanOpenForReading(const std::wstring& path) {
    scoped::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    return file.IsValid();
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    scoped::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) return false;
    bytes.clear();
    char chunk[64 * 1024];
    DWORD got = 0;
    for (;;) {
        if (!ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr)) return false;
        if (got == 0) return true;
        bytes.append(chunk, got);
    }
}

bool WriteAll(void* file, const void* data, size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    for (size_t done = 0; done < size;) {
        DWORD written = 0;
        const DWORD piece = DWORD(std::min<size_t>(size - done, 0x400000));
        if (!WriteFile(file, bytes + done, piece, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

bool ReadFileAt(void* file, uint64_t offset, void* data, uint32_t size) {
    OVERLAPPED at = {};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD got = 0;
    return ReadFile(file, data, size, &got, &at) && got == size;
}

bool WriteFileAt(void* file, uint64_t offset, const void* data, uint32_t size) {
    OVERLAPPED at = {};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD written = 0;
    return WriteFile(file, data, size, &written, &at) && written == size;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    scoped::Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid() || !WriteAll(file.Get(), bytes.data(), bytes.size())) return false;
    return FlushAndClose(file);
}
