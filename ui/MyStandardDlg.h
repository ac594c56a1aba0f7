// The launcher's overlay: the progress bar with its amber fill and the status line on it.
#pragma once

#include <string>

#include "ui/Gdiplus.h"
#include "ui/StandardDialog.h"

class CMyStandardDlg : public CStandardDialog {
public:
    explicit CMyStandardDlg(CWnd* parent);
    ~CMyStandardDlg() override;

    // Draws the bar (progress 0..10000) and the text straight onto the window.
    void DrawProgress(int progress, const wchar_t* text);

protected:
    BOOL OnInitDialog() override { return CStandardDialog::OnInitDialog(); }
    void OnPaint() override;

    Gdiplus::Image* m_pBarImage;

private:
    // What is on the screen now, so that an unchanged picture is not drawn again.
    bool m_bBarWiped = true;
    int m_nLastProgress = -1;
    std::wstring m_strLastText;
    RECT m_rcLastClient = {};
};
