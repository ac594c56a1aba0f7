// The launcher copy in the install root, its two shortcuts and the uninstall entry.
#pragma once

#include <windows.h>

#include <string>

#include "update/LauncherUpdate.h"  // LauncherCopyPath

// The desktop shortcut's path; false when the desktop folder cannot be had.
bool DesktopShortcutPath(std::wstring& path);
// The all-users Start-menu shortcut's path; false when "PROGRAMDATA" is not set.
bool StartMenuShortcutPath(std::wstring& path);
// The shortcut's path in the user's own Start menu (the Programs known folder); false when the
// folder cannot be had.
bool UserStartMenuShortcutPath(std::wstring& path);

// After a successful update: copies the running launcher into the install root (unless it is
// that copy), creates the desktop and Start-menu shortcuts to the copy (the user's own Start menu
// when the all-users one refuses it), and writes the uninstall entry. Nothing here is reported;
// no failure stops a later step.
void RegisterInstallation(const std::wstring& installRoot);

// Creates (or replaces) a shell link at linkPath that starts target. Returns the HRESULT of the
// last step performed.
HRESULT CreateShortcut(const std::wstring& target, const std::wstring& linkPath);
