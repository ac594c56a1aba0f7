// Runs the registration or the uninstall worker from wherever this program was copied to.
//   install_runner.exe register INSTALLROOT [--unset-programdata] [--standard-user]
//   install_runner.exe uninstall OUTFILE [--unset-comspec] [--standard-user]
// --standard-user: the machine-wide places refuse writes, as they do without elevation.
// The uninstall writes UTF-8 "key=value" lines of what the record showed when watched every 30 ms.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "install/Shortcuts.h"
#include "install/UninstallEntry.h"
#include "install/UninstallTask.h"
#include "tests/support/TestFiles.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const std::wstring mode = argv[1];
    for (int i = 3; i < argc; ++i) {
        if (std::wstring(argv[i]) == L"--unset-programdata") _wputenv(L"PROGRAMDATA=");
        if (std::wstring(argv[i]) == L"--unset-comspec") _wputenv(L"COMSPEC=");
        if (std::wstring(argv[i]) == L"--standard-user") SetMachineWideWritesRefusedForTesting(true);
    }
    if (mode == L"register") {
        RegisterInstallation(argv[2]);
        return 0;
    }
    if (mode != L"uninstall") return 2;

    auto* task = new UninstallTask;
    StartTaskThread(*task, UninstallThreadProc);
    std::wstring progressSeen, statuses, lastStatus;
    int32_t lastProgress = -1;
    for (int waited = 0; waited < 60000; waited += 30) {
        const int32_t progress = task->progress.load();
        if (progress != lastProgress) {
            progressSeen += L",";
            progressSeen += std::to_wstring(progress);
            lastProgress = progress;
        }
        const std::wstring status = task->status.Get();
        if (!status.empty() && status != lastStatus) {
            statuses += L"|";
            statuses += status;
            lastStatus = status;
        }
        if (IsTaskFinished(*task)) break;
        Sleep(30);
    }
    std::wstring out = L"result=" + std::to_wstring(task->result.load()) + L"\nprogress=" +
                       std::to_wstring(task->progress.load()) + L"\nstatus=" + task->status.Get() +
                       L"\nprogressSeen=" + progressSeen + L"\nstatuses=" + statuses + L"\n";
    testing_support::WriteFileBytes(argv[2], testing_support::Narrow(out));
    // Ends at once, as the launcher does when it sees the record finished.
    if (task->result.load() == 0) DeleteOwnFileAfterExit();
    ExitProcess(0);
}
