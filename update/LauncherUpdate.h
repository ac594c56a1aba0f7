// The launcher copy in the install root (the file the shortcuts and the uninstall entry name)
// brought to the launcher build a release names. The new build is downloaded into the temp
// folder and checked against the signed size and SHA-256; then the copy, which may be the very
// executable running now, is renamed aside (Windows allows that for a running program) and the
// new file moved into its place, both written through. The set-aside file goes on a later run.
// Nothing here fails the run: any failure leaves the copy as it was.
#pragma once

#include <cstdint>
#include <string>

#include "platform/StopFlag.h"
#include "rules/ManifestFields.h"

// Whether the release's launcher should replace the copy: named, of a higher build than both the
// running launcher (0: a program that never updates a launcher) and the copy in place.
bool IsLauncherUpdateWanted(const ManifestFields& server, int32_t runningBuild, int32_t copyBuild);

// The copy's path in the install root, and the name a replaced copy is set aside under.
std::wstring LauncherCopyPath(const std::wstring& installRoot);
std::wstring LauncherAsidePath(const std::wstring& installRoot);

// Downloads and checks the release's launcher into tempFile, then swaps it in for the copy.
// True when the copy is the new build.
bool UpdateLauncherCopy(const ManifestFields& server, const std::wstring& installRoot, const std::wstring& tempFile,
                        const StopFlag* stop);

// What an earlier replacement left: a copy set aside goes (it may still run: then it stays for
// the next run); a copy that is missing while one is set aside (a power loss between the two
// renames) is put back.
void TidyLauncherCopy(const std::wstring& installRoot);
