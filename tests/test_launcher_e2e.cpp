// The real launcher executable under Wine, driven as a player's machine would run it.
#include <gtest/gtest.h>

#include <vector>

#include "platform/Process.h"
#include "tests/support/LauncherFixture.h"
#include "tests/support/Screen.h"
#include "ui/ProgressGeometry.h"

using namespace testing_support;

using LauncherTest = LauncherFixture;

TEST_F(LauncherTest, FreshInstallThenCurrentFromTheCopyThenUninstall) {
    {
        ChildProcess run(launcher, L"-demo \"two words\"");
        ASSERT_TRUE(run.Started());
        EXPECT_EQ(run.Wait(60000), 0u);
    }
    ASSERT_TRUE(WaitFor(record, 10000));
    EXPECT_EQ(ReadFileBytes(record), "-demo \"two words\"");
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(launcher));
    EXPECT_EQ(LinkTarget(DesktopShortcut()), copy);
    EXPECT_EQ(LinkTarget(StartMenuShortcut()), copy);
    std::wstring value;
    ASSERT_TRUE(ReadRegistryString(UninstallKeyPath(), L"UninstallString", value));
    EXPECT_EQ(value, L"\"" + copy + L"\" -uninstall");
    KillProcessesNamed(L"Vantrel.exe");

    // From the copy: already current, only the game starts, and not before a second has passed.
    WriteSettings(root, server.Url("/version.json"), false);
    DeleteFileW(record.c_str());
    const int packageRequests = server.Requests("/package.7z");
    ULONGLONG start = GetTickCount64();
    ChildProcess second(copy, L"second run");
    ASSERT_TRUE(WaitFor(record, 30000));
    ULONGLONG took = GetTickCount64() - start;
    EXPECT_EQ(second.Wait(20000), 0u);
    EXPECT_GT(took, 1000u);
    EXPECT_EQ(ReadFileBytes(record), "second run");
    EXPECT_EQ(server.Requests("/package.7z"), packageRequests);
    KillProcessesNamed(L"Vantrel.exe");

    // -uninstall from the copy.
    ChildProcess uninstall(copy, L"-uninstall");
    EXPECT_EQ(uninstall.Wait(30000), 0u);
    EXPECT_FALSE(Exists(root + L"\\game"));
    EXPECT_FALSE(Exists(DesktopShortcut()));
    EXPECT_FALSE(Exists(StartMenuShortcut()));
    EXPECT_FALSE(ReadRegistryString(UninstallKeyPath(), L"DisplayName", value));
    for (int i = 0; i < 100 && Exists(copy); ++i) Sleep(100);
    EXPECT_FALSE(Exists(copy));
}

TEST_F(LauncherTest, EachFailureIsReported) {
    int deadPort;
    {
        HttpServer gone;
        deadPort = gone.Port();
    }
    const std::string dead = "http://127.0.0.1:" + std::to_string(deadPort) + "/version.json";
    server.RouteBody("/html.json", "<html>maintenance</html>");
    server.RouteBody("/to-missing-package.json", Manifest(2, server.Url("/missing.7z")));
    server.RouteBody("/to-page.json", Manifest(2, server.Url("/page.7z")));
    server.RouteBody("/page.7z", "<html>not a package</html>");
    struct Case { std::string url; std::wstring text; };
    const Case cases[] = {
        {dead, L"无法下载Version文件，请检查您的网络！\n" + Widen(dead)},
        {server.Url("/missing.json"), L"无法下载Version文件，请检查您的网络！\n" + Widen(server.Url("/missing.json"))},
        {server.Url("/html.json"), L"非法的Version文件，请重新尝试。谢谢！"},
        {server.Url("/to-missing-package.json"),
         L"无法下载安装包更新文件，请检查您的网络！\n" + Widen(server.Url("/missing.7z"))},
        {server.Url("/to-page.json"), L"解压文件失败，错误码(17)，请重新尝试。谢谢！"},
    };
    // An installed game that a failed download must leave alone.
    CreateDirectoryTree(root + L"\\game");
    WriteFileBytes(root + L"\\game\\version.json", Manifest(1, "http://x/old.7z"));
    WriteFileBytes(root + L"\\game\\saves.dat", "progress");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        WriteSettings(download, c.url);
        ExpectMessage(launcher, L"", L"错误", c.text);
        if (c.text.find(L"解压") == std::wstring::npos) {
            EXPECT_EQ(ReadFileBytes(root + L"\\game\\saves.dat"), "progress");
        }
    }
    EXPECT_FALSE(Exists(copy));  // nothing was registered

    TempDir elsewhere;
    CopyFileW(HelperProgram(L"sleeper.exe").c_str(), (elsewhere / L"Vantrel.exe").c_str(), FALSE);
    ChildProcess game(elsewhere / L"Vantrel.exe", L"60000");
    WriteSettings(download, server.Url("/version.json"));
    ExpectMessage(launcher, L"", L"错误",
                  L"当前游戏正在运行中，请到任务管理器中关闭Vantrel.exe进程后重新尝试。谢谢！");
}

