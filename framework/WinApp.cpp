#include "framework/WinApp.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp() { g_app = this; }
CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() {
    if (m_dwRestartManagerSupportFlags & AFX_RESTART_MANAGER_SUPPORT_RESTART)
        RegisterApplicationRestart(m_lpCmdLine, 0);
    return TRUE;
}

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetResourceHandle() {
    return g_app && g_app->m_hInstance ? g_app->m_hInstance : GetModuleHandleW(nullptr);
}
