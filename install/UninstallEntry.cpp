#include "install/UninstallEntry.h"

#include <windows.h>

#include <cwchar>

#include "platform/ScopedWin.h"
#include "update/Settings.h"

namespace {

constexpr DWORD kFirstReadBytes = 65536;

void SetString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, value.c_str(),
                    DWORD((value.size() + 1) * sizeof(wchar_t)));
}

void SetDword(const std::wstring& key, const wchar_t* name, DWORD value) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_DWORD, &value, sizeof value);
}

}  // namespace

std::wstring UninstallKeyPath() {
    wchar_t path[MAX_PATH];
    swprintf(path, MAX_PATH, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%ls.%ls",
             names::kCompany, names::kGame);
    return path;
}

std::wstring UninstallCommand(const std::wstring& launcherPath) {
    return L"\"" + launcherPath + L"\" -uninstall";
}

void WriteUninstallEntry(const std::wstring& installRoot, const std::wstring& launcherPath) {
    const std::wstring key = UninstallKeyPath();
    std::wstring existing;
    if (ReadRegistryString(key, L"DisplayName", existing)) return;

    {
        scoped::Key created;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, created.Out(), nullptr) != ERROR_SUCCESS)
            return;
    }
    SetString(key, L"DisplayName", names::kDisplayTitle);
    SetString(key, L"DisplayIcon", launcherPath);
    SetString(key, L"UninstallString", UninstallCommand(launcherPath));
    SetString(key, L"InstallLocation", installRoot);
    SetString(key, L"Publisher", names::kCompany);
    SetDword(key, L"NoModify", 1);
    SetDword(key, L"NoRepair", 1);
}

bool ReadRegistryString(const std::wstring& subkey, const std::wstring& valueName, std::wstring& out) {
    // Without RRF_NOEXPAND the system would expand a REG_EXPAND_SZ and hand it over as REG_SZ.
    const DWORD flags = RRF_RT_REG_SZ | RRF_ZEROONFAILURE | RRF_NOEXPAND;
    std::wstring buffer(kFirstReadBytes / sizeof(wchar_t), L'\0');
    DWORD bytes = kFirstReadBytes;
    LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, subkey.c_str(), valueName.c_str(), flags,
                                  nullptr, &buffer[0], &bytes);
    if (status == ERROR_MORE_DATA) {
        scoped::HeapBlock larger(bytes);
        if (!larger.Get()) return false;
        status = RegGetValueW(HKEY_LOCAL_MACHINE, subkey.c_str(), valueName.c_str(), flags, nullptr,
                              larger.Get(), &bytes);
        if (status != ERROR_SUCCESS) return false;
        out.assign(static_cast<const wchar_t*>(larger.Get()));
        return true;
    }
    if (status != ERROR_SUCCESS) return false;
    out.assign(buffer.c_str());
    return true;
}
