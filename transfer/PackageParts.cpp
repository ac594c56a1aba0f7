#include "transfer/PackageParts.h"

#include <winioctl.h>

#include <algorithm>
#include <functional>
#include <atomic>
#include <memory>
#include <sstream>

#include "platform/FileSystem.h"
#include "platform/Sha256.h"
#include "rules/ManifestFields.h"
#include "platform/Progress.h"

namespace {

std::atomic<unsigned> g_requests{0};
std::atomic<uint64_t> g_bytes{0};

const char kRecordFirstWord[] = "quenby-parts 1 ";

bool SpanHashesTo(HANDLE file, const ByteSpan& span) {
    Sha256 hash;
    std::vector<uint8_t> block(1 << 20);
    for (uint64_t done = 0; done < span.length;) {
        const DWORD n = DWORD(std::min<uint64_t>(block.size(), span.length - done));
        if (!ReadFileAt(file, span.offset + done, block.data(), n)) return false;
        hash.Add(block.data(), n);
        done += n;
    }
    Sha256Digest digest{};
    return hash.Finish(digest) && digest == span.sha256;
}

bool SameSpan(const ByteSpan& a, const ByteSpan& b) {
    return a.offset == b.offset && a.length == b.length && a.sha256 == b.sha256;
}

// One single-range request: the bytes go to their own offsets in the file, and each span inside
// the request is hashed as it passes and checked the moment its last byte arrives.
class RangeSink : public DownloadSink {
public:
    RangeSink(HANDLE file, const ByteSpan& request, uint64_t packageSize, std::vector<ByteSpan> spans,
              AtomicInt* progress, uint64_t doneBefore, uint64_t total, std::function<void(const ByteSpan&)> arrived)
        : m_file(file), m_request(request), m_packageSize(packageSize), m_spans(std::move(spans)),
          m_at(request.offset), m_progress(progress), m_doneBefore(doneBefore), m_total(total),
          m_arrived(std::move(arrived)) {}

    std::string RequestedRange() const override {
        return std::to_string(m_request.offset) + "-" + std::to_string(m_request.End() - 1);
    }
    int64_t BeginBody(const ResponseStart& response) override {
        if (response.status != 206 ||
            !IsContentRange(response.contentRange, m_request.offset, m_request.End() - 1, m_packageSize)) {
            m_refused = true;
            return -1;
        }
        return 0;
    }
    bool Write(const char* data, size_t size) override {
        if (size > m_request.End() - m_at) {  // more than asked for
            m_refused = true;
            return false;
        }
        if (size > 0 && !WriteFileAt(m_file, m_at, data, DWORD(size))) {
            m_writeFailed = true;
            return false;
        }
        g_bytes += size;
        const uint64_t end = m_at + size;
        while (m_next < m_spans.size() && m_at < end) {
            const ByteSpan& span = m_spans[m_next];
            if (m_at < span.offset) {  // bytes between spans: fetched, never used
                m_at = std::min(end, span.offset);
                continue;
            }
            if (!m_hash) m_hash.reset(new Sha256());
            const uint64_t take = std::min(end, span.End()) - m_at;
            m_hash->Add(data + (m_at - (end - size)), size_t(take));
            m_at += take;
            m_counted += take;
            if (m_at == span.End()) {
                Sha256Digest digest{};
                const bool ok = m_hash->Finish(digest) && digest == span.sha256;
                m_hash.reset();
                if (!ok) {
                    m_wrongBytes = true;
                    return false;
                }
                m_checked.push_back(span);
                m_arrived(span);
                ++m_next;
            }
        }
        m_at = end;
        if (m_progress && m_total)
            m_progress->store(int32_t(std::min<uint64_t>(PROGRESS_FULL, (m_doneBefore + m_counted) * PROGRESS_FULL / m_total)));
        return true;
    }

    bool Refused() const { return m_refused; }
    bool WrongBytes() const { return m_wrongBytes; }
    bool WriteFailed() const { return m_writeFailed; }
    bool Complete() const { return m_at == m_request.End() && m_next == m_spans.size(); }
    const std::vector<ByteSpan>& Checked() const { return m_checked; }
    uint64_t Counted() const { return m_counted; }

private:
    HANDLE m_file;
    ByteSpan m_request;
    uint64_t m_packageSize;
    std::vector<ByteSpan> m_spans;
    uint64_t m_at;
    size_t m_next = 0;
    std::unique_ptr<Sha256> m_hash;
    std::vector<ByteSpan> m_checked;
    AtomicInt* m_progress;
    uint64_t m_doneBefore, m_total, m_counted = 0;
    std::function<void(const ByteSpan&)> m_arrived;
    bool m_refused = false, m_wrongBytes = false, m_writeFailed = false;
};

}  // namespace

PartsCounters PackagePartsCounters() { return PartsCounters{g_requests.load(), g_bytes.load()}; }
void ResetPackagePartsCounters() {
    g_requests = 0;
    g_bytes = 0;
}

std::string FormatPartsRecord(const std::string& identity, const std::vector<ByteSpan>& spans) {
    std::string text = kRecordFirstWord + identity + "\n";
    for (const ByteSpan& span : spans)
        text += std::to_string(span.offset) + " " + std::to_string(span.length) + " " + Sha256Hex(span.sha256) + "\n";
    return text;
}

