#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <vector>
#include <map>
#include <sstream>

#include "platform/FileSystem.h"
#include "tests/support/DurabilityProbe.h"
#include "tests/support/HttpServer.h"
#include "platform/Sha256.h"
#include "rules/ManifestFields.h"
#include "tests/support/ReleaseFiles.h"
#include "tests/support/ScriptedPackage.h"
#include "tests/support/Shell.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TreeCompare.h"
#include "update/Settings.h"
#include "update/UpdateWorker.h"

using namespace testing_support;

namespace {

std::wstring Fixture(const std::wstring& name) { return ProgramDir() + L"fixtures\\" + name; }

// Members the launcher does not know are ignored.
std::string Manifest(int version, const std::string& packageUrl) {
    return ManifestJson(version, packageUrl, ", \"Notes\": \"ignored\"");
}

// A launcher folder with the runner in it, an install root beside it and a server to update from.
class UpdateWorkerTest : public ::testing::Test {
protected:
    TempDir dir;
    HttpServer server;
    std::wstring launcherDir = dir / L"download";
    std::wstring root = dir / L"Games\\Vantrel";
    std::wstring game = root + L"\\game";

    void SetUp() override {
        CreateDirectoryW(launcherDir.c_str(), nullptr);
        CreateDirectoryW((dir / L"Games").c_str(), nullptr);
        CopyFileW(HelperProgram(L"update_runner.exe").c_str(), (launcherDir + L"\\runner.exe").c_str(),
                  FALSE);
        WriteSettings(Narrow(root), server.Url("/version.json"));
    }

    void WriteSettings(const std::string& localPath, const std::string& versionUrl) {
        WriteSettingsFile(launcherDir, localPath, versionUrl);
    }
    void ServeManifest(int version, const std::string& packagePath = "/package.7z") {
        server.RouteBody("/version.json", Manifest(version, server.Url(packagePath)));
    }
    void ServePackage(const std::wstring& fixture, const std::string& path = "/package.7z") {
        server.RouteBody(path, ReadFileBytes(Fixture(fixture)));
    }
    // Installs version v of the game as a successful update would have left it.
    void Install(const std::wstring& treeName, int version) {
        CreateDirectoryW(root.c_str(), nullptr);
        ASSERT_EQ(RunUpdateWith(version, treeName)[L"result"], L"0");
    }
    std::map<std::wstring, std::wstring> RunUpdateWith(int version, const std::wstring& package) {
        ServeManifest(version);
        ServePackage(package == L"game1" ? L"game-v1.7z" : L"game-v2.7z");
        return Run();
    }

    std::map<std::wstring, std::wstring> Run(const std::wstring& arguments = L"") {
        const std::wstring out = dir / L"runner-out.txt";
        DeleteFileW(out.c_str());
        EXPECT_EQ(RunProgram(launcherDir + L"\\runner.exe", L"\"" + out + L"\" " + arguments, 180000), 0u);
        auto values = ParseKeyValues(Widen(ReadFileBytes(out)));
        EXPECT_EQ(values[L"finished"], L"1");
        return values;
    }
    std::map<std::wstring, std::string> GameTree(const wchar_t* name) {
        return ListTree(Fixture(std::wstring(L"game-trees\\") + name));
    }
};

}  // namespace

TEST_F(UpdateWorkerTest, FreshInstall) {
    ServeManifest(1);
    ServePackage(L"game-v1.7z");
    auto r = Run();
    EXPECT_EQ(r[L"result"], L"0");
    EXPECT_EQ(r[L"progress"], L"10000");
    EXPECT_EQ(r[L"combined"], L"10000");
    EXPECT_EQ(r[L"status"], L"正在启动游戏...");
    EXPECT_EQ(r[L"installRoot"], root);
    EXPECT_EQ(r[L"gameExePath"], root + L"\\game\\Vantrel.exe");
    EXPECT_EQ(r[L"monotonic"], L"1");
    auto expected = GameTree(L"game1");
    expected[L"version.json"] = Manifest(1, server.Url("/package.7z"));
    EXPECT_TRUE(ListTree(game) == expected);
    EXPECT_FALSE(Exists(root + L"\\temp"));
}

