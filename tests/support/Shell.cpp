#include "tests/support/Shell.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <sstream>

#include "install/Shortcuts.h"

namespace testing_support {

std::wstring LinkTarget(const std::wstring& linkPath) {
    CoInitialize(nullptr);
    std::wstring target;
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            if (SUCCEEDED(file->Load(linkPath.c_str(), STGM_READ))) {
                wchar_t path[MAX_PATH] = {};
                link->GetPath(path, MAX_PATH, nullptr, 0);
                target = path;
            }
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return target;
}

std::wstring DesktopShortcut() {
    std::wstring path;
    DesktopShortcutPath(path);
    return path;
}

std::wstring StartMenuShortcut() {
    std::wstring path;
    StartMenuShortcutPath(path);
    return path;
}

std::wstring UserStartMenuShortcut() {
    std::wstring path;
    UserStartMenuShortcutPath(path);
    return path;
}

void KillProcessesNamed(const std::wstring& exeFileName) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (exeFileName != entry.szExeFile || entry.th32ProcessID == GetCurrentProcessId()) continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
}

namespace {
struct WindowSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK VisitLauncherWindow(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<WindowSearch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == s->pid && IsWindowVisible(w) && !GetWindow(w, GW_OWNER) &&
        (GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_LAYERED)) {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND FindLauncherWindow(unsigned long processId, unsigned long timeoutMs) {
    WindowSearch search{processId, nullptr};
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        EnumWindows(VisitLauncherWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount64() >= end) return search.found;
        Sleep(timeoutMs > 200 ? 20 : 1);
    }
}

std::map<std::wstring, std::wstring> ParseKeyValues(const std::wstring& text) {
    std::map<std::wstring, std::wstring> values;
    std::wistringstream lines(text);
    for (std::wstring line; std::getline(lines, line);) {
        size_t eq = line.find(L'=');
        if (eq != std::wstring::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

namespace {
const wchar_t kConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

}  // namespace

// The user's connection settings as Windows stores them: a version, a counter, the flags
// (1 direct, 2 explicit proxy), then the proxy and the bypass list with their lengths.
bool SetSystemProxy(const std::string& proxy, const std::string& bypass) {
    std::string blob;
    auto dword = [&blob](uint32_t v) { blob.append(reinterpret_cast<const char*>(&v), 4); };
    dword(0x46);
    dword(1);
    dword(proxy.empty() ? 1 : 3);
    dword(uint32_t(proxy.size()));
    blob += proxy;
    dword(uint32_t(bypass.size()));
    blob += bypass;
    dword(0);
    blob.append(32, '\0');
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegSetValueExW(key, L"DefaultConnectionSettings", 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob.data()),
                   DWORD(blob.size()));
    RegCloseKey(key);
    return true;
}
void ClearSystemProxy() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kConnections, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"DefaultConnectionSettings");
        RegCloseKey(key);
    }
}

}  // namespace testing_support
