// The launcher's overlay: the progress bar with its amber fill and the status line on it.
#pragma once

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

    Gdiplus::Image* m_pBarImage;
};