TEST_F(UpdateWorkerTest, AlreadyCurrentFetchesOnlyTheManifest) {
    Install(L"game1", 5);
    WriteFileBytes(game + L"\\player-settings.cfg", "mine");
    const auto before = ListTree(game);
    const int packageRequests = server.Requests("/package.7z");
    auto r = Run();
    EXPECT_EQ(r[L"result"], L"0");
    EXPECT_EQ(r[L"progress"], L"10000");
    EXPECT_EQ(r[L"status"], L"正在启动游戏...");
    EXPECT_EQ(r[L"packageProgress"], L"0");
    EXPECT_EQ(server.Requests("/package.7z"), packageRequests);
    EXPECT_TRUE(ListTree(game) == before);
    EXPECT_FALSE(Exists(root + L"\\temp"));
}

TEST_F(UpdateWorkerTest, NewerVersionReplacesTheWholeGameFolder) {
    Install(L"game1", 1);
    WriteFileBytes(game + L"\\stale.log", "old");
    auto r = RunUpdateWith(2, L"game2");
    EXPECT_EQ(r[L"result"], L"0");
    // Sampled every 30 ms, a quick stage may be missed, but what is seen comes in this order.
    const std::wstring order = L"|正在检查更新...|正在下载更新包...|正在解压...|正在启动游戏...";
    std::wistringstream seen(r[L"statuses"]);
    size_t at = 0;
    std::wstring previous;
    for (std::wstring status; std::getline(seen, status, L'|');) {
        if (status.empty()) continue;
        status = status.substr(0, status.find(L"...") + 3);  // the download's sizes and speed follow its stage
        if (status == previous) continue;
        previous = status;
        size_t found = order.find(L"|" + status, at);
        EXPECT_NE(found, std::wstring::npos) << Narrow(r[L"statuses"]);
        if (found != std::wstring::npos) at = found + 1;
    }
    EXPECT_EQ(r[L"status"], L"正在启动游戏...");
    auto expected = GameTree(L"game2");
    expected[L"version.json"] = Manifest(2, server.Url("/package.7z"));
    EXPECT_TRUE(ListTree(game) == expected);  // old-level.map and stale.log are gone
    EXPECT_EQ(ReadFileBytes(game + L"\\version.json"), Manifest(2, server.Url("/package.7z")));
}

TEST_F(UpdateWorkerTest, EqualVersionWithoutTheExecutableReinstalls) {
    Install(L"game1", 3);
    DeleteFileW((game + L"\\Vantrel.exe").c_str());
    auto r = Run();
    EXPECT_EQ(r[L"result"], L"0");
    EXPECT_EQ(ReadFileBytes(game + L"\\Vantrel.exe"), "stand-in game executable v1");
}

TEST_F(UpdateWorkerTest, NeverDowngrades) {
    Install(L"game2", 7);
    const auto before = ListTree(game);
    auto r = RunUpdateWith(5, L"game1");
    EXPECT_EQ(r[L"result"], L"0");
    EXPECT_TRUE(ListTree(game) == before);
}

TEST_F(UpdateWorkerTest, ManifestFailuresLeaveTheGameUntouched) {
    Install(L"game1", 1);
    const auto before = ListTree(game);
    int deadPort;
    {
        HttpServer gone;
        deadPort = gone.Port();
    }
    struct Case { const char* label; std::string url; std::string body; int status; const wchar_t* result; };
    const std::string deadUrl = "http://127.0.0.1:" + std::to_string(deadPort) + "/version.json";
    const Case cases[] = {
        {"unreachable", deadUrl, "", 0, L"-10000"},
        {"404", server.Url("/missing.json"), "", 0, L"-10000"},
        {"not json", server.Url("/html.json"), "<html>maintenance</html>", 200, L"-10006"},
        {"malformed", server.Url("/bad.json"), "{\"ServerVersionCode\": \"9\"}", 200, L"-10006"},
        {"wrong root", server.Url("/arr.json"), "[1]", 200, L"-10006"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.status) server.RouteBody(c.url.substr(c.url.rfind('/')), c.body, c.status);
        WriteSettings(Narrow(root), c.url);
        auto r = Run();
        EXPECT_EQ(r[L"result"], c.result);
        EXPECT_EQ(r[L"progress"], L"0");
        EXPECT_EQ(r[L"manifestProgress"], L"10000");
        EXPECT_EQ(r[L"status"], L"正在检查更新...");
        EXPECT_EQ(r[L"errorDetail"], std::wstring(c.result) == L"-10000" ? Widen(c.url) : L"");
        EXPECT_TRUE(ListTree(game) == before);
        EXPECT_FALSE(Exists(root + L"\\temp"));
    }
}

