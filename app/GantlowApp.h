// The application: start-up gates, then the launcher window.
#pragma once

#include <windows.h>

#include "framework/WinApp.h"

class CGantlowApp : public CWinApp {
public:
    CGantlowApp();
    BOOL InitInstance() override;
};
