// The file index published beside a package: where every file, folder (solid block), LZMA2
// chunk and header of the 7z archive lies, with the SHA-256 of each, so that the launcher can
// fetch only what changed by byte ranges and check every range before it decodes a byte. The
// release tool writes it, both sides parse it here. No Windows calls in here.
//
// A text file of lines ending in "\n", fields separated by one space, numbers in decimal, hashes
// as 64 lower-case hex digits, paths last on their line (UTF-8, '/' between components):
//   quenby-package-index 1
//   package <size> folders <n> chunks <n> files <n> directories <n>
//   start <offset> <length> <sha256>                  the archive's start header
//   end <offset> <length> <sha256>                    its end header (to the end of the file)
//   folder <offset> <length> <sha256> <unpacked size> <LZMA2 property or ->
//   chunk <unpacked offset> <length> <sha256> <packed offset> <length> <sha256>
//   file <folder number or -> <size> <sha256> <path>
//   dir <path>
// Folders come in the order of their packed bytes, numbered from 0; a folder's chunk lines follow
// it (only a folder of one file packed with LZMA2 alone has them: its independently decodable
// pieces); files come in the archive's order, an empty file without a folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Sha256Digest.h"
#include "rules/ByteSpan.h"

// An index longer than this is refused before it is read (and never downloaded).
inline constexpr uint64_t PACKAGE_INDEX_MAX_BYTES = 64ull << 20;
inline constexpr uint64_t PACKAGE_INDEX_MAX_ITEMS = 4000000;  // folders, chunks, files, directories each

struct IndexChunk {
    uint64_t unpackOffset = 0, unpackLength = 0;
    Sha256Digest unpackSha256{};
    ByteSpan packed;
};

struct IndexFolder {
    ByteSpan packed;
    uint64_t unpackSize = 0;
    int lzma2Property = -1;  // LZMA2's dictionary property when it is the folder's only coder
    std::vector<IndexChunk> chunks;
};

struct IndexFile {
    std::string path;    // normalised, '/' between components
    int64_t folder = -1; // -1: an empty file, which has no packed bytes
    uint64_t size = 0;
    Sha256Digest sha256{};
};

struct PackageIndex {
    uint64_t packageSize = 0;
    ByteSpan startHeader, endHeader;
    std::vector<IndexFolder> folders;
    std::vector<IndexFile> files;
    std::vector<std::string> directories;

    uint64_t ChunkCount() const;
};

std::string FormatPackageIndex(const PackageIndex& index);

// Reads an index and checks that it describes a package the launcher could install: every span
// inside the package, the folders in order and apart, the chunks tiling their folder, each
// folder's files filling it, every name one the launcher takes, the game at the top. "" or what
// is wrong (the line number included).
std::string ParsePackageIndex(const std::string& text, PackageIndex& index);

// The spans that make up the whole package in order, each with its hash: the start header, every
// folder (as its chunks, where it has them, so a big file is checked piece by piece) and the end
// header. Empty when they leave a byte between them uncovered.
std::vector<ByteSpan> SpansInPackageOrder(const PackageIndex& index);

// The sum of the files' sizes (saturating).
uint64_t UnpackedBytes(const PackageIndex& index);

// The files of each folder, in archive order.
std::vector<std::vector<size_t>> FilesByFolder(const PackageIndex& index);