// A package without an index comes whole; a server that fails hands over to the next.
TEST_F(UpdateWorkerTest, AMirrorTakesTheWholePackageOverFromAServerThatFails) {
    using Mode = ScriptedPackage::Mode;
    ScriptedPackage first, mirror;
    first.body = mirror.body = ReadFileBytes(Fixture(L"game-v2.7z"));
    first.Install(server, "/first/package.7z");
    mirror.Install(server, "/mirror/package.7z");
    Sha256 hash;
    hash.Add(first.body.data(), first.body.size());
    Sha256Digest digest{};
    ASSERT_TRUE(hash.Finish(digest));
    const std::string manifest =
        ManifestJson(2, server.Url("/first/package.7z"),
                     ", \"WinPackageSize\": " + std::to_string(first.body.size()) + ", \"WinPackageSHA256\": \"" +
                         Sha256Hex(digest) + "\", \"WinPackageMirrors\": [\"" + server.Url("/mirror/package.7z") + "\"]");
    server.RouteBody("/version.json", manifest);
    auto expected = GameTree(L"game2");
    expected[L"version.json"] = manifest;

    struct Case { const char* label; Mode mode; const char* mirrorAsked; };
    const std::string half = "bytes=" + std::to_string(first.body.size() / 2) + "-";
    const Case cases[] = {
        {"503", Mode::Unavailable, ""},
        {"a stall half-way: the mirror sends the rest", Mode::StallAtHalf, half.c_str()},
        {"other bytes: the whole package from the mirror", Mode::SpoilMiddle, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ForceRemoveTree(root);
        first.mode = c.mode;
        first.ResetCounts();
        mirror.ResetCounts();
        auto r = Run(L"--stall-seconds=2");
        EXPECT_EQ(r[L"result"], L"0");
        EXPECT_TRUE(ListTree(game) == expected);
        EXPECT_FALSE(Exists(root + L"\\temp"));
        EXPECT_EQ(first.Ranges().size(), 1u);
        EXPECT_EQ(mirror.Ranges(), std::vector<std::string>{c.mirrorAsked});
    }

    // Every server failing: the message names the last one tried.
    ForceRemoveTree(root);
    first.mode = mirror.mode = Mode::Unavailable;
    auto r = Run();
    EXPECT_EQ(r[L"result"], L"-10001");
    EXPECT_EQ(r[L"errorDetail"], Widen(server.Url("/mirror/package.7z")));
}

TEST_F(UpdateWorkerTest, PackageNotFoundLeavesTheGameUntouched) {
    Install(L"game1", 1);
    const auto before = ListTree(game);
    server.RouteBody("/version.json", Manifest(2, server.Url("/gone.7z")));
    auto r = Run();
    EXPECT_EQ(r[L"result"], L"-10001");
    EXPECT_EQ(r[L"errorDetail"], Widen(server.Url("/gone.7z")));
    EXPECT_EQ(r[L"status"], L"正在下载更新包...");
    EXPECT_TRUE(ListTree(game) == before);
    EXPECT_FALSE(Exists(root + L"\\temp"));
}

TEST_F(UpdateWorkerTest, PackageThatIsNotAnArchiveFailsExtraction) {
    server.RouteBody("/version.json", Manifest(2, server.Url("/page.7z")));
    server.RouteBody("/page.7z", "<html>a page where the package should be</html>");
    auto r = Run();
    EXPECT_EQ(r[L"result"], L"-10002");
    EXPECT_EQ(r[L"unpackError"], L"17");
    EXPECT_EQ(r[L"status"], L"正在解压...");
    EXPECT_FALSE(Exists(root + L"\\temp"));
}

TEST_F(UpdateWorkerTest, EmptyVersionUrlFallsBackToTheBuiltInOne) {
    WriteSettings(Narrow(root), "");
    auto r = Run();
    EXPECT_EQ(r[L"result"], L"-10000");  // the publisher's CDN is not reachable from here
    EXPECT_EQ(r[L"errorDetail"], DEFAULT_VERSION_URL);
}

TEST_F(UpdateWorkerTest, UrlBeyondLatin1IsAFailedManifestDownload) {
    server.RouteBody("/version.json", Manifest(1, server.Url("/package.7z")));
    const std::wstring url = Widen(server.Url("/版本.json"));
    const std::wstring text = L"[Vantrel]\r\nlocal_path=" + root + L"\r\nversion_url=" + url + L"\r\n";
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    WriteFileBytes(launcherDir + L"\\setting.ini", bytes);
    auto r = Run();
    EXPECT_EQ(r[L"result"], L"-10000");
    EXPECT_EQ(r[L"errorDetail"], url);
    EXPECT_EQ(server.Requests("/version.json"), 0);
}

TEST_F(UpdateWorkerTest, RunningGameRefusesBeforeAnythingHappens) {
    TempDir elsewhere;
    CopyFileW(HelperProgram(L"sleeper.exe").c_str(), (elsewhere / L"Vantrel.exe").c_str(), FALSE);
    ChildProcess running(elsewhere / L"Vantrel.exe", L"60000");
    ASSERT_TRUE(running.Started());
    ServeManifest(1);
    auto r = Run();
    EXPECT_EQ(r[L"result"], L"-10004");
    EXPECT_EQ(r[L"progress"], L"0");
    EXPECT_FALSE(Exists(root));
    EXPECT_EQ(server.Requests("/version.json"), 0);
}

TEST_F(UpdateWorkerTest, FreeSpaceOnC) {
    ServeManifest(1);
    ServePackage(L"game-v1.7z");
    struct Case { const wchar_t* arguments; const wchar_t* result; };
    const Case cases[] = {
        {L"--free-bytes=524288000", L"-10005"},   // 500 MiB
        {L"--free-bytes=1073741823", L"-10005"},  // one byte short
        {L"--free-bytes=1073741824", L"0"},
        {L"--free-bytes=0", L"0"},                // exactly 0 passes
        {L"--free-query-fails", L"0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.arguments));
        ForceRemoveTree(root);
        auto r = Run(c.arguments);
        EXPECT_EQ(r[L"result"], c.result);
        if (std::wstring(c.result) != L"0") {
            EXPECT_FALSE(Exists(root + L"\\temp"));
        }
    }
}

TEST_F(UpdateWorkerTest, RealFreeSpaceOfThisMachinePasses) {
    ServeManifest(1);
    ServePackage(L"game-v1.7z");
    ULARGE_INTEGER available;
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &available, nullptr, nullptr));
    auto r = Run();
    EXPECT_EQ(r[L"result"], available.QuadPart >= (1ull << 30) ? L"0" : L"-10005");
}

