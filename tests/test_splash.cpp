#include <gtest/gtest.h>

#include <climits>

#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "res/resource.h"
#include "tests/support/MessageBoxes.h"
#include "tests/support/Screen.h"
#include "tests/support/TestFiles.h"
#include "ui/MyStandardDlg.h"
#include "ui/ProgressGeometry.h"
#include "ui/TranslucentDialog.h"

using namespace testing_support;

namespace {

struct GdiplusSession {
    ULONG_PTR token = 0;
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
    }
} g_gdiplus;

// The launcher's pair of windows, recording what reaches it.
class ProbeDialog : public CTranslucentDialog {
public:
    ProbeDialog() : CTranslucentDialog(IDD_LAUNCHER, IDB_SPLASH, nullptr) {}
    std::vector<std::string> events;
    std::function<void(ProbeDialog&)> onInit;
    CMyStandardDlg* Overlay() { return static_cast<CMyStandardDlg*>(m_pStandardDlg.get()); }

protected:
    CStandardDialog* CreateStandardDialog() override { return new CMyStandardDlg(this); }
    int OnCreate(LPCREATESTRUCTW create) override {
        events.push_back("create");
        return CTranslucentDialog::OnCreate(create);
    }
    void OnDialogMoved() override { events.push_back("moved"); }
    BOOL OnInitDialog() override {
        events.push_back("init");
        CTranslucentDialog::OnInitDialog();
        if (onInit) onInit(*this);
        return TRUE;
    }
};

const Rgb kAmber{253, 194, 66}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

// The bar as it lies on the screen.
struct ScreenBar {
    BarGeometry g;
    int left, top;  // overlay client origin on the screen
    int X(int x) const { return left + g.x + x; }
    int Y(int y) const { return top + g.y + y; }
};

ScreenBar BarOf(CMyStandardDlg* overlay) {
    RECT client;
    overlay->GetClientRect(&client);
    POINT origin{0, 0};
    ClientToScreen(overlay->GetSafeHwnd(), &origin);
    return ScreenBar{ComputeBarGeometry(client.right, client.bottom, 662, 28), origin.x, origin.y};
}

class SplashTest : public ::testing::Test {
protected:
    ProbeDialog dialog;
    void SetUp() override {
        ASSERT_TRUE(dialog.Create(IDD_LAUNCHER, nullptr));
        PumpMessages(300);
    }
    void Draw(int progress, const wchar_t* text) {
        dialog.Overlay()->DrawProgress(progress, text);
        PumpMessages(150);
    }
};

}  // namespace

TEST(ProgressGeometry, WorkedTable) {
    struct Case { int cw, ch, x, y, w, h, m, fill5000, fill10000; float font; };
    const Case cases[] = {{935, 636, 117, 489, 701, 29, 3, 347, 695, 14.82f},
                          {750, 480, 94, 369, 562, 23, 3, 278, 556, 11.89f},
                          {1169, 795, 146, 612, 876, 37, 4, 434, 868, 18.53f}};
    for (const Case& c : cases) {
        BarGeometry g = ComputeBarGeometry(c.cw, c.ch, 662, 28);
        EXPECT_EQ(g.x, c.x);
        EXPECT_EQ(g.y, c.y);
        EXPECT_EQ(g.width, c.w);
        EXPECT_EQ(g.height, c.h);
        EXPECT_EQ(g.margin, c.m);
        EXPECT_EQ(FillWidth(g, 5000), c.fill5000);
        EXPECT_EQ(FillWidth(g, 10000), c.fill10000);
        EXPECT_EQ(FillWidth(g, 1), 0);
        EXPECT_NEAR(g.fontSize, c.font, 0.01f);
    }
}

TEST_F(SplashTest, CreationOrderReachesTheObjectBeforeInitialisation) {
    std::string all;
    for (auto& e : dialog.events) all += e + " ";
    SCOPED_TRACE(all);
    ASSERT_GE(dialog.events.size(), 3u);
    EXPECT_EQ(dialog.events[0], "create");
    EXPECT_EQ(dialog.events[1], "moved");
    auto init = std::find(dialog.events.begin(), dialog.events.end(), "init");
    ASSERT_NE(init, dialog.events.end());
    EXPECT_GT(init - dialog.events.begin(), 1);
}

