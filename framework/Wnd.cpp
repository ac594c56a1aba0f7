#include "framework/Wnd.h"

#include <windowsx.h>

namespace {
const wchar_t kObjectProperty[] = L"QuenbyFrameworkObject";
}

CWnd::~CWnd() {
    // An object that goes takes its window with it.
    if (m_hWnd && IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
    Detach();
}

CWnd* CWnd::FromHandle(HWND hwnd) {
    return hwnd ? static_cast<CWnd*>(GetPropW(hwnd, kObjectProperty)) : nullptr;
}

void CWnd::Attach(HWND hwnd) {
    m_hWnd = hwnd;
    SetPropW(hwnd, kObjectProperty, this);
    m_originalProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StaticWindowProc)));
}

void CWnd::Detach() {
    if (!m_hWnd) return;
    if (IsWindow(m_hWnd)) {
        RemovePropW(m_hWnd, kObjectProperty);
        if (m_originalProc)
            SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_originalProc));
    }
    m_hWnd = nullptr;
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    return ::DestroyWindow(m_hWnd);
}

namespace {
// Changes one of the window's style words; the frame is recomputed only when flags ask for it.
BOOL ModifyStyleWord(HWND hwnd, int index, DWORD remove, DWORD add, UINT flags) {
    DWORD style = DWORD(GetWindowLongPtrW(hwnd, index));
    DWORD changed = (style & ~remove) | add;
    if (changed == style) return FALSE;
    SetWindowLongPtrW(hwnd, index, LONG_PTR(changed));
    if (flags)
        ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | flags);
    return TRUE;
}
}  // namespace

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT flags) {
    return ModifyStyleWord(m_hWnd, GWL_STYLE, remove, add, flags);
}

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT flags) {
    return ModifyStyleWord(m_hWnd, GWL_EXSTYLE, remove, add, flags);
}

LRESULT CWnd::Default() {
    return CallWindowProcW(m_originalProc, m_hWnd, m_current.message, m_current.wParam,
                           m_current.lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: return OnCreate(reinterpret_cast<LPCREATESTRUCTW>(lParam));
    case WM_MOVE: OnMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)); return 0;
    case WM_SIZE: OnSize(UINT(wParam), LOWORD(lParam), HIWORD(lParam)); return 0;
    case WM_TIMER: OnTimer(wParam); return 0;
    case WM_SYSCOMMAND: OnSysCommand(UINT(wParam), lParam); return 0;
    case WM_LBUTTONDOWN:
        OnLButtonDown(UINT(wParam), POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return 0;
    case WM_ERASEBKGND: return OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
    case WM_GETMINMAXINFO: OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam)); return 0;
    case WM_CTLCOLORDLG:
        return reinterpret_cast<LRESULT>(
            OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), CTLCOLOR_DLG));
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(
            OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), CTLCOLOR_STATIC));
    case WM_PAINT: OnPaint(); return 0;
    default: return Default();
    }
}

LRESULT CALLBACK CWnd::StaticWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* self = FromHandle(hwnd);
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    WNDPROC original = self->m_originalProc;
    if (message == WM_NCDESTROY) {
        // The window is going: hand it back to its own procedure and forget it.
        self->Detach();
        return CallWindowProcW(original, hwnd, message, wParam, lParam);
    }
    const CurrentMessage saved = self->m_current;  // messages nest (SendMessage inside a handler)
    self->m_current = CurrentMessage{message, wParam, lParam};
    LRESULT result = 0;
    // The barrier: no exception leaves a window procedure.
    try {
        result = self->WindowProc(message, wParam, lParam);
    } catch (...) {
        result = 0;
        try {
            self->OnHandlerFault(message);
        } catch (...) {
        }
    }
    self->m_current = saved;
    return result;
}
