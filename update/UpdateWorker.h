// The update worker: everything between the opening of the launcher and the start of the game.
#pragma once

#include <windows.h>

#include <string>

#include "update/UpdateTask.h"

// Drive C: must have at least this much free for an update to start.
inline constexpr long long FREE_SPACE_FLOOR = 0x40000000LL;
// The narrow manifest URL must fit this buffer, terminator included.
inline constexpr size_t NARROW_URL_BUFFER = 1024;

// Thread entry: runs RunUpdate on the UpdateTask it is given; returns 0.
DWORD WINAPI UpdateThreadProc(LPVOID parameter);

// Works out the install root and manifest URL, refuses while the game runs or C: is nearly full,
// repairs what an interrupted earlier update left, downloads the manifest, and when the installed
// game is not current downloads and checks the package, unpacks it beside the game ("game.new")
// and swaps it in by renames, so that a failed update leaves the installed game as it was.
// Reports only through the record: progress PROGRESS_FULL on success, a LAUNCH_ERR_ code in
// result otherwise. Never throws: an unexpected exception ends the run as its stage's failure.
void RunUpdate(UpdateTask& task);

// The manifest URL as bytes (U+0000..U+00FF become the byte of the same value). False for a
// character beyond U+00FF or a URL that does not fit NARROW_URL_BUFFER with its terminator.
bool NarrowUrl(const std::wstring& url, std::string& narrow);

// Whether the free-space answer refuses the update: a successful query reporting more than 0 but
// less than FREE_SPACE_FLOOR bytes. A failed query and exactly 0 let the update go on.
bool IsDiskSpaceTooLow(bool querySucceeded, unsigned long long freeBytes);

// Test seam: replaces the free-space query of drive C: (null restores the real one).
using FreeSpaceQuery = bool (*)(unsigned long long* freeBytes);
void SetFreeSpaceQueryForTesting(FreeSpaceQuery query);
// The real query: the bytes of drive C: available to the caller (a user's quota included).
bool QueryFreeSpaceOfC(unsigned long long* freeBytes);
