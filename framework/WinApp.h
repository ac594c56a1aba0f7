// The application object, shaped like the classic framework's CWinApp. The program defines one
// static instance; the framework's wWinMain runs its InitInstance.
#pragma once

#include <windows.h>

#include "framework/Wnd.h"

// Register with the system for restart after a crash or an update restart.
inline constexpr DWORD AFX_RESTART_MANAGER_SUPPORT_RESTART = 0x01;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Registers with the restart manager when asked to; returns TRUE.
    virtual BOOL InitInstance();
    virtual int ExitInstance() { return 0; }
    void SetRegistryKey(LPCWSTR key) { m_registryKey = key; }

    HINSTANCE m_hInstance = nullptr;
    LPWSTR m_lpCmdLine = nullptr;  // the command line after the program name
    CWnd* m_pMainWnd = nullptr;
    DWORD m_dwRestartManagerSupportFlags = 0;

private:
    LPCWSTR m_registryKey = nullptr;
};

CWinApp* AfxGetApp();
// The module that holds the program's resources.
HINSTANCE AfxGetResourceHandle();
