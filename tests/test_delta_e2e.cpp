// Updates by byte ranges through the real launcher, built with the test key, against releases
// made by the publisher's tool: every case compares the whole installed game with the release's
// game folder, and the server logs each request's range and the bytes it sent.
#include <gtest/gtest.h>

#include <algorithm>

#include "rules/PackageIndex.h"
#include "tests/support/LauncherFixture.h"
#include "tests/support/ScriptedPackage.h"
#include "tests/support/TreeCompare.h"
#include "update/FileStamps.h"
#include "update/RangedUpdate.h"
#include "update/UpdatePlan.h"
#include "update/UpdateWorker.h"

using namespace testing_support;

namespace {

const std::string kManifestPath = "/version/com.larkvane.vantrel.pcquenby.json";
const std::wstring kBadManifest = L"非法的Version文件，请重新尝试。谢谢！";

std::wstring Releases() {
    const char* folder = getenv("QUENBY_DELTA_RELEASES");
    std::wstring path = L"Z:" + Widen(folder ? folder : "");
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}
std::string Released(const std::wstring& relative) { return ReadFileBytes(Releases() + L"\\" + relative); }

PackageIndex IndexOf(const std::wstring& relative) {
    PackageIndex index;
    EXPECT_EQ(ParsePackageIndex(Released(relative), index), "");
    return index;
}

// The file's identity on its volume: a hard link shares it, a copy does not.
uint64_t FileId(const std::wstring& path) {
    scoped::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!file.IsValid() || !GetFileInformationByHandle(file.Get(), &info)) return 0;
    return uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
}

// The first byte of "bytes=a-b"; the whole-file request has none.
bool RangeOf(const std::string& range, uint64_t& first, uint64_t& last) {
    if (range.compare(0, 6, "bytes=") != 0) return false;
    const size_t dash = range.find('-');
    first = std::stoull(range.substr(6, dash - 6));
    last = std::stoull(range.substr(dash + 1));
    return true;
}

class DeltaUpdateTest : public LauncherFixture {
protected:
    ScriptedPackage package;
    std::string currentPackagePath;

    void SetUp() override {
        ASSERT_NE(getenv("QUENBY_DELTA_RELEASES"), nullptr) << "run through delta_release_e2e.sh";
        LauncherFixture::SetUp();
        ASSERT_TRUE(CopyFileW((ProgramDir() + Widen(SIGNED_LAUNCHER)).c_str(), launcher.c_str(), FALSE));
        WriteSettings(download, server.Url(kManifestPath));
    }
    // Serves release n's manifest, signature, index (or another one) and package, from the
    // release folder rn or the one named.
    void Serve(int n, const std::string& index = std::string(), const std::wstring& releaseFolder = L"") {
        const std::wstring folder = (releaseFolder.empty() ? L"r" + std::to_wstring(n) : releaseFolder) + L"\\";
        const std::string stem = "/version/Vantrel-" + std::to_string(n);
        server.RouteBody(kManifestPath, Released(folder + L"com.larkvane.vantrel.pcquenby.json"));
        server.RouteBody(kManifestPath + ".sig", Released(folder + L"com.larkvane.vantrel.pcquenby.json.sig"));
        server.RouteBody(stem + ".index", index.empty() ? Released(folder + Widen("Vantrel-" + std::to_string(n) + ".index")) : index);
        package.body = Released(folder + Widen("Vantrel-" + std::to_string(n) + ".7z"));
        ASSERT_FALSE(package.body.empty());
        package.ResetCounts();
        if (currentPackagePath != stem + ".7z") package.Install(server, stem + ".7z");
        currentPackagePath = stem + ".7z";
    }
    // Runs the launcher until the game starts, then ends the game.
    void RunToGame(const std::wstring& arguments = L"") {
        ChildProcess run(launcher, arguments);
        FinishRun(run);
    }
    // Waits for a running launcher to end and start the game, then ends the game.
    void FinishRun(ChildProcess& run) {
        EXPECT_EQ(run.Wait(90000), 0u);
        EXPECT_TRUE(WaitFor(record, 10000));
        KillProcessesNamed(L"Vantrel.exe");
        DeleteFileW(record.c_str());
    }
    // The package bytes sent by the time the file at path has all its size (SIZE_MAX: never, in
    // a minute), while the launcher runs.
    size_t SentWhenWritten(const std::wstring& path, uint64_t size) {
        for (ULONGLONG end = GetTickCount64() + 60000; GetTickCount64() < end; Sleep(20)) {
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
                (uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow) == size)
                return package.Sent();
        }
        return SIZE_MAX;
    }
    void InstallRelease(int n) {
        Serve(n);
        RunToGame();
        ASSERT_EQ(GameTree(), ReleaseTree(n));
    }
    // The installed game without the launcher's own records: each path with its size and a
    // digest of its bytes (a failure prints that, not whole files).
    std::map<std::wstring, std::string> GameTree() {
        auto tree = Summary(ListTree(root + L"\\game"));
        for (const wchar_t* own : {L"version.json", L"version.index", L"version.stamps", L"launch-record.txt"})
            tree.erase(own);
        return tree;
    }
    std::map<std::wstring, std::string> ReleaseTree(int n) {
        return Summary(ListTree(Releases() + L"\\game" + std::to_wstring(n)));
    }
    static std::map<std::wstring, std::string> Summary(const std::map<std::wstring, std::string>& tree) {
        std::map<std::wstring, std::string> summary;
        for (const auto& entry : tree)
            summary[entry.first] = std::to_string(entry.second.size()) + ":" +
                                   std::to_string(std::hash<std::string>()(entry.second));
        return summary;
    }
    // Starts again from no game at all.
    void RemoveGame() {
        RemoveTreeIfPresent(root + L"\\game");
        RemoveTreeIfPresent(root + L"\\temp");
    }

    bool AllRequestsRanged() const {
        for (const std::string& range : package.Ranges())
            if (range.empty()) return false;
        return true;
    }
    // What an update from release 1 should fetch, every file intact but the one named.
    uint64_t PlannedBytes(std::vector<ByteSpan>* requests = nullptr, const std::string& changed = std::string()) {
        const PackageIndex next = IndexOf(L"r2\\Vantrel-2.index"), installed = IndexOf(L"r1\\Vantrel-1.index");
        std::vector<bool> intact(installed.files.size(), true);
        for (size_t i = 0; i < installed.files.size(); ++i)
            if (installed.files[i].path == changed) intact[i] = false;
        const UpdatePlan plan = PlanUpdate(next, installed, intact);
        const std::vector<ByteSpan> merged = FetchRequests(HeadersToFetch(next, plan), BlocksToFetch(next, plan));
        if (requests) *requests = merged;
        return TotalLength(merged);
    }
};

}  // namespace

