#include "app/GantlowDlg.h"

#include <cstdlib>
#include <vector>

#include "app/Messages.h"
#include "app/ReleaseKey.h"
#include "platform/Process.h"
#include "install/Shortcuts.h"
#include "res/resource.h"
#include "update/UpdateWorker.h"

std::wstring g_strCommandLine;
bool g_bRefreshStarted = false;

bool ShouldComplete(bool updateMode, bool finished, ULONGLONG elapsedMs) {
    return finished && (!updateMode || elapsedMs > MIN_UPDATE_DISPLAY_MS);
}

bool IsUninstallMode(const std::wstring& commandLine) {
    return commandLine.find(L"-uninstall") != std::wstring::npos;
}

bool IsRepairMode(const std::wstring& commandLine) {
    return commandLine.find(L"-repair") != std::wstring::npos;
}

CGantlowDlg::CGantlowDlg() : CTranslucentDialog(IDD_LAUNCHER, IDB_SPLASH, nullptr) {}

// A worker that still runs keeps its record until the process ends (see TaskRecord).
CGantlowDlg::~CGantlowDlg() = default;

CStandardDialog* CGantlowDlg::CreateStandardDialog() { return new CMyStandardDlg(this); }

BOOL CGantlowDlg::OnInitDialog() {
    CTranslucentDialog::OnInitDialog();
    m_ullStartTick = GetTickCount64();
    if (IsUninstallMode(g_strCommandLine)) {
        StartTaskThread(m_pUninstallTask.Create(), UninstallThreadProc);
    } else {
        UpdateTask& task = m_pUpdateTask.Create();
        task.releasePublicKey = CompiledReleasePublicKey();
        task.launcherBuild = CompiledLauncherBuild();
        task.verifyFiles = IsRepairMode(g_strCommandLine);
        StartTaskThread(task, UpdateThreadProc);
    }
    SetTimer(REFRESH_TIMER_ID, 30);
    return TRUE;
}

void CGantlowDlg::OnDialogMoved() {
    if (!g_bRefreshStarted) SetTimer(REFRESH_TIMER_ID, 40);
    Refresh();  // a move repaints the bar at once
}

void CGantlowDlg::OnTimer(UINT_PTR id) {
    if (id == REFRESH_TIMER_ID) Refresh();
    CTranslucentDialog::OnTimer(id);  // the framework's own timer handling runs last
}

void CGantlowDlg::OnHandlerFault(UINT) {
    // A fault in the window's own work ends the launcher like a failure: its message, no game.
    if (m_bCompleting) return;
    m_bCompleting = true;
    KillTimer(REFRESH_TIMER_ID);
    if (m_pUpdateTask && m_pUpdateTask->result.load() != 0) {
        ShowError(UpdateFailureMessage(m_pUpdateTask->result.load(), m_pUpdateTask->unpackError.load(),
                                       m_pUpdateTask->errorDetail.Get()));
    } else {
        ShowError(UninstallFailureMessage(UNINSTALL_ERR_UNEXPECTED));  // "unknown error (-1)"
    }
    QuitLauncher(UNINSTALL_ERR_UNEXPECTED);
}

void CGantlowDlg::OnExitConfirmed() {
    // The worker stops at its next piece; a partial download stays for the next run.
    if (m_pUpdateTask) m_pUpdateTask->stop = true;
}

void CGantlowDlg::Refresh() {
    g_bRefreshStarted = true;
    if (m_pUpdateTask) {
        m_nProgress = CombinedProgress(*m_pUpdateTask);
        m_strStatus = m_pUpdateTask->status.Get();
    } else if (m_pUninstallTask) {
        m_nProgress = m_pUninstallTask->progress.load();
        m_strStatus = m_pUninstallTask->status.Get();
    }
    if (Overlay() && Overlay()->GetSafeHwnd()) Overlay()->DrawProgress(m_nProgress, m_strStatus.c_str());

    // Once completion has begun (its message box may be open), nothing completes again; while
    // the exit question is open completion waits, and after its OK nothing starts any more.
    if (m_bExitQuestionOpen || m_bExitConfirmed) return;
    const ULONGLONG elapsed = GetTickCount64() - m_ullStartTick;
    if (!m_bCompleting && m_pUpdateTask && ShouldComplete(true, IsTaskFinished(*m_pUpdateTask), elapsed))
        FinishUpdate();
    else if (!m_bCompleting && m_pUninstallTask &&
             ShouldComplete(false, IsTaskFinished(*m_pUninstallTask), elapsed))
        FinishUninstall();
}

void CGantlowDlg::ShowError(const std::wstring& text) {
    if (Overlay()) Overlay()->EnableWindow(FALSE);
    MessageBox(text.c_str(), L"错误", MB_OK);
}

void CGantlowDlg::FinishUpdate() {
    m_bCompleting = true;
    KillTimer(REFRESH_TIMER_ID);
    const int32_t result = m_pUpdateTask->result.load();
    const std::wstring detail = m_pUpdateTask->errorDetail.Get();
    if (result != 0) {
        ShowError(UpdateFailureMessage(result, m_pUpdateTask->unpackError.load(), detail));
    } else {
        RegisterInstallation(m_pUpdateTask->installRoot.Get());
        ReStartApp(m_pUpdateTask->gameExePath.Get());
    }
    QuitLauncher(result);
}

void CGantlowDlg::FinishUninstall() {
    m_bCompleting = true;
    KillTimer(REFRESH_TIMER_ID);
    const int32_t result = m_pUninstallTask->result.load();
    if (result != 0) ShowError(UninstallFailureMessage(result));
    QuitLauncher(result, result == 0);
}

void CGantlowDlg::ReStartApp(const std::wstring& gameExePath) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;  // 68 in the 32-bit launcher
    PROCESS_INFORMATION process = {};
    // The game gets exactly the launcher's own argument string, without a program name.
    std::vector<wchar_t> commandLine(g_strCommandLine.begin(), g_strCommandLine.end());
    commandLine.push_back(L'\0');
    if (CreateProcessW(gameExePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &process)) {
        scoped::ProcessInfo started(process);  // the game is not watched
        return;
    }
    ShowError(GameStartFailureMessage(GetLastError(), gameExePath));
}

bool CGantlowDlg::WorkerRunning(DWORD graceMs) const {
    const HANDLE thread = m_pUpdateTask ? m_pUpdateTask->thread.Get()
                          : m_pUninstallTask ? m_pUninstallTask->thread.Get() : nullptr;
    return thread && WaitForSingleObject(thread, graceMs) == WAIT_TIMEOUT;
}

void CGantlowDlg::QuitLauncher(int32_t result, bool deleteOwnFile) {
    PostMessage(WM_QUIT, WPARAM(result), 0);
    if (Overlay() && Overlay()->GetSafeHwnd()) Overlay()->PostMessage(WM_QUIT, WPARAM(result), 0);
    // A worker that has just finished its record is given a moment to return, so the process can
    // end the ordinary way; one still at work is outlived without running destructors under it.
    const bool workerEnded = !WorkerRunning(WORKER_EXIT_GRACE_MS);
    if (deleteOwnFile) DeleteOwnFileAfterExit();  // the very last act before the end
    EndProcess(0, workerEnded);
}
