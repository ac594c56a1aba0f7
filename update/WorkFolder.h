// The launcher's working files in the install root's "temp" folder. The install root may be a
// folder the player chose, with a "temp" of their own in it, so only these files are ever
// deleted there, and the folder itself only once nothing else is left in it.
#pragma once

#include "update/Settings.h"

// Deletes the downloaded manifest, its signature and the downloaded index, and the package with
// its resume record and the ranges fetched with their record, except (keepResumable) a partial
// package or ranges whose record lets the next run continue them; then removes the folder when
// it is empty.
void CleanWorkFolder(const InstallPaths& paths, bool keepResumable);
