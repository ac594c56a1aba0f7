// Whether an executable runs, by its file name.
#pragma once

#include <windows.h>

#include <string>

// True when a process other than excludedProcessId has exactly this executable file name (a bare
// name with extension, compared case-sensitively). False also when the process list cannot be read.
bool IsProcessRunning(const std::wstring& exeFileName, DWORD excludedProcessId);
