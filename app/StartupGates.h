// The checks start-up makes before the launcher window opens.
#pragma once

#include <windows.h>

#include <string>

// Windows 7 (NT 6.1) or later.
bool IsSupportedSystem(const OSVERSIONINFOW& version);
// The file name part of a module path: the text after the last '\' or '/' (the whole path when
// it has neither).
std::wstring ExeFileNameOf(const std::wstring& modulePath);