TEST_F(SplashTest, WindowsArePlacedAndStyledAsTheTemplatesSay) {
    RECT window, overlay;
    dialog.GetWindowRect(&window);
    dialog.Overlay()->GetWindowRect(&overlay);
    EXPECT_EQ(window.left, overlay.left);
    EXPECT_EQ(window.top, overlay.top);
    EXPECT_EQ(window.right - window.left, overlay.right - overlay.left);
    EXPECT_EQ(window.bottom - window.top, overlay.bottom - overlay.top);
    EXPECT_FALSE(dialog.GetStyle() & WS_CAPTION);
    EXPECT_TRUE(dialog.GetStyle() & WS_POPUP);
    EXPECT_TRUE(dialog.GetExStyle() & WS_EX_LAYERED);
    EXPECT_TRUE(dialog.Overlay()->GetExStyle() & WS_EX_LAYERED);
    EXPECT_EQ(GetWindow(dialog.Overlay()->GetSafeHwnd(), GW_OWNER), dialog.GetSafeHwnd());

    // Moving the translucent window brings the overlay along.
    dialog.SetWindowPos(nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    PumpMessages(100);
    dialog.Overlay()->GetWindowRect(&overlay);
    EXPECT_EQ(overlay.left, 40);
    EXPECT_EQ(overlay.top, 30);
}

TEST_F(SplashTest, BarFillAndTextOnScreen) {
    CMyStandardDlg* overlay = dialog.Overlay();
    Draw(5000, L"");
    ScreenBar bar = BarOf(overlay);
    const int m = bar.g.margin, fill = FillWidth(bar.g, 5000);
    {
        Screenshot shot;
        ASSERT_TRUE(shot.Ok());
        EXPECT_TRUE(Near(shot.At(bar.X(0), bar.Y(bar.g.height / 2)), kBlack, 40));      // frame
        EXPECT_TRUE(Near(shot.At(bar.X(m), bar.Y(m)), kAmber, 12));                     // fill starts at m
        EXPECT_TRUE(Near(shot.At(bar.X(m + fill - 1), bar.Y(bar.g.height - m - 1)), kAmber, 12));
        EXPECT_TRUE(Near(shot.At(bar.X(m + fill + 1), bar.Y(m)), kWhite, 12));          // then white
        EXPECT_FALSE(Near(shot.At(bar.X(m), bar.Y(bar.g.height - m)), kAmber, 40));     // fill height
        EXPECT_FALSE(Near(shot.At(bar.X(m), bar.Y(m - 1)), kAmber, 40));
    }
    Draw(10000, L"");
    {
        Screenshot shot;
        EXPECT_TRUE(Near(shot.At(bar.X(bar.g.width - m - 1), bar.Y(m)), kAmber, 12));
        EXPECT_FALSE(Near(shot.At(bar.X(bar.g.width - m), bar.Y(m)), kAmber, 40));
    }
    Draw(2000, L"");  // smaller after larger
    {
        Screenshot shot;
        EXPECT_TRUE(Near(shot.At(bar.X(m + FillWidth(bar.g, 2000) - 1), bar.Y(m)), kAmber, 12));
        EXPECT_TRUE(Near(shot.At(bar.X(m + FillWidth(bar.g, 2000) + 2), bar.Y(m)), kWhite, 12));
        EXPECT_TRUE(Near(shot.At(bar.X(m + fill), bar.Y(m)), kWhite, 12));
    }
    Draw(0, L"");
    Screenshot empty;
    EXPECT_TRUE(Near(empty.At(bar.X(m), bar.Y(m)), kWhite, 12));
    // A status line far wider than the bar: drawn on the bar, never around it.
    Draw(0, L"正在下载更新包...正在下载更新包...正在下载更新包...正在下载更新包...正在下载更新包...");
    Screenshot text;
    int darkInside = 0, changedOutside = 0;
    for (int x = -6; x < bar.g.width + 6; ++x) {
        for (int y = -6; y < bar.g.height + 6; ++y) {
            bool inside = x >= 0 && y >= 0 && x < bar.g.width && y < bar.g.height;
            Rgb before = empty.At(bar.X(x), bar.Y(y)), after = text.At(bar.X(x), bar.Y(y));
            if (inside && x >= m && y >= m && x < bar.g.width - m && y < bar.g.height - m &&
                after.r < 100 && after.g < 100 && after.b < 100)
                ++darkInside;
            if (!inside && !(before == after)) ++changedOutside;
        }
    }
    EXPECT_GT(darkInside, 100);
    EXPECT_EQ(changedOutside, 0);
    text.SaveCopy(L"Z:\\tmp\\quenby-splash-test.bmp");
}

// The dark pixels a status line adds to the bar: their bounding box in bar coordinates.
struct InkBox {
    int left = INT_MAX, right = -1, top = INT_MAX, bottom = -1;
};
InkBox InkOf(const ScreenBar& bar, const Screenshot& empty, const Screenshot& text) {
    InkBox box;
    for (int x = 0; x < bar.g.width; ++x) {
        for (int y = 0; y < bar.g.height; ++y) {
            const Rgb after = text.At(bar.X(x), bar.Y(y));
            if (empty.At(bar.X(x), bar.Y(y)) == after || after.r > 100 || after.g > 100 || after.b > 100) continue;
            box.left = std::min(box.left, x), box.right = std::max(box.right, x);
            box.top = std::min(box.top, y), box.bottom = std::max(box.bottom, y);
        }
    }
    return box;
}

// The longest line a download shows fits the bar's text area on one line, clipped nowhere.
TEST_F(SplashTest, TheLongestDownloadLineFitsTheBar) {
    CMyStandardDlg* overlay = dialog.Overlay();
    Draw(0, L"");
    ScreenBar bar = BarOf(overlay);
    Screenshot empty;
    ASSERT_TRUE(empty.Ok());
    Draw(0, L"正在下载更新包...");
    const InkBox plain = InkOf(bar, empty, Screenshot());
    Draw(0, L"正在下载更新包... 1023.9 GB / 1023.9 GB，1023.9 MB/s，剩余约 999 小时 59 分钟");
    Screenshot text;
    const InkBox longest = InkOf(bar, empty, text);
    ASSERT_GE(plain.right, 0) << "no text drawn";
    ASSERT_GE(longest.right, 0) << "no text drawn";
    const int m = bar.g.margin;
    EXPECT_GT(longest.left, m + 2) << "the line runs into the bar's left edge";
    EXPECT_LT(longest.right, bar.g.width - m - 3) << "the line runs into the bar's right edge";
    // One line in the middle of the bar, as the short one: not broken in two, not cut.
    EXPECT_GE(longest.top, plain.top - 2);
    EXPECT_LE(longest.bottom, plain.bottom + 2);
    EXPECT_GT(longest.right - longest.left, 2 * (plain.right - plain.left));
    text.SaveCopy(L"Z:\\tmp\\quenby-splash-longest-line.bmp");
}

TEST_F(SplashTest, BackgroundIsStretchedAndKeyColourShowsIt) {
    RECT window;
    dialog.GetWindowRect(&window);
    const int w = window.right - window.left, h = window.bottom - window.top;
    Draw(0, L"");
    Screenshot shot;
    ASSERT_TRUE(shot.Ok());
    auto at = [&](int ix, int iy) { return shot.At(window.left + ix * w / 935, window.top + iy * h / 636); };
    // Outside the panel's outline the image is fully transparent: the root window shows.
    EXPECT_TRUE(Near(at(3, 3), kBlack, 8));
    EXPECT_TRUE(Near(at(930, 630), kBlack, 8));
    // The dark slot around the bar, seen through the key-coloured overlay.
    EXPECT_TRUE(Near(at(111, 500), Rgb{24, 6, 44}, 16));
    // The gold frame of the panel at the bottom edge.
    Rgb frame = at(467, 629);
    EXPECT_GT(frame.r, 150);
    EXPECT_GT(frame.r, frame.b + 60);
    // The key colour itself is never seen.
    int keyed = 0;
    for (int y = window.top; y < window.bottom; y += 3)
        for (int x = window.left; x < window.right; x += 3)
            if (shot.At(x, y) == Rgb{255, 255, 254}) ++keyed;
    EXPECT_EQ(keyed, 0);
}

TEST_F(SplashTest, BarFollowsAnotherClientSize) {
    CMyStandardDlg* overlay = dialog.Overlay();
    overlay->SetWindowPos(nullptr, 0, 0, 750, 480, SWP_NOMOVE | SWP_NOZORDER);
    PumpMessages(100);
    Draw(5000, L"");
    ScreenBar bar = BarOf(overlay);
    EXPECT_EQ(bar.g.x, 94);
    EXPECT_EQ(bar.g.y, 369);
    EXPECT_EQ(bar.g.width, 562);
    EXPECT_EQ(bar.g.height, 23);
    Screenshot shot;
    EXPECT_TRUE(Near(shot.At(bar.X(3 + 277), bar.Y(3)), kAmber, 12));
    EXPECT_TRUE(Near(shot.At(bar.X(3 + 279), bar.Y(3)), kWhite, 12));
    EXPECT_TRUE(Near(shot.At(bar.X(3), bar.Y(bar.g.height - 4)), kAmber, 12));  // fill height 17
    EXPECT_FALSE(Near(shot.At(bar.X(3), bar.Y(bar.g.height - 3)), kAmber, 40));
    EXPECT_FALSE(Near(shot.At(bar.X(0), bar.Y(-1)), kBlack, 0) && Near(shot.At(bar.X(0), bar.Y(0)), kWhite, 0));
}

TEST_F(SplashTest, WipedOverlayIsDrawnAgainWithUnchangedValues) {
    CMyStandardDlg* overlay = dialog.Overlay();
    Draw(5000, L"");
    ScreenBar bar = BarOf(overlay);
    InvalidateRect(overlay->GetSafeHwnd(), nullptr, TRUE);  // as when the window is uncovered
    PumpMessages(200);
    {
        Screenshot wiped;
        EXPECT_FALSE(Near(wiped.At(bar.X(bar.g.margin), bar.Y(bar.g.margin)), kAmber, 40));
    }
    Draw(5000, L"");
    Screenshot again;
    EXPECT_TRUE(Near(again.At(bar.X(bar.g.margin), bar.Y(bar.g.margin)), kAmber, 12));
}

TEST(SplashExitQuestion, CancelKeepsBothWindowsAndOkEndsTheModalLoop) {
    ProbeDialog dialog;
    struct Seen {
        MessageBoxInfo first, second;
        bool firstFound = false, secondFound = false, noBoxForLowBits = true, aliveAfterCancel = false,
             overlayEnabledAfterCancel = false, aliveAfterKeys = false;
    } seen;
    HWND window = nullptr, overlay = nullptr;
    dialog.onInit = [&](ProbeDialog& d) {
        window = d.GetSafeHwnd();
        overlay = d.Overlay()->GetSafeHwnd();
    };
    std::thread driver([&] {
        while (!window) Sleep(10);
        Sleep(300);
        // Enter, Esc and IDOK/IDCANCEL do nothing; nor does SC_CLOSE with a low bit set.
        PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
        PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageW(window, WM_COMMAND, IDOK, 0);
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        PostMessageW(overlay, WM_COMMAND, IDCANCEL, 0);
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE | 1, 0);
        MessageBoxInfo none;
        seen.noBoxForLowBits = !WaitForMessageBox(none, 1000, GetCurrentProcessId());
        seen.aliveAfterKeys = IsWindow(window) && IsWindow(overlay);

        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        seen.firstFound = WaitForMessageBox(seen.first, 10000, GetCurrentProcessId());
        if (seen.firstFound) AnswerMessageBox(seen.first, IDCANCEL);
        for (int i = 0; i < 100 && (IsWindow(seen.first.window) || !IsWindowEnabled(overlay)); ++i) Sleep(50);
        Sleep(200);
        seen.aliveAfterCancel = IsWindow(window) && IsWindow(overlay) && IsWindowVisible(window);
        seen.overlayEnabledAfterCancel = IsWindowEnabled(overlay);

        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        seen.secondFound = WaitForMessageBox(seen.second, 10000, GetCurrentProcessId());
        if (seen.secondFound) AnswerMessageBox(seen.second, IDOK);
    });
    INT_PTR result = dialog.DoModal();
    driver.join();
    EXPECT_EQ(result, -1);  // ended by WM_QUIT, not by EndDialog
    EXPECT_TRUE(seen.noBoxForLowBits);
    EXPECT_TRUE(seen.aliveAfterKeys);
    ASSERT_TRUE(seen.firstFound);
    EXPECT_EQ(seen.first.caption, L"提示");
    EXPECT_EQ(seen.first.text, L"确定要退出吗？");
    EXPECT_TRUE(seen.aliveAfterCancel);
    EXPECT_TRUE(seen.overlayEnabledAfterCancel);
    EXPECT_TRUE(seen.secondFound);
    EXPECT_FALSE(IsWindow(window));
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);  // nothing left behind
}

