#include "update/RangedUpdate.h"

#include <algorithm>
#include <atomic>

#include "platform/DurableFile.h"
#include "platform/FileSystem.h"
#include "platform/Sha256.h"
#include "rules/Lzma2Piece.h"
#include "transfer/Extract7z.h"
#include "transfer/FolderStream.h"
#include "update/FileStamps.h"
#include "update/GameFolders.h"

namespace {

std::atomic<HardLinkFunction> g_hardLink{CreateHardLinkW};

constexpr size_t kBlock = 1 << 20;

// A copy that is on the disk when it returns (CopyFileW keeps the last-write time).
bool DurableCopy(const std::wstring& from, const std::wstring& to) {
    if (!CopyFileW(from.c_str(), to.c_str(), TRUE)) return false;
    scoped::Handle file(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.IsValid() && FlushAndClose(file);
}

}  // namespace

void SetHardLinkCallForTesting(HardLinkFunction function) { g_hardLink = function ? function : CreateHardLinkW; }

RangedUpdate::RangedUpdate(const PackageIndex& next, const PackageIndex& installed, const std::vector<bool>& intact,
                           const std::wstring& gameDir, const std::wstring& stagedDir, const RangedSource& source,
                           UpdateTask& task)
    : m_next(next), m_installed(installed), m_intact(intact), m_gameDir(gameDir), m_stagedDir(stagedDir),
      m_source(source), m_task(task), m_parts(source.partsPath, source.packageSize, source.identity) {}

std::wstring RangedUpdate::Staged(size_t file) const { return IndexPathOnDisk(m_stagedDir, m_next.files[file].path); }
std::wstring RangedUpdate::Installed(size_t file) const { return IndexPathOnDisk(m_gameDir, m_installed.files[file].path); }

void RangedUpdate::CountWritten(uint64_t bytes) {
    const uint64_t written = m_written += bytes;
    if (m_plan.writeBytes > 0)
        m_writing = int32_t(std::min<uint64_t>(written, m_plan.writeBytes) * PROGRESS_FULL / m_plan.writeBytes);
    if (m_writingShown) m_task.unpackProgress = m_writing.load();
}

RangedOutcome RangedUpdate::Failure(int32_t code, int unpackError) {
    RangedOutcome outcome;
    outcome.result = RangedResult::Failed;
    outcome.code = code;
    outcome.unpackError = unpackError;
    return outcome;
}

bool RangedUpdate::Prepare() {
    m_plan = PlanUpdate(m_next, m_installed, m_intact);
    if (!m_parts.Open() || !MakeFolders()) return false;
    m_plannedBlocks = BlocksToFetch(m_next, m_plan);
    m_fetchBytes = TotalLength(FetchRequests(m_parts.Missing(HeadersToFetch(m_next, m_plan)), m_parts.Missing(m_plannedBlocks)));
    // The first link tells whether the volume takes hard links; where it does not, every linked
    // file becomes a copy, and the space check counts them.
    for (size_t i = 0; i < m_plan.files.size(); ++i) {
        if (m_plan.files[i].action != FileAction::Link) continue;
        m_linksWork = g_hardLink.load()(Staged(i).c_str(), Installed(m_plan.files[i].source).c_str(), nullptr) != FALSE;
        m_firstLinkPlaced = m_linksWork;
        break;
    }
    return true;
}

uint64_t RangedUpdate::BytesNeeded() const {
    return m_fetchBytes + m_plan.writeBytes + (m_linksWork ? 0 : m_plan.linkBytes);
}

bool RangedUpdate::MakeFolders() {
    if (!CreateDirectoryTree(m_stagedDir)) return false;
    for (const std::string& path : m_next.directories)
        if (!CreateDirectoryTree(m_stagedDir + L"\\" + WindowsIndexPath(path))) return false;
    for (const IndexFile& file : m_next.files) {
        const std::wstring path = WindowsIndexPath(file.path);
        const size_t slash = path.rfind(L'\\');
        if (slash != std::wstring::npos && !CreateDirectoryTree(m_stagedDir + L"\\" + path.substr(0, slash))) return false;
    }
    return true;
}

bool RangedUpdate::PlaceFile(size_t i, bool tryLink) {
    const std::wstring target = Staged(i), source = Installed(m_plan.files[i].source);
    if (tryLink && g_hardLink.load()(target.c_str(), source.c_str(), nullptr)) return true;
    if (!DurableCopy(source, target)) return false;
    CountWritten(m_next.files[i].size);
    return true;
}

bool RangedUpdate::PlaceLinkedFiles() {
    bool firstSkipped = !m_firstLinkPlaced;
    for (size_t i = 0; i < m_plan.files.size(); ++i) {
        const FilePlan& step = m_plan.files[i];
        if (step.action == FileAction::Empty) {
            scoped::Handle file(CreateFileW(Staged(i).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file.IsValid() || !FlushAndClose(file)) return false;
            continue;
        }
        if (step.action != FileAction::Link) continue;
        if (!firstSkipped) {  // placed by Prepare
            firstSkipped = true;
            continue;
        }
        if (!PlaceFile(i, m_linksWork)) return false;
    }
    return true;
}

// Each piece the installed file shares is copied and checked as it is read; a piece whose
// bytes are not what its index says (the player changed the file) is fetched instead.
bool RangedUpdate::CopyPieces() {
    std::vector<uint8_t> block(kBlock);
    for (size_t i = 0; i < m_plan.files.size(); ++i) {
        FilePlan& step = m_plan.files[i];
        if (step.action != FileAction::Rebuild) continue;
        scoped::Handle out(CreateFileW(Staged(i).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out.IsValid()) return false;
        if (std::find(step.copyPiece.begin(), step.copyPiece.end(), true) == step.copyPiece.end()) {
            if (!FlushAndClose(out)) return false;
            continue;
        }
        scoped::Handle in(CreateFileW(Installed(step.source).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        const std::vector<IndexChunk>& chunks = m_next.folders[size_t(m_next.files[i].folder)].chunks;
        for (size_t k = 0; k < chunks.size(); ++k) {
            if (!step.copyPiece[k]) continue;
            Sha256 hash;
            bool read = in.IsValid();
            for (uint64_t done = 0; read && done < chunks[k].unpackLength;) {
                const DWORD n = DWORD(std::min<uint64_t>(block.size(), chunks[k].unpackLength - done));
                read = ReadFileAt(in.Get(), chunks[k].unpackOffset + done, block.data(), n);
                if (!read) break;
                hash.Add(block.data(), n);
                if (!WriteFileAt(out.Get(), chunks[k].unpackOffset + done, block.data(), n)) return false;
                done += n;
            }
            Sha256Digest digest{};
            if (read && hash.Finish(digest) && digest == chunks[k].unpackSha256)
                CountWritten(chunks[k].unpackLength);
            else
                step.copyPiece[k] = false;
        }
        if (!FlushAndClose(out)) return false;
    }
    return true;
}

RangedOutcome RangedUpdate::FetchFailure(PartsResult result) {
    switch (result) {
    case PartsResult::RangeRefused:
    case PartsResult::WrongBytes: {
        m_parts.Discard();
        RangedOutcome outcome;
        outcome.result = RangedResult::FallBack;
        return outcome;
    }
    case PartsResult::WriteFailed:
        return Failure(LAUNCH_ERR_EXTRACT, EXTRACT_OUTPUT_FAILED);
    default:
        return Failure(LAUNCH_ERR_PACKAGE_DOWNLOAD);
    }
}

// The chunks fetched for the files rebuilt piece by piece, each decoded on its own into its
// place and its bytes checked against the index.
int RangedUpdate::DecodeChunks() {
    for (size_t i = 0; i < m_plan.files.size(); ++i) {
        const FilePlan& step = m_plan.files[i];
        if (step.action != FileAction::Rebuild) continue;
        const IndexFolder& folder = m_next.folders[size_t(m_next.files[i].folder)];
        scoped::Handle out(CreateFileW(Staged(i).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out.IsValid()) return EXTRACT_OUTPUT_FAILED;
        for (size_t k = 0; k < folder.chunks.size(); ++k) {
            if (step.copyPiece[k]) continue;
            if (StopRequested(&m_task.stop)) return EXTRACT_STOPPED;
            const IndexChunk& chunk = folder.chunks[k];
            uint64_t readAt = chunk.packed.offset, writeAt = chunk.unpackOffset;
            bool writeFailed = false;
            Sha256 hash;
            const SRes result = DecodeLzma2Piece(
                folder.lzma2Property, chunk.packed.length, chunk.unpackLength,
                [&](uint8_t* data, size_t size) {
                    const bool ok = ReadFileAt(m_parts.Handle(), readAt, data, DWORD(size));
                    readAt += size;
                    return ok;
                },
                [&](const uint8_t* data, size_t size) {
                    hash.Add(data, size);
                    writeFailed = !WriteFileAt(out.Get(), writeAt, data, DWORD(size));
                    writeAt += size;
                    CountWritten(size);
                    return !writeFailed;
                });
            if (writeFailed) return EXTRACT_OUTPUT_FAILED;
            if (result != SZ_OK) return result == SZ_ERROR_MEM ? EXTRACT_NO_MEMORY : result;
            Sha256Digest digest{};
            if (!hash.Finish(digest) || digest != chunk.unpackSha256) return SZ_ERROR_CRC;
        }
        if (!FlushAndClose(out)) return EXTRACT_OUTPUT_FAILED;
    }
    return 0;
}

// The solid blocks fetched, through the extractor reading the sparse copy as the package: the
// archive's own names rules and checksums apply, and only the files planned are written. The
// blocks are shared out among the decoder's threads, each block decoded on one of them.
int RangedUpdate::DecodeFolders() {
    if (!m_plan.needsHeaders) return 0;
    if (!m_parts.WaitFor(m_next.startHeader.offset, m_next.startHeader.End()) ||
        !m_parts.WaitFor(m_next.endHeader.offset, m_next.endHeader.End()))
        return SZ_ERROR_READ;  // the fetch ended first: its own failure is the one told
    PackageSummary summary;
    const int code = InspectPackage(m_source.partsPath, summary);
    if (code != 0) return code;

    std::vector<uint64_t> folderBytes(m_next.folders.size(), 0);
    for (size_t i = 0; i < m_plan.files.size(); ++i) {
        if (m_plan.files[i].action != FileAction::Decode) continue;
        const size_t folder = size_t(m_next.files[i].folder);
        folderBytes[folder] = m_next.folders[folder].unpackSize;
    }
    const std::vector<size_t> share = ShareOutFolders(folderBytes, Lzma2DecoderThreads());
    std::vector<ExtractScope> scopes(*std::max_element(share.begin(), share.end()) + 1);
    for (size_t i = 0; i < m_plan.files.size(); ++i)
        if (m_plan.files[i].action == FileAction::Decode)
            scopes[share[size_t(m_next.files[i].folder)]].names.push_back(WindowsIndexPath(m_next.files[i].path));
    for (ExtractScope& scope : scopes) {
        scope.bytesTotal = m_plan.writeBytes;
        scope.sharedWritten = &m_written;
    }
    std::vector<int> results(scopes.size(), 0);
    {
        std::vector<BackgroundJob> jobs(scopes.size() - 1);  // joined at the end of this block
        for (size_t k = 1; k < scopes.size(); ++k) jobs[k - 1].Start([&, k] { results[k] = ExtractPart(scopes[k]); });
        results[0] = ExtractPart(scopes[0]);
    }
    for (int result : results)
        if (result != 0) return result;
    return 0;
}

// A thread's entry too: nothing is thrown out of it.
int RangedUpdate::ExtractPart(const ExtractScope& scope) {
    try {
        return Extract7z(m_source.partsPath, m_stagedDir + L"\\", &m_writing, &m_task.stop, &scope, &m_parts);
    } catch (...) {
        return EXTRACT_NO_MEMORY;
    }
}

void RangedUpdate::ShowWritingUntilDone(const BackgroundJob& a, const BackgroundJob& b) {
    while (!a.Done() || !b.Done()) {
        m_task.unpackProgress = m_writing.load();
        Sleep(50);
    }
    m_task.unpackProgress = m_writing.load();
}

// The links and copied pieces, the fetch, and the decoding of each fetched block as its bytes
// arrive go on together; the bar follows the fetch until it is done, then the writing.
RangedOutcome RangedUpdate::Run() {
    bool placed = false;
    int blocks = 0;
    BackgroundJob local, decoder;
    local.Start([&] { placed = PlaceLinkedFiles() && CopyPieces(); });
    decoder.Start([&] { blocks = DecodeFolders(); });
    PackageSources& urls = *m_source.urls;
    PartsResult fetched = m_parts.Fetch(urls, HeadersToFetch(m_next, m_plan), nullptr, &m_task.stop);
    if (fetched == PartsResult::Done) fetched = m_parts.Fetch(urls, m_plannedBlocks, m_source.fetchProgress, &m_task.stop);
    m_parts.EndArrivals();  // a block whose bytes did not all come is let go
    if (fetched == PartsResult::Done) {
        if (m_source.fetchProgress) m_source.fetchProgress->store(PROGRESS_FULL);
        if (m_source.decodeStatus) m_task.status.Set(m_source.decodeStatus);
        ShowWritingUntilDone(local, decoder);
    }
    local.Join();
    decoder.Join();
    m_writingShown = true;
    if (fetched != PartsResult::Done) return FetchFailure(fetched);
    if (!placed) return Failure(LAUNCH_ERR_EXTRACT, EXTRACT_OUTPUT_FAILED);
    if (blocks != 0) return Failure(LAUNCH_ERR_EXTRACT, blocks);

    // The pieces the player changed since the install, found while copying, come now.
    fetched = m_parts.Fetch(urls, BlocksToFetch(m_next, m_plan), nullptr, &m_task.stop);
    if (fetched != PartsResult::Done) return FetchFailure(fetched);
    int code = DecodeChunks();
    if (code == 0 && !TreeMatchesIndex(m_stagedDir, m_next)) code = EXTRACT_TREE_MISMATCH;
    m_parts.Close();
    if (code != 0) return Failure(LAUNCH_ERR_EXTRACT, code);
    m_task.unpackProgress = PROGRESS_FULL;
    return RangedOutcome();
}
