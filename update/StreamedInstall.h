// A whole-package install that unpacks while it downloads. The archive's headers are fetched by
// range first; then the package is downloaded from its first byte into the temp folder as any
// package download is (so a cut-short one continues the same way), and every solid block is
// decoded into the staged game on the decoder's threads as soon as its bytes are on the disk and
// match the index, while the download goes on. The whole package's size and SHA-256 from the
// manifest are still checked before the caller may swap anything in.
#pragma once

#include <string>

#include "rules/ManifestFields.h"
#include "rules/PackageIndex.h"
#include "transfer/PackageSources.h"
#include "update/UpdateTask.h"

enum class StreamedResult {
    Done,      // the release is complete in the staged folder
    FallBack,  // the index does not cover the package, or the headers cannot be had by range
    Failed,    // code says why
};
struct StreamedOutcome {
    StreamedResult result = StreamedResult::Done;
    int32_t code = 0;     // a LAUNCH_ERR_ code when Failed
    int unpackError = 0;  // the extraction code, with LAUNCH_ERR_EXTRACT
};

struct StreamedTarget {
    std::wstring packageFile;  // the download, continued when it can be
    std::wstring partsPath;    // the sparse copy that holds the fetched headers
    std::string identity;      // size and SHA-256 of the index, for the parts record
    std::wstring stagedDir;    // where the release is unpacked (empty)
    const wchar_t* unpackStatus = L"";  // the status line once the download is done
    bool showBytes = true;              // the status line follows the download's sizes and speed
};

// Streams server's package into target, as index describes it, from urls: a server that fails
// or sends bytes that do not match the index hands over to the next, which goes on from the
// bytes checked. The status line and the bar follow the download while it runs, and the
// unpacking after it.
StreamedOutcome InstallWhileDownloading(const ManifestFields& server, const PackageIndex& index, PackageSources& urls,
                                        const StreamedTarget& target, UpdateTask& task);

// For benchmarks: the last streamed install's download time, its decoder threads and how long
// they waited for bytes meanwhile, together.
struct StreamedFigures {
    uint64_t downloadMs = 0;
    unsigned decoders = 0;
    uint64_t decoderWaitedMs = 0;
};
StreamedFigures LastStreamedFigures();
