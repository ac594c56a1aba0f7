#include "update/WorkFolder.h"

#include <windows.h>

#include "platform/FileSystem.h"

void CleanWorkFolder(const InstallPaths& paths, bool keepResumable) {
    const std::wstring record = paths.packageFile + L".resume";
    DeleteFileW(paths.downloadedManifest.c_str());
    DeleteFileW((paths.downloadedManifest + L".sig").c_str());
    DeleteFileW(paths.downloadedIndex.c_str());
    if (!keepResumable || !CanOpenForReading(record)) {
        DeleteFileW(record.c_str());
        DeleteFileW(paths.packageFile.c_str());
    }
    const std::wstring partsRecord = paths.packageParts + L".list";
    if (!keepResumable || !CanOpenForReading(partsRecord)) {
        DeleteFileW(partsRecord.c_str());
        DeleteFileW(paths.packageParts.c_str());
    }
    RemoveDirectoryW(paths.tempDir.c_str());  // refused while anything else is in it
}
