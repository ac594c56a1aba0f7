// Failed updates through the real launcher: whatever goes wrong, the installed game stays as it
// was, byte for byte, and nothing is left beside it.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <vector>

#include "tests/support/LauncherFixture.h"
#include "tests/support/ScriptedPackage.h"
#include "tests/support/TreeCompare.h"
#include "transfer/ResumableSink.h"

using namespace testing_support;

namespace {

const std::wstring kPackageFailure = L"无法下载安装包更新文件，请检查您的网络！\n";
const std::wstring kBadManifest = L"非法的Version文件，请重新尝试。谢谢！";

// A Linux folder as the launcher sees it through Wine's drive Z:.
std::wstring WinePathOf(const std::string& linuxPath) {
    std::wstring path = L"Z:" + Widen(linuxPath);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

class SafeUpdateTest : public LauncherFixture {
protected:
    std::string package = ReadFileBytes(E2e(L"game-package.7z"));
    std::string packageHash = ReadFileBytes(E2e(L"game-package.7z.sha256"));

    std::wstring Game() const { return root + L"\\game"; }

    // Version 1 as an earlier update left it, with a player's own file in it.
    void InstallVersionOne(const std::wstring& folder) {
        CreateDirectoryTree(folder + L"\\saves");
        WriteFileBytes(folder + L"\\version.json", Manifest(1, "http://old.invalid/v1.7z"));
        CopyFileW(E2e(L"Vantrel.exe").c_str(), (folder + L"\\Vantrel.exe").c_str(), FALSE);
        WriteFileBytes(folder + L"\\saves\\slot1.dat", "the player's progress");
    }
    void ServeManifest(const std::string& body) { server.RouteBody("/version.json", body); }
    // Runs the launcher until it has ended and the game it started has written its record.
    void RunUntilTheGameStarts(const std::wstring& exe, const std::wstring& arguments) {
        ChildProcess run(exe, arguments);
        ASSERT_TRUE(run.Started());
        EXPECT_EQ(run.Wait(60000), 0u);
        ASSERT_TRUE(WaitFor(record, 10000));  // the game started
        EXPECT_EQ(ReadFileBytes(record), Narrow(arguments));
        KillProcessesNamed(L"Vantrel.exe");
        DeleteFileW(record.c_str());
    }

    // Runs the launcher, expects the failure message, and checks that the game is untouched.
    void ExpectFailureKeepsTheGame(const std::wstring& message) {
        const auto before = ListTree(Game());
        ASSERT_FALSE(before.empty());
        ExpectMessage(launcher, L"", L"错误", message);
        EXPECT_TRUE(ListTree(Game()) == before);
        EXPECT_FALSE(Exists(root + L"\\game.new"));
        EXPECT_FALSE(Exists(root + L"\\game.old"));
        EXPECT_FALSE(Exists(copy));  // nothing registered
    }
};

}  // namespace

TEST_F(SafeUpdateTest, EveryFailedUpdateLeavesTheInstalledGameAsItWas) {
    const std::string url = server.Url("/package.7z");
    server.RouteBody("/page.7z", "<html><body>Please sign in to the Wi-Fi</body></html>");
    server.RouteBody("/unsafe.7z", ReadFileBytes(ProgramDir() + L"fixtures\\unsafe-parent-slash.7z"));
    server.RouteBody("/damaged.7z", ReadFileBytes(E2e(L"game-damaged.7z")));
    server.RouteBody("/deep.7z", ReadFileBytes(E2e(L"game-one-folder-deep.7z")));
    server.Route("/endless.7z", [this](SOCKET client) {
        // No length, and no end until the client hangs up.
        HttpServer::Send(client, HttpServer::Head(200, ""));
        const std::string block(64 * 1024, 'x');
        for (int i = 0; i < 100000 && !server.Stopping(); ++i)
            if (!HttpServer::Send(client, block)) break;
    });
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    struct Case { const char* label; std::string manifest; std::wstring message; };
    const Case cases[] = {
        {"size mismatch", ManifestJson(2, url, SizeAndHashMembers(package.size() + 1, packageHash)),
         kPackageFailure + Widen(url)},
        {"hash mismatch",
         ManifestJson(2, url, SizeAndHashMembers(package.size(), std::string(64, 'a'))),
         kPackageFailure + Widen(url)},
        {"uppercase hash of another package",
         ManifestJson(2, url, ", \"WinPackageSHA256\": \"" + std::string(63, 'F') + "0\""),
         kPackageFailure + Widen(url)},
        {"a page where the package should be", ManifestJson(2, server.Url("/page.7z"), ""),
         L"解压文件失败，错误码(17)，请重新尝试。谢谢！"},
        {"endless body with a declared size",
         ManifestJson(2, server.Url("/endless.7z"), ", \"WinPackageSize\": 1000000"),
         kPackageFailure + Widen(server.Url("/endless.7z"))},
        {"a name leading outside", ManifestJson(2, server.Url("/unsafe.7z"), ""),
         L"解压文件失败，错误码(16)，请重新尝试。谢谢！"},
        {"a damaged block", ManifestJson(2, server.Url("/damaged.7z"), ""),
         L"解压文件失败，错误码(3)，请重新尝试。谢谢！"},
        {"the game one folder too deep", ManifestJson(2, server.Url("/deep.7z"), ""),
         L"解压文件失败，错误码(18)，请重新尝试。谢谢！"},
        {"manifest of 2 MiB",
         ManifestJson(2, url, ", \"Padding\": \"" + std::string(2 * 1024 * 1024, ' ') + "\""),
         kBadManifest},
        {"manifest nested past the reader's limit",
         ManifestJson(2, url, ", \"Deep\": " + deep), kBadManifest},
        // The whole table of malformed values is in the manifest unit tests.
        {"size as a string", ManifestJson(2, url, ", \"WinPackageSize\": \"1000\""), kBadManifest},
        {"hash not hex",
         ManifestJson(2, url, ", \"WinPackageSHA256\": \"" + std::string(64, 'g') + "\""),
         kBadManifest},
    };
    InstallVersionOne(Game());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ServeManifest(c.manifest);
        ExpectFailureKeepsTheGame(c.message);
    }
    // The 2 MiB manifest stopped at its cap and nothing after it was fetched.
    EXPECT_EQ(server.Requests("/package.7z"), 3);
}

