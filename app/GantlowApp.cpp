#include "app/GantlowApp.h"

#include <commctrl.h>

#include <memory>

#include "app/GantlowDlg.h"
#include "app/StartupGates.h"
#include "platform/Process.h"
#include "ui/Gdiplus.h"

CGantlowApp theApp;

namespace {
ULONG_PTR g_gdiplusToken = 0;  // GDI+ runs until the process ends

BOOL Refuse(const wchar_t* text) {
    MessageBoxW(nullptr, text, L"提示", MB_OK);
    PostMessageW(nullptr, WM_QUIT, WPARAM(-1), 0);
    return FALSE;
}
}  // namespace

CGantlowApp::CGantlowApp() { m_dwRestartManagerSupportFlags = AFX_RESTART_MANAGER_SUPPORT_RESTART; }

BOOL CGantlowApp::InitInstance() {
    Gdiplus::GdiplusStartupInput gdiplus;
    Gdiplus::GdiplusStartup(&g_gdiplusToken, &gdiplus, nullptr);
    g_strCommandLine = m_lpCmdLine ? m_lpCmdLine : L"";

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    CWinApp::InitInstance();
    SetRegistryKey(L"Larkvane.Gantlow");

    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    if (!IsSupportedSystem(version)) return Refuse(L"请升级操作系统到Win7或以上，谢谢！");

    wchar_t modulePath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    if (IsProcessRunning(ExeFileNameOf(modulePath), GetCurrentProcessId()) &&
        g_strCommandLine.find(L"-force") == std::wstring::npos)
        return Refuse(L"当前进程实例已存在，请关闭后再运行！");

    std::unique_ptr<CGantlowDlg> dialog(new CGantlowDlg);
    m_pMainWnd = dialog.get();
    dialog->DoModal();
    m_pMainWnd = nullptr;
    // After a confirmed exit the worker is stopping: the process ends when it has, or after a
    // bounded wait.
    const bool workerRunning = dialog->WorkerRunning(WORKER_STOP_WAIT_MS);
    dialog.reset();
    // A worker still at work after that: end without destructors under it.
    if (workerRunning) EndProcess(0, false);
    return FALSE;
}
