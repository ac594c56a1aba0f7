#include "update/StreamedInstall.h"

#include <windows.h>

#include <atomic>

#include "platform/BackgroundJob.h"
#include "platform/Sha256.h"
#include "transfer/ArrivalCheck.h"
#include "transfer/Download.h"
#include "transfer/Extract7z.h"
#include "transfer/FolderStream.h"
#include "transfer/PackageParts.h"
#include "transfer/ResumableSink.h"
#include "update/DownloadStatus.h"
#include "update/GameFolders.h"

namespace {

std::atomic<uint64_t> g_downloadMs{0}, g_decoderWaitedMs{0};
std::atomic<unsigned> g_decoders{0};

StreamedOutcome Outcome(StreamedResult result, int32_t code = 0, int unpackError = 0) {
    StreamedOutcome outcome;
    outcome.result = result;
    outcome.code = code;
    outcome.unpackError = unpackError;
    return outcome;
}

StreamedOutcome Failure(int32_t code, int unpackError = 0) { return Outcome(StreamedResult::Failed, code, unpackError); }

// The decoder's threads, unpacking the package as its bytes are checked: the solid blocks are
// dealt out in turn, so each thread takes the next block to arrive. However the download ends,
// the threads are let go (the check abandoned) and joined before anything they read goes.
class Decoders {
public:
    Decoders(const StreamedTarget& target, ArrivalCheck& check, uint64_t unpackedBytes, const StopFlag* stop)
        : m_check(check), m_parts(Lzma2DecoderThreads()) {
        for (unsigned k = 0; k < m_parts.size(); ++k) {
            Part& part = m_parts[k];
            part.scope.part = k;
            part.scope.parts = unsigned(m_parts.size());
            part.scope.bytesTotal = unpackedBytes;
            part.scope.sharedWritten = &m_written;
            part.job.Start([this, &part, &target, stop] {
                part.result = EXTRACT_NO_MEMORY;  // stays if the extraction throws
                part.result = Extract7zArriving(target.partsPath, target.packageFile, m_check, target.stagedDir + L"\\",
                                                &m_progress, stop, &part.scope);
            });
        }
    }
    ~Decoders() { Stop(); }
    Decoders(const Decoders&) = delete;
    Decoders& operator=(const Decoders&) = delete;

