#include "update/UpdateWorker.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/LauncherBuild.h"
#include "platform/Process.h"
#include "transfer/Download.h"
#include "transfer/Extract7z.h"
#include "transfer/FileSink.h"
#include "transfer/ResumableSink.h"
#include "update/GameFolders.h"
#include "update/Manifest.h"
#include "rules/ReleaseSignature.h"
#include "platform/Sha256.h"
#include "update/DownloadStatus.h"
#include "update/FileStamps.h"
#include "update/LauncherUpdate.h"
#include "update/RangedUpdate.h"
#include "update/Settings.h"
#include "update/StreamedInstall.h"
#include "update/WorkFolder.h"

bool QueryFreeSpaceOfC(unsigned long long* freeBytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA("C:\\", &available, nullptr, nullptr)) return false;
    *freeBytes = available.QuadPart;
    return true;
}

namespace {

std::atomic<FreeSpaceQuery> g_freeSpaceQuery{QueryFreeSpaceOfC};

// One server's transfer into the sink. A partial file that server will not continue is fetched
// again from its first byte, once.
bool TransferWhole(DownloadProgress& target, const std::string& url, ResumableSink& sink) {
    sink.FetchFrom(url);
    bool ok = DownloadFile(&target, url.c_str(), sink) == 0;
    ok = sink.Close() && ok;
    if (!ok && sink.RestartNeeded()) {
        ok = sink.StartAfresh() && DownloadFile(&target, url.c_str(), sink) == 0;
        ok = sink.Close() && ok;
    }
    return ok;
}

// The bytes available to this user on the volume of a folder.
bool QueryFreeSpaceOf(const std::wstring& folder, unsigned long long* freeBytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return false;
    *freeBytes = available.QuadPart;
    return true;
}

std::wstring FromAnsi(const std::string& text) {
    if (text.empty()) return std::wstring();
    int units = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &wide[0], units);
    return wide;
}

// Downloads url into a freshly created file through sink; the stage field ends at PROGRESS_FULL
// either way. A file that cannot be created, a failed transfer and a failed close all fail.
bool DownloadInto(const std::wstring& path, const char* url, AtomicInt& stage, FileSink& sink,
                  const StopFlag& stop) {
    DeleteFileW(path.c_str());
    bool ok = sink.Open(path);
    if (ok) {
        DownloadProgress target{&stage, 0, &stop};
        ok = DownloadFile(&target, url, sink) == 0;
        ok = sink.Close() && ok;
    }
    stage = PROGRESS_FULL;
    return ok;
}

