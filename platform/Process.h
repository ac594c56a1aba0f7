// Whether an executable runs, by its file name.
#pragma once

#include <windows.h>

#include <string>

// True when a process other than excludedProcessId has this executable file name (a bare name
// with extension, compared ignoring case as Windows compares file names). False also when the
// process list cannot be read.
bool IsProcessRunning(const std::wstring& exeFileName, DWORD excludedProcessId);

// Ends the process with this exit code. With runDestructors the runtime's exit runs (static
// objects are destroyed); without, nothing more runs in the process: what a thread that is still
// working needs is never destroyed under it.
[[noreturn]] void EndProcess(int exitCode, bool runDestructors);
