#include "update/DownloadStatus.h"

#include <windows.h>

namespace {

// value / 1024^power with one decimal, cut.
std::wstring OneDecimal(uint64_t bytes, unsigned power) {
    const uint64_t unit = uint64_t(1) << (10 * power);
    const uint64_t tenths = bytes / unit * 10 + bytes % unit * 10 / unit;
    return std::to_wstring(tenths / 10) + L"." + std::to_wstring(tenths % 10);
}

}  // namespace

std::wstring FormatByteSize(uint64_t bytes) {
    if (bytes < (uint64_t(1) << 10)) return std::to_wstring(bytes) + L" B";
    if (bytes < (uint64_t(1) << 20)) return std::to_wstring(bytes >> 10) + L" KB";
    if (bytes < (uint64_t(1) << 30)) return OneDecimal(bytes, 2) + L" MB";
    return OneDecimal(bytes, 3) + L" GB";
}

std::wstring FormatTimeLeft(uint64_t seconds) {
    if (seconds < 60) return L"剩余约 " + std::to_wstring(seconds ? seconds : 1) + L" 秒";
    uint64_t minutes = (seconds + 30) / 60;
    if (minutes < 60) return L"剩余约 " + std::to_wstring(minutes) + L" 分钟";
    const uint64_t hours = minutes / 60;
    minutes %= 60;
    return L"剩余约 " + std::to_wstring(hours) + L" 小时 " + std::to_wstring(minutes) + L" 分钟";
}

std::wstring DownloadStatusLine(const DownloadFigures& f) {
    std::wstring line = L"正在下载更新包... " + FormatByteSize(f.received);
    const bool withTotal = f.totalKnown && f.total >= f.received;
    if (withTotal) line += L" / " + FormatByteSize(f.total);
    if (f.waiting) return line + L"，等待服务器响应...";
    if (!f.speedKnown) return line;
    line += L"，" + FormatByteSize(f.bytesPerSecond) + L"/s";
    if (withTotal && f.bytesPerSecond > 0) {
        const uint64_t left = f.total - f.received;
        line += L"，" + FormatTimeLeft((left + f.bytesPerSecond - 1) / f.bytesPerSecond);
    }
    return line;
}

void DownloadRate::Add(uint64_t nowMs, uint64_t received) {
    if (m_samples.empty() || received != m_samples.back().received) m_lastArrivalMs = nowMs;
    if (!m_samples.empty() && received < m_samples.back().received) m_samples.clear();  // started over
    m_samples.push_back(Sample{nowMs, received});
    // One sample older than the window stays, so the window is always covered.
    while (m_samples.size() > 2 && nowMs - m_samples[1].ms >= DOWNLOAD_RATE_WINDOW_MS) m_samples.pop_front();
}

DownloadFigures DownloadRate::Figures(bool totalKnown, uint64_t total) const {
    DownloadFigures f;
    f.totalKnown = totalKnown;
    f.total = total;
    if (m_samples.empty()) return f;
    const Sample& first = m_samples.front();
    const Sample& last = m_samples.back();
    f.received = last.received;
    f.waiting = last.ms - m_lastArrivalMs >= DOWNLOAD_WAIT_MS;
    const uint64_t span = last.ms - first.ms;
    if (span >= 1000) {
        f.speedKnown = true;
        f.bytesPerSecond = (last.received - first.received) * 1000 / span;
    }
    return f;
}

void DownloadStatusReporter::Seen(uint64_t received, uint64_t announcedTotal) {
    const uint64_t now = GetTickCount64();
    m_rate.Add(now, received);
    if (m_shownMs != 0 && now - m_shownMs < 250) return;
    const bool known = m_totalKnown || announcedTotal > 0;
    const DownloadFigures figures = m_rate.Figures(known, m_totalKnown ? m_total : announcedTotal);
    if (figures.received == 0 && !figures.waiting) return;  // the plain line until bytes come
    m_shownMs = now;
    m_status.Set(DownloadStatusLine(figures));
}