// Changes the Windows version Wine reports; whatever happens, it goes back to the default.
class OperatingSystemGateTest : public LauncherTest {
protected:
    void SetVersion(const wchar_t* version) {
        HKEY wine;
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &wine, nullptr);
        RegSetValueExW(wine, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       DWORD((wcslen(version) + 1) * 2));
        RegCloseKey(wine);
    }
    void TearDown() override {
        HKEY wine;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, KEY_ALL_ACCESS, &wine) == ERROR_SUCCESS) {
            RegDeleteValueW(wine, L"Version");
            RegCloseKey(wine);
        }
        LauncherTest::TearDown();
    }
};

TEST_F(OperatingSystemGateTest, RefusesOlderThanWindows7) {
    struct Case { const wchar_t* version; bool refused; };
    const Case cases[] = {{L"winxp", true}, {L"vista", true}, {L"win7", false}, {L"win10", false}};
    WriteSettings(download, "http://127.0.0.1:1/unreachable.json");
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.version));
        SetVersion(c.version);
        if (c.refused)
            ExpectMessage(launcher, L"", L"提示", L"请升级操作系统到Win7或以上，谢谢！");
        else
            ExpectMessage(launcher, L"", L"错误",
                          L"无法下载Version文件，请检查您的网络！\nhttp://127.0.0.1:1/unreachable.json");
    }
}

TEST_F(LauncherTest, SecondInstanceIsRefusedUnlessForced) {
    RouteStalledManifest();
    WriteSettings(download, server.Url("/stall.json"));
    ChildProcess first(launcher, L"");
    ASSERT_TRUE(FindLauncherWindow(first.Id(), 20000));

    // The other launchers install elsewhere, each: two runs on one install root would meet at
    // its working files, which is not what this test is about.
    TempDir other;
    CopyFileW(launcher.c_str(), (other / L"QuenbySkirmora.exe").c_str(), FALSE);
    WriteSettingsFile(other.Path(), Narrow(other / L"Vantrel"), server.Url("/stall.json"));
    ExpectMessage(other / L"QuenbySkirmora.exe", L"", L"提示", L"当前进程实例已存在，请关闭后再运行！");

    // The switch is case-sensitive: in capitals it is no switch.
    ExpectMessage(other / L"QuenbySkirmora.exe", L"-FORCE", L"提示", L"当前进程实例已存在，请关闭后再运行！");

    ChildProcess forced(other / L"QuenbySkirmora.exe", L"x-forced");
    EXPECT_TRUE(FindLauncherWindow(forced.Id(), 20000));
    MessageBoxInfo box;
    EXPECT_FALSE(WaitForMessageBox(box, 1000, forced.Id())) << Narrow(box.caption) << ": " << Narrow(box.text);

    TempDir third;
    CopyFileW(launcher.c_str(), (third / L"Other.exe").c_str(), FALSE);
    WriteSettingsFile(third.Path(), Narrow(third / L"Vantrel"), server.Url("/stall.json"));
    ChildProcess renamed(third / L"Other.exe", L"");
    EXPECT_TRUE(FindLauncherWindow(renamed.Id(), 20000));
    EXPECT_FALSE(WaitForMessageBox(box, 1000, renamed.Id())) << Narrow(box.caption) << ": " << Narrow(box.text);
}