TEST_F(SafeUpdateTest, GameStartedDuringTheDownloadIsNotReplaced) {
    // The package trickles in, so the player has time to start the game meanwhile.
    HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    server.Route("/slow.7z", [this, started](SOCKET client) {
        HttpServer::Send(client, HttpServer::Head(200, "Content-Length: " + std::to_string(package.size()) + "\r\n"));
        SetEvent(started);
        const size_t pieces = 20;
        for (size_t i = 0; i < pieces && !server.Stopping(); ++i) {
            const size_t from = package.size() * i / pieces, to = package.size() * (i + 1) / pieces;
            if (!HttpServer::Send(client, package.substr(from, to - from))) break;
            Sleep(100);
        }
    });
    ServeManifest(ManifestJson(2, server.Url("/slow.7z"), SizeAndHashMembers(package.size(), packageHash)));
    InstallVersionOne(Game());
    const auto before = ListTree(Game());

    ChildProcess run(launcher, L"");
    ASSERT_TRUE(run.Started());
    ASSERT_EQ(WaitForSingleObject(started, 30000), WAIT_OBJECT_0);
    TempDir elsewhere;
    CopyFileW(HelperProgram(L"sleeper.exe").c_str(), (elsewhere / L"Vantrel.exe").c_str(), FALSE);
    ChildProcess game(elsewhere / L"Vantrel.exe", L"60000");
    ASSERT_TRUE(game.Started());

    MessageBoxInfo box;
    ASSERT_TRUE(WaitForMessageBox(box, 30000, run.Id()));
    EXPECT_EQ(box.text, L"当前游戏正在运行中，请到任务管理器中关闭Vantrel.exe进程后重新尝试。谢谢！");
    AnswerMessageBox(box, IDOK);
    EXPECT_EQ(run.Wait(20000), 0u);
    EXPECT_TRUE(ListTree(Game()) == before);
    EXPECT_FALSE(Exists(root + L"\\game.new"));
    EXPECT_FALSE(Exists(root + L"\\game.old"));
    CloseHandle(started);
}

