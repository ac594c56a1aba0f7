// A 7z archive read through the SDK: its file stream, the look-ahead buffer and the database,
// each freed once and in order, whoever opens it (the launcher's extractor, the release tool).
// No Windows calls in here.
#pragma once

#include <vector>

extern "C" {
#include "7z.h"
#include "7zFile.h"
}

#include "rules/EntryName.h"

class SevenZipArchive {
public:
    SevenZipArchive();
    ~SevenZipArchive();
    SevenZipArchive(const SevenZipArchive&) = delete;
    SevenZipArchive& operator=(const SevenZipArchive&) = delete;

    // The file, for the caller to open (InFile_Open, InFile_OpenW) or to give a handle to; it is
    // closed with the archive.
    CSzFile& File() { return m_file.file; }
    // Reads the database: 0, or the SDK's code (SZ_ERROR_MEM when the buffer could not be had).
    SRes Open();
    CSzArEx* Database() { return &m_db; }
    // The buffered stream the database was read through, for the SDK's own extraction.
    ILookInStreamPtr Look() { return &m_look.vt; }
    const CSzArEx* Database() const { return &m_db; }
    // Every entry's stored name (code points) and kind, for the shared name rule.
    std::vector<PackageEntry> Entries() const;

private:
    CFileInStream m_file;
    CLookToRead2 m_look;
    CSzArEx m_db;
};
