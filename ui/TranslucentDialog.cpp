#include "ui/TranslucentDialog.h"

#include <cstring>

#include "platform/ScopedWin.h"
#include "ui/PngResource.h"

CTranslucentDialog::CTranslucentDialog(UINT templateId, UINT imageId, CWnd* parent)
    : CDialog(templateId, parent), m_pImage(LoadPngResource(imageId)), m_pStandardDlg(nullptr),
      m_blend{} {}

// The companion goes first, then the image.
CTranslucentDialog::~CTranslucentDialog() = default;

BOOL CTranslucentDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    m_blend.BlendOp = AC_SRC_OVER;
    m_blend.BlendFlags = 0;
    m_blend.SourceConstantAlpha = 255;
    m_blend.AlphaFormat = AC_SRC_ALPHA;
    UpdateBackground();
    return TRUE;
}

void CTranslucentDialog::UpdateBackground() {
    RECT rect;
    GetWindowRect(&rect);
    const int w = rect.right - rect.left;
    const int h = rect.bottom - rect.top;
    if (!(GetExStyle() & WS_EX_LAYERED))
        SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, LONG_PTR(GetExStyle() | WS_EX_LAYERED));

    scoped::WindowDC windowDC(m_hWnd);
    scoped::MemoryDC memoryDC(windowDC.Get());

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = DWORD(4 * w * h);
    void* pixels = nullptr;
    scoped::GdiObject<HBITMAP> dib(CreateDIBSection(windowDC.Get(), &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!dib.Get() || !pixels) return;
    std::memset(pixels, 0, size_t(4) * w * h);

    scoped::SelectObject selected(memoryDC.Get(), dib.Get());
    {
        Gdiplus::Graphics graphics(memoryDC.Get());
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeNone);
        if (m_pImage) graphics.DrawImage(m_pImage.get(), Gdiplus::Rect(0, 0, w, h));
    }

    using UpdateLayeredWindowFn = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF,
                                                BLENDFUNCTION*, DWORD);
    scoped::Library user32(L"User32.DLL");
    auto update = user32.Proc<UpdateLayeredWindowFn>("UpdateLayeredWindow");
    POINT destination = {rect.left, rect.top};
    SIZE size = {w, h};
    POINT source = {0, 0};
    if (update)
        update(m_hWnd, windowDC.Get(), &destination, &size, memoryDC.Get(), &source, 0, &m_blend,
               ULW_ALPHA);
}

int CTranslucentDialog::OnCreate(LPCREATESTRUCTW create) {
    if (CDialog::OnCreate(create) == -1) return -1;
    m_pStandardDlg.reset(CreateStandardDialog());
    if (m_pStandardDlg) {
        m_pStandardDlg->Create(m_pStandardDlg->TemplateId(), m_pStandardDlg->ParentWnd());
        m_pStandardDlg->ShowWindow(SW_SHOW);
    }
    ModifyStyle(WS_CAPTION, WS_POPUP, 0);
    return 0;
}

LRESULT CTranslucentDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = CDialog::WindowProc(message, wParam, lParam);
    if (message == WM_WINDOWPOSCHANGED && m_pStandardDlg && m_pStandardDlg->GetSafeHwnd() &&
        (reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_SHOWWINDOW)) {
        // The companion was shown before this window. Raising it once this one is up keeps it
        // stacked above on systems that stack windows by the order in which they appear (an X
        // display without a window manager); where ownership already orders them it changes
        // nothing.
        const UINT keep = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
        m_pStandardDlg->SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, keep);
        m_pStandardDlg->SetWindowPos(HWND_NOTOPMOST, 0, 0, 0, 0, keep);
    }
    return result;
}

void CTranslucentDialog::OnMove(int x, int y) {
    CDialog::OnMove(x, y);
    if (m_pStandardDlg) {
        RECT rect;
        GetWindowRect(&rect);
        m_pStandardDlg->SetWindowPos(nullptr, rect.left, rect.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    OnDialogMoved();
}

void CTranslucentDialog::OnLButtonDown(UINT flags, POINT point) {
    SendMessage(WM_SYSCOMMAND, 0xF012, 0);  // SC_MOVE | HTCAPTION: the system's move loop
    CDialog::OnLButtonDown(flags, point);
}

void CTranslucentDialog::OnGetMinMaxInfo(MINMAXINFO* info) {
    info->ptMaxSize.x = GetSystemMetrics(SM_CXMAXIMIZED) - 2 * GetSystemMetrics(SM_CXFRAME);
    info->ptMaxSize.y = GetSystemMetrics(SM_CYMAXIMIZED) - 2 * GetSystemMetrics(SM_CYFRAME);
    info->ptMinTrackSize.x = 200;
    info->ptMinTrackSize.y = 100;
    CDialog::OnGetMinMaxInfo(info);
}

void CTranslucentDialog::OnSysCommand(UINT id, LPARAM lParam) {
    if (id == SC_CLOSE) {  // exactly: SC_CLOSE with low bits set is not a close
        if (m_pStandardDlg) m_pStandardDlg->EnableWindow(FALSE);
        // The question's own message loop keeps timers running: whoever completes on a timer
        // must wait while it is open.
        m_bExitQuestionOpen = true;
        const int answer = MessageBox(L"确定要退出吗？", L"提示", MB_OKCANCEL);
        m_bExitQuestionOpen = false;
        if (answer == IDOK) {
            m_bExitConfirmed = true;
            OnExitConfirmed();
            if (m_pStandardDlg) m_pStandardDlg->PostMessage(WM_QUIT, 0, 0);
            return;
        }
        if (m_pStandardDlg) m_pStandardDlg->EnableWindow(TRUE);
    }
    CDialog::OnSysCommand(id, lParam);
}
