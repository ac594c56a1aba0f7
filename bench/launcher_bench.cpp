// The launcher as a player meets it, timed from outside:
//   - process start to its splash on the screen;
//   - the already-current course, process start to the game's start;
//   - the CPU the launcher uses while a download stalls.
//   launcher_bench.exe LAUNCHER_EXE GAME_PACKAGE_7Z [runs]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Shell.h"
#include "tests/support/TestFiles.h"

using namespace testing_support;

namespace {

bool SplashVisible(DWORD processId) { return FindLauncherWindow(processId, 0) != nullptr; }

double CpuSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(process, &created, &exited, &kernel, &user);
    ULARGE_INTEGER k{{kernel.dwLowDateTime, kernel.dwHighDateTime}}, u{{user.dwLowDateTime, user.dwHighDateTime}};
    return double(k.QuadPart + u.QuadPart) / 1e7;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Settings(const std::wstring& folder, const std::wstring& root, const std::string& url) {
    std::string text = "[Vantrel]\r\n";
    if (!root.empty()) text += "local_path=" + Narrow(root) + "\r\n";
    WriteFileBytes(folder + L"\\setting.ini", text + "version_url=" + url + "\r\n");
}

void KillGame() { RunProgram(L"C:\\windows\\system32\\taskkill.exe", L"/F /IM Vantrel.exe", 10000); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const int runs = argc > 3 ? _wtoi(argv[3]) : 5;
    TempDir dir;
    const std::wstring download = dir / L"download", root = dir / L"root";
    CreateDirectoryTree(download);
    const std::wstring launcher = download + L"\\QuenbySkirmora.exe";
    CopyFileW(argv[1], launcher.c_str(), FALSE);

    HttpServer server;
    server.RouteBody("/package.7z", ReadFileBytes(argv[2]));
    server.RouteBody("/version.json", "{\"ServerVersionCode\": 1, \"WinPackageURL\": \"" +
                                          server.Url("/package.7z") + "\"}");
    server.Route("/stall.json", [&server](SOCKET client) {
        HttpServer::Send(client, HttpServer::Head(200, "Content-Length: 100\r\n") + "{");
        for (int i = 0; i < 600 && !server.Stopping(); ++i) Sleep(50);
    });

    // A first install, so that the copy in the install root is current.
    Settings(download, root, server.Url("/version.json"));
    RunProgram(launcher, L"", 60000);
    KillGame();
    const std::wstring copy = root + L"\\QuenbySkirmora.exe", record = root + L"\\game\\launch-record.txt";
    Settings(root, L"", server.Url("/version.json"));

    std::vector<double> toSplash, toGame;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    auto now = [&] {
        LARGE_INTEGER c;
        QueryPerformanceCounter(&c);
        return double(c.QuadPart) * 1000.0 / double(frequency.QuadPart);
    };
    for (int i = 0; i < runs; ++i) {
        DeleteFileW(record.c_str());
        const double start = now();
        ChildProcess run(copy, L"bench");
        bool splash = false;
        // The game's start: its process appears.
        while (!IsProcessRunning(L"Vantrel.exe", 0) && now() - start < 30000) {
            if (!splash && SplashVisible(run.Id())) {
                splash = true;
                toSplash.push_back(now() - start);
            }
            Sleep(2);
        }
        toGame.push_back(now() - start);
        run.Wait(10000);
        for (int k = 0; k < 200 && !Exists(record); ++k) Sleep(50);  // let it come up before it goes
        KillGame();
    }
    printf("process start to splash on screen: median %.0f ms (%d runs)\n", Median(toSplash), runs);
    printf("already current, process start to game start: median %.0f ms (floor: 1000 ms + one manifest fetch)\n",
           Median(toGame));

    Settings(download, root + L"-stalled", server.Url("/stall.json"));
    ChildProcess stalled(launcher, L"");
    while (!SplashVisible(stalled.Id())) Sleep(10);
    Sleep(2000);
    const double cpuStart = CpuSeconds(stalled.Handle()), wallStart = now();
    Sleep(10000);
    const double cpu = CpuSeconds(stalled.Handle()) - cpuStart, wall = (now() - wallStart) / 1000.0;
    printf("waiting on a stalled download: CPU %.3f s in %.1f s = %.2f %% of one core\n", cpu, wall,
           cpu / wall * 100.0);
    stalled.Kill();
    return 0;
}