TEST_F(UpdateWorkerTest, AnExceptionInTheWorkerEndsAsItsStagesFailure) {
    ServeManifest(1);
    auto r = Run(L"--free-query-throws");  // the process must not be terminated
    EXPECT_EQ(r[L"result"], L"-10005");
    EXPECT_EQ(r[L"progress"], L"0");
    EXPECT_EQ(server.Requests("/version.json"), 0);
}

TEST(QueryFreeSpaceOfC, ReadsTheBytesAvailableToTheCaller) {
    ULARGE_INTEGER available, total, totalFree;
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &available, &total, &totalFree));
    unsigned long long read = 0;
    ASSERT_TRUE(QueryFreeSpaceOfC(&read));
    // The two free figures differ where the volume keeps blocks back from users (as the Linux
    // volume under the prefix does for root's reserve); the query must give the caller's.
    const long long slack = 64ll << 20;  // the disk may change a little between the two calls
    EXPECT_LT(std::llabs((long long)read - (long long)available.QuadPart), slack);
    if (totalFree.QuadPart - available.QuadPart > 2 * uint64_t(slack)) {
        EXPECT_GT(std::llabs((long long)read - (long long)totalFree.QuadPart), slack);
    }
}

namespace {
std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = wchar_t(towlower(c));
    return text;
}
std::vector<std::wstring> Split(const std::wstring& text) {
    std::vector<std::wstring> parts;
    std::wistringstream in(text);
    for (std::wstring part; std::getline(in, part, L'|');)
        if (!part.empty()) parts.push_back(part);
    return parts;
}
}  // namespace

TEST_F(UpdateWorkerTest, TheNewGameIsOnTheDiskBeforeTheSwapAndTheRenamesAreWrittenThrough) {
    Install(L"game1", 1);
    ServeManifest(2);
    ServePackage(L"game-v2.7z");
    const std::wstring stagedPrefix = FinalPathOf(root) + L"\\game.new\\";
    auto r = Run(L"--watch-durability");
    ASSERT_EQ(r[L"result"], L"0");
    const auto flushed = Split(r[L"flushed"]);
    for (const auto& file : ListTree(game)) {
        if (IsDirectory(game + L"\\" + file.first)) continue;
        const std::wstring staged = stagedPrefix + Lower(file.first);
        EXPECT_NE(std::find(flushed.begin(), flushed.end(), staged), flushed.end()) << Narrow(file.first);
    }
    const auto moves = Split(r[L"moves"]);
    ASSERT_EQ(moves.size(), 2u) << Narrow(r[L"moves"]);
    EXPECT_EQ(moves[0], game + L">" + root + L"\\game.old>8");  // MOVEFILE_WRITE_THROUGH
    EXPECT_EQ(moves[1], root + L"\\game.new>" + game + L">8");
}

