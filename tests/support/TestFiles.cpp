#include "tests/support/TestFiles.h"

#include <atomic>
#include <cstdio>

#include "platform/ScopedWin.h"

namespace testing_support {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    m_path = std::wstring(base) + L"qt-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(counter++);
    CreateDirectoryW(m_path.c_str(), nullptr);
}

TempDir::~TempDir() { ForceRemoveTree(m_path); }

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    scoped::Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return false;
    DWORD written = 0;
    return bytes.empty() ||
           (WriteFile(file.Get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
            written == bytes.size());
}

std::string ReadFileBytes(const std::wstring& path) {
    scoped::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    if (!file.IsValid()) return bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got) bytes.append(chunk, got);
    return bytes;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {
bool IsLink(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
// The host's path of a Windows path, where Wine tells it.
std::string HostPath(const std::wstring& path) {
    using ToUnix = char*(CDECL*)(LPCWSTR);
    auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return std::string();
    char* unixPath = toUnix(path.c_str());
    if (!unixPath) return std::string();
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}
}  // namespace

bool MakeDirectoryLink(const std::wstring& link, const std::wstring& target) {
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && IsLink(link)) return true;
    const std::string hostLink = HostPath(link), hostTarget = HostPath(target);
    if (hostLink.empty() || hostTarget.empty()) return false;
    // Wine starts a host program like any other.
    std::wstring commandLine = L"ln -s \"" + Widen(hostTarget) + L"\" \"" + Widen(hostLink) + L"\"";

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(L"Z:\\bin\\ln", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        fprintf(stderr, "cannot start the host's ln (error %lu)\n", GetLastError());
        return false;
    }
    // A host program's handle cannot be waited for: the link is watched for instead.
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    for (int i = 0; i < 100 && !IsLink(link); ++i) Sleep(50);
    return IsLink(link);
}

void ForceRemoveTree(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    if (!(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW entry;
        std::vector<std::wstring> children;
        HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..") children.push_back(path + L"\\" + name);
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
        for (const auto& child : children) ForceRemoveTree(child);
    }
    RemoveDirectoryW(path.c_str());
}

std::wstring ProgramDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    return text.substr(0, text.rfind(L'\\') + 1);
}

std::wstring HelperProgram(const std::wstring& fileName) { return ProgramDir() + fileName; }

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n);
    return out;
}

bool IsPassingStartRefusal(DWORD error, bool programExists) {
    if (!programExists) return false;
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
        return false;
    default:
        return true;
    }
}

ChildProcess::ChildProcess(const std::wstring& exe, const std::wstring& arguments) {
    // Under Wine a start right after another program ended now and then fails once although the
    // program is there: that refusal, and only that, is tried again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        if (CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &m_info)) {
            if (m_retries > 0) fprintf(stderr, "started %ls after %d retries\n", exe.c_str(), m_retries);
            return;
        }
        const DWORD error = GetLastError();
        m_info = PROCESS_INFORMATION{};
        if (!IsPassingStartRefusal(error, Exists(exe))) {
            fprintf(stderr, "starting %ls failed (error %lu)\n", exe.c_str(), error);
            return;
        }
        ++m_retries;
        fprintf(stderr, "starting %ls failed (error %lu), retry %d\n", exe.c_str(), error, m_retries);
        Sleep(300);
    }
}

ChildProcess::~ChildProcess() {
    if (!Started()) return;
    Kill();
    CloseHandle(m_info.hThread);
    CloseHandle(m_info.hProcess);
}

DWORD ChildProcess::Wait(DWORD timeoutMs) {
    if (!Started()) return DWORD(-1);
    WaitForSingleObject(m_info.hProcess, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_info.hProcess, &code);
    return code;
}

void ChildProcess::Kill() {
    if (Started() && WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_info.hProcess, 1);
        WaitForSingleObject(m_info.hProcess, 5000);
    }
}

DWORD RunProgram(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs) {
    ChildProcess child(exe, arguments);
    return child.Wait(timeoutMs);
}

}  // namespace testing_support
