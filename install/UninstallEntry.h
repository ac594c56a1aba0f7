// The game's entry in the system's list of installed programs: below HKEY_LOCAL_MACHINE where the
// user may write there, otherwise the same key below HKEY_CURRENT_USER (the user's own list),
// as on a standard user's machine with UAC.
#pragma once

#include <windows.h>

#include <string>

// "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Larkvane.Vantrel"
std::wstring UninstallKeyPath();

// The registered uninstall command: the launcher path in double quotes, a blank, "-uninstall".
// Always names the launcher path exactly, however long it is.
std::wstring UninstallCommand(const std::wstring& launcherPath);

// Writes the entry's seven values, once: nothing is written or changed when the entry's
// "DisplayName" can be read already in either place. The machine-wide place comes first; the
// user's is used when the key cannot be created there. Returns the root written below (null
// when nothing was written). Failures are silent.
HKEY WriteUninstallEntry(const std::wstring& installRoot, const std::wstring& launcherPath);

// Reads one REG_SZ value below HKEY_LOCAL_MACHINE, of any length. The output is assigned only
// when the value was read; other types read as absent.
bool ReadRegistryString(const std::wstring& subkey, const std::wstring& valueName, std::wstring& out);
// The same below the given root (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER).
bool ReadRegistryStringIn(HKEY root, const std::wstring& subkey, const std::wstring& valueName, std::wstring& out);

// Test seam: the machine-wide places (the entry below HKEY_LOCAL_MACHINE and the all-users Start
// menu) refuse writes, as they do for a standard user; Wine lets every process write them.
void SetMachineWideWritesRefusedForTesting(bool refused);
bool MachineWideWritesRefusedForTesting();
