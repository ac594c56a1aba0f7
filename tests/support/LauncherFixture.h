// The real launcher executable under Wine, run from a download folder against a local server,
// with everything it leaves on the machine cleaned up before and after each test.
#pragma once

#include <gtest/gtest.h>

#include "install/UninstallEntry.h"
#include "platform/FileSystem.h"
#include "tests/support/HttpServer.h"
#include "tests/support/MessageBoxes.h"
#include "tests/support/ReleaseFiles.h"
#include "tests/support/Shell.h"
#include "tests/support/TestFiles.h"

namespace testing_support {


inline std::wstring E2e(const std::wstring& name) { return ProgramDir() + L"e2e\\" + name; }

inline std::string Manifest(int version, const std::string& url) { return ManifestJson(version, url); }

class LauncherFixture : public ::testing::Test {
protected:
    // The signed-release tests serve on the port their releases were made for.
    static int PortFromEnvironment() {
        const char* port = getenv("QUENBY_SIGNED_PORT");
        return port ? atoi(port) : 0;
    }

    TempDir dir;
    HttpServer server{PortFromEnvironment()};
    std::wstring download = dir / L"download";
    std::wstring root = dir / L"Games\\Vantrel";
    std::wstring launcher = download + L"\\QuenbySkirmora.exe";
    std::wstring copy = root + L"\\QuenbySkirmora.exe";
    std::wstring record = root + L"\\game\\launch-record.txt";

    void SetUp() override {
        Clean();
        CreateDirectoryTree(download);
        CreateDirectoryTree(dir / L"Games");
        CopyFileW(E2e(L"QuenbySkirmora.exe").c_str(), launcher.c_str(), FALSE);
        WriteSettings(download, server.Url("/version.json"));
        server.RouteBody("/package.7z", ReadFileBytes(E2e(L"game-package.7z")));
        server.RouteBody("/version.json", Manifest(1, server.Url("/package.7z")));
    }
    void TearDown() override { Clean(); }
    void Clean() {
        KillProcessesNamed(L"Vantrel.exe");
        KillProcessesNamed(L"QuenbySkirmora.exe");
        KillProcessesNamed(L"Other.exe");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKeyPath().c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, UninstallKeyPath().c_str());
        DeleteFileW(DesktopShortcut().c_str());
        DeleteFileW(StartMenuShortcut().c_str());
        DeleteFileW(UserStartMenuShortcut().c_str());
    }
    void WriteSettings(const std::wstring& folder, const std::string& url, bool withRoot = true) {
        WriteSettingsFile(folder, withRoot ? Narrow(root) : std::string(), url);
    }
    // Runs the launcher, answers the one message box it shows (if expected) and waits for its end.
    void ExpectMessage(const std::wstring& exe, const std::wstring& args, const std::wstring& caption,
                       const std::wstring& text) {
        ChildProcess child(exe, args);
        ASSERT_TRUE(child.Started());
        MessageBoxInfo box;
        ASSERT_TRUE(WaitForMessageBox(box, 30000, child.Id())) << Narrow(text);
        EXPECT_EQ(box.caption, caption);
        EXPECT_EQ(box.text, text);
        AnswerMessageBox(box, IDOK);
        EXPECT_EQ(child.Wait(20000), 0u);
    }
    // A manifest whose download starts and then stands still, so the launcher keeps running.
    void RouteStalledManifest() {
        server.Route("/stall.json", [this](SOCKET client) {
            HttpServer::Send(client, HttpServer::Head(200, "Content-Length: 100\r\n") + "{");
            for (int i = 0; i < 400 && !server.Stopping(); ++i) Sleep(50);
        });
    }
    bool WaitFor(const std::wstring& path, DWORD timeoutMs) {
        ULONGLONG end = GetTickCount64() + timeoutMs;
        while (!Exists(path) && GetTickCount64() < end) Sleep(50);
        return Exists(path);
    }
};


}  // namespace testing_support
