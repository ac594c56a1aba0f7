// Small helpers for tests that work on real files, folders and processes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

// A fresh folder below the system's temp folder, deleted with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);  // empty when missing
bool Exists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
// Makes link a directory link to target: the system's own call where it works, else (under
// Wine, whose call makes nothing) a symbolic link on the host, which Wine shows as one. True
// when a link is there afterwards.
bool MakeDirectoryLink(const std::wstring& link, const std::wstring& target);
// Removes a tree regardless of attributes (for clean-up, not under test).
void ForceRemoveTree(const std::wstring& path);

// The folder that holds the running test program, with a trailing backslash.
std::wstring ProgramDir();
// A helper program built beside the test program, e.g. L"sleeper.exe".
std::wstring HelperProgram(const std::wstring& fileName);

// UTF-8 <-> UTF-16.
std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// A started child process, ended (if still running) and closed when the object goes.
class ChildProcess {
public:
    ChildProcess(const std::wstring& exe, const std::wstring& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    bool Started() const { return m_info.hProcess != nullptr; }
    // How many times the start was tried again after a passing refusal.
    int Retries() const { return m_retries; }
    DWORD Id() const { return m_info.dwProcessId; }
    HANDLE Handle() const { return m_info.hProcess; }
    // Waits for the end; returns the exit code, or STILL_ACTIVE after the timeout.
    DWORD Wait(DWORD timeoutMs);
    void Kill();

private:
    PROCESS_INFORMATION m_info = {};
    int m_retries = 0;
};

// Whether a failed start is the passing refusal worth another try: the program is there, and the
// error is not one that says it cannot be started at all.
bool IsPassingStartRefusal(DWORD error, bool programExists);

// Runs a program to its end and returns its exit code (or STILL_ACTIVE after the timeout).
DWORD RunProgram(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs = 60000);

}  // namespace testing_support