bool ParsePartsRecord(const std::string& text, const std::string& identity, std::vector<ByteSpan>& spans) {
    spans.clear();
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kRecordFirstWord + identity) return false;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        ByteSpan span;
        std::string hash, rest;
        if (!(fields >> span.offset >> span.length >> hash) || (fields >> rest) || !ParseSha256Hex(hash, span.sha256))
            return false;
        spans.push_back(span);
    }
    return true;
}

PackageParts::PackageParts(const std::wstring& path, uint64_t packageSize, const std::string& identity)
    : m_path(path), m_recordPath(path + L".list"), m_packageSize(packageSize), m_identity(identity) {}

bool PackageParts::Open() {
    m_file.Reset(CreateFileW(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_file.IsValid()) return false;
    // The gaps between spans take no room where the volume allows it.
    DWORD returned = 0;
    DeviceIoControl(m_file.Get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    std::vector<ByteSpan> here;
    std::string text;
    std::vector<ByteSpan> listed;
    if (ReadWholeFile(m_recordPath, text) && ParsePartsRecord(text, m_identity, listed))
        for (const ByteSpan& span : listed)
            if (span.offset <= m_packageSize && span.length <= m_packageSize - span.offset &&
                SpanHashesTo(m_file.Get(), span))
                here.push_back(span);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_here = std::move(here);
    m_arriving = true;
    return true;
}

bool PackageParts::Has(const ByteSpan& span) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const ByteSpan& here : m_here)
        if (SameSpan(here, span)) return true;
    return false;
}

std::vector<ByteSpan> PackageParts::Missing(const std::vector<ByteSpan>& wanted) const {
    std::vector<ByteSpan> missing;
    for (const ByteSpan& span : wanted)
        if (!Has(span)) missing.push_back(span);
    return missing;
}

bool PackageParts::SaveRecord() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return WriteWholeFile(m_recordPath, FormatPartsRecord(m_identity, m_here));
}

bool PackageParts::Covered(uint64_t offset, uint64_t end) const {
    for (uint64_t at = offset; at < end;) {
        const auto holder = std::find_if(m_here.begin(), m_here.end(),
                                         [at](const ByteSpan& span) { return span.offset <= at && at < span.End(); });
        if (holder == m_here.end()) return false;
        at = holder->End();
    }
    return true;
}

void PackageParts::Arrived(const ByteSpan& span) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_here.push_back(span);
    m_changed.notify_all();
}

bool PackageParts::WaitFor(uint64_t offset, uint64_t end) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return Covered(offset, end) || !m_arriving; });
    return Covered(offset, end);
}

void PackageParts::EndArrivals() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_arriving = false;
    m_changed.notify_all();
}

PartsResult PackageParts::Fetch(PackageSources& sources, const std::vector<ByteSpan>& wanted, AtomicInt* progress,
                                const StopFlag* stop) {
    for (;;) {
        const PartsResult result = FetchFrom(sources.Current().c_str(), wanted, progress, stop);
        // A server that fails, answers ranges wrongly or sends other bytes hands over to the
        // next, which fetches only what is still missing.
        if (result == PartsResult::Done || result == PartsResult::WriteFailed || result == PartsResult::Stopped ||
            !sources.MoveOn())
            return result;
    }
}

PartsResult PackageParts::FetchFrom(const char* url, const std::vector<ByteSpan>& wanted, AtomicInt* progress,
                                    const StopFlag* stop) {
    const std::vector<ByteSpan> missing = Missing(wanted);
    const uint64_t total = TotalLength(wanted);
    uint64_t done = total - TotalLength(missing);
    size_t next = 0;
    for (const ByteSpan& request : MergeIntoRequests(missing)) {
        std::vector<ByteSpan> inside;
        while (next < missing.size() && missing[next].offset < request.End()) inside.push_back(missing[next++]);
        // Readers may use a span once its bytes are in the file and checked; the record lists
        // it once they are flushed.
        RangeSink sink(m_file.Get(), request, m_packageSize, inside, progress, done, total,
                       [this](const ByteSpan& span) { Arrived(span); });
        DownloadProgress target{nullptr, 0, stop};
        ++g_requests;
        const int result = DownloadFile(&target, url, sink);
        // What was checked is kept, whatever ended the request: the next run need not fetch it.
        if (!sink.Checked().empty()) {
            if (!FlushFileBuffers(m_file.Get()) || !SaveRecord()) return PartsResult::WriteFailed;
        }
        if (sink.WrongBytes()) return PartsResult::WrongBytes;
        if (sink.Refused()) return PartsResult::RangeRefused;
        if (sink.WriteFailed()) return PartsResult::WriteFailed;
        if (StopRequested(stop)) return PartsResult::Stopped;
        if (result != 0 || !sink.Complete()) return PartsResult::Failed;
        done += sink.Counted();
    }
    return PartsResult::Done;
}

void PackageParts::Discard() {
    m_file.Reset();
    DeleteFileW(m_path.c_str());
    DeleteFileW(m_recordPath.c_str());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_here.clear();
    m_arriving = false;
    m_changed.notify_all();
}