TEST(WindowProcedureBarrier, AnExceptionInAHandlerStopsAtTheWindowProcedure) {
    struct FaultyDialog : CDialog {
        FaultyDialog() : CDialog(IDD_LAUNCHER, nullptr) {}
        UINT faultMessage = 0;
        int timers = 0;
        void OnTimer(UINT_PTR) override {
            ++timers;
            throw std::runtime_error("a fault in a handler");
        }
        void OnHandlerFault(UINT message) override { faultMessage = message; }
    } dialog;
    ASSERT_TRUE(dialog.Create(IDD_LAUNCHER, nullptr));
    // Dispatched by the system: an exception crossing its frames would end the process.
    dialog.PostMessage(WM_TIMER, 7, 0);
    PumpMessages(200);
    EXPECT_EQ(dialog.timers, 1);
    EXPECT_EQ(dialog.faultMessage, UINT(WM_TIMER));
    // The window goes on working afterwards.
    dialog.faultMessage = 0;
    EXPECT_EQ(dialog.SendMessage(WM_TIMER, 7, 0), 0);
    EXPECT_EQ(dialog.timers, 2);
    EXPECT_EQ(dialog.faultMessage, UINT(WM_TIMER));
    dialog.DestroyWindow();
}

TEST(CreationHooks, ACreationInsideACreationLeavesNoHookBehind) {
    ProbeDialog dialog;  // creates its companion inside its own WM_CREATE
    ASSERT_TRUE(dialog.Create(IDD_LAUNCHER, nullptr));
    ASSERT_TRUE(dialog.Overlay() && dialog.Overlay()->GetSafeHwnd());
    EXPECT_EQ(CWnd::FromHandle(dialog.Overlay()->GetSafeHwnd()), static_cast<CWnd*>(dialog.Overlay()));
    EXPECT_EQ(CDialog::CreationHooksInstalled(), 0);
    // A later window is not caught by a hook left over from either creation.
    HWND plain = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(CWnd::FromHandle(plain), nullptr);
    DestroyWindow(plain);
    dialog.DestroyWindow();
}

