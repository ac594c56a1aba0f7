// The status line of a package download the player can follow: the sizes, the speed and the
// time left, the speed smoothed over the last seconds so the line does not jump.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "platform/SharedText.h"

// "512 B", "12 KB", "12.3 MB", "1.2 GB": steps of 1024, one decimal (cut, not rounded up) from
// MB on.
std::wstring FormatByteSize(uint64_t bytes);
// "剩余约 N 秒", "剩余约 N 分钟" or "剩余约 N 小时 M 分钟" (at least 1 second).
std::wstring FormatTimeLeft(uint64_t seconds);

struct DownloadFigures {
    uint64_t received = 0;
    bool totalKnown = false;
    uint64_t total = 0;
    bool speedKnown = false;
    uint64_t bytesPerSecond = 0;
    bool waiting = false;  // nothing has arrived for DOWNLOAD_WAIT_MS
};
// "正在下载更新包... 1.2 GB / 3.4 GB，12.3 MB/s，剩余约 3 分钟"; without a total, the size so
// far and the speed; while waiting, "…，等待服务器响应..." in place of the speed; before the speed
// is known, the sizes alone.
std::wstring DownloadStatusLine(const DownloadFigures& figures);

inline constexpr uint64_t DOWNLOAD_RATE_WINDOW_MS = 5000;
inline constexpr uint64_t DOWNLOAD_WAIT_MS = 5000;

// The speed over the last DOWNLOAD_RATE_WINDOW_MS, from what had arrived at each moment.
class DownloadRate {
public:
    // received: all bytes so far (a continued file's included), at nowMs (any steady clock).
    void Add(uint64_t nowMs, uint64_t received);
    // The figures at the last sample.
    DownloadFigures Figures(bool totalKnown, uint64_t total) const;

private:
    struct Sample {
        uint64_t ms, received;
    };
    std::deque<Sample> m_samples;
    uint64_t m_lastArrivalMs = 0;
};

// Shows a package download on the status line, a few times a second: fed by the transfer's
// DownloadProgress::bytes. The manifest's size, when it gives one, is the total.
class DownloadStatusReporter {
public:
    DownloadStatusReporter(SharedText& status, bool totalKnown, uint64_t total)
        : m_status(status), m_totalKnown(totalKnown), m_total(total) {}
    void Seen(uint64_t received, uint64_t announcedTotal);

private:
    SharedText& m_status;
    bool m_totalKnown;
    uint64_t m_total;
    DownloadRate m_rate;
    uint64_t m_shownMs = 0;
};
