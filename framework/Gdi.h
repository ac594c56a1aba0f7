// The classic framework's brush and paint-context wrappers.
#pragma once

#include <windows.h>

class CBrush {
public:
    CBrush() = default;
    ~CBrush() { DeleteObject(); }
    CBrush(const CBrush&) = delete;
    CBrush& operator=(const CBrush&) = delete;
    BOOL Attach(HBRUSH brush) {
        DeleteObject();
        m_hObject = brush;
        return brush != nullptr;
    }
    BOOL CreateSolidBrush(COLORREF color) { return Attach(::CreateSolidBrush(color)); }
    void DeleteObject() {
        if (m_hObject) ::DeleteObject(m_hObject);
        m_hObject = nullptr;
    }
    HBRUSH GetSafeHandle() const { return m_hObject; }
    operator HBRUSH() const { return m_hObject; }

private:
    HBRUSH m_hObject = nullptr;
};

// BeginPaint in the constructor, EndPaint in the destructor.
class CPaintDC {
public:
    explicit CPaintDC(HWND hwnd) : m_hwnd(hwnd), m_hdc(BeginPaint(hwnd, &m_ps)) {}
    ~CPaintDC() { EndPaint(m_hwnd, &m_ps); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    HDC GetSafeHdc() const { return m_hdc; }

private:
    HWND m_hwnd;
    PAINTSTRUCT m_ps = {};
    HDC m_hdc;
};
