#include "install/Shortcuts.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <cstdlib>

#include "install/UninstallEntry.h"
#include "update/LauncherUpdate.h"
#include "platform/LauncherBuild.h"
#include "platform/ScopedWin.h"
#include "platform/ProductNames.h"

namespace {
// Built where needed: no static object that a worker uses may be destroyed at exit under it.
std::wstring ShortcutName() { return std::wstring(names::kDisplayTitle) + L".lnk"; }
}  // namespace

bool DesktopShortcutPath(std::wstring& path) {
    wchar_t desktop[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, SHGFP_TYPE_CURRENT, desktop) != S_OK)
        return false;
    path = std::wstring(desktop) + L"\\" + ShortcutName();
    return true;
}

bool StartMenuShortcutPath(std::wstring& path) {
    const wchar_t* programData = _wgetenv(L"PROGRAMDATA");
    if (!programData || !*programData) return false;
    path = std::wstring(programData) + L"\\Microsoft\\Windows\\Start Menu\\Programs\\" + ShortcutName();
    return true;
}

bool UserStartMenuShortcutPath(std::wstring& path) {
    PWSTR programs = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(FOLDERID_Programs, KF_FLAG_CREATE, nullptr, &programs);
    if (hr == S_OK) path = std::wstring(programs) + L"\\" + ShortcutName();
    CoTaskMemFree(programs);
    return hr == S_OK;
}

void RegisterInstallation(const std::wstring& installRoot) {
    wchar_t ownPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
    const std::wstring copy = LauncherCopyPath(installRoot);

    if (copy != ownPath) {  // code unit by code unit: another letter case is another path
        // Never a lower build over a higher one: an old launcher run from a download folder
        // leaves a copy that updated itself as it is.
        if (MayReplaceLauncher(ReadLauncherBuild(ownPath), ReadLauncherBuild(copy))) CopyFileW(ownPath, copy.c_str(), FALSE);
        std::wstring link;
        if (DesktopShortcutPath(link)) CreateShortcut(copy, link);
        // The all-users Start menu first; a standard user may not write there.
        const bool machineWide = !MachineWideWritesRefusedForTesting() && StartMenuShortcutPath(link) &&
                                 SUCCEEDED(CreateShortcut(copy, link));
        if (!machineWide && UserStartMenuShortcutPath(link)) CreateShortcut(copy, link);
    }
    WriteUninstallEntry(installRoot, copy);
}

HRESULT CreateShortcut(const std::wstring& target, const std::wstring& linkPath) {
    scoped::ComInit com;
    if (FAILED(com.Result())) return com.Result();

    scoped::ComPtr<IShellLinkW> link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.OutVoid());
    if (FAILED(hr)) return hr;
    link->SetPath(target.c_str());
    link->SetDescription(nullptr);

    scoped::ComPtr<IPersistFile> file;
    hr = link->QueryInterface(IID_IPersistFile, file.OutVoid());
    if (FAILED(hr)) return hr;
    return file->Save(linkPath.c_str(), TRUE);
}
