#include "tests/support/Screen.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tests/support/TestFiles.h"

namespace testing_support {

bool Near(const Rgb& a, const Rgb& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

int RunUnixShell(const std::string& command, DWORD timeoutMs) {
    // Wine does not signal the handle of a Linux process when it ends, so the shell leaves its
    // exit status in a file and that is what is waited for.
    static int counter = 0;
    const std::string done = "/tmp/quenby-unix-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(counter++) + ".done";
    std::wstring doneWindows = L"Z:" + Widen(done);
    for (auto& c : doneWindows)
        if (c == L'/') c = L'\\';
    DeleteFileW(doneWindows.c_str());
    std::string line = "/bin/sh -c \"" + command + "; echo $? > " + done + ".tmp; mv " + done + ".tmp " + done + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return -1;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < end) {
        std::string status = ReadFileBytes(doneWindows);
        if (!status.empty()) {
            DeleteFileW(doneWindows.c_str());
            return std::atoi(status.c_str());
        }
        Sleep(20);
    }
    return -1;
}

void PumpMessages(DWORD milliseconds) {
    ULONGLONG end = GetTickCount64() + milliseconds;
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (GetTickCount64() < end);
}

Screenshot::Screenshot() {
    static int counter = 0;
    const std::string unixPath = "/tmp/quenby-shot-" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(GetTickCount64()) + "-" + std::to_string(counter++) + ".bmp";
    char display[64] = {};
    GetEnvironmentVariableA("DISPLAY", display, sizeof display);
    m_path = L"Z:" + Widen(unixPath);
    for (auto& c : m_path)
        if (c == L'/') c = L'\\';
    // An uncompressed 24-bit bitmap: bottom-up rows of BGR, each padded to 4 bytes.
    for (int attempt = 0; attempt < 3 && !m_ok; ++attempt) {
        RunUnixShell("import -display " + std::string(display) + " -window root -type TrueColor BMP3:" + unixPath);
        std::string bytes = ReadFileBytes(m_path);
        if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') continue;
        int32_t width, height;
        uint32_t offset;
        uint16_t bits;
        memcpy(&offset, &bytes[10], 4);
        memcpy(&width, &bytes[18], 4);
        memcpy(&height, &bytes[22], 4);
        memcpy(&bits, &bytes[28], 2);
        const bool bottomUp = height > 0;
        height = height < 0 ? -height : height;
        const size_t stride = (size_t(width) * (bits / 8) + 3) & ~size_t(3);
        if ((bits != 24 && bits != 32) || bytes.size() < offset + stride * height) continue;
        m_width = width;
        m_height = height;
        m_pixels.reset(new unsigned char[size_t(width) * height * 4]);
        for (int y = 0; y < height; ++y) {
            const unsigned char* row = reinterpret_cast<const unsigned char*>(bytes.data()) + offset +
                                       stride * size_t(bottomUp ? height - 1 - y : y);
            for (int x = 0; x < width; ++x) {
                unsigned char* p = &m_pixels[(size_t(y) * width + x) * 4];
                p[0] = row[x * (bits / 8)];
                p[1] = row[x * (bits / 8) + 1];
                p[2] = row[x * (bits / 8) + 2];
                p[3] = 255;
            }
        }
        m_ok = true;
    }
}

Screenshot::~Screenshot() {
    if (!m_path.empty()) DeleteFileW(m_path.c_str());
}

Rgb Screenshot::At(int x, int y) const {
    if (!m_ok || x < 0 || y < 0 || x >= m_width || y >= m_height) return Rgb{-1, -1, -1};
    const unsigned char* p = &m_pixels[(size_t(y) * m_width + x) * 4];
    return Rgb{p[2], p[1], p[0]};
}

bool Screenshot::SaveCopy(const std::wstring& path) const {
    return m_ok && CopyFileW(m_path.c_str(), path.c_str(), FALSE);
}

}  // namespace testing_support
