#include "tools/release/IndexBuilder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sodium.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

extern "C" {
#include "7zCrc.h"
}

#include "rules/CoderTable.h"
#include "rules/EntryName.h"
#include "rules/Lzma2Piece.h"
#include "rules/SevenZipArchive.h"
#include "rules/Utf8.h"

namespace {

// The package opened for positional reads, closed on every way out.
class PackageFile {
public:
    explicit PackageFile(const std::string& path) : m_fd(open(path.c_str(), O_RDONLY)) {}
    ~PackageFile() { if (m_fd >= 0) close(m_fd); }
    PackageFile(const PackageFile&) = delete;
    PackageFile& operator=(const PackageFile&) = delete;
    bool IsOpen() const { return m_fd >= 0; }
    bool Size(uint64_t& size) const {
        struct stat info;
        if (fstat(m_fd, &info) != 0) return false;
        size = uint64_t(info.st_size);
        return true;
    }
    bool ReadAt(uint64_t offset, uint8_t* data, size_t size) const {
        while (size > 0) {
            const ssize_t n = pread(m_fd, data, size, off_t(offset));
            if (n <= 0) return false;
            data += n, size -= size_t(n), offset += uint64_t(n);
        }
        return true;
    }
    bool HashSpan(ByteSpan& span) const {
        crypto_hash_sha256_state state;
        crypto_hash_sha256_init(&state);
        std::vector<uint8_t> block(1 << 20);
        for (uint64_t done = 0; done < span.length;) {
            const size_t n = size_t(std::min<uint64_t>(block.size(), span.length - done));
            if (!ReadAt(span.offset + done, block.data(), n)) return false;
            crypto_hash_sha256_update(&state, block.data(), n);
            done += n;
        }
        crypto_hash_sha256_final(&state, span.sha256.data());
        return true;
    }

private:
    int m_fd;
};

struct Lzma2Run {
    uint64_t packOffset = 0, packLength = 0, unpackLength = 0;  // packOffset from the stream's start
};

// The runs of an LZMA2 stream from one dictionary reset to the next, by its chunk headers.
bool FindLzma2Runs(const PackageFile& file, uint64_t start, uint64_t packSize, std::vector<Lzma2Run>& runs) {
    uint64_t at = 0;
    while (at < packSize) {
        uint8_t head[6] = {};
        const size_t want = size_t(std::min<uint64_t>(6, packSize - at));
        if (!file.ReadAt(start + at, head, want)) return false;
        const uint8_t control = head[0];
        if (control == 0) {  // the end marker closes the last run
            if (runs.empty() || at + 1 != packSize) return false;
            runs.back().packLength += 1;
            return true;
        }
        uint64_t header = 0, packed = 0, unpacked = 0;
        bool reset = false;
        if (control == 1 || control == 2) {
            header = 3, packed = unpacked = (uint64_t(head[1]) << 8 | head[2]) + 1;
            reset = control == 1;
        } else if (control >= 0x80) {
            unpacked = (uint64_t(control & 0x1F) << 16 | uint64_t(head[1]) << 8 | head[2]) + 1;
            packed = (uint64_t(head[3]) << 8 | head[4]) + 1;
            header = ((control >> 5) & 3) >= 2 ? 6 : 5;
            reset = ((control >> 5) & 3) == 3;
        } else {
            return false;
        }
        if (want < header) return false;
        if (reset) runs.push_back(Lzma2Run{at, 0, 0});
        if (runs.empty()) return false;  // the stream must start with a reset
        runs.back().packLength += header + packed;
        runs.back().unpackLength += unpacked;
        at += header + packed;
    }
    return false;  // no end marker
}

std::string NormalPath(const PackageEntry& entry) {
    std::wstring normalized;
    NormalizeEntryName(entry.name, normalized);
    std::replace(normalized.begin(), normalized.end(), L'\\', L'/');
    std::string path;
    Utf8FromWide(normalized, path);
    return path;
}

class Builder {
public:
    Builder(const std::string& path, PackageIndex& index) : m_path(path), m_file(path), m_index(index) {}