    void Stop() {
        m_check.Abandon();
        for (Part& part : m_parts) part.job.Join();
    }
    unsigned Threads() const { return unsigned(m_parts.size()); }
    // Waits for the unpacking to end, its progress shown meanwhile. The first extraction code
    // that is not 0.
    int Finish(AtomicInt& progress) {
        for (Part& part : m_parts) {
            while (!part.job.Done()) {
                progress = m_progress.load();
                Sleep(50);
            }
            part.job.Join();
        }
        progress = PROGRESS_FULL;
        for (const Part& part : m_parts)
            if (part.result != 0) return part.result;
        return 0;
    }

private:
    struct Part {
        ExtractScope scope;
        int result = 0;
        BackgroundJob job;
    };
    ArrivalCheck& m_check;
    std::atomic<uint64_t> m_written{0};
    AtomicInt m_progress{0};  // shown only once the download is done
    std::vector<Part> m_parts;  // joined first
};

// The start and end headers, by range, into the parts file; then the database read from there.
StreamedOutcome FetchHeaders(const PackageIndex& index, PackageSources& urls, const StreamedTarget& target,
                             UpdateTask& task) {
    PackageParts parts(target.partsPath, index.packageSize, target.identity);
    if (!parts.Open()) return Failure(LAUNCH_ERR_EXTRACT, EXTRACT_OUTPUT_FAILED);
    switch (parts.Fetch(urls, {index.startHeader, index.endHeader}, nullptr, &task.stop)) {
    case PartsResult::Done:
        break;
    case PartsResult::RangeRefused:
    case PartsResult::WrongBytes:
        parts.Discard();
        return Outcome(StreamedResult::FallBack);
    case PartsResult::WriteFailed:
        return Failure(LAUNCH_ERR_EXTRACT, EXTRACT_OUTPUT_FAILED);
    case PartsResult::Failed:
    case PartsResult::Stopped:
        return Failure(LAUNCH_ERR_PACKAGE_DOWNLOAD);
    }
    parts.Close();
    PackageSummary summary;
    const int code = InspectPackage(target.partsPath, summary);
    if (code != 0) return Failure(LAUNCH_ERR_EXTRACT, code);
    return Outcome(StreamedResult::Done);
}

// How a download begins with what the temp folder holds.
enum class Begin {
    Continue,   // a partial file of this package, as its record allows, from its server
    Afresh,     // from the first byte
    Elsewhere,  // the first bytes kept (those checked), the rest from the current server
};

struct Attempt {
    StreamedOutcome outcome;
    bool restart = false;  // the server would not continue the partial file: from its first byte
    bool moveOn = false;   // the server failed, or its bytes were not the package's
    uint64_t keep = 0;     // with moveOn: how many first bytes the next server may go on from
};

// One download of the package from the current server, with the decoder behind it.
Attempt DownloadAndDecode(const ManifestFields& server, const PackageIndex& index, const std::vector<ByteSpan>& spans,
                          PackageSources& urls, const StreamedTarget& target, UpdateTask& task, Begin begin,
                          uint64_t keep) {
    Attempt attempt;
    attempt.outcome = Failure(LAUNCH_ERR_PACKAGE_DOWNLOAD);
    ResumeRecord wanted;
    wanted.url = server.packageUrl;
    wanted.hasSize = server.hasPackageSize;
    wanted.size = server.packageSize;
    if (server.hasPackageSha256) wanted.sha256 = Sha256Hex(server.packageSha256);
    ArrivalCheck check(spans);
    ResumableSink sink(target.packageFile, wanted, server.hasPackageSha256);
    sink.NeverRestartInPlace();
    sink.CheckAlso(&check);
    const bool opened = begin == Begin::Afresh      ? sink.StartAfresh()
                        : begin == Begin::Elsewhere ? sink.ContinueElsewhere(keep)
                                                    : sink.Prepare();
    if (!opened) return attempt;
    if (begin == Begin::Continue) urls.StartAt(sink.SavedSource());
    sink.FetchFrom(urls.Current());

    Decoders decoder(target, check, UnpackedBytes(index), &task.stop);
    DownloadProgress progress{&task.packageProgress, 0, &task.stop};
    DownloadStatusReporter status(task.status, server.hasPackageSize, server.packageSize);
    if (target.showBytes) progress.bytes = [&status](uint64_t received, uint64_t total) { status.Seen(received, total); };
    const ULONGLONG started = GetTickCount64();
    bool ok = DownloadFile(&progress, urls.Current().c_str(), sink) == 0;
    ok = sink.Close() && ok;
    check.Close();
    g_downloadMs = GetTickCount64() - started;
    g_decoderWaitedMs = check.WaitedMs();
    g_decoders = decoder.Threads();
    bool foreign = check.Mismatched() || sink.Exceeded();  // bytes that are not the package's
    if (ok) {
        task.packageProgress = PROGRESS_FULL;
        Sha256Digest digest{};
        const bool hashed = server.hasPackageSha256 && sink.Digest(digest);
        ok = PackageMatches(server.hasPackageSize, server.packageSize, sink.Size(), server.hasPackageSha256,
                            server.packageSha256, hashed, digest);
        foreign = foreign || !ok;
    }
    if (!ok) {
        check.WaitFor(sink.Size());  // what is queued is judged before the decoders are let go
        decoder.Stop();  // before the file it reads may go
        foreign = foreign || check.Mismatched();
        attempt.moveOn = !StopRequested(&task.stop);
        // What the check let through is the package's, whoever sent what came after it.
        attempt.keep = check.Mismatched() ? check.CheckedEnd() : foreign ? 0 : UINT64_MAX;
        if (foreign && (attempt.keep == 0 || urls.IsLast())) sink.Discard();  // never installed, never continued
        attempt.restart = sink.RestartNeeded() && !foreign;
        return attempt;
    }
    DeleteFileW(sink.RecordPath().c_str());

    task.status.Set(target.unpackStatus);
    const int code = decoder.Finish(task.unpackProgress);
    if (check.Mismatched()) {  // the package's hash matched, its index did not
        decoder.Stop();
        sink.Discard();
        return attempt;
    }
    attempt.outcome = code != 0 ? Failure(LAUNCH_ERR_EXTRACT, code) : Outcome(StreamedResult::Done);
    return attempt;
}

}  // namespace

StreamedFigures LastStreamedFigures() {
    return StreamedFigures{g_downloadMs.load(), g_decoders.load(), g_decoderWaitedMs.load()};
}

StreamedOutcome InstallWhileDownloading(const ManifestFields& server, const PackageIndex& index, PackageSources& urls,
                                        const StreamedTarget& target, UpdateTask& task) {
    const std::vector<ByteSpan> spans = SpansInPackageOrder(index);
    if (spans.empty()) return Outcome(StreamedResult::FallBack);
    const StreamedOutcome headers = FetchHeaders(index, urls, target, task);
    if (headers.result != StreamedResult::Done) return headers;
    // A server that will not continue the partial file is asked once for the whole; one that
    // fails hands over to the next, which goes on from the bytes kept. Each new start unpacks
    // from the first block again.
    Begin begin = Begin::Continue;
    uint64_t keep = 0;
    bool restarted = false;
    for (;;) {
        const Attempt attempt = DownloadAndDecode(server, index, spans, urls, target, task, begin, keep);
        if (attempt.restart && !restarted) {
            restarted = true;
            begin = Begin::Afresh;
        } else if (attempt.moveOn && urls.MoveOn()) {
            begin = Begin::Elsewhere;
            keep = attempt.keep;
        } else {
            return attempt.outcome;
        }
        if (!RemoveStagedGame(target.stagedDir)) return Failure(LAUNCH_ERR_SWAP);
    }
}