bool Sha256Of(const std::string& bytes, Sha256Digest& digest) {
    Sha256 hash;
    hash.Add(bytes.data(), bytes.size());
    return hash.Finish(digest);
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

// One run of the update. stageFailure always holds the code that the stage under way reports
// when it fails unexpectedly (RunUpdate's barrier uses it).
class UpdateRun {
public:
    UpdateRun(UpdateTask& task, int32_t& stageFailure) : m_task(task), m_stageFailure(stageFailure) {}
    void Run();

private:
    void Stage(int32_t failureCode) { m_stageFailure = failureCode; }
    // Ends the run with a failure, after the record says how it ended.
    void FailAndClean(int32_t code) {
        Fail(m_task, code);
        RemoveStagedGame(m_paths.stagedGameDir);
        CleanWorkFolder(m_paths, true);
    }
    bool FetchManifest(ManifestFields& server);
    bool IsManifestAuthentic(const std::string& narrowManifestUrl);
    bool FetchIndex(const ManifestFields& server);
    void LoadInstalledRelease();
    bool CheckInstalledFiles(std::vector<bool>& intact);
    bool RepairIfIncomplete(const ManifestFields& server);
    bool InstallRelease(const ManifestFields& server, const std::vector<bool>* knownIntact = nullptr);
    RangedResult StageByRanges(const std::vector<bool>& intact, PackageSources& urls);
    StreamedResult StreamPackage(const ManifestFields& server, PackageSources& urls);
    bool FetchPackage(const ManifestFields& server, PackageSources& urls);
    bool StagePackage();
    bool FinishStagedGame();
    void UpdateLauncher(const ManifestFields& server);
    // Whether the install root's volume takes bytes more; the run fails with the disk-space
    // message when it does not.
    bool InstallRootTakes(uint64_t bytes) {
        unsigned long long available = 0;
        const bool queried = QueryFreeSpaceOf(m_task.installRoot.Get(), &available);
        if (!IsInstallSpaceTooLow(queried, available, bytes)) return true;
        FailAndClean(LAUNCH_ERR_DISK_SPACE);
        return false;
    }

    UpdateTask& m_task;
    int32_t& m_stageFailure;
    InstallPaths m_paths;
    std::wstring m_manifestUrl;
    std::string m_manifestBytes;  // exactly as downloaded (and verified, with a key)
    // The new release's index, when the manifest names one (checked against it).
    bool m_hasIndex = false;
    std::string m_indexBytes;
    PackageIndex m_index;
    // The installed release's index and stamps, when both are there and match its manifest.
    bool m_installedReadable = false;
    std::string m_installedIndexBytes;
    PackageIndex m_installedIndex;
    std::map<std::string, FileStamp> m_installedStamps;
    AtomicInt m_hiddenProgress{0};  // progress nobody shows
    bool m_repairing = false;       // the release is current; files are restored
};

void UpdateRun::Run() {
    Stage(LAUNCH_ERR_CONFIG);
    std::wstring installRoot = ResolveInstallRoot();
    installRoot = ReadSetting(L"local_path", installRoot);
    m_manifestUrl = ReadSetting(L"version_url", DEFAULT_VERSION_URL);
    SetDownloadRateCap(DownloadCapOf(ReadSetting(L"max_download_kbps", L"")));
    m_paths = MakeInstallPaths(installRoot);
    m_task.installRoot.Set(installRoot);
    m_task.gameExePath.Set(m_paths.gameExe);

    if (m_manifestUrl.empty() || installRoot.empty()) {
        m_task.errorDetail.Set(m_manifestUrl);
        return Fail(m_task, LAUNCH_ERR_CONFIG);
    }
    Stage(LAUNCH_ERR_GAME_RUNNING);
    if (IsProcessRunning(names::kGameExe, 0)) return Fail(m_task, LAUNCH_ERR_GAME_RUNNING);
    TidyLauncherCopy(installRoot);

    // What a run cut short (power loss, a killed process) left beside the game comes first: it
    // needs no space, and leftovers may be what fills the disk.
    Stage(LAUNCH_ERR_SWAP);
    if (!RepairInterruptedUpdate(m_paths.gameDir)) return Fail(m_task, LAUNCH_ERR_SWAP);

    Stage(LAUNCH_ERR_DISK_SPACE);
    unsigned long long freeBytes = 0;
    const bool queried = g_freeSpaceQuery.load()(&freeBytes);
    if (IsDiskSpaceTooLow(queried, freeBytes)) return Fail(m_task, LAUNCH_ERR_DISK_SPACE);

    Stage(LAUNCH_ERR_VERSION_DOWNLOAD);
    CreateDirectoryTree(m_paths.tempDir);
    ManifestFields server;
    if (!FetchManifest(server)) return;

    const int32_t installedVersion = InstalledVersion(m_paths.installedManifest);
    const bool gameExeExists = CanOpenForReading(m_paths.gameExe);
    LoadInstalledRelease();
    if (!IsUpdateNeeded(server.version, installedVersion, gameExeExists)) {
        if (!RepairIfIncomplete(server)) return;
        UpdateLauncher(server);
        Succeed(m_task);
        CleanWorkFolder(m_paths, false);
        return;
    }

    // The new game is unpacked into an empty "game.new": a leftover that resists stops the
    // update now, before the download, not after it.
    Stage(LAUNCH_ERR_SWAP);
    if (!RemoveStagedGame(m_paths.stagedGameDir)) {
        Fail(m_task, LAUNCH_ERR_SWAP);
        CleanWorkFolder(m_paths, true);
        return;
    }
    if (server.hasIndex && !FetchIndex(server)) return;
    if (!InstallRelease(server)) return;
    UpdateLauncher(server);
    CleanWorkFolder(m_paths, false);
    Succeed(m_task);
}

// After the game: the launcher copy, when the release names a newer build. Its failures are
// its own; the game starts all the same.
void UpdateRun::UpdateLauncher(const ManifestFields& server) {
    const std::wstring installRoot = m_task.installRoot.Get();
    if (!IsLauncherUpdateWanted(server, m_task.launcherBuild, ReadLauncherBuild(LauncherCopyPath(installRoot)))) return;
    UpdateLauncherCopy(server, installRoot, m_paths.tempDir + L"\\" + names::kLauncherExe, &m_task.stop);
}

bool UpdateRun::FetchManifest(ManifestFields& server) {
    m_task.status.Set(L"正在检查更新...");
    std::string narrowUrl;
    FileSink sink(MANIFEST_MAX_BYTES, false);
    if (!NarrowUrl(m_manifestUrl, narrowUrl) ||
        !DownloadInto(m_paths.downloadedManifest, narrowUrl.c_str(), m_task.manifestProgress, sink, m_task.stop)) {
        m_task.manifestProgress = PROGRESS_FULL;
        if (sink.Exceeded()) {  // not a manifest at all: nothing else is fetched
            FailAndClean(LAUNCH_ERR_VERSION_FILE);
            return false;
        }
        m_task.errorDetail.Set(m_manifestUrl);
        FailAndClean(LAUNCH_ERR_VERSION_DOWNLOAD);
        return false;
    }

    // Everything below judges these bytes, read once: the signature, the fields, and the copy
    // that becomes the installed manifest.
    Stage(LAUNCH_ERR_VERSION_FILE);
    Json::Value downloaded;
    const bool signedRelease = !m_task.releasePublicKey.empty();
    if (!ReadWholeFile(m_paths.downloadedManifest, m_manifestBytes) ||
        (signedRelease && !IsManifestAuthentic(narrowUrl)) ||
        !ParseJsonText(m_manifestBytes, downloaded) || !ReadManifestFields(downloaded, server) ||
        (signedRelease && !NamesPackageIdentity(server))) {
        FailAndClean(LAUNCH_ERR_VERSION_FILE);
        return false;
    }
    return true;
}

// The detached signature at the manifest URL + ".sig", checked against the compiled-in key. A
// signature that cannot be fetched counts as a bad one.
bool UpdateRun::IsManifestAuthentic(const std::string& narrowManifestUrl) {
    PublicKey key;
    if (!DecodePublicKey(m_task.releasePublicKey, key)) return false;
    const std::wstring signatureFile = m_paths.downloadedManifest + L".sig";
    FileSink sink(SIGNATURE_MAX_BYTES, false);
    AtomicInt unused{0};
    std::string signatureText;
    return DownloadInto(signatureFile, (narrowManifestUrl + ".sig").c_str(), unused, sink, m_task.stop) &&
           ReadWholeFile(signatureFile, signatureText) &&
           IsManifestSignedBy(m_manifestBytes, signatureText, key);
}

// The index the manifest names, refused unless it is exactly the one signed with it. One that
// cannot be fetched at all (not uploaded, say) leaves the update to the whole package.
bool UpdateRun::FetchIndex(const ManifestFields& server) {
    Stage(LAUNCH_ERR_PACKAGE_DOWNLOAD);
    FileSink sink(server.indexSize, true);
    AtomicInt unused{0};
    const bool fetched = DownloadInto(m_paths.downloadedIndex, server.indexUrl.c_str(), unused, sink, m_task.stop);
    if (!fetched && !sink.Exceeded()) {
        DeleteFileW(m_paths.downloadedIndex.c_str());
        return true;
    }
    Stage(LAUNCH_ERR_VERSION_FILE);
    Sha256Digest digest{};
    if (!fetched || !sink.Digest(digest) || sink.Size() != server.indexSize || digest != server.indexSha256 ||
        !ReadWholeFile(m_paths.downloadedIndex, m_indexBytes) || !ParsePackageIndex(m_indexBytes, m_index).empty() ||
        (server.hasPackageSize && m_index.packageSize != server.packageSize)) {
        FailAndClean(LAUNCH_ERR_VERSION_FILE);
        return false;
    }
    m_hasIndex = true;
    return true;
}

// The installed index is trusted only as its own manifest names it, and with its stamps.
void UpdateRun::LoadInstalledRelease() {
    Json::Value root;
    ManifestFields installed;
    std::string stamps;
    Sha256Digest digest{};
    m_installedReadable = LoadJsonFile(m_paths.installedManifest, root) && ReadManifestFields(root, installed) &&
                          installed.hasIndex && ReadWholeFile(m_paths.installedIndex, m_installedIndexBytes) &&
                          m_installedIndexBytes.size() == installed.indexSize && Sha256Of(m_installedIndexBytes, digest) &&
                          digest == installed.indexSha256 &&
                          ParsePackageIndex(m_installedIndexBytes, m_installedIndex).empty() &&
                          ReadWholeFile(m_paths.installedStamps, stamps) && ParseStamps(stamps, m_installedStamps);
}

// Which installed files still hold what the installed index says: by their stamps, or with
// "-repair" by hashing every byte. False when the player left meanwhile.
bool UpdateRun::CheckInstalledFiles(std::vector<bool>& intact) {
    if (!m_task.verifyFiles) {
        intact = UnchangedFiles(m_paths.gameDir, m_installedIndex, m_installedStamps);
        return true;
    }
    m_task.status.Set(L"正在校验游戏文件...");
    return HashMatchingFiles(m_paths.gameDir, m_installedIndex, intact, &m_task.packageProgress, &m_task.stop);
}

// The installed release is current: a game missing files (or, with "-repair", holding any file
// that differs) gets only those back, through the update's own plan and swap.
bool UpdateRun::RepairIfIncomplete(const ManifestFields& server) {
    const bool complete = !m_installedReadable || HoldsEveryFile(m_paths.gameDir, m_installedIndex);
    if (!m_task.verifyFiles && complete) return true;
    std::vector<bool> intact;
    if (m_installedReadable) {
        if (!CheckInstalledFiles(intact)) {
            m_task.unpackError = EXTRACT_STOPPED;
            FailAndClean(LAUNCH_ERR_EXTRACT);
            return false;
        }
        if (complete && std::find(intact.begin(), intact.end(), false) == intact.end()) return true;
    }
    m_repairing = true;
    m_task.status.Set(L"正在修复游戏文件...");
    Stage(LAUNCH_ERR_SWAP);
    if (!RemoveStagedGame(m_paths.stagedGameDir)) {
        FailAndClean(LAUNCH_ERR_SWAP);
        return false;
    }
    // The installed index is the release's own when the manifest names it: nothing to fetch.
    Sha256Digest digest{};
    if (m_installedReadable && server.hasIndex && Sha256Of(m_installedIndexBytes, digest) &&
        digest == server.indexSha256 && (!server.hasPackageSize || m_installedIndex.packageSize == server.packageSize)) {
        m_hasIndex = true;
        m_indexBytes = m_installedIndexBytes;
        m_index = m_installedIndex;
    } else if (server.hasIndex && !FetchIndex(server)) {
        return false;
    }
    return InstallRelease(server, m_installedReadable ? &intact : nullptr);
}

// By ranges where both releases have an index; otherwise, or when the server does not serve the
// ranges as asked, the whole package (once).
bool UpdateRun::InstallRelease(const ManifestFields& server, const std::vector<bool>* knownIntact) {
    PackageSources urls(server.packageUrl, server.packageMirrors);
    bool rangesServed = true;
    if (m_hasIndex && m_installedReadable) {
        std::vector<bool> intact;
        if (knownIntact) {
            intact = *knownIntact;
        } else if (!CheckInstalledFiles(intact)) {
            m_task.unpackError = EXTRACT_STOPPED;
            FailAndClean(LAUNCH_ERR_EXTRACT);
            return false;
        }
        const RangedResult result = StageByRanges(intact, urls);
        if (result == RangedResult::Done) return FinishStagedGame();
        if (result == RangedResult::Failed) return false;
        Stage(LAUNCH_ERR_SWAP);
        if (!RemoveStagedGame(m_paths.stagedGameDir)) {
            FailAndClean(LAUNCH_ERR_SWAP);
            return false;
        }
        m_task.packageProgress = 0;
        m_task.unpackProgress = 0;
        rangesServed = false;
        urls.Restart();  // a server that would not serve ranges may still serve the whole package
    }
    if (m_hasIndex && rangesServed) {
        const StreamedResult streamed = StreamPackage(server, urls);
        if (streamed == StreamedResult::Done) return FinishStagedGame();
        if (streamed == StreamedResult::Failed) return false;
        urls.Restart();
    }
    return FetchPackage(server, urls) && StagePackage() && FinishStagedGame();
}

RangedResult UpdateRun::StageByRanges(const std::vector<bool>& intact, PackageSources& urls) {
    Stage(LAUNCH_ERR_PACKAGE_DOWNLOAD);
    if (!m_repairing) m_task.status.Set(L"正在下载更新包...");
    Sha256Digest indexDigest{};
    Sha256Of(m_indexBytes, indexDigest);
    RangedSource source;
    source.urls = &urls;
    source.packageSize = m_index.packageSize;
    source.identity = std::to_string(m_index.packageSize) + " " + Sha256Hex(indexDigest);
    source.partsPath = m_paths.packageParts;
    // With "-repair" the bar has shown the hashing; what little is fetched then is not shown.
    source.fetchProgress = m_task.verifyFiles ? &m_hiddenProgress : &m_task.packageProgress;
    source.decodeStatus = m_repairing ? nullptr : L"正在解压...";
    RangedUpdate ranged(m_index, m_installedIndex, intact, m_paths.gameDir, m_paths.stagedGameDir, source, m_task);
    if (!ranged.Prepare()) {
        m_task.unpackError = EXTRACT_OUTPUT_FAILED;
        FailAndClean(LAUNCH_ERR_EXTRACT);
        return RangedResult::Failed;
    }
    Stage(LAUNCH_ERR_DISK_SPACE);
    if (!InstallRootTakes(ranged.BytesNeeded())) return RangedResult::Failed;
    Stage(LAUNCH_ERR_PACKAGE_DOWNLOAD);
    const RangedOutcome outcome = ranged.Run();
    if (outcome.result == RangedResult::Failed) {
        m_task.unpackError = outcome.unpackError;
        if (outcome.code == LAUNCH_ERR_PACKAGE_DOWNLOAD) m_task.errorDetail.Set(FromAnsi(urls.Current()));
        FailAndClean(outcome.code);
    }
    return outcome.result;
}

// The whole package with its index: unpacked while it downloads. Before its first byte, the
// install root's volume must take what is left of the package and the unpacked game.
StreamedResult UpdateRun::StreamPackage(const ManifestFields& server, PackageSources& urls) {
    Stage(LAUNCH_ERR_DISK_SPACE);
    FileStamp partial;
    const uint64_t packageLeft =
        m_index.packageSize - (ReadFileStamp(m_paths.packageFile, partial) ? std::min(partial.size, m_index.packageSize) : 0);
    const uint64_t unpacked = UnpackedBytes(m_index);
    if (!InstallRootTakes(unpacked > UINT64_MAX - packageLeft ? UINT64_MAX : unpacked + packageLeft))
        return StreamedResult::Failed;
    Stage(LAUNCH_ERR_PACKAGE_DOWNLOAD);
    m_task.status.Set(L"正在下载更新包...");
    Sha256Digest indexDigest{};
    Sha256Of(m_indexBytes, indexDigest);
    StreamedTarget target;
    target.packageFile = m_paths.packageFile;
    target.partsPath = m_paths.packageParts;
    target.identity = std::to_string(m_index.packageSize) + " " + Sha256Hex(indexDigest);
    target.stagedDir = m_paths.stagedGameDir;
    target.unpackStatus = m_repairing ? L"正在修复游戏文件..." : L"正在解压...";
    target.showBytes = !m_repairing;
    const StreamedOutcome outcome = InstallWhileDownloading(server, m_index, urls, target, m_task);
    if (outcome.result == StreamedResult::Failed) {
        m_task.unpackError = outcome.unpackError;
        if (outcome.code == LAUNCH_ERR_PACKAGE_DOWNLOAD) m_task.errorDetail.Set(FromAnsi(urls.Current()));
        FailAndClean(outcome.code);
    }
    return outcome.result;
}

bool UpdateRun::FetchPackage(const ManifestFields& server, PackageSources& urls) {
    Stage(LAUNCH_ERR_PACKAGE_DOWNLOAD);
    m_task.status.Set(L"正在下载更新包...");
    ResumeRecord wanted;
    wanted.url = server.packageUrl;
    wanted.hasSize = server.hasPackageSize;
    wanted.size = server.packageSize;
    if (server.hasPackageSha256) wanted.sha256 = Sha256Hex(server.packageSha256);
    ResumableSink sink(m_paths.packageFile, wanted, server.hasPackageSha256);

    // A partial file of the same package is continued, from the server it came from. A server
    // that fails hands over to the next, which goes on from where the file stands; after bytes
    // that were not the package, from its first byte.
    DownloadProgress target{&m_task.packageProgress, 0, &m_task.stop};
    DownloadStatusReporter status(m_task.status, server.hasPackageSize, server.packageSize);
    if (!m_repairing) target.bytes = [&status](uint64_t received, uint64_t total) { status.Seen(received, total); };
    bool ok = sink.Prepare();
    if (ok) urls.StartAt(sink.SavedSource());
    while (ok) {
        ok = TransferWhole(target, urls.Current(), sink);
        bool foreign = sink.Exceeded();
        if (ok) {
            Sha256Digest digest{};
            const bool hashed = server.hasPackageSha256 && sink.Digest(digest);
            if (!PackageMatches(server.hasPackageSize, server.packageSize, sink.Size(), server.hasPackageSha256,
                                server.packageSha256, hashed, digest)) {
                sink.Discard();  // never installed, never continued
                ok = false;
                foreign = true;
            }
        }
        if (ok || StopRequested(&m_task.stop) || !urls.MoveOn()) break;
        if (foreign) sink.Discard();
        ok = foreign ? sink.StartAfresh() : sink.ContinueElsewhere(UINT64_MAX);
    }
    m_task.packageProgress = PROGRESS_FULL;
    if (!ok) {
        if (sink.Exceeded()) sink.Discard();  // longer than the package: nothing to continue
        m_task.errorDetail.Set(FromAnsi(urls.Current()));
        FailAndClean(LAUNCH_ERR_PACKAGE_DOWNLOAD);
        return false;
    }
    DeleteFileW(sink.RecordPath().c_str());
    return true;
}

bool UpdateRun::StagePackage() {
    Stage(LAUNCH_ERR_EXTRACT);
    m_task.status.Set(m_repairing ? L"正在修复游戏文件..." : L"正在解压...");

    // Before the game is touched: the package opens, every name stays inside, and the install
    // root's volume takes the unpacked game beside the old one.
    PackageSummary summary;
    int code = InspectPackage(m_paths.packageFile, summary);
    if (code != 0) {
        m_task.unpackError = code;
        FailAndClean(LAUNCH_ERR_EXTRACT);
        return false;
    }
    if (!InstallRootTakes(summary.unpackedBytes)) return false;

    // The new game is unpacked beside the old one, which stays whole until the swap.
    CreateDirectoryTree(m_paths.stagedGameDir);
    code = Extract7z(m_paths.packageFile, m_paths.stagedGameDir + L"\\", &m_task.unpackProgress, &m_task.stop);
    m_task.unpackError = code;
    if (code != 0) {
        FailAndClean(LAUNCH_ERR_EXTRACT);
        return false;
    }
    return true;
}

// Every file of the staged game and then its records are on the disk before the first rename:
// the index and the stamps of its files, and last the manifest, which marks it complete.
bool UpdateRun::FinishStagedGame() {
    Stage(LAUNCH_ERR_EXTRACT);
    const std::wstring& staged = m_paths.stagedGameDir;
    int code = 0;
    if (m_hasIndex) {
        std::vector<FileStamp> stamps;
        if (!TreeMatchesIndex(staged, m_index))
            code = EXTRACT_TREE_MISMATCH;
        else if (!StampFiles(staged, m_index, stamps) || !WriteWholeFile(staged + L"\\version.index", m_indexBytes) ||
                 !WriteWholeFile(staged + L"\\version.stamps", FormatStamps(m_index, stamps)))
            code = EXTRACT_OUTPUT_FAILED;
    }
    if (code == 0 && !WriteWholeFile(staged + L"\\version.json", m_manifestBytes)) code = EXTRACT_OUTPUT_FAILED;
    m_task.unpackError = code;
    if (code != 0) {
        FailAndClean(LAUNCH_ERR_EXTRACT);
        return false;
    }

    // The player may have started the game during a long download.
    Stage(LAUNCH_ERR_SWAP);
    if (IsProcessRunning(names::kGameExe, 0)) {
        FailAndClean(LAUNCH_ERR_GAME_RUNNING);
        return false;
    }
    if (!SwapInStagedGame(m_paths.gameDir)) {
        FailAndClean(LAUNCH_ERR_SWAP);
        return false;
    }
    // The renames were written through: only now may the old game go.
    RemovePreviousGames(m_paths.gameDir);
    return true;
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
    int32_t stageFailure = LAUNCH_ERR_CONFIG;
    // The thread's barrier: an unexpected exception ends the run as its stage's failure.
    try {
        UpdateRun(task, stageFailure).Run();
    } catch (...) {
        if (!IsTaskFinished(task)) Fail(task, stageFailure);
    }
}
