// What an update by byte ranges does with each file of the new release, worked out from the two
// releases' indexes and what is on the disk: pure logic, no file is touched here.
#pragma once

#include <cstdint>
#include <vector>

#include "rules/PackageIndex.h"

enum class FileAction {
    Link,     // an installed file with the same content: hard-linked (or copied) into place
    Empty,    // an empty file: created
    Rebuild,  // a file of its own LZMA2 chunks: equal pieces copied, the others fetched
    Decode,   // decoded from its folder, whose packed bytes are fetched
};

struct FilePlan {
    FileAction action = FileAction::Decode;
    size_t source = 0;              // Link, Rebuild: the installed index's file
    std::vector<bool> copyPiece;    // Rebuild: per chunk, copied from the installed file
};

struct UpdatePlan {
    std::vector<FilePlan> files;     // one per file of the new index
    std::vector<bool> decodeFolder;  // per folder of the new index
    bool needsHeaders = false;       // a folder is decoded: the archive's headers are fetched
    uint64_t writeBytes = 0;         // decoded or copied into new files (links not counted)
    uint64_t linkBytes = 0;          // what the links would cost where they must be copies
};

// intact: per file of the installed index, whether the file on the disk still holds what the
// index says (unchanged since it was installed, or hashed just now). A file is linked from an
// intact installed file of the same SHA-256 at any path; a file of its own chunks copies each
// piece the installed file at the same path has at the same offset (checked when read); every
// other file is decoded from its folder.
UpdatePlan PlanUpdate(const PackageIndex& next, const PackageIndex& installed, const std::vector<bool>& intact);

// The packed spans the plan needs, in package order: the headers (when a folder is decoded), the
// folders decoded, the chunks not copied.
std::vector<ByteSpan> SpansToFetch(const PackageIndex& next, const UpdatePlan& plan);
// The same in the two rounds they are fetched in: the archive's headers first (the decoder needs
// them before any block), then the blocks and chunks, in package order.
std::vector<ByteSpan> HeadersToFetch(const PackageIndex& next, const UpdatePlan& plan);
std::vector<ByteSpan> BlocksToFetch(const PackageIndex& next, const UpdatePlan& plan);
// The requests of the two rounds, each merged on its own.
std::vector<ByteSpan> FetchRequests(const std::vector<ByteSpan>& headers, const std::vector<ByteSpan>& blocks);

// The decoder thread (0 to threads - 1) of each folder, given the bytes each decodes (0: not
// decoded, thread 0): the largest first, each to the thread with the least so far, so the
// threads finish about together. The threads used are numbered from 0.
std::vector<size_t> ShareOutFolders(const std::vector<uint64_t>& folderBytes, size_t threads);