TEST_F(LauncherTest, ClosingTheSplashAsksFirst) {
    RouteStalledManifest();
    WriteSettings(download, server.Url("/stall.json"));
    ChildProcess run(launcher, L"");
    HWND window = FindLauncherWindow(run.Id(), 20000);
    ASSERT_TRUE(window);

    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);  // what Alt+F4 sends
    MessageBoxInfo box;
    ASSERT_TRUE(WaitForMessageBox(box, 20000, run.Id()));
    EXPECT_EQ(box.caption, L"提示");
    EXPECT_EQ(box.text, L"确定要退出吗？");
    AnswerMessageBox(box, IDCANCEL);
    EXPECT_EQ(run.Wait(1500), DWORD(STILL_ACTIVE));
    EXPECT_TRUE(IsWindowVisible(window));

    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(WaitForMessageBox(box, 20000, run.Id()));
    AnswerMessageBox(box, IDOK);
    EXPECT_EQ(run.Wait(20000), 0u);
}

TEST_F(LauncherTest, WhileTheExitQuestionIsOpenCompletionWaits) {
    // An installed, current game; the manifest arrives after a moment.
    CreateDirectoryTree(root + L"\\game");
    CopyFileW(E2e(L"Vantrel.exe").c_str(), (root + L"\\game\\Vantrel.exe").c_str(), FALSE);
    WriteFileBytes(root + L"\\game\\version.json", Manifest(1, server.Url("/package.7z")));
    server.Route("/slow.json", [this](SOCKET client) {
        for (int i = 0; i < 30 && !server.Stopping(); ++i) Sleep(50);
        const std::string body = Manifest(1, server.Url("/package.7z"));
        HttpServer::Send(client, HttpServer::Head(200, "Content-Length: " + std::to_string(body.size()) + "\r\n") + body);
    });
    WriteSettings(download, server.Url("/slow.json"));
    for (int answer : {IDCANCEL, IDOK}) {
        SCOPED_TRACE(answer == IDOK ? "OK" : "Cancel");
        DeleteFileW(record.c_str());
        ChildProcess run(launcher, L"asked");
        HWND window = FindLauncherWindow(run.Id(), 20000);
        ASSERT_TRUE(window);
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        MessageBoxInfo question;
        ASSERT_TRUE(WaitForMessageBox(question, 20000, run.Id()));
        ASSERT_EQ(question.text, L"确定要退出吗？");
        // The manifest comes and the first second passes: nothing may complete under the question.
        Sleep(4000);
        EXPECT_FALSE(Exists(record));
        EXPECT_EQ(run.Wait(0), DWORD(STILL_ACTIVE));
        MessageBoxInfo now;
        ASSERT_TRUE(WaitForMessageBox(now, 1000, run.Id()));
        EXPECT_EQ(now.window, question.window);  // no error box over it
        AnswerMessageBox(question, answer);
        EXPECT_EQ(run.Wait(20000), 0u);
        if (answer == IDCANCEL) {
            EXPECT_TRUE(WaitFor(record, 10000));  // completion went on: the game started
        } else {
            // Ended without starting the game: a game it started would be running now.
            EXPECT_FALSE(IsProcessRunning(L"Vantrel.exe", 0));
            EXPECT_FALSE(Exists(record));
        }
        KillProcessesNamed(L"Vantrel.exe");
    }
}

namespace {
struct OwnedSearch {
    HWND owner, found;
};
BOOL CALLBACK VisitOwned(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<OwnedSearch*>(parameter);
    if (GetWindow(window, GW_OWNER) == search->owner && IsWindowVisible(window)) search->found = window;
    return !search->found;
}

// The overlay: the visible window the splash owns.
HWND OverlayOf(HWND splash, DWORD timeoutMs) {
    OwnedSearch search{splash, nullptr};
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!search.found && GetTickCount64() < end) {
        EnumWindows(VisitOwned, reinterpret_cast<LPARAM>(&search));
        if (!search.found) Sleep(50);
    }
    return search.found;
}

// The amber fill's width as the screen shows it: its rightmost pixel on the fill's top row.
int FillOnScreen(HWND overlay) {
    RECT client;
    GetClientRect(overlay, &client);
    POINT origin{0, 0};
    ClientToScreen(overlay, &origin);
    const BarGeometry g = ComputeBarGeometry(client.right, client.bottom, 662, 28);
    Screenshot shot;
    if (!shot.Ok()) return -1;
    const int y = origin.y + g.y + g.margin;
    int fill = 0;
    for (int x = 0; x < g.width - 2 * g.margin; ++x)
        if (Near(shot.At(origin.x + g.x + g.margin + x, y), Rgb{253, 194, 66}, 40)) fill = x + 1;
    return fill;
}
}  // namespace