    std::string Build() {
        if (!m_file.IsOpen() || InFile_Open(&m_archive.File(), m_path.c_str()) != 0) return "cannot open " + m_path;
        if (m_archive.Open() != SZ_OK) return m_path + ": not a 7z archive";
        const CSzArEx* db = m_archive.Database();
        const CSzAr& ar = db->db;
        if (!m_file.Size(m_index.packageSize)) return m_path + ": cannot read its size";
        const uint64_t dataEnd = db->dataPos + ar.PackPositions[ar.NumPackStreams];
        m_index.startHeader.length = db->dataPos;
        m_index.endHeader.offset = dataEnd;
        m_index.endHeader.length = m_index.packageSize - dataEnd;
        if (!m_file.HashSpan(m_index.startHeader) || !m_file.HashSpan(m_index.endHeader)) return m_path + ": read error";

        const std::vector<PackageEntry> entries = m_archive.Entries();
        for (UInt32 i = 0; i < db->NumFiles; ++i) {
            if (SzArEx_IsDir(db, i)) {
                const std::string path = NormalPath(entries[i]);
                if (!path.empty()) m_index.directories.push_back(path);
                continue;
            }
            IndexFile file;
            file.path = NormalPath(entries[i]);
            file.size = SzArEx_GetFileSize(db, i);
            file.folder = db->FileToFolder[i] == UInt32(-1) ? -1 : int64_t(db->FileToFolder[i]);
            m_fileEntries.push_back(i);
            m_index.files.push_back(file);
        }
        m_byFolder.assign(ar.NumFolders, {});
        for (size_t k = 0; k < m_index.files.size(); ++k)
            if (m_index.files[k].folder >= 0) m_byFolder[size_t(m_index.files[k].folder)].push_back(k);
        for (UInt32 f = 0; f < ar.NumFolders; ++f) {
            std::string problem = AddFolder(f);
            if (!problem.empty()) return problem;
        }
        for (size_t k = 0; k < m_index.files.size(); ++k) {
            IndexFile& file = m_index.files[k];
            if (file.size == 0) crypto_hash_sha256(file.sha256.data(), nullptr, 0);
        }
        return "";
    }

private:
    // The folder's span, its coders, and its files' hashes (and its chunks', when it has them).
    std::string AddFolder(UInt32 f) {
        const CSzArEx* db = m_archive.Database();
        const CSzAr& ar = db->db;
        IndexFolder folder;
        const uint64_t first = ar.PackPositions[ar.FoStartPackStreamIndex[f]];
        folder.packed.offset = db->dataPos + first;
        folder.packed.length = ar.PackPositions[ar.FoStartPackStreamIndex[f + 1]] - first;
        folder.unpackSize = SzAr_GetFolderUnpackSize(&ar, f);
        if (!m_file.HashSpan(folder.packed)) return m_path + ": read error";

        CSzFolder coders;
        CSzData data;
        data.Data = ar.CodersData + ar.FoCodersOffsets[f];
        data.Size = ar.FoCodersOffsets[f + 1] - ar.FoCodersOffsets[f];
        if (SzGetNextFolderItem(&coders, &data) != SZ_OK) return "solid block " + std::to_string(f) + " cannot be read";
        if (coders.NumCoders == 1 && coders.Coders[0].MethodID == coder::kLzma2 && coders.Coders[0].PropsSize == 1)
            folder.lzma2Property = ar.CodersData[ar.FoCodersOffsets[f] + coders.Coders[0].PropsOffset];

        const std::vector<size_t>& files = m_byFolder[f];
        m_index.folders.push_back(folder);
        if (folder.lzma2Property >= 0 && files.size() == 1) return AddChunks(f, files[0]);
        return HashFilesOf(files);
    }

