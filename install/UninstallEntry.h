// The game's entry in the system's list of installed programs (below HKEY_LOCAL_MACHINE).
#pragma once

#include <string>

// "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Larkvane.Vantrel"
std::wstring UninstallKeyPath();

// The registered uninstall command: the launcher path in double quotes, a blank, "-uninstall".
// Always names the launcher path exactly, however long it is.
std::wstring UninstallCommand(const std::wstring& launcherPath);

// Writes the entry's seven values, once: nothing is written or changed when the entry's
// "DisplayName" can be read already. Failures are silent.
void WriteUninstallEntry(const std::wstring& installRoot, const std::wstring& launcherPath);

// Reads one REG_SZ value below HKEY_LOCAL_MACHINE, of any length. The output is assigned only
// when the value was read; other types read as absent.
bool ReadRegistryString(const std::wstring& subkey, const std::wstring& valueName, std::wstring& out);