TEST_F(SafeUpdateTest, InstallRootOnAVolumeTooSmallForTheGame) {
    const char* volume = getenv("QUENBY_SMALL_VOLUME");
    if (!volume || !*volume) GTEST_SKIP() << "no small volume mounted (QUENBY_SMALL_VOLUME)";
    root = WinePathOf(volume) + L"\\run-" + std::to_wstring(GetCurrentProcessId()) + L"\\Vantrel";
    copy = root + L"\\QuenbySkirmora.exe";
    WriteSettings(download, server.Url("/version.json"));
    ServeManifest(ManifestJson(2, server.Url("/package.7z"), SizeAndHashMembers(package.size(), packageHash)));
    InstallVersionOne(Game());
    ExpectFailureKeepsTheGame(L"磁盘空间不足，请进行清理后重新尝试。谢谢！");
    ForceRemoveTree(root.substr(0, root.rfind(L'\\')));
}

TEST_F(SafeUpdateTest, AnInterruptedSwapIsRepairedAndTheGameStarts) {
    ServeManifest(Manifest(1, server.Url("/package.7z")));
    struct Case { const char* label; bool leftoverStaged; };
    for (const Case& c : {Case{"game.old only", false}, Case{"game.old and a half-made game.new", true}}) {
        SCOPED_TRACE(c.label);
        ForceRemoveTree(root);
        InstallVersionOne(root + L"\\game.old");
        const auto before = ListTree(root + L"\\game.old");
        if (c.leftoverStaged) WriteFileBytes((CreateDirectoryTree(root + L"\\game.new\\data"), root + L"\\game.new\\data\\half.pak"), "half");

        RunUntilTheGameStarts(launcher, L"repaired");
        EXPECT_TRUE(ListTree(Game()) == before);
        EXPECT_FALSE(Exists(root + L"\\game.new"));
        EXPECT_FALSE(Exists(root + L"\\game.old"));
        EXPECT_EQ(server.Requests("/package.7z"), 0);  // version 1 was already there
    }
}

TEST_F(SafeUpdateTest, GoodUpdateWithSizeAndHashReplacesTheGame) {
    const std::string manifest = ManifestJson(2, server.Url("/package.7z"), SizeAndHashMembers(package.size(), packageHash));
    ServeManifest(manifest);
    InstallVersionOne(Game());
    ChildProcess run(launcher, L"");
    EXPECT_EQ(run.Wait(60000), 0u);
    ASSERT_TRUE(WaitFor(record, 10000));
    KillProcessesNamed(L"Vantrel.exe");
    DeleteFileW(record.c_str());

    auto after = ListTree(Game());
    EXPECT_EQ(after[L"version.json"], manifest);
    EXPECT_EQ(after[L"Vantrel.exe"], ReadFileBytes(E2e(L"Vantrel.exe")));
    EXPECT_EQ(after[L"data\\readme.txt"], "Vantrel sample content\n");
    EXPECT_EQ(after.count(L"saves\\slot1.dat"), 0u);  // files the new package lacks are gone
    EXPECT_FALSE(Exists(root + L"\\game.new"));
    EXPECT_FALSE(Exists(root + L"\\game.old"));
    EXPECT_FALSE(Exists(root + L"\\temp"));
}

TEST_F(SafeUpdateTest, ACutDownloadIsResumedOnTheNextRun) {
    ScriptedPackage scripted;
    scripted.body = package;
    scripted.Install(server, "/resumable.7z");
    const std::string manifest =
        ManifestJson(2, server.Url("/resumable.7z"), SizeAndHashMembers(package.size(), packageHash));
    ServeManifest(manifest);
    InstallVersionOne(Game());
    const std::wstring partial = root + L"\\temp\\com.larkvane.vantrel.pcquenby.7z";

    // Cut at half: the failure is reported, the game kept, the half and its record stay.
    scripted.mode = ScriptedPackage::Mode::CutAtHalf;
    ExpectFailureKeepsTheGame(kPackageFailure + Widen(server.Url("/resumable.7z")));
    EXPECT_EQ(ReadFileBytes(partial), package.substr(0, package.size() / 2));
    const std::string record = ReadFileBytes(partial + L".resume");
    EXPECT_NE(record.find("validator=" + scripted.etag), std::string::npos) << record;
    EXPECT_NE(record.find("sha256=" + packageHash), std::string::npos) << record;

    // The next run asks only for the rest.
    scripted.mode = ScriptedPackage::Mode::Honour;
    scripted.ResetCounts();
    ChildProcess run(launcher, L"");
    EXPECT_EQ(run.Wait(60000), 0u);
    KillProcessesNamed(L"Vantrel.exe");
    EXPECT_EQ(scripted.Ranges().back(), "bytes=" + std::to_string(package.size() / 2) + "-");
    EXPECT_EQ(scripted.Sent(), package.size() - package.size() / 2);
    EXPECT_EQ(ReadFileBytes(Game() + L"\\version.json"), manifest);
    EXPECT_EQ(ReadFileBytes(Game() + L"\\Vantrel.exe"), ReadFileBytes(E2e(L"Vantrel.exe")));
    EXPECT_FALSE(Exists(root + L"\\temp"));
}

