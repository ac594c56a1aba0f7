#include <gtest/gtest.h>

#include "update/DownloadStatus.h"

namespace {
constexpr uint64_t KiB = 1024, MiB = KiB * 1024, GiB = MiB * 1024;
}  // namespace

TEST(DownloadStatus, SizesInStepsOf1024WithOneDecimalFromMegabytesOn) {
    struct Case { uint64_t bytes; const wchar_t* text; };
    const Case cases[] = {
        {0, L"0 B"},
        {1023, L"1023 B"},
        {1024, L"1 KB"},
        {MiB - 1, L"1023 KB"},
        {MiB, L"1.0 MB"},
        {MiB * 123 / 10, L"12.2 MB"},      // 12.29...: cut, not rounded up
        {GiB - 1, L"1023.9 MB"},          // never the next unit's "1024.0"
        {GiB * 12 / 10 + 1, L"1.2 GB"},
        {5000 * GiB, L"5000.0 GB"},        // past 4 GiB: 64-bit arithmetic
    };
    for (const Case& c : cases) EXPECT_EQ(FormatByteSize(c.bytes), c.text) << c.bytes;
}

TEST(DownloadStatus, TimeLeftInSecondsMinutesOrHoursAndMinutes) {
    struct Case { uint64_t seconds; const wchar_t* text; };
    const Case cases[] = {
        {0, L"剩余约 1 秒"},
        {59, L"剩余约 59 秒"},
        {60, L"剩余约 1 分钟"},
        {89, L"剩余约 1 分钟"},
        {90, L"剩余约 2 分钟"},
        {3569, L"剩余约 59 分钟"},
        {3570, L"剩余约 1 小时 0 分钟"},
        {3600 * 2 + 60 * 5 + 10, L"剩余约 2 小时 5 分钟"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatTimeLeft(c.seconds), c.text) << c.seconds;
}

TEST(DownloadStatus, TheLineOfEachKindOfMoment) {
    struct Case { const char* label; DownloadFigures f; const wchar_t* text; };
    DownloadFigures running;
    running.received = GiB * 12 / 10 + 1;
    running.totalKnown = true;
    running.total = GiB * 34 / 10 + 1;
    running.speedKnown = true;
    running.bytesPerSecond = MiB * 123 / 10 + 1;
    DownloadFigures noTotal = running;
    noTotal.totalKnown = false;
    DownloadFigures waiting = running;
    waiting.waiting = true;
    DownloadFigures starting = running;
    starting.speedKnown = false;
    const Case cases[] = {
        {"sizes, speed, time left", running, L"正在下载更新包... 1.2 GB / 3.4 GB，12.3 MB/s，剩余约 3 分钟"},
        {"no total: size so far and speed", noTotal, L"正在下载更新包... 1.2 GB，12.3 MB/s"},
        {"nothing for five seconds", waiting, L"正在下载更新包... 1.2 GB / 3.4 GB，等待服务器响应..."},
        {"speed not known yet", starting, L"正在下载更新包... 1.2 GB / 3.4 GB"},
    };
    for (const Case& c : cases) EXPECT_EQ(DownloadStatusLine(c.f), c.text) << c.label;
}

TEST(DownloadStatus, TheSpeedIsTakenOverTheLastSecondsAndAPauseShows) {
    DownloadRate rate;
    rate.Add(0, 0);
    rate.Add(500, 10 * MiB);
    EXPECT_FALSE(rate.Figures(true, 100 * MiB).speedKnown);  // under a second: not yet
    for (uint64_t ms = 1000; ms <= 10000; ms += 1000) rate.Add(ms, ms / 1000 * 10 * MiB);
    DownloadFigures f = rate.Figures(true, 100 * MiB);
    EXPECT_TRUE(f.speedKnown);
    EXPECT_EQ(f.bytesPerSecond, 10 * MiB);
    EXPECT_EQ(f.received, 100 * MiB);
    EXPECT_FALSE(f.waiting);
    // A burst counts only as much as the last five seconds say: from 60 MiB at 6 s to 150 MiB at 11 s.
    rate.Add(11000, 150 * MiB);
    EXPECT_EQ(rate.Figures(true, 0).bytesPerSecond, 18 * MiB);
    // Nothing for five seconds.
    for (uint64_t ms = 12000; ms <= 16000; ms += 1000) rate.Add(ms, 150 * MiB);
    EXPECT_TRUE(rate.Figures(true, 200 * MiB).waiting);
    rate.Add(16500, 151 * MiB);
    EXPECT_FALSE(rate.Figures(true, 200 * MiB).waiting);
}
