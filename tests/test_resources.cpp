#include <gtest/gtest.h>

#include <cstring>

#include "res/resource.h"
#include "ui/PngResource.h"

// GDI+ is started for this program in test_splash.cpp.
namespace {
const BYTE* ResourceBytes(LPCWSTR name, LPCWSTR type, DWORD* size) {
    HRSRC found = FindResourceW(nullptr, name, type);
    if (!found) return nullptr;
    *size = SizeofResource(nullptr, found);
    return static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
}
}  // namespace

TEST(Resources, DialogTemplates) {
    for (auto [id, style] : {std::pair<int, DWORD>{IDD_LAUNCHER, 0x10000848}, {IDD_OVERLAY, 0x80000848}}) {
        DWORD size = 0;
        const BYTE* t = ResourceBytes(MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5), &size);
        ASSERT_NE(t, nullptr) << id;
        WORD version, signature, items;
        DWORD exStyle, templateStyle;
        short x, y, cx, cy;
        memcpy(&version, t, 2);
        memcpy(&signature, t + 2, 2);
        memcpy(&exStyle, t + 8, 4);
        memcpy(&templateStyle, t + 12, 4);
        memcpy(&items, t + 16, 2);
        memcpy(&x, t + 18, 2);
        memcpy(&y, t + 20, 2);
        memcpy(&cx, t + 22, 2);
        memcpy(&cy, t + 24, 2);
        EXPECT_EQ(version, 1);
        EXPECT_EQ(signature, 0xFFFF);
        EXPECT_EQ(exStyle, 0u);
        EXPECT_EQ(templateStyle, style);
        EXPECT_EQ(items, 0);
        EXPECT_EQ(x, 0);
        EXPECT_EQ(y, 0);
        EXPECT_EQ(cx, 500);
        EXPECT_EQ(cy, 320);
        // menu, class and title are empty; then point size, weight, italic, charset, face name
        const wchar_t* p = reinterpret_cast<const wchar_t*>(t + 26);
        EXPECT_EQ(p[0], 0);
        EXPECT_EQ(p[1], 0);
        EXPECT_EQ(p[2], 0);
        const BYTE* font = reinterpret_cast<const BYTE*>(p + 3);
        WORD points, weight;
        memcpy(&points, font, 2);
        memcpy(&weight, font + 2, 2);
        EXPECT_EQ(points, 9);
        EXPECT_EQ(weight, 0);
        EXPECT_EQ(font[4], 0);  // not italic
        EXPECT_EQ(font[5], 1);  // character set
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(font + 6)), L"MS Shell Dlg");
    }
}

TEST(Resources, PngImages) {
    struct Case { UINT id; UINT w, h; bool alpha; };
    for (const Case& c : {Case{IDB_SPLASH, 935, 636, true}, Case{IDB_PROGRESS_BAR, 662, 28, false}}) {
        Gdiplus::Image* image = LoadPngResource(c.id);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->GetLastStatus(), Gdiplus::Ok);
        EXPECT_EQ(image->GetWidth(), c.w);
        EXPECT_EQ(image->GetHeight(), c.h);
        EXPECT_EQ(Gdiplus::IsAlphaPixelFormat(image->GetPixelFormat()) != FALSE, c.alpha);
        delete image;
    }
    Gdiplus::Bitmap* bar = static_cast<Gdiplus::Bitmap*>(LoadPngResource(IDB_PROGRESS_BAR));
    Gdiplus::Color color;
    bar->GetPixel(2, 2, &color);
    EXPECT_EQ(color.GetValue(), 0xFF000000u);
    bar->GetPixel(3, 3, &color);
    EXPECT_EQ(color.GetValue(), 0xFFFFFFFFu);
    bar->GetPixel(658, 24, &color);
    EXPECT_EQ(color.GetValue(), 0xFFFFFFFFu);
    bar->GetPixel(659, 25, &color);
    EXPECT_EQ(color.GetValue(), 0xFF000000u);
    delete bar;
    // A missing resource still gives an image object, one that did not load.
    Gdiplus::Image* missing = LoadPngResource(999);
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->GetWidth(), 0u);
    delete missing;
}

TEST(Resources, IconGroupOfSevenSizes) {
    DWORD size = 0;
    const BYTE* group = ResourceBytes(MAKEINTRESOURCEW(IDR_MAINFRAME), MAKEINTRESOURCEW(14), &size);
    ASSERT_NE(group, nullptr);
    WORD count;
    memcpy(&count, group + 4, 2);
    ASSERT_EQ(count, 7);
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i) {
        int w = group[6 + i * 14];
        sizes.push_back(w == 0 ? 256 : w);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes.front(), 32);
    EXPECT_EQ(sizes.back(), 256);
    EXPECT_NE(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 48, 48, 0),
              nullptr);
}

TEST(Resources, ManifestAndVersion) {
    DWORD size = 0;
    const BYTE* manifest = ResourceBytes(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24), &size);
    ASSERT_NE(manifest, nullptr);
    std::string text(reinterpret_cast<const char*>(manifest), size);
    EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(text.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(text.find("<dpiAware"), std::string::npos);

    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD handle = 0;
    DWORD infoSize = GetFileVersionInfoSizeW(path, &handle);
    ASSERT_GT(infoSize, 0u);
    std::vector<BYTE> info(infoSize);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, infoSize, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000003u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000003u);
}
