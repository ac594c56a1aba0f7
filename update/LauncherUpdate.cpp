#include "update/LauncherUpdate.h"

#include <windows.h>

#include "platform/DurableFile.h"
#include "platform/FileSystem.h"
#include "platform/ProductNames.h"
#include "transfer/Download.h"
#include "transfer/FileSink.h"

bool IsLauncherUpdateWanted(const ManifestFields& server, int32_t runningBuild, int32_t copyBuild) {
    return server.hasLauncher && runningBuild > 0 && server.launcherBuild > runningBuild &&
           server.launcherBuild > copyBuild;
}

std::wstring LauncherCopyPath(const std::wstring& installRoot) {
    return installRoot + L"\\" + names::kLauncherExe;
}

std::wstring LauncherAsidePath(const std::wstring& installRoot) {
    return LauncherCopyPath(installRoot) + L".old";
}

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The release's launcher into path, exactly the size and SHA-256 the signed manifest gives, and
// on the disk before anything is renamed.
bool FetchLauncher(const ManifestFields& server, const std::wstring& path, const StopFlag* stop) {
    FileSink sink(server.launcherSize, true);
    DeleteFileW(path.c_str());
    if (!sink.Open(path)) return false;
    DownloadProgress progress{nullptr, 0, stop};
    bool ok = DownloadFile(&progress, server.launcherUrl.c_str(), sink) == 0;
    ok = sink.Close() && ok;  // flushed and closed
    Sha256Digest digest{};
    ok = ok && sink.Digest(digest) &&
         PackageMatches(true, server.launcherSize, sink.Size(), true, server.launcherSha256, true, digest);
    if (!ok) DeleteFileW(path.c_str());
    return ok;
}

}  // namespace

bool UpdateLauncherCopy(const ManifestFields& server, const std::wstring& installRoot, const std::wstring& tempFile,
                        const StopFlag* stop) {
    if (!FetchLauncher(server, tempFile, stop)) return false;
    const std::wstring copy = LauncherCopyPath(installRoot), aside = LauncherAsidePath(installRoot);
    // An earlier set-aside copy still running keeps its name: this one cannot take it.
    if (Exists(aside) && !DeleteFileW(aside.c_str())) {
        DeleteFileW(tempFile.c_str());
        return false;
    }
    const bool hadCopy = Exists(copy);
    if (hadCopy && !MoveWriteThrough(copy, aside)) {
        DeleteFileW(tempFile.c_str());
        return false;
    }
    if (!MoveWriteThrough(tempFile, copy)) {
        if (hadCopy) MoveWriteThrough(aside, copy);
        DeleteFileW(tempFile.c_str());
        return false;
    }
    if (hadCopy) DeleteFileW(aside.c_str());  // refused while the old copy runs: a later run takes it
    return true;
}

void TidyLauncherCopy(const std::wstring& installRoot) {
    const std::wstring copy = LauncherCopyPath(installRoot), aside = LauncherAsidePath(installRoot);
    if (!Exists(aside)) return;
    if (!Exists(copy)) {
        MoveWriteThrough(aside, copy);
        return;
    }
    DeleteFileW(aside.c_str());
}
