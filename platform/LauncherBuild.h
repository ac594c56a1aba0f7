// The launcher's build number as its version block carries it ("LauncherBuild" in the string
// table), read from any executable file; and which of two builds may replace the other.
#pragma once

#include <cstdint>
#include <string>

// The build in the version block of the file at path; 0 when the file is missing, has no version
// block or names no build (a launcher from before builds were numbered).
int32_t ReadLauncherBuild(const std::wstring& path);

// Whether a launcher of build `incoming` may replace a copy of build `installed`: never a lower
// one, so an old launcher run from elsewhere cannot undo a newer copy.
inline bool MayReplaceLauncher(int32_t incoming, int32_t installed) { return incoming >= installed; }