TEST_F(DeltaUpdateTest, AnUpdateFetchesOnlyTheChangedBlocksAndChunks) {
    InstallRelease(1);
    EXPECT_FALSE(AllRequestsRanged());  // the first install takes the whole package
    ASSERT_TRUE(Exists(root + L"\\game\\version.index"));
    const uint64_t unchanged = FileId(root + L"\\game\\data\\levels\\level00.dat");

    Serve(2);
    RunToGame();
    EXPECT_EQ(GameTree(), ReleaseTree(2));
    EXPECT_TRUE(AllRequestsRanged());
    std::vector<ByteSpan> requests;
    const uint64_t planned = PlannedBytes(&requests);
    size_t sent = package.Sent();
    EXPECT_EQ(sent, planned);
    EXPECT_LT(sent, package.body.size() / 2);
    EXPECT_EQ(package.Ranges().size(), requests.size());
    EXPECT_EQ(FileId(root + L"\\game\\data\\levels\\level00.dat"), unchanged);  // hard-linked, not copied

    // Of the big file only the chunk with the rewritten bytes is fetched.
    const PackageIndex next = IndexOf(L"r2\\Vantrel-2.index");
    const auto big = std::find_if(next.files.begin(), next.files.end(),
                                  [](const IndexFile& f) { return f.path == "data/world.pak"; });
    ASSERT_NE(big, next.files.end());
    const std::vector<IndexChunk>& chunks = next.folders[size_t(big->folder)].chunks;
    ASSERT_EQ(chunks.size(), 3u);
    for (const std::string& range : package.Ranges()) {
        uint64_t first = 0, last = 0;
        ASSERT_TRUE(RangeOf(range, first, last)) << range;
        for (size_t k : {size_t(0), size_t(2)})
            EXPECT_TRUE(last < chunks[k].packed.offset || first >= chunks[k].packed.End()) << range;
    }
    // The installed game's records are the new release's.
    EXPECT_EQ(ReadFileBytes(root + L"\\game\\version.index"), Released(L"r2\\Vantrel-2.index"));
    EXPECT_FALSE(Exists(root + L"\\game.new"));
    EXPECT_FALSE(Exists(root + L"\\temp"));
}

