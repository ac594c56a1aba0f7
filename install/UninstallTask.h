// The uninstall worker: removes the registry entry, the game folder and the shortcuts, and has
// the launcher's own file deleted once the launcher has ended.
#pragma once

#include <windows.h>

#include <string>

#include "platform/ScopedWin.h"
#include "platform/SharedText.h"
#include "platform/WorkerTask.h"
#include "update/LaunchErrors.h"

// The result of an uninstall that met an unexpected fault; shown as an unknown error.
inline constexpr int32_t UNINSTALL_ERR_UNEXPECTED = -1;

struct UninstallTask {
    AtomicInt progress{0};  // 5000 game folder gone, 9999 shortcuts gone, PROGRESS_FULL done
    AtomicInt result{0};    // 0, LAUNCH_ERR_GAME_RUNNING or UNINSTALL_ERR_UNEXPECTED
    SharedText status;
    scoped::Handle thread;  // the worker's, owned by the dialog
};

// Thread entry: runs RunUninstall on the UninstallTask it is given; returns 0. No exception
// leaves it.
DWORD WINAPI UninstallThreadProc(LPVOID parameter);

void RunUninstall(UninstallTask& task);

// Has the launcher's own file deleted once the process has ended: a hidden command interpreter
// (COMSPEC) at idle priority runs "del", the launcher raised above it. Called by whoever ends the
// process, right before it does: an interpreter started earlier (say by the worker, a second
// before the end) can reach its "del" while the file is still the running program, and the file
// then stays. The interpreter runs in the launcher's folder, which therefore never appears on
// its command line, and gets the file's name in SELF_DELETION_VARIABLE: whatever a folder name
// holds ('%', '^', '&', '!', blanks) the interpreter never expands or splits it.
void DeleteOwnFileAfterExit();
inline constexpr wchar_t SELF_DELETION_VARIABLE[] = L"QUENBY_SELF_DELETE";

// The install root to remove: the registered install location (the registry entry is deleted
// as soon as that was read), or the default install root when there is no entry.
std::wstring FindInstallRoot();

// The parameters for the command interpreter: "del" of the file named by SELF_DELETION_VARIABLE
// in its current folder, with delayed expansion and AutoRun commands off.
std::wstring SelfDeletionParameters();
