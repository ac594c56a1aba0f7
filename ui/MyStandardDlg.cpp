#include "ui/MyStandardDlg.h"

#include "platform/ScopedWin.h"
#include "res/resource.h"
#include "ui/PngResource.h"
#include "ui/ProgressGeometry.h"

CMyStandardDlg::CMyStandardDlg(CWnd* parent)
    : CStandardDialog(IDD_OVERLAY, parent), m_pBarImage(LoadPngResource(IDB_PROGRESS_BAR)) {}

void CMyStandardDlg::OnPaint() {
    m_bBarWiped = true;  // the system erased the window to the key colour
    CStandardDialog::OnPaint();
}

CMyStandardDlg::~CMyStandardDlg() {
}

bool CMyStandardDlg::PictureChanges(int fillWidth, const std::wstring& text, const RECT& client) {
    // Each draw costs the layered window a flush: only a new fill width in whole pixels, a new
    // text, a new size, or a repaint that wiped the bar draws.
    if (!m_bBarWiped && fillWidth == m_nLastFillWidth && text == m_strLastText && EqualRect(&client, &m_rcLastClient))
        return false;
    m_bBarWiped = false;
    m_nLastFillWidth = fillWidth;
    m_strLastText = text;
    m_rcLastClient = client;
    return true;
}

void CMyStandardDlg::ComposeBar(Gdiplus::Bitmap& offscreen, const BarGeometry& bar, int fillWidth,
                                const wchar_t* text) {
    Gdiplus::Graphics canvas(&offscreen);
    // The bar image is a frame around a plain interior: nearest-neighbour scaling keeps the
    // frame crisp and costs a fraction of the default filter.
    canvas.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
    canvas.DrawImage(m_pBarImage.get(), Gdiplus::Rect(0, 0, bar.width, bar.height));

    Gdiplus::SolidBrush fill(Gdiplus::Color(0xFF, 0xFD, 0xC2, 0x42));
    canvas.FillRectangle(&fill, bar.margin, bar.margin, fillWidth, bar.height - 2 * bar.margin);

    Gdiplus::FontFamily family(L"微软雅黑");
    Gdiplus::Font font(&family, bar.fontSize, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
    if (!font.IsAvailable() || !text || !*text) return;  // no fallback font: no text without it
    // One line, never wrapped: a line wider than the bar's inside (a long download's sizes,
    // speed and time left) is drawn in a smaller size that fits.
    Gdiplus::StringFormat format(Gdiplus::StringFormatFlagsNoWrap, LANG_NEUTRAL);
    format.SetAlignment(Gdiplus::StringAlignmentCenter);
    format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
    const Gdiplus::RectF area(0.0f, 0.0f, float(bar.width), float(bar.height));
    const float room = float(bar.width - 4 * bar.margin);
    Gdiplus::RectF needed;
    canvas.MeasureString(text, -1, &font, Gdiplus::PointF(0.0f, 0.0f), &format, &needed);
    Gdiplus::SolidBrush black(Gdiplus::Color(0xFF, 0, 0, 0));
    if (needed.Width <= room || room <= 0.0f) {
        canvas.DrawString(text, -1, &font, area, &format, &black);
        return;
    }
    Gdiplus::Font smaller(&family, bar.fontSize * room / needed.Width, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
    canvas.DrawString(text, -1, &smaller, area, &format, &black);
}

void CMyStandardDlg::DrawProgress(int progress, const wchar_t* text) {
    if (!m_hWnd || !m_pBarImage) return;
    const int imageWidth = int(m_pBarImage->GetWidth());
    const int imageHeight = int(m_pBarImage->GetHeight());
    if (imageWidth <= 0 || imageHeight <= 0) return;  // the image did not load

    RECT client;
    GetClientRect(&client);
    const BarGeometry bar = ComputeBarGeometry(client.right - client.left, client.bottom - client.top,
                                               imageWidth, imageHeight);
    if (bar.width <= 0 || bar.height <= 0) return;
    const int fillWidth = FillWidth(bar, progress);
    if (!PictureChanges(fillWidth, text ? text : L"", client)) return;
    ++m_nDrawCount;

    // The whole bar is composed off-screen and reaches the window in one draw.
    Gdiplus::Bitmap offscreen(bar.width, bar.height, PixelFormat32bppARGB);
    ComposeBar(offscreen, bar, fillWidth, text);
    scoped::WindowDC windowDC(m_hWnd);
    Gdiplus::Graphics window(windowDC.Get());
    // The composed bar is opaque: copied, not blended, onto the window.
    window.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
    window.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
    window.DrawImage(&offscreen, bar.x, bar.y, bar.width, bar.height);
}
