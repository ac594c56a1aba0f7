#include "platform/Process.h"

#include <cstdlib>

#include <tlhelp32.h>

#include "platform/ScopedWin.h"

bool IsProcessRunning(const std::wstring& exeFileName, DWORD excludedProcessId) {
    scoped::Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) return false;

    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (entry.th32ProcessID == excludedProcessId) continue;
        // File names are case-insensitive: "vantrel.exe" is the same program.
        if (CompareStringOrdinal(exeFileName.c_str(), -1, entry.szExeFile, -1, TRUE) == CSTR_EQUAL) return true;
    }
    return false;
}

void EndProcess(int exitCode, bool runDestructors) {
    if (runDestructors) exit(exitCode);
    TerminateProcess(GetCurrentProcess(), UINT(exitCode));
    _exit(exitCode);  // not reached
}