TEST_F(DeltaUpdateTest, ABlockIsDecodedWhileTheRestOfTheRangesArrive) {
    InstallRelease(1);
    Serve(2);
    package.mode = ScriptedPackage::Mode::TrickleRanges;
    // The file decoded from the first block fetched.
    const PackageIndex next = IndexOf(L"r2\\Vantrel-2.index"), installed = IndexOf(L"r1\\Vantrel-1.index");
    const UpdatePlan plan = PlanUpdate(next, installed, std::vector<bool>(installed.files.size(), true));
    size_t first = next.files.size();
    for (size_t i = 0; i < next.files.size(); ++i)
        if (plan.files[i].action == FileAction::Decode &&
            (first == next.files.size() ||
             next.folders[size_t(next.files[i].folder)].packed.offset < next.folders[size_t(next.files[first].folder)].packed.offset))
            first = i;
    ASSERT_LT(first, next.files.size());
    const std::wstring staged = IndexPathOnDisk(root + L"\\game.new", next.files[first].path);

    ChildProcess run(launcher, L"");
    ASSERT_TRUE(run.Started());
    const size_t sentWhenDecoded = SentWhenWritten(staged, next.files[first].size);
    EXPECT_LT(sentWhenDecoded, PlannedBytes()) << "decoded only once every range had come";
    FinishRun(run);
    EXPECT_EQ(GameTree(), ReleaseTree(2));
    EXPECT_EQ(package.Sent(), PlannedBytes());
}

TEST_F(DeltaUpdateTest, AFileThePlayerChangedIsFetchedAgain) {
    InstallRelease(1);
    // Unchanged in release 2, but not what the player has now.
    WriteFileBytes(root + L"\\game\\data\\levels\\level05.dat", "the player's own level");
    Serve(2);
    RunToGame();
    EXPECT_EQ(GameTree(), ReleaseTree(2));
    EXPECT_EQ(package.Sent(), PlannedBytes(nullptr, "data/levels/level05.dat"));
    EXPECT_TRUE(AllRequestsRanged());
}

TEST_F(DeltaUpdateTest, ServersThatAnswerRangesWronglyGetTheWholePackageFetchedOnce) {
    struct Case { const char* label; ScriptedPackage::Mode mode; };
    const Case cases[] = {
        {"ranges ignored", ScriptedPackage::Mode::IgnoreRanges},
        {"other bytes for a range", ScriptedPackage::Mode::OtherBytes},
        {"a range answered at the wrong offset", ScriptedPackage::Mode::WrongOffset},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        package.mode = ScriptedPackage::Mode::Honour;
        RemoveGame();
        InstallRelease(1);
        Serve(2);
        package.mode = c.mode;
        RunToGame();
        EXPECT_EQ(GameTree(), ReleaseTree(2));
        const std::vector<std::string> ranges = package.Ranges();
        ASSERT_FALSE(ranges.empty());
        EXPECT_EQ(ranges.back(), "");  // the whole package, last
        EXPECT_EQ(std::count(ranges.begin(), ranges.end(), std::string()), 1);
        const auto left = ListTree(root + L"\\temp");
        EXPECT_FALSE(Exists(root + L"\\temp")) << (left.empty() ? "empty folders" : Narrow(left.begin()->first));
    }
}

TEST_F(DeltaUpdateTest, AnIndexAlteredAfterSigningIsRefused) {
    InstallRelease(1);
    const auto before = ListTree(root + L"\\game");
    Serve(2, Released(L"altered\\Vantrel-2.index"));
    ExpectMessage(launcher, L"", L"错误", kBadManifest);
    EXPECT_TRUE(ListTree(root + L"\\game") == before);
    EXPECT_TRUE(package.Ranges().empty());  // nothing of the package fetched
    EXPECT_FALSE(Exists(root + L"\\game.new"));
}

TEST_F(DeltaUpdateTest, AMissingFileIsRestoredWithoutTheWholePackage) {
    InstallRelease(2);
    ASSERT_TRUE(DeleteFileW((root + L"\\game\\data\\levels\\level10.dat").c_str()));
    Serve(2);
    RunToGame();
    EXPECT_EQ(GameTree(), ReleaseTree(2));
    EXPECT_TRUE(AllRequestsRanged());
    EXPECT_FALSE(package.Ranges().empty());
    EXPECT_LT(package.Sent(), 8u << 20);
}

