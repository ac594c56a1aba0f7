#include "install/UninstallEntry.h"

#include <windows.h>

#include <atomic>
#include <cwchar>

#include "platform/ScopedWin.h"
#include "platform/ProductNames.h"

namespace {

constexpr DWORD kFirstReadBytes = 65536;

std::atomic<bool> g_machineWideRefused{false};

void SetString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    RegSetKeyValueW(root, key.c_str(), name, REG_SZ, value.c_str(), DWORD((value.size() + 1) * sizeof(wchar_t)));
}

void SetDword(HKEY root, const std::wstring& key, const wchar_t* name, DWORD value) {
    RegSetKeyValueW(root, key.c_str(), name, REG_DWORD, &value, sizeof value);
}

bool CreateKey(HKEY root, const std::wstring& key) {
    if (root == HKEY_LOCAL_MACHINE && g_machineWideRefused) return false;  // as for a standard user
    scoped::Key created;
    return RegCreateKeyExW(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           created.Out(), nullptr) == ERROR_SUCCESS;
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

void SetMachineWideWritesRefusedForTesting(bool refused) { g_machineWideRefused = refused; }
bool MachineWideWritesRefusedForTesting() { return g_machineWideRefused; }

HKEY WriteUninstallEntry(const std::wstring& installRoot, const std::wstring& launcherPath) {
    const std::wstring key = UninstallKeyPath();
    std::wstring existing;
    if (ReadRegistryStringIn(HKEY_LOCAL_MACHINE, key, L"DisplayName", existing) ||
        ReadRegistryStringIn(HKEY_CURRENT_USER, key, L"DisplayName", existing))
        return nullptr;

    HKEY root = HKEY_LOCAL_MACHINE;
    if (!CreateKey(root, key)) {
        root = HKEY_CURRENT_USER;  // the user's own list of installed programs
        if (!CreateKey(root, key)) return nullptr;
    }
    SetString(root, key, L"DisplayName", names::kDisplayTitle);
    SetString(root, key, L"DisplayIcon", launcherPath);
    SetString(root, key, L"UninstallString", UninstallCommand(launcherPath));
    SetString(root, key, L"InstallLocation", installRoot);
    SetString(root, key, L"Publisher", names::kCompany);
    SetDword(root, key, L"NoModify", 1);
    SetDword(root, key, L"NoRepair", 1);
    return root;
}

bool ReadRegistryString(const std::wstring& subkey, const std::wstring& valueName, std::wstring& out) {
    return ReadRegistryStringIn(HKEY_LOCAL_MACHINE, subkey, valueName, out);
}

bool ReadRegistryStringIn(HKEY root, const std::wstring& subkey, const std::wstring& valueName, std::wstring& out) {
    // Without RRF_NOEXPAND the system would expand a REG_EXPAND_SZ and hand it over as REG_SZ.
    const DWORD flags = RRF_RT_REG_SZ | RRF_ZEROONFAILURE | RRF_NOEXPAND;
    std::wstring buffer(kFirstReadBytes / sizeof(wchar_t), L'\0');
    DWORD bytes = kFirstReadBytes;
    LSTATUS status = RegGetValueW(root, subkey.c_str(), valueName.c_str(), flags, nullptr, &buffer[0], &bytes);
    if (status == ERROR_MORE_DATA) {
        scoped::HeapBlock larger(bytes);
        if (!larger.Get()) return false;
        status = RegGetValueW(root, subkey.c_str(), valueName.c_str(), flags, nullptr, larger.Get(), &bytes);
        if (status != ERROR_SUCCESS) return false;
        out.assign(static_cast<const wchar_t*>(larger.Get()));
        return true;
    }
    if (status != ERROR_SUCCESS) return false;
    out.assign(buffer.c_str());
    return true;
}
