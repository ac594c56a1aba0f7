#include "ui/StandardDialog.h"

#include "platform/ScopedWin.h"

CStandardDialog::CStandardDialog(UINT templateId, CWnd* parent)
    : CDialog(templateId, parent), m_clrKey(0x00FEFFFF) {}

BOOL CStandardDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    m_brushBkgnd.Attach(CreateSolidBrush(m_clrKey));
    ModifyStyleEx(0, WS_EX_LAYERED);
    using SetLayeredWindowAttributesFn = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
    scoped::Library user32(L"User32.DLL");
    auto setLayered = user32.Proc<SetLayeredWindowAttributesFn>("SetLayeredWindowAttributes");
    if (setLayered) setLayered(m_hWnd, m_clrKey, 0, LWA_COLORKEY);
    return TRUE;
}

HBRUSH CStandardDialog::OnCtlColor(HDC dc, HWND control, UINT kind) {
    if (kind == CTLCOLOR_DLG) return m_brushBkgnd.GetSafeHandle();
    return CDialog::OnCtlColor(dc, control, kind);
}

void CStandardDialog::OnPaint() {
    CPaintDC dc(m_hWnd);  // validates; subclasses draw outside WM_PAINT
}

void CStandardDialog::OnLButtonDown(UINT flags, POINT point) {
    // Presses move the window pair: the parent starts the move and drags this one along.
    if (!IsZoomed() && ParentWnd())
        ::SendMessageW(ParentWnd()->GetSafeHwnd(), WM_LBUTTONDOWN, flags, MAKELPARAM(point.x, point.y));
    Default();
}
