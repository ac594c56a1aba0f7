// A window object over an HWND, shaped like the classic framework's CWnd: the window procedure
// finds the C++ object and forwards each message to a virtual handler; Default() runs the
// window's original procedure for the message being handled.
#pragma once

#include <windows.h>

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return GetSafeHwnd(); }

    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs) { return ::SetTimer(m_hWnd, id, elapseMs, nullptr); }
    BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
    DWORD GetStyle() const { return DWORD(GetWindowLongPtrW(m_hWnd, GWL_STYLE)); }
    DWORD GetExStyle() const { return DWORD(GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)); }
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);
    void GetWindowRect(RECT* rect) const { ::GetWindowRect(m_hWnd, rect); }
    void GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
    BOOL SetWindowPos(HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
        return ::SetWindowPos(m_hWnd, insertAfter, x, y, cx, cy, flags);
    }
    BOOL EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
    BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
    BOOL IsZoomed() const { return ::IsZoomed(m_hWnd); }
    int MessageBox(LPCWSTR text, LPCWSTR caption, UINT type) {
        return ::MessageBoxW(m_hWnd, text, caption, type);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::PostMessageW(m_hWnd, message, wParam, lParam);
    }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    BOOL DestroyWindow();

    // The object attached to a window of ours, or null.
    static CWnd* FromHandle(HWND hwnd);

protected:
    // Dispatches one message to the handlers below; unhandled messages go to Default().
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The original window procedure for the message being dispatched.
    LRESULT Default();

    virtual int OnCreate(LPCREATESTRUCTW) { return Default() == -1 ? -1 : 0; }
    virtual void OnMove(int, int) { Default(); }
    virtual void OnSize(UINT, int, int) { Default(); }
    virtual void OnTimer(UINT_PTR) { Default(); }
    virtual void OnSysCommand(UINT, LPARAM) { Default(); }
    virtual void OnLButtonDown(UINT, POINT) { Default(); }
    virtual BOOL OnEraseBkgnd(HDC) { return BOOL(Default()); }
    virtual void OnGetMinMaxInfo(MINMAXINFO*) { Default(); }
    virtual HBRUSH OnCtlColor(HDC, HWND, UINT) { return HBRUSH(Default()); }
    virtual void OnPaint() { Default(); }
    // A handler let an exception out while handling message. The window procedure stops it
    // there (it must never cross the system's frames) and reports it here; the message then
    // counts as handled.
    virtual void OnHandlerFault(UINT /*message*/) {}

    // Attaches this object to a window as it is being created; used by CDialog.
    void Attach(HWND hwnd);
    void Detach();

    HWND m_hWnd = nullptr;

private:
    static LRESULT CALLBACK StaticWindowProc(HWND, UINT, WPARAM, LPARAM);

    WNDPROC m_originalProc = nullptr;
    struct CurrentMessage { UINT message; WPARAM wParam; LPARAM lParam; };
    CurrentMessage m_current = {};
};
