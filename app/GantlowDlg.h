// The launcher's window: runs one worker on its task record, shows its progress every 30 ms,
// and when the work is done reports a failure, or registers the installation and starts the game.
#pragma once

#include <cstdint>
#include <string>

#include "install/UninstallTask.h"
#include "ui/MyStandardDlg.h"
#include "ui/TranslucentDialog.h"
#include "update/UpdateTask.h"

// The command line after the program name, kept once at start-up.
extern std::wstring g_strCommandLine;
// Set by the first refresh, never reset.
extern bool g_bRefreshStarted;

inline constexpr UINT_PTR REFRESH_TIMER_ID = 1000;
// How long the end of the launcher waits for a worker that has just finished its record.
inline constexpr DWORD WORKER_EXIT_GRACE_MS = 250;
// How long a confirmed exit waits for the worker to stop before the process ends anyway.
inline constexpr DWORD WORKER_STOP_WAIT_MS = 5000;
// An update is shown for at least this long before it completes.
inline constexpr ULONGLONG MIN_UPDATE_DISPLAY_MS = 1000;

// Whether the refresh completes now: the record is finished and, in update mode, more than the
// minimum display time has passed.
bool ShouldComplete(bool updateMode, bool finished, ULONGLONG elapsedMs);
// Whether the command line asks for the uninstall.
bool IsUninstallMode(const std::wstring& commandLine);
// Whether the command line asks for every game file to be checked and what differs restored.
bool IsRepairMode(const std::wstring& commandLine);

class CGantlowDlg : public CTranslucentDialog {
public:
    CGantlowDlg();
    ~CGantlowDlg() override;
    // Whether the worker thread is still running after waiting up to graceMs for its end (it is
    // never stopped, only outlived).
    bool WorkerRunning(DWORD graceMs = 0) const;

protected:
    BOOL OnInitDialog() override;
    CStandardDialog* CreateStandardDialog() override;
    void OnDialogMoved() override;
    void OnTimer(UINT_PTR id) override;
    void OnHandlerFault(UINT message) override;
    void OnExitConfirmed() override;

private:
    // The refresh: copies the record's progress and status, draws them, completes when done.
    void Refresh();
    [[noreturn]] void FinishUpdate();
    [[noreturn]] void FinishUninstall();
    void ReStartApp(const std::wstring& gameExePath);
    // Ends the process; after a finished uninstall, has the launcher's file deleted afterwards.
    [[noreturn]] void QuitLauncher(int32_t result, bool deleteOwnFile = false);
    void ShowError(const std::wstring& text);
    CMyStandardDlg* Overlay() const { return static_cast<CMyStandardDlg*>(m_pStandardDlg.get()); }

    bool m_bCompleting = false;  // a move during the final message box must not complete again
    ULONGLONG m_ullStartTick = 0;
    int32_t m_nProgress = 0;
    std::wstring m_strStatus;
    TaskRecord<UpdateTask> m_pUpdateTask;
    TaskRecord<UninstallTask> m_pUninstallTask;
};
