#include "update/UpdateWorker.h"

#include <atomic>
#include <cstdio>

#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "transfer/Download.h"
#include "transfer/Extract7z.h"
#include "update/Manifest.h"
#include "update/Settings.h"

namespace {

bool QueryFreeSpaceOfC(unsigned long long* freeBytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA("C:\\", &available, nullptr, nullptr)) return false;
    *freeBytes = available.QuadPart;
    return true;
}

std::atomic<FreeSpaceQuery> g_freeSpaceQuery{QueryFreeSpaceOfC};

std::wstring FromAnsi(const std::string& text) {
    if (text.empty()) return std::wstring();
    int units = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &wide[0], units);
    return wide;
}

// Downloads url into a freshly created file; the stage field ends at PROGRESS_FULL either way.
bool DownloadInto(const std::wstring& path, const char* url, AtomicInt& stage) {
    DeleteFileW(path.c_str());
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out) return false;
    DownloadProgress target{&stage};
    int result = DownloadFile(&target, url, out);
    fclose(out);
    stage = PROGRESS_FULL;
    return result == 0;
}

// The installed manifest's version; 0 when it is missing, unreadable or malformed.
int32_t InstalledVersion(const std::wstring& installedManifest) {
    Json::Value installed;
    ManifestFields fields;
    if (!LoadJsonFile(installedManifest, installed) || !ReadManifestFields(installed, fields)) return 0;
    return fields.version;
}

void Fail(UpdateTask& task, int32_t code) {
    task.progress = 0;
    task.result = code;
}

void Succeed(UpdateTask& task) {
    task.status.Set(L"正在启动游戏...");
    task.progress = PROGRESS_FULL;
    task.result = 0;
}

}  // namespace

void SetFreeSpaceQueryForTesting(FreeSpaceQuery query) {
    g_freeSpaceQuery = query ? query : QueryFreeSpaceOfC;
}

bool NarrowUrl(const std::wstring& url, std::string& narrow) {
    narrow.clear();
    if (url.size() + 1 > NARROW_URL_BUFFER) return false;
    for (wchar_t c : url) {
        if (unsigned(c) > 0xFF) {
            narrow.clear();
            return false;
        }
        narrow.push_back(char(c));
    }
    return true;
}

bool IsDiskSpaceTooLow(bool querySucceeded, unsigned long long freeBytes) {
    return querySucceeded && freeBytes != 0 && (long long)freeBytes < FREE_SPACE_FLOOR;
}

DWORD WINAPI UpdateThreadProc(LPVOID parameter) {
    if (parameter) RunUpdate(*static_cast<UpdateTask*>(parameter));
    return 0;
}

void RunUpdate(UpdateTask& task) {
    std::wstring installRoot = ResolveInstallRoot();
    installRoot = ReadSetting(L"local_path", installRoot);
    const std::wstring manifestUrl = ReadSetting(L"version_url", DEFAULT_VERSION_URL);
    const InstallPaths paths = MakeInstallPaths(installRoot);
    task.installRoot.Set(installRoot);
    task.gameExePath.Set(paths.gameExe);

    if (manifestUrl.empty() || installRoot.empty()) {
        task.errorDetail.Set(manifestUrl);
        return Fail(task, LAUNCH_ERR_CONFIG);
    }
    if (IsProcessRunning(names::kGameExe, 0)) return Fail(task, LAUNCH_ERR_GAME_RUNNING);

    unsigned long long freeBytes = 0;
    const bool queried = g_freeSpaceQuery.load()(&freeBytes);
    if (IsDiskSpaceTooLow(queried, freeBytes)) return Fail(task, LAUNCH_ERR_DISK_SPACE);

    CreateDirectoryTree(paths.tempDir);
    // From here on every failure removes the temp folder, after the record says how it ended.
    auto failAndClean = [&](int32_t code) {
        Fail(task, code);
        DeleteDirectoryTree(paths.tempDir);
    };

    task.status.Set(L"正在检查更新...");
    std::string narrowManifestUrl;
    if (!NarrowUrl(manifestUrl, narrowManifestUrl) ||
        !DownloadInto(paths.downloadedManifest, narrowManifestUrl.c_str(), task.manifestProgress)) {
        task.manifestProgress = PROGRESS_FULL;
        task.errorDetail.Set(manifestUrl);
        return failAndClean(LAUNCH_ERR_VERSION_DOWNLOAD);
    }

    Json::Value downloaded;
    ManifestFields server;
    if (!LoadJsonFile(paths.downloadedManifest, downloaded) || !ReadManifestFields(downloaded, server))
        return failAndClean(LAUNCH_ERR_VERSION_FILE);

    const int32_t installedVersion = InstalledVersion(paths.installedManifest);
    const bool gameExeExists = CanOpenForReading(paths.gameExe);
    if (!IsUpdateNeeded(server.version, installedVersion, gameExeExists)) {
        Succeed(task);
        DeleteDirectoryTree(paths.tempDir);
        return;
    }

    task.status.Set(L"正在下载更新包...");
    if (!DownloadInto(paths.packageFile, server.packageUrl.c_str(), task.packageProgress)) {
        task.packageProgress = PROGRESS_FULL;
        task.errorDetail.Set(FromAnsi(server.packageUrl));
        return failAndClean(LAUNCH_ERR_PACKAGE_DOWNLOAD);
    }

    DeleteDirectoryTree(paths.gameDir);
    task.status.Set(L"正在解压...");
    const int unpackError = Extract7z(paths.packageFile, paths.unpackDestination, &task.unpackProgress);
    task.unpackError = unpackError;
    if (unpackError != 0) return failAndClean(LAUNCH_ERR_EXTRACT);

    CopyFileW(paths.downloadedManifest.c_str(), paths.installedManifest.c_str(), FALSE);
    DeleteDirectoryTree(paths.tempDir);
    Succeed(task);
}