TEST_F(UpdateWorkerTest, AFlushTheDiskRefusesKeepsTheInstalledGame) {
    Install(L"game1", 1);
    const auto before = ListTree(game);
    ServeManifest(2);
    ServePackage(L"game-v2.7z");
    for (const wchar_t* file : {L"shared.dat", L"game.new\\version.json"}) {
        SCOPED_TRACE(Narrow(file));
        auto r = Run(std::wstring(L"--fail-flush=") + file);
        EXPECT_EQ(r[L"result"], L"-10002");
        EXPECT_EQ(r[L"unpackError"], L"11");
        EXPECT_TRUE(ListTree(game) == before);
        EXPECT_FALSE(Exists(root + L"\\game.new"));
    }
}

TEST_F(UpdateWorkerTest, ALeftoverNewGameThatCannotGoStopsTheUpdateBeforeTheDownload) {
    Install(L"game1", 1);
    const auto before = ListTree(game);
    CreateDirectoryTree(root + L"\\game.new\\data");
    WriteFileBytes(root + L"\\game.new\\data\\held.pak", "half");
    // Another program holds a file of it without sharing its deletion.
    HANDLE held = CreateFileW((root + L"\\game.new\\data\\held.pak").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ServeManifest(2);
    ServePackage(L"game-v2.7z");
    auto r = Run();
    CloseHandle(held);
    EXPECT_EQ(r[L"result"], L"-10007");
    EXPECT_EQ(server.Requests("/package.7z"), 1);  // the first install's only
    EXPECT_TRUE(ListTree(game) == before);
    // Once nothing holds it, the next run goes through.
    EXPECT_EQ(Run()[L"result"], L"0");
    EXPECT_EQ(ReadFileBytes(game + L"\\data\\new-level.map"), "new level");
    EXPECT_FALSE(Exists(root + L"\\game.new"));
}

TEST_F(UpdateWorkerTest, APreviousGameThatCannotBeDeletedNeverBlocksLaterUpdates) {
    Install(L"game1", 1);
    // A previous game that resisted its deletion: a file in it is held.
    CreateDirectoryTree(root + L"\\game.old");
    WriteFileBytes(root + L"\\game.old\\crash.dmp", "held by a crash reporter");
    HANDLE held = CreateFileW((root + L"\\game.old\\crash.dmp").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    auto r = RunUpdateWith(2, L"game2");
    EXPECT_EQ(r[L"result"], L"0");
    auto expected = GameTree(L"game2");
    expected[L"version.json"] = Manifest(2, server.Url("/package.7z"));
    EXPECT_TRUE(ListTree(game) == expected);
    EXPECT_TRUE(Exists(root + L"\\game.old\\crash.dmp"));  // still held
    EXPECT_FALSE(Exists(root + L"\\game.old.1"));            // where version 1 went for the swap
    CloseHandle(held);
    // The next run takes the leftover away.
    EXPECT_EQ(Run()[L"result"], L"0");
    EXPECT_FALSE(Exists(root + L"\\game.old"));
}

TEST_F(UpdateWorkerTest, TheRepairComesBeforeTheFreeSpaceGate) {
    // Power was lost between the two renames; the disk is nearly full.
    Install(L"game1", 1);
    const auto before = ListTree(game);
    ASSERT_TRUE(MoveFileW(game.c_str(), (root + L"\\game.old").c_str()));
    auto r = Run(L"--free-bytes=1000");
    EXPECT_EQ(r[L"result"], L"-10005");
    EXPECT_TRUE(ListTree(game) == before);
    EXPECT_FALSE(Exists(root + L"\\game.old"));
}

TEST_F(UpdateWorkerTest, TheDownloadCapFromTheSettingsHoldsForTheRun) {
    struct Case { const char* line; const wchar_t* cap; };
    const Case cases[] = {
        {"max_download_kbps=2048\r\n", L"2097152"},
        {"max_download_kbps=0\r\n", L"0"},
        {"max_download_kbps=fast\r\n", L"0"},
        {"", L"0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        WriteFileBytes(launcherDir + L"\\setting.ini", "[Vantrel]\r\nlocal_path=" + Narrow(root) +
                                                           "\r\nversion_url=" + server.Url("/version.json") + "\r\n" + c.line);
        auto r = RunUpdateWith(1, L"game1");
        EXPECT_EQ(r[L"result"], L"0");
        EXPECT_EQ(r[L"downloadCap"], c.cap);
        RemoveTreeIfPresent(root + L"\\game");
    }
}