TEST_F(SplashTest, OnlyAPictureThatChangesInPixelsIsDrawn) {
    CMyStandardDlg* overlay = dialog.Overlay();
    const BarGeometry g = BarOf(overlay).g;
    // The smallest progress step that moves the fill by a whole pixel, from 5000.
    int next = 5001;
    while (FillWidth(g, next) == FillWidth(g, 5000)) ++next;
    ASSERT_GT(next, 5001) << "the bar is too wide for steps below a pixel";

    Draw(5000, L"正在下载更新包...");
    const int drawn = overlay->DrawCount();
    Draw(5000, L"正在下载更新包...");
    Draw(next - 1, L"正在下载更新包...");  // less than a pixel more fill
    EXPECT_EQ(overlay->DrawCount(), drawn);
    Draw(next, L"正在下载更新包...");
    EXPECT_EQ(overlay->DrawCount(), drawn + 1);
    Draw(next, L"正在解压...");  // the same fill, another text
    EXPECT_EQ(overlay->DrawCount(), drawn + 2);
    Screenshot shot;
    const ScreenBar bar = BarOf(overlay);
    // The fill reaches its new last pixel (on its top row, clear of the centred text).
    EXPECT_TRUE(Near(shot.At(bar.X(FillWidth(g, next) - 1 + g.margin), bar.Y(g.margin)), kAmber, 40));
}
