// The cost of drawing the progress bar: the median of 1000 DrawProgress calls, and the CPU a
// shown splash uses over 10 s of 30 ms refreshes, as a share of one core.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "res/resource.h"
#include "ui/MyStandardDlg.h"
#include "ui/TranslucentDialog.h"

namespace {
class BenchDialog : public CTranslucentDialog {
public:
    BenchDialog() : CTranslucentDialog(IDD_LAUNCHER, IDB_SPLASH, nullptr) {}
    CMyStandardDlg* Overlay() { return static_cast<CMyStandardDlg*>(m_pStandardDlg.get()); }

protected:
    CStandardDialog* CreateStandardDialog() override { return new CMyStandardDlg(this); }
};

double Seconds(const FILETIME& kernel, const FILETIME& user) {
    ULARGE_INTEGER k{{kernel.dwLowDateTime, kernel.dwHighDateTime}}, u{{user.dwLowDateTime, user.dwHighDateTime}};
    return double(k.QuadPart + u.QuadPart) / 1e7;
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return Seconds(kernel, user);
}

class BenchDialog;
void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}
}  // namespace

void RefreshFor(BenchDialog& dialog, ULONGLONG ms, int step, const char* label);

int wmain() {
    ULONG_PTR token;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    BenchDialog dialog;
    dialog.Create(IDD_LAUNCHER, nullptr);
    for (int i = 0; i < 20; ++i) {
        Pump();
        Sleep(10);
    }

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> costs;
    for (int i = 0; i < 1000; ++i) {
        LARGE_INTEGER a, b;
        QueryPerformanceCounter(&a);
        dialog.Overlay()->DrawProgress(i * 10, L"正在下载更新包...");
        QueryPerformanceCounter(&b);
        costs.push_back(double(b.QuadPart - a.QuadPart) * 1000.0 / double(frequency.QuadPart));
        Pump();
    }
    std::sort(costs.begin(), costs.end());
    printf("DrawProgress: median %.3f ms, 90th percentile %.3f ms (1000 calls)\n", costs[500], costs[900]);

    // 37 basis points a tick fills the bar in 8 s; 1 a tick is a download of five minutes.
    RefreshFor(dialog, 10000, 37, "moving 37/10000 a tick (full in 8 s)");
    RefreshFor(dialog, 10000, 1, "moving 1/10000 a tick (full in 5 min)");
    RefreshFor(dialog, 10000, 0, "standing still");
    return 0;
}

// The launcher's refresh: a 30 ms timer, one DrawProgress per tick; the progress moves by step
// every tick, or stands still (step 0, as while a download stalls).
void RefreshFor(BenchDialog& dialog, ULONGLONG ms, int step, const char* label) {
    const int drawsBefore = dialog.Overlay()->DrawCount();
    const double cpuStart = ProcessCpuSeconds();
    const ULONGLONG start = GetTickCount64();
    const UINT_PTR timer = SetTimer(nullptr, 0, 30, nullptr);
    int ticks = 0;
    MSG msg;
    while (GetTickCount64() - start < ms && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
            dialog.Overlay()->DrawProgress(step ? (ticks * step) % 10000 : 4321, L"正在下载更新包...");
            ++ticks;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    KillTimer(nullptr, timer);
    const double cpu = ProcessCpuSeconds() - cpuStart;
    const double wall = double(GetTickCount64() - start) / 1000.0;
    printf("shown splash, 30 ms refresh, progress %s: %d refreshes, %d draws in %.1f s, CPU %.3f s = %.2f %% of one core\n",
           label, ticks, dialog.Overlay()->DrawCount() - drawsBefore, wall, cpu, cpu / wall * 100.0);
}
