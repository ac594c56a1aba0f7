// An update that builds the new release in "game.new" from what the installed game already has
// and only the package's byte ranges that hold the rest: files with the same content are
// hard-linked (copied where the volume has no hard links), equal pieces of big files are copied,
// and the other chunks and solid blocks are fetched, checked against the index and decoded. The
// swap that follows is the one of a full update.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/BackgroundJob.h"
#include "rules/PackageIndex.h"
#include "transfer/Extract7z.h"
#include "transfer/PackageParts.h"
#include "transfer/PackageSources.h"
#include "update/UpdatePlan.h"
#include "update/UpdateTask.h"

// The extraction code for a staged game that does not hold exactly the index's files.
inline constexpr int EXTRACT_TREE_MISMATCH = 21;

enum class RangedResult {
    Done,      // the new release is complete in the staged folder
    FallBack,  // the server does not serve the ranges as asked: install the whole package
    Failed,    // code says why
};
struct RangedOutcome {
    RangedResult result = RangedResult::Done;
    int32_t code = 0;     // a LAUNCH_ERR_ code when Failed
    int unpackError = 0;  // the extraction code, with LAUNCH_ERR_EXTRACT
};

struct RangedSource {
    PackageSources* urls = nullptr;  // where the package is, mirrors after the first
    uint64_t packageSize = 0;
    std::string identity;    // size and SHA-256 of the package, for the parts record
    std::wstring partsPath;  // the sparse copy of the fetched spans
    AtomicInt* fetchProgress = nullptr;      // follows the bytes to fetch
    const wchar_t* decodeStatus = nullptr;   // the status line while decoding (null: unchanged)
};

class RangedUpdate {
public:
    // intact: per file of installed, whether it still holds what that index says.
    RangedUpdate(const PackageIndex& next, const PackageIndex& installed, const std::vector<bool>& intact,
                 const std::wstring& gameDir, const std::wstring& stagedDir, const RangedSource& source,
                 UpdateTask& task);

    // Plans the update and opens the parts file (the staged folder is created, empty but for a
    // first hard link that tells whether the volume takes them). False when a file cannot be
    // created.
    bool Prepare();
    // What the staged game and the fetch will take on the install root's volume.
    uint64_t BytesNeeded() const;
    uint64_t BytesToFetch() const { return m_fetchBytes; }
    const UpdatePlan& Plan() const { return m_plan; }

    RangedOutcome Run();

private:
    RangedOutcome Failure(int32_t code, int unpackError = 0);
    bool MakeFolders();
    bool PlaceLinkedFiles();
    bool PlaceFile(size_t file, bool tryLink);
    bool CopyPieces();
    RangedOutcome FetchFailure(PartsResult result);
    void ShowWritingUntilDone(const BackgroundJob& a, const BackgroundJob& b);
    int DecodeChunks();
    int DecodeFolders();
    int ExtractPart(const ExtractScope& scope);
    std::wstring Staged(size_t file) const;
    std::wstring Installed(size_t installedFile) const;
    void CountWritten(uint64_t bytes);

    const PackageIndex& m_next;
    const PackageIndex& m_installed;
    std::vector<bool> m_intact;
    std::wstring m_gameDir, m_stagedDir;
    RangedSource m_source;
    UpdateTask& m_task;
    PackageParts m_parts;
    UpdatePlan m_plan;
    std::vector<ByteSpan> m_plannedBlocks;  // as planned, before any copied piece failed its check
    uint64_t m_fetchBytes = 0;
    bool m_linksWork = true;
    bool m_firstLinkPlaced = false;
    std::atomic<uint64_t> m_written{0};  // copied and decoded bytes, from several threads
    AtomicInt m_writing{0};              // their share, shown once the fetch is done
    std::atomic<bool> m_writingShown{false};
};

// Test seam: replaces the system's CreateHardLinkW (null restores it), to stand for a volume
// without hard links.
using HardLinkFunction = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES);
void SetHardLinkCallForTesting(HardLinkFunction function);
