#include "rules/SevenZipArchive.h"

#include <cstdlib>
#include <string>

extern "C" {
#include "7zCrc.h"
}

namespace {

constexpr size_t kLookBufferSize = 0x4000;

void* PlainAlloc(ISzAllocPtr, size_t size) { return size ? malloc(size) : nullptr; }
void PlainFree(ISzAllocPtr, void* address) { free(address); }
const ISzAlloc kPlainAlloc = {PlainAlloc, PlainFree};

// The archive's UTF-16 name in the form wide strings take here: as it is where wchar_t has 16
// bits, as code points where it has 32.
std::wstring EntryName(const CSzArEx* db, UInt32 index) {
    const size_t units = SzArEx_GetFileNameUtf16(db, index, nullptr);  // counts the NUL
    std::vector<UInt16> utf16(units ? units : 1, 0);
    if (units) SzArEx_GetFileNameUtf16(db, index, utf16.data());
    std::wstring name;
    for (size_t i = 0; i + 1 < units; ++i) {
        const uint32_t c = utf16[i];
        const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 2 < units && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF;
        if (sizeof(wchar_t) > 2 && pair) {
            name.push_back(wchar_t(0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00u)));
            ++i;
        } else {
            name.push_back(wchar_t(c));
        }
    }
    return name;
}

}  // namespace

SevenZipArchive::SevenZipArchive() {
    FileInStream_CreateVTable(&m_file);
    File_Construct(&m_file.file);
    LookToRead2_CreateVTable(&m_look, False);
    m_look.buf = static_cast<Byte*>(ISzAlloc_Alloc(&kPlainAlloc, kLookBufferSize));
    m_look.bufSize = m_look.buf ? kLookBufferSize : 0;
    m_look.realStream = &m_file.vt;
    LookToRead2_INIT(&m_look);
    SzArEx_Init(&m_db);
}

SevenZipArchive::~SevenZipArchive() {
    SzArEx_Free(&m_db, &kPlainAlloc);
    ISzAlloc_Free(&kPlainAlloc, m_look.buf);
    File_Close(&m_file.file);
}

SRes SevenZipArchive::Open() {
    if (!m_look.buf) return SZ_ERROR_MEM;
    CrcGenerateTable();
    return SzArEx_Open(&m_db, &m_look.vt, &kPlainAlloc, &kPlainAlloc);
}

std::vector<PackageEntry> SevenZipArchive::Entries() const {
    std::vector<PackageEntry> entries(m_db.NumFiles);
    for (UInt32 i = 0; i < m_db.NumFiles; ++i) entries[i] = PackageEntry{EntryName(&m_db, i), SzArEx_IsDir(&m_db, i) != 0};
    return entries;
}