    // A file of its own in LZMA2 alone: each run between dictionary resets is a chunk, decoded
    // on its own so the index promises only what the launcher can do.
    std::string AddChunks(UInt32 f, size_t fileNumber) {
        IndexFolder& folder = m_index.folders.back();
        std::vector<Lzma2Run> runs;
        if (!FindLzma2Runs(m_file, folder.packed.offset, folder.packed.length, runs))
            return "solid block " + std::to_string(f) + ": its LZMA2 chunks cannot be read";
        crypto_hash_sha256_state whole;
        crypto_hash_sha256_init(&whole);
        UInt32 crc = CRC_INIT_VAL;
        uint64_t unpackAt = 0;
        for (const Lzma2Run& run : runs) {
            IndexChunk chunk;
            chunk.unpackOffset = unpackAt;
            chunk.unpackLength = run.unpackLength;
            chunk.packed.offset = folder.packed.offset + run.packOffset;
            chunk.packed.length = run.packLength;
            if (!m_file.HashSpan(chunk.packed)) return m_path + ": read error";
            crypto_hash_sha256_state piece;
            crypto_hash_sha256_init(&piece);
            uint64_t readAt = chunk.packed.offset;
            const SRes result = DecodeLzma2Piece(
                folder.lzma2Property, chunk.packed.length, chunk.unpackLength,
                [&](uint8_t* data, size_t size) {
                    const bool ok = m_file.ReadAt(readAt, data, size);
                    readAt += size;
                    return ok;
                },
                [&](const uint8_t* data, size_t size) {
                    crypto_hash_sha256_update(&piece, data, size);
                    crypto_hash_sha256_update(&whole, data, size);
                    crc = CrcUpdate(crc, data, size);
                    return true;
                });
            if (result != SZ_OK)
                return "solid block " + std::to_string(f) + ": a chunk does not decode on its own (code " +
                       std::to_string(result) + ")";
            crypto_hash_sha256_final(&piece, chunk.unpackSha256.data());
            unpackAt += chunk.unpackLength;
            folder.chunks.push_back(chunk);
        }
        IndexFile& file = m_index.files[fileNumber];
        const CSzArEx* db = m_archive.Database();
        const UInt32 entry = m_fileEntries[fileNumber];
        if (unpackAt != file.size || (SzBitWithVals_Check(&db->CRCs, entry) && CRC_GET_DIGEST(crc) != db->CRCs.Vals[entry]))
            return file.path + ": its chunks do not decode to the file";
        crypto_hash_sha256_final(&whole, file.sha256.data());
        return "";
    }

    // Any other folder through the SDK's own extraction (its checksums checked).
    std::string HashFilesOf(const std::vector<size_t>& files) {
        for (size_t k : files) {
            size_t offset = 0, size = 0;
            const SRes result = SzArEx_Extract(m_archive.Database(), m_archive.Look(), m_fileEntries[k], &m_cacheBlock,
                                               &m_cacheBytes, &m_cacheSize, &offset, &size, &m_alloc, &m_alloc);
            if (result != SZ_OK) return m_index.files[k].path + ": cannot be decoded (code " + std::to_string(result) + ")";
            crypto_hash_sha256(m_index.files[k].sha256.data(), m_cacheBytes + offset, size);
        }
        return "";
    }

    static void* Alloc(ISzAllocPtr, size_t size) { return size ? malloc(size) : nullptr; }
    static void Free(ISzAllocPtr, void* address) { free(address); }

    std::string m_path;
    PackageFile m_file;
    SevenZipArchive m_archive;
    PackageIndex& m_index;
    std::vector<UInt32> m_fileEntries;  // the archive entry of each index file
    std::vector<std::vector<size_t>> m_byFolder;
    ISzAlloc m_alloc = {Alloc, Free};
    UInt32 m_cacheBlock = UInt32(-1);
    Byte* m_cacheBytes = nullptr;
    size_t m_cacheSize = 0;

public:
    ~Builder() { free(m_cacheBytes); }
};

}  // namespace

std::string BuildPackageIndex(const std::string& packagePath, PackageIndex& index) {
    index = PackageIndex();
    std::string problem = Builder(packagePath, index).Build();
    if (!problem.empty()) index = PackageIndex();
    return problem;
}
