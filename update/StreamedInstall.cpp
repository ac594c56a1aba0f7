#include "update/StreamedInstall.h"

#include <windows.h>


#include "platform/BackgroundJob.h"
#include "platform/Sha256.h"
#include "transfer/ArrivalCheck.h"
#include "transfer/Download.h"
#include "transfer/Extract7z.h"
#include "transfer/PackageParts.h"
#include "transfer/ResumableSink.h"
#include "update/GameFolders.h"

namespace {

StreamedOutcome Outcome(StreamedResult result, int32_t code = 0, int unpackError = 0) {
    StreamedOutcome outcome;
    outcome.result = result;
    outcome.code = code;
    outcome.unpackError = unpackError;
    return outcome;
}

StreamedOutcome Failure(int32_t code, int unpackError = 0) { return Outcome(StreamedResult::Failed, code, unpackError); }

// The decoder's thread, unpacking the package as its bytes are checked. However the download
// ends, the thread is let go (the check abandoned) and joined before anything it reads goes.
class DecoderThread {
public:
    DecoderThread(const StreamedTarget& target, ArrivalCheck& check, const StopFlag* stop) : m_check(check) {
        m_job.Start([this, &target, stop] {
            m_result = EXTRACT_NO_MEMORY;  // unless it returns
            m_result = Extract7zArriving(target.partsPath, target.packageFile, m_check, target.stagedDir + L"\\",
                                         &m_progress, stop);
        });
    }
    ~DecoderThread() { Stop(); }
    DecoderThread(const DecoderThread&) = delete;
    DecoderThread& operator=(const DecoderThread&) = delete;

    void Stop() {
        m_check.Abandon();
        m_job.Join();
    }
    // Waits for the unpacking to end, its progress shown meanwhile. The extraction's code.
    int Finish(AtomicInt& progress) {
        while (!m_job.Done()) {
            progress = m_progress.load();
            Sleep(50);
        }
        m_job.Join();
        progress = m_progress.load();
        return m_result;
    }

private:
    ArrivalCheck& m_check;
    AtomicInt m_progress{0};  // shown only once the download is done
    int m_result = 0;
    BackgroundJob m_job;      // joined first
};

// The start and end headers, by range, into the parts file; then the database read from there.
StreamedOutcome FetchHeaders(const ManifestFields& server, const PackageIndex& index, const StreamedTarget& target,
                             UpdateTask& task) {
    PackageParts parts(target.partsPath, index.packageSize, target.identity);
    if (!parts.Open()) return Failure(LAUNCH_ERR_EXTRACT, EXTRACT_OUTPUT_FAILED);
    switch (parts.Fetch(server.packageUrl.c_str(), {index.startHeader, index.endHeader}, nullptr, &task.stop)) {
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

// One download of the package with the decoder behind it. restart: the server would not
// continue the partial file, and the caller may try once more from its first byte.
StreamedOutcome DownloadAndDecode(const ManifestFields& server, const std::vector<ByteSpan>& spans,
                                  const StreamedTarget& target, UpdateTask& task, bool afresh, bool& restart) {
    restart = false;
    ResumeRecord wanted;
    wanted.url = server.packageUrl;
    wanted.hasSize = server.hasPackageSize;
    wanted.size = server.packageSize;
    if (server.hasPackageSha256) wanted.sha256 = Sha256Hex(server.packageSha256);
    ArrivalCheck check(spans);
    ResumableSink sink(target.packageFile, wanted, server.hasPackageSha256);
    sink.NeverRestartInPlace();
    sink.CheckAlso(&check);
    if (!(afresh ? sink.StartAfresh() : sink.Prepare())) return Failure(LAUNCH_ERR_PACKAGE_DOWNLOAD);

    DecoderThread decoder(target, check, &task.stop);
    DownloadProgress progress{&task.packageProgress, 0, &task.stop};
    bool ok = DownloadFile(&progress, server.packageUrl.c_str(), sink) == 0;
    ok = sink.Close() && ok;
    check.Close();
    bool discard = check.Mismatched() || sink.Exceeded();
    if (ok) {
        task.packageProgress = PROGRESS_FULL;
        Sha256Digest digest{};
        const bool hashed = server.hasPackageSha256 && sink.Digest(digest);
        ok = PackageMatches(server.hasPackageSize, server.packageSize, sink.Size(), server.hasPackageSha256,
                            server.packageSha256, hashed, digest);
        discard = discard || !ok;  // never installed, never continued
    }
    if (!ok) {
        decoder.Stop();  // before the file it reads may go
        discard = discard || check.Mismatched();
        if (discard) sink.Discard();
        restart = sink.RestartNeeded() && !discard;
        return Failure(LAUNCH_ERR_PACKAGE_DOWNLOAD);
    }
    DeleteFileW(sink.RecordPath().c_str());

    task.status.Set(target.unpackStatus);
    const int code = decoder.Finish(task.unpackProgress);
    if (check.Mismatched()) {  // the package's hash matched, its index did not
        decoder.Stop();
        sink.Discard();
        return Failure(LAUNCH_ERR_PACKAGE_DOWNLOAD);
    }
    if (code != 0) return Failure(LAUNCH_ERR_EXTRACT, code);
    return Outcome(StreamedResult::Done);
}

}  // namespace

StreamedOutcome InstallWhileDownloading(const ManifestFields& server, const PackageIndex& index,
                                        const StreamedTarget& target, UpdateTask& task) {
    const std::vector<ByteSpan> spans = SpansInPackageOrder(index);
    if (spans.empty()) return Outcome(StreamedResult::FallBack);
    const StreamedOutcome headers = FetchHeaders(server, index, target, task);
    if (headers.result != StreamedResult::Done) return headers;
    bool restart = false;
    StreamedOutcome outcome = DownloadAndDecode(server, spans, target, task, false, restart);
    if (!restart) return outcome;
    if (!RemoveStagedGame(target.stagedDir)) return Failure(LAUNCH_ERR_SWAP);
    return DownloadAndDecode(server, spans, target, task, true, restart);
}
