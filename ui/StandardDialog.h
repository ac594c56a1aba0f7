// A dialog made into a colour-keyed layered window: whatever is painted in the key colour is
// invisible and lets the mouse through, so only what a subclass draws in other colours shows.
#pragma once

#include "framework/Dialog.h"
#include "framework/Gdi.h"

class CStandardDialog : public CDialog {
public:
    CStandardDialog(UINT templateId, CWnd* parent);
    ~CStandardDialog() override = default;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}
    HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind) override;
    void OnPaint() override;
    void OnLButtonDown(UINT flags, POINT point) override;

    COLORREF m_clrKey;  // near-white: red 255, green 255, blue 254
    CBrush m_brushBkgnd;
};
