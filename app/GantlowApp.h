// The application: start-up gates, then the launcher window.
#pragma once

#include <windows.h>

#include <string>

#include "framework/WinApp.h"

class CGantlowApp : public CWinApp {
public:
    CGantlowApp();
    BOOL InitInstance() override;
};

// Windows 7 (NT 6.1) or later.
bool IsSupportedSystem(const OSVERSIONINFOW& version);
// The file name part of a module path: the text after the last '\' or '/'.
std::wstring ExeFileNameOf(const std::wstring& modulePath);
