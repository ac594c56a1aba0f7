// The launcher's overlay: the progress bar with its amber fill and the status line on it.
#pragma once

#include <memory>
#include <string>

#include "ui/Gdiplus.h"
#include "ui/ProgressGeometry.h"
#include "ui/StandardDialog.h"

class CMyStandardDlg : public CStandardDialog {
public:
    explicit CMyStandardDlg(CWnd* parent);
    ~CMyStandardDlg() override;

    // Draws the bar (progress 0..10000) and the text straight onto the window, when the picture
    // would change in pixels.
    void DrawProgress(int progress, const wchar_t* text);
    // How many times the bar reached the window (for tests and benchmarks).
    int DrawCount() const { return m_nDrawCount; }

protected:
    BOOL OnInitDialog() override { return CStandardDialog::OnInitDialog(); }
    void OnPaint() override;

    std::unique_ptr<Gdiplus::Image> m_pBarImage;

private:
    // Whether the picture differs from what is on the screen; remembers the new one.
    bool PictureChanges(int fillWidth, const std::wstring& text, const RECT& client);
    // The bar image, the fill and the status line, off-screen.
    void ComposeBar(Gdiplus::Bitmap& offscreen, const BarGeometry& bar, int fillWidth, const wchar_t* text);

    // What is on the screen now, so that an unchanged picture is not drawn again: a progress
    // that moves by less than a pixel of fill changes nothing.
    bool m_bBarWiped = true;
    int m_nLastFillWidth = -1;
    int m_nDrawCount = 0;
    std::wstring m_strLastText;
    RECT m_rcLastClient = {};
};
