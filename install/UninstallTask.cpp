#include "install/UninstallTask.h"

#include <shellapi.h>
#include <shlobj.h>

#include "install/Shortcuts.h"
#include "install/UninstallEntry.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "update/Settings.h"

namespace {

// The launcher's own file, in its short form when the system has one.
bool OwnFileForDeletion(std::wstring& path) {
    wchar_t own[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    wchar_t shortPath[MAX_PATH] = {};
    DWORD shortLength = GetShortPathNameW(own, shortPath, MAX_PATH);
    path = (shortLength > 0 && shortLength < MAX_PATH) ? shortPath : own;
    return true;
}

}  // namespace

void DeleteOwnFileAfterExit() {
    std::wstring ownFile, parameters;
    wchar_t interpreter[MAX_PATH] = {};
    DWORD interpreterLength = GetEnvironmentVariableW(L"COMSPEC", interpreter, MAX_PATH);
    if (!OwnFileForDeletion(ownFile) || interpreterLength == 0 || interpreterLength >= MAX_PATH ||
        !SelfDeletionParameters(ownFile, parameters))
        return;

    // The launcher, raised above everything, reaches its end before the interpreter, running
    // at idle priority without boost, gets to delete its file.
    SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);

    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS;
    execute.lpVerb = L"Open";
    execute.lpFile = interpreter;
    execute.lpParameters = parameters.c_str();
    execute.nShow = SW_HIDE;
    if (ShellExecuteExW(&execute)) {
        if (execute.hProcess) {
            SetPriorityClass(execute.hProcess, IDLE_PRIORITY_CLASS);
            SetProcessPriorityBoost(execute.hProcess, TRUE);
            CloseHandle(execute.hProcess);
        }
        SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, ownFile.c_str(), nullptr);
    } else {
        SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    }
}

bool SelfDeletionParameters(const std::wstring& path, std::wstring& parameters) {
    // Quoted: a long path with blanks can still only name the launcher's own file.
    std::wstring text = L"/c del \"" + path + L"\" > nul";
    if (text.size() + 1 > MAX_PATH) return false;
    parameters = text;
    return true;
}

std::wstring FindInstalledGameDir() {
    const std::wstring key = UninstallKeyPath();
    std::wstring location;
    // The machine-wide entry first, then the user's own; both go.
    const bool found = ReadRegistryStringIn(HKEY_LOCAL_MACHINE, key, L"InstallLocation", location) ||
                       ReadRegistryStringIn(HKEY_CURRENT_USER, key, L"InstallLocation", location);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    return (found ? location : ResolveInstallRoot()) + L"\\game";
}

DWORD WINAPI UninstallThreadProc(LPVOID parameter) {
    if (!parameter) return 0;
    auto& task = *static_cast<UninstallTask*>(parameter);
    // The thread's barrier: an unexpected exception ends the uninstall as a failure.
    try {
        RunUninstall(task);
    } catch (...) {
        if (!IsTaskFinished(task)) task.result = UNINSTALL_ERR_UNEXPECTED;
    }
    return 0;
}

void RunUninstall(UninstallTask& task) {
    task.status.Set(L"正在卸载文件...");
    if (IsProcessRunning(names::kGameExe, 0)) {
        task.result = LAUNCH_ERR_GAME_RUNNING;
        return;
    }
    Sleep(500);

    const std::wstring gameDir = FindInstalledGameDir();
    DeleteDirectoryTree(gameDir);
    // What an interrupted update may have left beside the game.
    DeleteDirectoryTree(gameDir + L".new");
    DeleteDirectoryTree(gameDir + L".old");
    task.progress = 5000;
    Sleep(500);

    std::wstring link;
    if (DesktopShortcutPath(link)) DeleteFileW(link.c_str());
    if (StartMenuShortcutPath(link)) DeleteFileW(link.c_str());
    if (UserStartMenuShortcutPath(link)) DeleteFileW(link.c_str());
    task.status.Set(L"卸载完成");
    task.progress = 9999;
    Sleep(1000);

    // The interpreter that deletes the launcher's file is started by whoever ends the process,
    // as its last act (see DeleteOwnFileAfterExit).
    task.progress = PROGRESS_FULL;
}