TEST_F(SafeUpdateTest, AResumeTheServerWillNotContinueStartsOverAndABadOneIsNeverInstalled) {
    ScriptedPackage scripted;
    scripted.body = package;
    scripted.Install(server, "/resumable.7z");
    const std::string url = server.Url("/resumable.7z");
    const std::string manifest = ManifestJson(2, url, SizeAndHashMembers(package.size(), packageHash));
    const std::wstring partial = root + L"\\temp\\com.larkvane.vantrel.pcquenby.7z";
    const size_t half = package.size() / 2;
    // What an interrupted run of this package (or of another one) left in the temp folder.
    auto leavePartial = [&](const std::string& forUrl, const std::string& validator) {
        CreateDirectoryTree(root + L"\\temp");
        WriteFileBytes(partial, package.substr(0, half));
        ResumeRecord record;
        record.url = forUrl;
        record.hasSize = true;
        record.size = package.size();
        record.sha256 = packageHash;
        record.validator = validator;
        WriteFileBytes(partial + L".resume", FormatResumeRecord(record));
    };
    struct Case { const char* label; ScriptedPackage::Mode mode; std::string partialUrl, validator, firstRange; };
    const std::string asked = "bytes=" + std::to_string(half) + "-";
    const Case cases[] = {
        {"a server that ignores ranges", ScriptedPackage::Mode::IgnoreRanges, url, scripted.etag, asked},
        {"a changed file on the server", ScriptedPackage::Mode::Honour, url, "\"release-1\"", asked},
        {"a 206 at the wrong offset", ScriptedPackage::Mode::WrongOffset, url, scripted.etag, asked},
        {"a partial file of another release", ScriptedPackage::Mode::Honour, server.Url("/older.7z"), scripted.etag, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ForceRemoveTree(root);
        InstallVersionOne(Game());
        leavePartial(c.partialUrl, c.validator);
        ServeManifest(manifest);
        scripted.mode = c.mode;
        scripted.ResetCounts();
        ChildProcess run(launcher, L"");
        EXPECT_EQ(run.Wait(60000), 0u);
        KillProcessesNamed(L"Vantrel.exe");
        ASSERT_FALSE(scripted.Ranges().empty());
        EXPECT_EQ(scripted.Ranges().front(), c.firstRange);
        EXPECT_EQ(ReadFileBytes(Game() + L"\\version.json"), manifest);  // installed whole
        EXPECT_FALSE(Exists(root + L"\\temp"));
    }

    // Other bytes after the offset: the whole file's hash refuses it, the game stays, and the
    // spliced file is not kept for another try.
    ForceRemoveTree(root);
    InstallVersionOne(Game());
    leavePartial(url, scripted.etag);
    scripted.mode = ScriptedPackage::Mode::OtherBytes;
    ExpectFailureKeepsTheGame(kPackageFailure + Widen(url));
    EXPECT_FALSE(Exists(partial));
    EXPECT_FALSE(Exists(partial + L".resume"));
}

TEST_F(SafeUpdateTest, UnsignedPackagesWithNamesWindowsCannotHoldAreRefused) {
    InstallVersionOne(Game());
    for (const wchar_t* label : {L"colon", L"star", L"trailing-dot", L"trailing-space", L"device-extensions",
                                 L"device-superscript", L"case-clash", L"file-beside-folder", L"too-long",
                                 L"launcher-file"}) {
        SCOPED_TRACE(Narrow(label));
        server.RouteBody("/bad.7z", ReadFileBytes(ProgramDir() + L"fixtures\\badname-" + label + L".7z"));
        ServeManifest(ManifestJson(2, server.Url("/bad.7z"), ""));
        ExpectFailureKeepsTheGame(L"解压文件失败，错误码(16)，请重新尝试。谢谢！");
    }
}

TEST_F(SafeUpdateTest, PackagesOfOtherWritersAndLzmaEndMarkersInstallWhole) {
    struct Case { const char* label; const wchar_t* package; const wchar_t* tree; };
    for (const Case& c : {Case{"end markers past the input buffer", L"game-eos-package.7z", L"game-eos-tree"},
                          Case{"libarchive's writer", L"game-bsdtar-package.7z", L"game-tree"}}) {
        SCOPED_TRACE(c.label);
        ForceRemoveTree(root);
        server.RouteBody("/other.7z", ReadFileBytes(E2e(c.package)));
        const std::string manifest = ManifestJson(1, server.Url("/other.7z"), "");
        ServeManifest(manifest);
        RunUntilTheGameStarts(launcher, L"other writer");
        auto expected = ListTree(E2e(c.tree));
        expected[L"version.json"] = manifest;
        EXPECT_TRUE(ListTree(Game()) == expected);
        Clean();
    }
}

TEST_F(SafeUpdateTest, AChosenRootKeepsThePlayersOwnFilesThroughEverything) {
    // A root the player chose, already holding files of theirs, a "temp" folder of theirs included.
    const std::map<std::wstring, std::string> players = {
        {L"readme-mine.txt", "my notes"},          {L"screenshots\\a.png", "picture"},
        {L"temp\\todo.txt", "my temp file"},       {L"temp\\mods\\x.pak", "a mod"},
    };
    for (const auto& file : players) {
        CreateDirectoryTree((root + L"\\" + file.first).substr(0, (root + L"\\" + file.first).rfind(L'\\')));
        WriteFileBytes(root + L"\\" + file.first, file.second);
    }
    auto playersFilesAreThere = [&] {
        for (const auto& file : players) EXPECT_EQ(ReadFileBytes(root + L"\\" + file.first), file.second) << Narrow(file.first);
        for (const wchar_t* own : {L"version.json", L"version.json.sig", L"com.larkvane.vantrel.pcquenby.7z"})
            EXPECT_FALSE(Exists(root + L"\\temp\\" + own)) << Narrow(own);
    };
    auto runToTheGame = [&] { RunUntilTheGameStarts(launcher, L"play"); };
    {
        SCOPED_TRACE("install");
        ServeManifest(Manifest(1, server.Url("/package.7z")));
        runToTheGame();
        EXPECT_EQ(ReadFileBytes(Game() + L"\\Vantrel.exe"), ReadFileBytes(E2e(L"Vantrel.exe")));
        playersFilesAreThere();
    }
    {
        SCOPED_TRACE("update");
        ServeManifest(ManifestJson(2, server.Url("/package.7z"), SizeAndHashMembers(package.size(), packageHash)));
        runToTheGame();
        EXPECT_NE(ReadFileBytes(Game() + L"\\version.json").find("\"ServerVersionCode\": 2"), std::string::npos);
        playersFilesAreThere();
    }
    const std::wstring partial = root + L"\\temp\\com.larkvane.vantrel.pcquenby.7z";
    {
        SCOPED_TRACE("a failed update that keeps a partial download");
        ScriptedPackage scripted;
        scripted.body = package;
        scripted.mode = ScriptedPackage::Mode::CutAtHalf;
        scripted.Install(server, "/cut.7z");
        ServeManifest(ManifestJson(3, server.Url("/cut.7z"), SizeAndHashMembers(package.size(), packageHash)));
        const auto game = ListTree(Game());
        ExpectMessage(launcher, L"", L"错误", kPackageFailure + Widen(server.Url("/cut.7z")));
        EXPECT_TRUE(ListTree(Game()) == game);
        EXPECT_TRUE(Exists(partial));
        EXPECT_TRUE(Exists(partial + L".resume"));
        for (const auto& file : players) EXPECT_EQ(ReadFileBytes(root + L"\\" + file.first), file.second);
    }
    {
        SCOPED_TRACE("uninstall");
        ChildProcess uninstall(copy, L"-uninstall");
        EXPECT_EQ(uninstall.Wait(30000), 0u);
        for (int i = 0; i < 100 && Exists(copy); ++i) Sleep(100);
        EXPECT_FALSE(Exists(copy));
        EXPECT_FALSE(Exists(Game()));
        EXPECT_FALSE(Exists(partial));  // the launcher's own leftovers go with it
        EXPECT_FALSE(Exists(partial + L".resume"));
        playersFilesAreThere();
        // Nothing else is left in the root but the player's own.
        std::map<std::wstring, std::string> expected;
        for (const auto& file : players) expected[file.first] = file.second;
        auto left = ListTree(root);
        for (auto it = left.begin(); it != left.end();)
            it = IsDirectory(root + L"\\" + it->first) ? left.erase(it) : std::next(it);
        EXPECT_TRUE(left == expected);
    }
}

TEST_F(SafeUpdateTest, TheCopyInAChosenRootRepairsAnInterruptedSwapThere) {
    ServeManifest(Manifest(1, server.Url("/package.7z")));
    RunUntilTheGameStarts(launcher, L"installed");
    const auto before = ListTree(Game());
    const int packageRequests = server.Requests("/package.7z");

    // Power lost between the two renames of a later update: only "game.old" and a half
    // "game.new" are there. The copy has no local_path beside it (the player chose the root in
    // the setting.ini of the download folder).
    ASSERT_TRUE(MoveFileW(Game().c_str(), (root + L"\\game.old").c_str()));
    CreateDirectoryTree(root + L"\\game.new\\data");
    WriteFileBytes(root + L"\\game.new\\data\\world.pak", "half");
    WriteSettings(root, server.Url("/version.json"), false);
    RunUntilTheGameStarts(copy, L"after the repair");
    EXPECT_TRUE(ListTree(Game()) == before);
    EXPECT_FALSE(Exists(root + L"\\game.new"));
    EXPECT_FALSE(Exists(root + L"\\game.old"));
    EXPECT_EQ(server.Requests("/package.7z"), packageRequests);  // nothing downloaded again
}

TEST_F(SafeUpdateTest, APreviousGameWithoutAManifestComesBackWithTheSavesInIt) {
    // An interrupted swap of a game whose folder holds no manifest any more, but the player's saves.
    CreateDirectoryTree(root + L"\\game.old\\saves");
    CopyFileW(E2e(L"Vantrel.exe").c_str(), (root + L"\\game.old\\Vantrel.exe").c_str(), FALSE);
    WriteFileBytes(root + L"\\game.old\\saves\\slot1.dat", "the player's progress");
    const auto before = ListTree(root + L"\\game.old");
    // The server is down for maintenance: the run stops after the repair.
    server.RouteBody("/version.json", "", 503);
    ExpectMessage(launcher, L"", L"错误", L"无法下载Version文件，请检查您的网络！\n" + Widen(server.Url("/version.json")));
    EXPECT_TRUE(ListTree(Game()) == before);
    EXPECT_FALSE(Exists(root + L"\\game.old"));
}

TEST_F(SafeUpdateTest, LeavingDuringTheDownloadStopsTheWorkerAndKeepsThePartForTheNextRun) {
    ScriptedPackage scripted;
    scripted.body = package;
    scripted.mode = ScriptedPackage::Mode::Trickle;
    scripted.Install(server, "/slow.7z");
    const std::string manifest = ManifestJson(2, server.Url("/slow.7z"), SizeAndHashMembers(package.size(), packageHash));
    ServeManifest(manifest);
    InstallVersionOne(Game());
    const auto before = ListTree(Game());
    const std::wstring partial = root + L"\\temp\\com.larkvane.vantrel.pcquenby.7z";

    ChildProcess run(launcher, L"");
    HWND window = FindLauncherWindow(run.Id(), 20000);
    ASSERT_TRUE(window);
    for (int i = 0; i < 200 && ReadFileBytes(partial).size() < package.size() / 20; ++i) Sleep(50);
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    MessageBoxInfo question;
    ASSERT_TRUE(WaitForMessageBox(question, 20000, run.Id()));
    AnswerMessageBox(question, IDOK);
    EXPECT_EQ(run.Wait(10000), 0u);
    // The worker stopped and cleaned up after itself (the downloaded manifest is gone), and the
    // part of the package stays with its record.
    EXPECT_TRUE(ListTree(Game()) == before);
    EXPECT_FALSE(Exists(root + L"\\temp\\version.json"));
    const size_t kept = ReadFileBytes(partial).size();
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, package.size());
    EXPECT_TRUE(Exists(partial + L".resume"));

    // The next run asks only for the rest and installs the game.
    ChildProcess next(launcher, L"");
    EXPECT_EQ(next.Wait(60000), 0u);
    ASSERT_TRUE(WaitFor(record, 10000));
    KillProcessesNamed(L"Vantrel.exe");
    EXPECT_EQ(scripted.Ranges().back(), "bytes=" + std::to_string(kept) + "-");
    EXPECT_EQ(ReadFileBytes(Game() + L"\\version.json"), manifest);
}
