// What the X display shows, for tests that check pixels of real windows.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace testing_support {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
bool Near(const Rgb& a, const Rgb& b, int tolerance);

// A screenshot of the whole display (taken with ImageMagick's import on the X side).
class Screenshot {
public:
    Screenshot();
    ~Screenshot();
    bool Ok() const { return m_ok; }
    Rgb At(int x, int y) const;
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // Saves a copy (BMP) for a person to look at.
    bool SaveCopy(const std::wstring& path) const;

private:
    bool m_ok = false;
    int m_width = 0, m_height = 0;
    std::wstring m_path;
    std::unique_ptr<unsigned char[]> m_pixels;  // BGRA rows
};

// Runs a program of the Linux side (through /bin/sh) and waits for it.
int RunUnixShell(const std::string& command, DWORD timeoutMs = 30000);

// Processes the pending messages of this thread for a while.
void PumpMessages(DWORD milliseconds);

}  // namespace testing_support
