// The launcher's working files in the install root's "temp" folder. The install root may be a
// folder the player chose, with a "temp" of their own in it, so only these files are ever
// deleted there, and the folder itself only once nothing else is left in it.
#pragma once

#include "update/Settings.h"

// Deletes the downloaded manifest and its signature, and the package with its resume record,
// except (keepResumable) a partial package whose record lets the next run continue it; then
// removes the folder when it is empty.
void CleanWorkFolder(const InstallPaths& paths, bool keepResumable);