TEST_F(LauncherTest, TheBarMovesOnScreenDuringASlowPackageDownload) {
    const std::string package = ReadFileBytes(E2e(L"game-package.7z"));
    server.Route("/slow.7z", [this, package](SOCKET client) {
        HttpServer::Send(client, HttpServer::Head(200, "Content-Length: " + std::to_string(package.size()) + "\r\n"));
        const size_t pieces = 40;
        for (size_t i = 0; i < pieces && !server.Stopping(); ++i) {
            const size_t from = package.size() * i / pieces, to = package.size() * (i + 1) / pieces;
            if (!HttpServer::Send(client, package.substr(from, to - from))) return;
            Sleep(150);
        }
    });
    server.RouteBody("/version.json", Manifest(1, server.Url("/slow.7z")));
    ChildProcess run(launcher, L"");
    HWND splash = FindLauncherWindow(run.Id(), 20000);
    ASSERT_TRUE(splash);
    HWND overlay = OverlayOf(splash, 10000);
    ASSERT_TRUE(overlay);
    std::vector<int> fills;
    for (int i = 0; i < 60 && run.Wait(0) == STILL_ACTIVE && fills.size() < 12; ++i) {
        const int fill = FillOnScreen(overlay);
        if (fill >= 0 && run.Wait(0) == STILL_ACTIVE) fills.push_back(fill);
        Sleep(250);
    }
    EXPECT_EQ(run.Wait(60000), 0u);
    KillProcessesNamed(L"Vantrel.exe");
    ASSERT_GE(fills.size(), 4u);
    std::string seen;
    for (int f : fills) seen += std::to_string(f) + " ";
    for (size_t i = 1; i < fills.size(); ++i) EXPECT_GE(fills[i], fills[i - 1]) << seen;  // never shrinks
    EXPECT_GT(fills.back(), fills.front() + 20) << seen;  // and grows as the package comes
}

TEST_F(LauncherTest, AnEarlyFailureIsShownOnlyAfterTheFirstSecond) {
    int deadPort;
    {
        HttpServer gone;
        deadPort = gone.Port();
    }
    WriteSettings(download, "http://127.0.0.1:" + std::to_string(deadPort) + "/version.json");
    const ULONGLONG started = GetTickCount64();
    ChildProcess run(launcher, L"");
    MessageBoxInfo box;
    ASSERT_TRUE(WaitForMessageBox(box, 30000, run.Id()));
    EXPECT_GE(GetTickCount64() - started, 1000u);
    AnswerMessageBox(box, IDOK);
    EXPECT_EQ(run.Wait(20000), 0u);
}

TEST_F(LauncherTest, UninstallIsRefusedWhileTheGameRuns) {
    CreateDirectoryTree(root + L"\\game");
    WriteFileBytes(root + L"\\game\\saves.dat", "progress");
    CopyFileW(launcher.c_str(), copy.c_str(), FALSE);
    TempDir elsewhere;
    CopyFileW(HelperProgram(L"sleeper.exe").c_str(), (elsewhere / L"Vantrel.exe").c_str(), FALSE);
    ChildProcess game(elsewhere / L"Vantrel.exe", L"60000");
    ASSERT_TRUE(game.Started());
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, UninstallKeyPath().c_str(), L"InstallLocation", REG_SZ, root.c_str(),
                    DWORD((root.size() + 1) * sizeof(wchar_t)));
    ExpectMessage(copy, L"-uninstall", L"错误",
                  L"当前游戏正在运行中，请到任务管理器中关闭Vantrel.exe进程后重新尝试。谢谢！");
    EXPECT_EQ(ReadFileBytes(root + L"\\game\\saves.dat"), "progress");
    std::wstring location;
    EXPECT_TRUE(ReadRegistryString(UninstallKeyPath(), L"InstallLocation", location));
    // No self-deletion either: its interpreter would have been started before the launcher ended.
    EXPECT_FALSE(IsProcessRunning(L"cmd.exe", 0));
    EXPECT_TRUE(Exists(copy));
}
