#include "install/UninstallTask.h"

#include <shellapi.h>
#include <shlobj.h>

#include "install/Shortcuts.h"
#include "install/UninstallEntry.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/ScopedWin.h"
#include "update/GameFolders.h"
#include "update/LauncherUpdate.h"
#include "update/Settings.h"
#include "update/WorkFolder.h"

void DeleteOwnFileAfterExit() {
    wchar_t ownPath[MAX_PATH] = {};
    wchar_t interpreter[MAX_PATH] = {};
    const DWORD ownLength = GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
    const DWORD interpreterLength = GetEnvironmentVariableW(L"COMSPEC", interpreter, MAX_PATH);
    if (ownLength == 0 || ownLength >= MAX_PATH || interpreterLength == 0 || interpreterLength >= MAX_PATH) return;
    // The interpreter starts in the launcher's folder, so the folder's name never reaches its
    // command line; the file's name reaches it through the environment.
    const std::wstring own = ownPath;
    const size_t separator = own.rfind(L'\\');
    if (separator == std::wstring::npos) return;
    const std::wstring folder = own.substr(0, separator + 1), fileName = own.substr(separator + 1);
    if (!SetEnvironmentVariableW(SELF_DELETION_VARIABLE, fileName.c_str())) return;

    // The launcher, raised above everything, reaches its end before the interpreter, running
    // at idle priority without boost, gets to delete its file.
    SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);

    const std::wstring parameters = SelfDeletionParameters();
    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS;
    execute.lpVerb = L"Open";
    execute.lpFile = interpreter;
    execute.lpParameters = parameters.c_str();
    execute.lpDirectory = folder.c_str();
    execute.nShow = SW_HIDE;
    if (ShellExecuteExW(&execute)) {
        scoped::Handle interpreterProcess(execute.hProcess);
        if (interpreterProcess.IsValid()) {
            SetPriorityClass(interpreterProcess.Get(), IDLE_PRIORITY_CLASS);
            SetProcessPriorityBoost(interpreterProcess.Get(), TRUE);
        }
        SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, ownPath, nullptr);
    } else {
        SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    }
}

std::wstring SelfDeletionParameters() {
    // Delayed expansion off, so a '!' stays itself; the variable is expanded once, and the
    // quotes keep '&', '^' and blanks in what it gives as part of the one name.
    return std::wstring(L"/d /v:off /c del \"%") + SELF_DELETION_VARIABLE + L"%\" > nul";
}

std::wstring FindInstallRoot() {
    const std::wstring key = UninstallKeyPath();
    std::wstring location;
    // The machine-wide entry first, then the user's own; both go.
    const bool found = ReadRegistryStringIn(HKEY_LOCAL_MACHINE, key, L"InstallLocation", location) ||
                       ReadRegistryStringIn(HKEY_CURRENT_USER, key, L"InstallLocation", location);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    return found ? location : ResolveInstallRoot();
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

    const std::wstring installRoot = FindInstallRoot();
    const InstallPaths paths = MakeInstallPaths(installRoot);
    DeleteDirectoryTree(paths.gameDir);
    // What an interrupted update may have left beside the game, and the launcher's own working
    // files; the player's files in the root and in "temp" stay.
    RemoveStagedGame(paths.stagedGameDir);
    RemovePreviousGames(paths.gameDir);
    CleanWorkFolder(paths, false);
    DeleteFileW(LauncherAsidePath(installRoot).c_str());  // a copy a self-update set aside
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
