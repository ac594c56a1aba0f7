// The program entry of an application built on the framework: runs the application object's
// InitInstance; when that returns FALSE (its work is done, or it refused to start) the process ends.
#include "framework/WinApp.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    CWinApp* app = AfxGetApp();
    if (!app) return 1;
    app->m_hInstance = instance;
    app->m_lpCmdLine = commandLine;
    if (app->InitInstance()) {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return app->ExitInstance();
}