TEST_F(DeltaUpdateTest, RepairRestoresADamagedFileOfTheSameSizeAndTime) {
    InstallRelease(2);
    const std::wstring damaged = root + L"\\game\\data\\world.pak";
    FILETIME written;
    {
        scoped::Handle file(CreateFileW(damaged.c_str(), GENERIC_READ | GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file.IsValid());
        ASSERT_TRUE(GetFileTime(file.Get(), nullptr, nullptr, &written));
        LARGE_INTEGER at;
        at.QuadPart = 20 << 20;
        SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN);
        DWORD done = 0;
        ASSERT_TRUE(WriteFile(file.Get(), "damaged", 7, &done, nullptr));
        ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &written));
    }
    // An ordinary run trusts the file (same size and time) and starts the game.
    Serve(2);
    RunToGame();
    EXPECT_TRUE(package.Ranges().empty());
    EXPECT_NE(GameTree(), ReleaseTree(2));

    RunToGame(L"-repair");
    EXPECT_EQ(GameTree(), ReleaseTree(2));
    EXPECT_TRUE(AllRequestsRanged());
    EXPECT_LT(package.Sent(), 10u << 20);  // the damaged chunk, not the file or the package
}

TEST_F(DeltaUpdateTest, ACutShortUpdateContinuesWithTheRangesNotYetChecked) {
    InstallRelease(1);
    Serve(2);
    package.mode = ScriptedPackage::Mode::CutRanges;
    ExpectMessage(launcher, L"", L"错误",
                  L"无法下载安装包更新文件，请检查您的网络！\n" + Widen(server.Url(currentPackagePath)));
    EXPECT_EQ(GameTree(), ReleaseTree(1));
    EXPECT_TRUE(Exists(root + L"\\temp\\com.larkvane.vantrel.pcquenby.7z.parts.list"));
    const size_t firstRun = package.Sent();

    package.mode = ScriptedPackage::Mode::Honour;
    package.ResetCounts();
    RunToGame();
    EXPECT_EQ(GameTree(), ReleaseTree(2));
    EXPECT_TRUE(AllRequestsRanged());
    // What the first run checked is not fetched again.
    EXPECT_LT(package.Sent(), PlannedBytes());
    EXPECT_GT(firstRun, 0u);
}

int g_linkRefusals = 0;

