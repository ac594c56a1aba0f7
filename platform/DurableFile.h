// Writes and renames that are on the disk when the call returns: a file flushed before its
// handle is closed, a rename written through. A power loss right after cannot then leave a
// zero-filled file behind a name, or undo a rename that the next step relies on.
#pragma once

#include <windows.h>

#include <string>

#include "platform/ScopedWin.h"

// Flushes the file's data and closes it; false when either fails. The handle is closed either way.
bool FlushAndClose(scoped::Handle& file);

// Renames from to to (same volume), written through before it returns. False when it failed.
bool MoveWriteThrough(const std::wstring& from, const std::wstring& to);

// Test seams: replace the system's FlushFileBuffers and MoveFileExW (null restores each).
using FlushFunction = BOOL(WINAPI*)(HANDLE);
using MoveFunction = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
void SetDurabilityCallsForTesting(FlushFunction flush, MoveFunction move);
