// One folder (solid block) of a 7z archive decoded as a stream: its bytes come out piece by piece
// in bounded memory, however large the block. Built from the SDK's own decoders: LzmaDec,
// Lzma2DecMt (several threads when the stream holds independently coded chunks), the branch and
// delta filters with their state carried across pieces, and Bcj2Dec over its four streams.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

extern "C" {
#include "7z.h"
}

#include "transfer/ArrivalGate.h"

// A pull stream of bytes. Read fills up to *size bytes and sets *size to what it gave; 0 means
// the end. Returns an SDK result code.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual SRes Read(Byte* data, size_t* size) = 0;
};

// LZMA2 on this many threads at most (as many as the machine's cores, at most 4).
unsigned Lzma2DecoderThreads();
// An LZMA2 block larger than this is decoded on one thread, so the threads' buffers stay bounded.
inline constexpr size_t LZMA2_MT_BLOCK_MAX = 8u << 20;

// How many LZMA2 streams this process has decoded on several threads (for tests and benchmarks).
unsigned MultiThreadedLzma2Streams();

// Opens the decoder chain of folder folderIndex of db, reading the packed data through file
// (positional reads; nothing else may move its file pointer meanwhile). The source gives exactly
// the folder's unpacked bytes or fails. SZ_ERROR_UNSUPPORTED for a method or an arrangement of
// coders the launcher does not decode. gate (may be null): each read first waits there for its
// bytes, and fails when they will not come.
SRes OpenFolderStream(const CSzArEx* db, UInt32 folderIndex, HANDLE file, std::unique_ptr<ByteSource>& stream,
                      ArrivalGate* gate = nullptr);