// A volume that takes no hard links (WINAPI: the 32-bit build calls it as the system's own).
BOOL WINAPI RefuseHardLink(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES) {
    ++g_linkRefusals;
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

// In process, to stand for a volume without hard links: every linked file is copied instead.
TEST_F(DeltaUpdateTest, WithoutHardLinksTheUnchangedFilesAreCopied) {
    InstallRelease(1);
    Serve(2);
    g_linkRefusals = 0;
    SetHardLinkCallForTesting(RefuseHardLink);
    WriteSettings(ProgramDir(), server.Url(kManifestPath));
    UpdateTask task;
    task.releasePublicKey = getenv("QUENBY_TEST_PUBLIC_KEY") ? getenv("QUENBY_TEST_PUBLIC_KEY") : "";
    const uint64_t before = FileId(root + L"\\game\\data\\levels\\level00.dat");
    RunUpdate(task);
    SetHardLinkCallForTesting(nullptr);
    DeleteFileW((ProgramDir() + L"setting.ini").c_str());
    EXPECT_EQ(task.result.load(), 0);
    EXPECT_EQ(GameTree(), ReleaseTree(2));
    EXPECT_EQ(g_linkRefusals, 1);  // tried once, then copies
    EXPECT_EQ(package.Sent(), PlannedBytes());
    EXPECT_NE(FileId(root + L"\\game\\data\\levels\\level00.dat"), before);  // a copy
}

// Full installs of a release with an index: the package is unpacked while it downloads.
namespace {

const std::wstring kPackageFailed = L"无法下载安装包更新文件，请检查您的网络！\n";

class StreamedInstallTest : public DeltaUpdateTest {
protected:
    std::wstring Package() const { return root + L"\\temp\\com.larkvane.vantrel.pcquenby.7z"; }
    // The header requests come first, by range; then the package from its first byte.
    void ExpectHeadersThenWholePackage(size_t wholeRequests = 1) {
        const PackageIndex index = IndexOf(L"r2\\Vantrel-2.index");
        const std::vector<std::string> ranges = package.Ranges();
        ASSERT_EQ(ranges.size(), 2 + wholeRequests);
        EXPECT_EQ(ranges[0], "bytes=0-" + std::to_string(index.startHeader.End() - 1));
        EXPECT_EQ(ranges[1], "bytes=" + std::to_string(index.endHeader.offset) + "-" +
                                 std::to_string(index.endHeader.End() - 1));
        EXPECT_EQ(ranges[2], "");
    }
    void ExpectGameKept() {
        EXPECT_EQ(GameTree(), ReleaseTree(1));
        EXPECT_FALSE(Exists(root + L"\\game.new"));
        EXPECT_FALSE(Exists(root + L"\\game.old"));
    }
};

}  // namespace

TEST_F(StreamedInstallTest, TheFirstBlocksAreUnpackedWhileTheRestDownloads) {
    Serve(2);
    package.mode = ScriptedPackage::Mode::Trickle;  // the whole package over about 20 s
    const PackageIndex index = IndexOf(L"r2\\Vantrel-2.index");
    const auto first = std::find_if(index.files.begin(), index.files.end(), [](const IndexFile& f) { return f.size > 0; });
    ASSERT_NE(first, index.files.end());
    const std::wstring staged = IndexPathOnDisk(root + L"\\game.new", first->path);

    ChildProcess run(launcher, L"");
    ASSERT_TRUE(run.Started());
    const size_t sentWhenUnpacked = SentWhenWritten(staged, first->size);
    EXPECT_LT(sentWhenUnpacked, package.body.size() / 2) << "the first file came out only after half the package";
    FinishRun(run);
    EXPECT_EQ(GameTree(), ReleaseTree(2));
    ExpectHeadersThenWholePackage();
    EXPECT_EQ(ReadFileBytes(root + L"\\game\\version.index"), Released(L"r2\\Vantrel-2.index"));
    EXPECT_FALSE(Exists(root + L"\\temp"));
}

TEST_F(StreamedInstallTest, ADownloadCutShortContinuesAndTheGameComesOutWhole) {
    Serve(2);
    package.mode = ScriptedPackage::Mode::CutWholeAtHalf;
    ExpectMessage(launcher, L"", L"错误", kPackageFailed + Widen(server.Url(currentPackagePath)));
    EXPECT_FALSE(Exists(root + L"\\game"));
    EXPECT_FALSE(Exists(root + L"\\game.new"));
    EXPECT_TRUE(Exists(Package() + L".resume"));

    package.mode = ScriptedPackage::Mode::Honour;
    package.ResetCounts();
    RunToGame();
    EXPECT_EQ(GameTree(), ReleaseTree(2));
    const std::vector<std::string> ranges = package.Ranges();
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ(ranges.back(), "bytes=" + std::to_string(package.body.size() / 2) + "-");  // the rest only
    EXPECT_EQ(package.SentPerRequest().back(), package.body.size() - package.body.size() / 2);
    EXPECT_FALSE(Exists(root + L"\\temp"));
}

TEST_F(StreamedInstallTest, ABlockWhoseBytesDoNotMatchTheIndexIsRefused) {
    InstallRelease(1);
    DeleteFileW((root + L"\\game\\version.index").c_str());  // the next update takes the whole package
    Serve(2);
    const PackageIndex index = IndexOf(L"r2\\Vantrel-2.index");
    const ByteSpan& block = index.folders.front().packed;
    package.body[size_t(block.offset + block.length / 2)] ^= 0x20;
    package.mode = ScriptedPackage::Mode::Trickle;  // slowly, so what stops the download shows
    ExpectMessage(launcher, L"", L"错误", kPackageFailed + Widen(server.Url(currentPackagePath)));
    ExpectGameKept();
    EXPECT_FALSE(Exists(Package()));  // never continued
    // Stopped at the first block, not by the whole package's hash at its end.
    EXPECT_LT(package.SentPerRequest().back(), package.body.size() / 2);
}

TEST_F(StreamedInstallTest, APackageThatIsNotTheSignedOneIsRefusedThoughEveryBlockMatched) {
    InstallRelease(1);
    DeleteFileW((root + L"\\game\\version.index").c_str());
    Serve(2);
    server.RouteBody(kManifestPath, Released(L"wrong-hash\\com.larkvane.vantrel.pcquenby.json"));
    server.RouteBody(kManifestPath + ".sig", Released(L"wrong-hash\\com.larkvane.vantrel.pcquenby.json.sig"));
    ExpectMessage(launcher, L"", L"错误", kPackageFailed + Widen(server.Url(currentPackagePath)));
    ExpectGameKept();
    EXPECT_EQ(package.SentPerRequest().back(), package.body.size());  // all of it came, and matched its index
    EXPECT_FALSE(Exists(Package()));
}

TEST_F(StreamedInstallTest, AVolumeTooSmallIsToldBeforeTheFirstPackageByte) {
    const char* volume = getenv("QUENBY_SMALL_VOLUME");
    if (!volume || !*volume) GTEST_SKIP() << "no small volume mounted (QUENBY_SMALL_VOLUME)";
    std::wstring base = L"Z:" + Widen(volume);
    std::replace(base.begin(), base.end(), L'/', L'\\');
    root = base + L"\\delta-" + std::to_wstring(GetCurrentProcessId()) + L"\\Vantrel";
    copy = root + L"\\QuenbySkirmora.exe";
    record = root + L"\\game\\launch-record.txt";
    WriteSettings(download, server.Url(kManifestPath));
    Serve(2);
    ExpectMessage(launcher, L"", L"错误", L"磁盘空间不足，请进行清理后重新尝试。谢谢！");
    EXPECT_TRUE(package.Ranges().empty());
    EXPECT_FALSE(Exists(root + L"\\game"));
    ForceRemoveTree(root.substr(0, root.rfind(L'\\')));
}

// A release whose manifest names two mirrors of its package: first one where nothing listens,
// then one on the test server.
namespace {

const std::string kMirrorPath = "/mirror/Vantrel-2.7z";

class MirrorTest : public DeltaUpdateTest {
protected:
    ScriptedPackage mirror;
    bool mirrorRouted = false;

    void ServeMirrored() {
        Serve(2, std::string(), L"r2-mirrored");
        mirror.body = package.body;
        mirror.mode = ScriptedPackage::Mode::Honour;
        mirror.ResetCounts();
        if (!mirrorRouted) mirror.Install(server, kMirrorPath);
        mirrorRouted = true;
    }
};

}  // namespace

TEST_F(MirrorTest, AServerThatFailsHandsTheDownloadOnAndTheGameComesOutWhole) {
    using Mode = ScriptedPackage::Mode;
    struct Case { const char* label; bool update; Mode mode; };
    const Case cases[] = {
        {"an update by ranges; the package's server answers 503", true, Mode::Unavailable},
        {"an update by ranges; the package's server sends other bytes", true, Mode::SpoilMiddle},
        {"a first install; the package's server answers 503", false, Mode::Unavailable},
        {"a first install; the package's server sends other bytes", false, Mode::SpoilMiddle},
        {"a first install; the package's server stalls half-way", false, Mode::StallAtHalf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        package.mode = Mode::Honour;
        RemoveGame();
        if (c.update) InstallRelease(1);
        ServeMirrored();
        package.mode = c.mode;
        RunToGame();
        EXPECT_EQ(GameTree(), ReleaseTree(2));
        EXPECT_FALSE(Exists(root + L"\\temp"));
        EXPECT_GT(mirror.Sent(), 0u);
        const std::vector<std::string> ranges = mirror.Ranges();
        ASSERT_FALSE(ranges.empty());
        if (c.update) {
            EXPECT_EQ(std::count(ranges.begin(), ranges.end(), std::string()), 0);  // ranges only
            EXPECT_LT(mirror.Sent(), package.body.size() / 2);
        } else if (c.mode != Mode::Unavailable) {
            // The mirror goes on from the last byte the first server sent that matched the index.
            uint64_t first = 0;
            ASSERT_EQ(ranges.back().compare(0, 6, "bytes="), 0) << ranges.back();
            first = std::stoull(ranges.back().substr(6));
            EXPECT_GT(first, 0u);
            EXPECT_EQ(mirror.SentPerRequest().back(), package.body.size() - first);
        }
    }
}

TEST_F(MirrorTest, WhenEveryServerFailsTheMessageNamesTheLastOneTried) {
    InstallRelease(1);
    DeleteFileW((root + L"\\game\\version.index").c_str());  // the whole package, streamed
    ServeMirrored();
    package.mode = ScriptedPackage::Mode::Unavailable;
    mirror.mode = ScriptedPackage::Mode::Unavailable;
    ExpectMessage(launcher, L"", L"错误", L"无法下载安装包更新文件，请检查您的网络！\n" + Widen(server.Url(kMirrorPath)));
    EXPECT_EQ(GameTree(), ReleaseTree(1));
    EXPECT_GT(mirror.Ranges().size(), 0u);
}
