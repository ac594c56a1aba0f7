// The shell-side traces of an installation, read back for tests, and process clean-up.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace testing_support {

// The target of a shell link file, read through the shell link object ("" when unreadable).
std::wstring LinkTarget(const std::wstring& linkPath);
// Where the launcher's desktop and Start-menu shortcuts go.
std::wstring DesktopShortcut();
std::wstring StartMenuShortcut();
std::wstring UserStartMenuShortcut();  // in the user's own Start menu
// Ends every process with this executable file name (except this one).
void KillProcessesNamed(const std::wstring& exeFileName);
// The launcher's splash window in a process: visible, layered, without owner; waits up to timeoutMs.
HWND FindLauncherWindow(unsigned long processId, unsigned long timeoutMs);
// The user's proxy in the system's Internet settings, written where Windows keeps it ("" for a
// direct connection), and the setting removed.
bool SetSystemProxy(const std::string& proxy, const std::string& bypass);
void ClearSystemProxy();
// "key=value" lines (as the helper programs write them) as a map.
std::map<std::wstring, std::wstring> ParseKeyValues(const std::wstring& text);

}  // namespace testing_support
