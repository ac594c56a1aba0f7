#include "transfer/Extract7z.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <set>
#include <vector>

extern "C" {
#include "7z.h"
#include "7zCrc.h"
}

#include "platform/CheckedSum.h"
#include "platform/DurableFile.h"
#include "platform/FileSystem.h"
#include "platform/ScopedWin.h"
#include "rules/SevenZipArchive.h"
#include "transfer/FolderStream.h"

namespace {

// Unpacked bytes go from the decoder to the file in pieces of this size.
constexpr size_t kCopyPiece = 1 << 20;

// Grows a buffer that never shrinks; false when memory runs out.
template <typename T>
bool EnsureCapacity(std::vector<T>& buffer, size_t units) {
    if (buffer.size() >= units) return true;
    try {
        std::vector<T>().swap(buffer);  // the old one goes first
        buffer.resize(units);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Where the bytes written to files are counted as each piece goes out.
class WrittenBytes {
public:
    virtual ~WrittenBytes() = default;
    virtual void Add(uint64_t bytes) = 0;
};

// The folder being unpacked, decoded as a stream: each file's bytes are taken from it in turn,
// with the folder's own checksum kept over all of them.
class FolderReader {
public:
    FolderReader(const CSzArEx* db, HANDLE file, ArrivalGate* gate, const StopFlag* stop)
        : m_db(db), m_file(file), m_gate(gate), m_stop(stop) {}
    // Where the bytes copied to files are counted (may stay null).
    void CountInto(WrittenBytes* written) { m_written = written; }

    // Finishes the current folder and opens the given one (a file without data has none).
    SRes MoveTo(UInt32 folderIndex) {
        if (folderIndex == m_index || folderIndex == UInt32(-1)) return SZ_OK;
        SRes result = Finish();
        if (result != SZ_OK) return result;
        m_index = folderIndex;
        m_crc = CRC_INIT_VAL;
        return OpenFolderStream(m_db, folderIndex, m_file, m_stream, m_gate);
    }

    // Writes the next size bytes of the folder to out (nowhere when out is null), adding them to
    // fileCrc.
    int CopyTo(HANDLE out, UInt64 size, std::vector<Byte>& piece, UInt32& fileCrc) {
        while (size > 0) {
            if (StopRequested(m_stop)) return EXTRACT_STOPPED;
            if (!m_stream) return SZ_ERROR_DATA;
            size_t got = size_t(std::min<UInt64>(size, piece.size()));
            SRes result = m_stream->Read(piece.data(), &got);
            if (result != SZ_OK) return result;
            if (got == 0) return SZ_ERROR_DATA;  // the folder ended before its files did
            fileCrc = CrcUpdate(fileCrc, piece.data(), got);
            m_crc = CrcUpdate(m_crc, piece.data(), got);
            if (out && !WriteAll(out, piece.data(), got)) return EXTRACT_OUTPUT_FAILED;
            size -= got;
            if (m_written) m_written->Add(got);
        }
        return SZ_OK;
    }

    // Lets the current folder go unread past where it stands (nothing after is wanted): its own
    // checksum goes unchecked, each file written has had its own.
    void Drop() { m_stream.reset(); }

    // Reads the current folder to its end (the decoders check that it ends where it should) and
    // checks the folder's checksum where the archive has one.
    SRes Finish() {
        if (!m_stream) return SZ_OK;
        Byte rest[4096];
        for (;;) {
            if (StopRequested(m_stop)) return EXTRACT_STOPPED;
            size_t got = sizeof rest;
            SRes result = m_stream->Read(rest, &got);
            if (result != SZ_OK) return result;
            if (got == 0) break;
            m_crc = CrcUpdate(m_crc, rest, got);
        }
        m_stream.reset();
        if (SzBitWithVals_Check(&m_db->db.FolderCRCs, m_index) &&
            CRC_GET_DIGEST(m_crc) != m_db->db.FolderCRCs.Vals[m_index])
            return SZ_ERROR_CRC;
        return SZ_OK;
    }

private:
    const CSzArEx* m_db;
    HANDLE m_file;
    ArrivalGate* m_gate;
    const StopFlag* m_stop;
    UInt32 m_index = UInt32(-1);
    std::unique_ptr<ByteSource> m_stream;
    UInt32 m_crc = CRC_INIT_VAL;
    WrittenBytes* m_written = nullptr;
};

// The archive, opened and every entry name checked and normalised.
class OpenedArchive {
public:
    // Takes the open file; it is closed with the archive.
    explicit OpenedArchive(HANDLE file) { m_archive.File().handle = file; }
    // 0, or the code the extraction reports (no memory, the decoder's, a name Windows cannot
    // hold or that leads outside).
    int Open() {
        int result = m_archive.Open();
        if (result != 0) return result == SZ_ERROR_MEM ? EXTRACT_NO_MEMORY : result;
        try {
            m_entries = m_archive.Entries();
            if (CheckPackageEntries(m_entries, m_names).problem != NameProblem::None) return EXTRACT_UNSAFE_NAME;
        } catch (const std::bad_alloc&) {
            return EXTRACT_NO_MEMORY;
        }
        return 0;
    }
    CSzArEx* Database() { return m_archive.Database(); }
    const CSzArEx* Database() const { return m_archive.Database(); }
    const std::vector<PackageEntry>& Entries() const { return m_entries; }
    // Entry i's path below the destination, '\\'-separated ("" for the folder itself).
    const std::wstring& Name(UInt32 i) const { return m_names[i]; }
    const std::vector<std::wstring>& Names() const { return m_names; }

private:
    SevenZipArchive m_archive;
    std::vector<PackageEntry> m_entries;
    std::vector<std::wstring> m_names;
};

// Creates every folder of path before its separators from index from on (the destination's own
// parents too, when from is 0); a folder that exists already is fine.
void CreateFoldersAlong(const std::wstring& path, size_t from) {
    for (size_t k = path.find_first_of(L"\\/", from); k != std::wstring::npos; k = path.find_first_of(L"\\/", k + 1))
        if (k > 0) CreateDirectoryW(path.substr(0, k).c_str(), nullptr);
}

// Writes the next size bytes of the folder into a new file, which is on the disk (flushed and
// closed, both checked) before the call returns 0. A file that does not come out whole is
// deleted.
int WriteEntryFile(const std::wstring& path, FolderReader& folder, UInt64 size, std::vector<Byte>& piece,
                   const CSzArEx* db, UInt32 index, DWORD creation) {
    scoped::Handle out(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, creation,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.IsValid()) return EXTRACT_OUTPUT_FAILED;
    UInt32 crc = CRC_INIT_VAL;
    int result = folder.CopyTo(out.Get(), size, piece, crc);
    if (result == 0 && !FlushAndClose(out)) result = EXTRACT_OUTPUT_FAILED;
    out.Reset();
    if (result == 0 && SzBitWithVals_Check(&db->CRCs, index) && CRC_GET_DIGEST(crc) != db->CRCs.Vals[index])
        result = SZ_ERROR_CRC;
    if (result != 0) DeleteFileW(path.c_str());
    return result;
}

void StoreProgress(AtomicInt* progress, int32_t value) {
    if (progress) progress->store(value);
}

}  // namespace

int32_t ExtractionProgress(uint32_t index, uint32_t count) {
    return count ? int32_t(uint64_t(index) * 10000 / count) : 0;
}

unsigned long WindowsAttributesOf(unsigned long storedAttributes) {
    return (storedAttributes & 0x8000) ? (storedAttributes & 0x7FFF) : storedAttributes;
}

int InspectPackage(const std::wstring& archive, PackageSummary& summary) {
    summary = PackageSummary();
    // Shared for writing too: the archive may be a sparse copy still being filled.
    HANDLE file = CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return EXTRACT_CANNOT_OPEN;
    OpenedArchive opened(file);
    const int result = opened.Open();
    if (result != 0) return result;
    const CSzArEx* db = opened.Database();
    summary.entries = db->NumFiles;
    for (UInt32 i = 0; i < db->NumFiles; ++i)
        if (!SzArEx_IsDir(db, i) && !AddWithoutOverflow(summary.unpackedBytes, SzArEx_GetFileSize(db, i)))
            return EXTRACT_SIZE_OVERFLOW;
    // A package that does not hold the game must never take the installed one's place.
    if (!HoldsGameAtTop(opened.Entries(), opened.Names())) return EXTRACT_NO_GAME;
    return 0;
}

namespace {

// One extraction: the archive, its folder being decoded, and where the entries go.
class Extraction : private WrittenBytes {
public:
    // The database is read through headers, the packed bytes from data (the same file, but for a
    // package still arriving, whose packed bytes are read as gate lets them).
    Extraction(HANDLE headers, HANDLE data, ArrivalGate* gate, const std::wstring& destination, const StopFlag* stop,
               const ExtractScope* scope)
        : m_opened(headers), m_folder(m_opened.Database(), data, gate, stop), m_destination(destination), m_scope(scope) {}

    int Run(AtomicInt* progress) {
        m_progress = progress;
        int result = m_opened.Open();
        if (result == 0 && !EnsureCapacity(m_piece, kCopyPiece)) result = EXTRACT_NO_MEMORY;
        if (result == 0) result = ChooseEntries();
        const CSzArEx* db = m_opened.Database();
        m_folder.CountInto(this);
        for (UInt32 i = 0; result == 0 && i < db->NumFiles; ++i) {
            StoreProgress(progress, Progress(i));
            result = m_wanted[i] ? ExtractEntry(i) : SkipEntry(i);
        }
        return result == 0 ? m_folder.Finish() : result;
    }

private:
    // Which entries are written, which solid blocks are read, and the bytes progress counts.
    int ChooseEntries() {
        const CSzArEx* db = m_opened.Database();
        try {
            const bool byNames = m_scope && m_scope->ByNames();
            m_wanted.assign(db->NumFiles, !byNames);
            m_folderWanted.assign(db->db.NumFolders, !byNames);
            m_lastWanted.assign(db->db.NumFolders, UInt32(-1));
            if (m_scope && !byNames) {
                for (UInt32 f = 0; f < db->db.NumFolders; ++f) m_folderWanted[f] = f % m_scope->parts == m_scope->part;
                for (UInt32 i = 0; i < db->NumFiles; ++i) {
                    const UInt32 folder = db->FileToFolder[i];
                    m_wanted[i] = folder == UInt32(-1) ? m_scope->part == 0 : m_folderWanted[folder];
                }
            }
            std::set<std::wstring> names;
            if (byNames) names.insert(m_scope->names.begin(), m_scope->names.end());
            for (UInt32 i = 0; i < db->NumFiles; ++i) {
                if (byNames && !SzArEx_IsDir(db, i) && names.count(m_opened.Name(i))) {
                    m_wanted[i] = true;
                    if (db->FileToFolder[i] != UInt32(-1)) {
                        m_folderWanted[db->FileToFolder[i]] = true;
                        m_lastWanted[db->FileToFolder[i]] = i;
                    }
                }
                if (m_wanted[i] && !SzArEx_IsDir(db, i)) m_total += SzArEx_GetFileSize(db, i);
            }
        } catch (const std::bad_alloc&) {
            return EXTRACT_NO_MEMORY;
        }
        if (m_scope) {
            m_before = m_scope->bytesBefore;
            m_total = std::max(m_scope->bytesTotal, m_before + m_total);
        }
        return 0;
    }

    int32_t Progress(UInt32 index) const {
        if (m_total == 0) return ExtractionProgress(index, m_opened.Database()->NumFiles);
        const uint64_t written = m_scope && m_scope->sharedWritten ? m_scope->sharedWritten->load() : m_written;
        return int32_t(std::min(m_total, m_before + written) * PROGRESS_FULL / m_total);
    }

    // A piece written: a single huge file moves the bar too.
    void Add(uint64_t bytes) override {
        m_written += bytes;
        if (m_scope && m_scope->sharedWritten) *m_scope->sharedWritten += bytes;
        if (m_total > 0) StoreProgress(m_progress, Progress(0));
    }

    // An entry not written: its bytes are passed over when its solid block is read anyway.
    int SkipEntry(UInt32 i) {
        const CSzArEx* db = m_opened.Database();
        const UInt32 folder = db->FileToFolder[i];
        if (SzArEx_IsDir(db, i) || folder == UInt32(-1) || !m_folderWanted[folder]) return 0;
        if (i > m_lastWanted[folder]) {  // the block's wanted files are out: the rest is not decoded
            m_folder.Drop();
            return 0;
        }
        int result = m_folder.MoveTo(folder);
        UInt32 crc = CRC_INIT_VAL;
        m_folder.CountInto(nullptr);
        if (result == 0) result = m_folder.CopyTo(nullptr, SzArEx_GetFileSize(db, i), m_piece, crc);
        m_folder.CountInto(this);
        return result;
    }

    int ExtractEntry(UInt32 i) {
        const CSzArEx* db = m_opened.Database();
        const bool isDirectory = SzArEx_IsDir(db, i);
        const std::wstring& name = m_opened.Name(i);
        if (name.empty()) return 0;  // the game folder itself
        // The entry's folder is opened (and the one before it finished) before its file is
        // created, so an undecodable folder creates nothing.
        if (!isDirectory) {
            const int result = m_folder.MoveTo(db->FileToFolder[i]);
            if (result != 0) return result;
        }
        std::wstring path;
        try {
            path = m_destination + name;
        } catch (const std::bad_alloc&) {
            return EXTRACT_NO_MEMORY;
        }
        if (!m_destinationMade) {  // an archive with nothing to write creates nothing
            CreateFoldersAlong(m_destination, 0);
            m_destinationMade = true;
        }
        CreateFoldersAlong(path, m_destination.size());
        if (isDirectory) {
            CreateDirectoryW(path.c_str(), nullptr);
            return 0;
        }
        // A scoped extraction never writes over an existing file: one beside it may be a hard link
        // to the installed game's.
        const int result = WriteEntryFile(path, m_folder, SzArEx_GetFileSize(db, i), m_piece, db, i,
                                          m_scope && m_scope->ByNames() ? CREATE_NEW : CREATE_ALWAYS);
        if (result == 0 && SzBitWithVals_Check(&db->Attribs, i))
            SetFileAttributesW(path.c_str(), WindowsAttributesOf(db->Attribs.Vals[i]));
        return result;
    }

    OpenedArchive m_opened;  // closes the file last
    FolderReader m_folder;
    const std::wstring& m_destination;
    const ExtractScope* m_scope;
    std::vector<bool> m_wanted, m_folderWanted;
    std::vector<UInt32> m_lastWanted;  // per folder, its last file written (a scoped extraction)
    uint64_t m_before = 0, m_written = 0, m_total = 0;
    AtomicInt* m_progress = nullptr;
    std::vector<Byte> m_piece;
    bool m_destinationMade = false;
};

}  // namespace

int Extract7z(const std::wstring& archive, const std::wstring& destination, AtomicInt* progress,
              const StopFlag* stop, const ExtractScope* scope, ArrivalGate* gate) {
    HANDLE file = CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return EXTRACT_CANNOT_OPEN;
    int result = 0;
    {
        Extraction extraction(file, file, gate, destination, stop, scope);
        result = extraction.Run(progress);
    }
    if (!scope || !scope->sharedWritten) StoreProgress(progress, PROGRESS_FULL);  // the others may not be done
    return result;
}

int Extract7zArriving(const std::wstring& headers, const std::wstring& package, ArrivalGate& gate,
                      const std::wstring& destination, AtomicInt* progress, const StopFlag* stop,
                      const ExtractScope* scope) {
    // The download still writes the package: it is read beside it.
    constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE headerFile = CreateFileW(headers.c_str(), GENERIC_READ, kShared, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (headerFile == INVALID_HANDLE_VALUE) return EXTRACT_CANNOT_OPEN;
    scoped::Handle data(CreateFileW(package.c_str(), GENERIC_READ, kShared, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!data.IsValid()) {
        CloseHandle(headerFile);
        return EXTRACT_CANNOT_OPEN;
    }
    int result = 0;
    {
        Extraction extraction(headerFile, data.Get(), &gate, destination, stop, scope);
        result = extraction.Run(progress);
    }
    if (!scope || !scope->sharedWritten) StoreProgress(progress, PROGRESS_FULL);  // the others may not be done
    return result;
}
