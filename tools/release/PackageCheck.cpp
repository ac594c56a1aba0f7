#include "tools/release/PackageCheck.h"

#include <codecvt>
#include <locale>
#include <vector>

extern "C" {
#include "7z.h"
#include "7zAlloc.h"
#include "7zCrc.h"
#include "7zFile.h"
}

#include "platform/CheckedSum.h"
#include "transfer/EntryName.h"

namespace {

const ISzAlloc kAlloc = {SzAlloc, SzFree};
const ISzAlloc kTempAlloc = {SzAllocTemp, SzFreeTemp};

std::string Utf8(const std::wstring& text) {
    try {
        std::wstring_convert<std::codecvt_utf8<wchar_t>> convert;
        return convert.to_bytes(text);
    } catch (const std::exception&) {
        return "(a name that is not valid UTF-16)";
    }
}

// The archive's UTF-16 name as code points, the form the shared rule takes on this system.
std::wstring EntryName(const CSzArEx* db, UInt32 index) {
    const size_t units = SzArEx_GetFileNameUtf16(db, index, nullptr);
    std::u16string utf16(units, u'\0');
    if (units) SzArEx_GetFileNameUtf16(db, index, reinterpret_cast<UInt16*>(&utf16[0]));
    if (!utf16.empty()) utf16.pop_back();
    std::wstring name;
    for (size_t i = 0; i < utf16.size(); ++i) {
        const char32_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
            name.push_back(wchar_t(0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00)));
            ++i;
        } else {
            name.push_back(wchar_t(c));
        }
    }
    return name;
}

}  // namespace

std::string DescribeNameCheck(const NameCheck& check, const std::vector<PackageEntry>& entries) {
    std::string text = "entry \"" + Utf8(entries[check.entry].name) + "\" " + DescribeNameProblem(check.problem);
    if (check.problem == NameProblem::CaseClash) text += " (\"" + Utf8(entries[check.other].name) + "\")";
    return text;
}

bool IsLauncherCoder(uint32_t methodId) {
    switch (methodId) {
    case 0x00: case 0x30101: case 0x21:                               // Copy, LZMA, LZMA2
    case 0x03: case 0x3030103: case 0x3030205: case 0x3030401:        // Delta, BCJ, PPC, IA64
    case 0x3030501: case 0x3030701: case 0x3030805: case 0x303011B:   // ARM, ARMT, SPARC, BCJ2
        return true;
    default:
        return false;
    }
}

PackageReport CheckPackage(const std::string& path) {
    PackageReport report;
    CFileInStream file;
    FileInStream_CreateVTable(&file);
    File_Construct(&file.file);
    if (InFile_Open(&file.file, path.c_str()) != 0) {
        report.problem = "cannot open " + path;
        return report;
    }
    CLookToRead2 look;
    LookToRead2_CreateVTable(&look, False);
    const size_t kBufferSize = 1 << 14;
    look.buf = static_cast<Byte*>(ISzAlloc_Alloc(&kAlloc, kBufferSize));
    look.bufSize = kBufferSize;
    look.realStream = &file.vt;
    LookToRead2_INIT(&look);
    CrcGenerateTable();
    CSzArEx db;
    SzArEx_Init(&db);

    SRes result = SzArEx_Open(&db, &look.vt, &kAlloc, &kTempAlloc);
    if (result != SZ_OK) {
        report.problem = path + " is not a 7z archive the launcher can open (code " + std::to_string(result) + ")";
    } else {
        report.ok = true;
        report.entries = db.NumFiles;
        report.folders = db.db.NumFolders;
        std::vector<PackageEntry> entries(db.NumFiles);
        for (UInt32 i = 0; i < db.NumFiles; ++i) entries[i] = PackageEntry{EntryName(&db, i), SzArEx_IsDir(&db, i) != 0};
        std::vector<std::wstring> normalized;
        const NameCheck names = CheckPackageEntries(entries, normalized);
        if (names.problem != NameProblem::None) {
            report.ok = false;
            report.problem = DescribeNameCheck(names, entries);
        }
        for (UInt32 i = 0; i < db.NumFiles && report.ok; ++i) {
            if (!SzArEx_IsDir(&db, i) && !AddWithoutOverflow(report.unpackedBytes, SzArEx_GetFileSize(&db, i))) {
                report.ok = false;
                report.problem = "the unpacked sizes add up to more than 2^64 bytes";
            }
        }
        const bool hasGame = HoldsGameAtTop(entries, normalized);
        for (UInt32 f = 0; f < db.db.NumFolders && report.ok; ++f) {
            const UInt64 size = SzAr_GetFolderUnpackSize(&db.db, f);
            if (size > report.largestFolder) report.largestFolder = size;
            CSzFolder folder;
            CSzData data;
            data.Data = db.db.CodersData + db.db.FoCodersOffsets[f];
            data.Size = db.db.FoCodersOffsets[f + 1] - db.db.FoCodersOffsets[f];
            if (SzGetNextFolderItem(&folder, &data) != SZ_OK) {
                report.ok = false;
                report.problem = "solid block " + std::to_string(f) + " cannot be read";
                break;
            }
            for (UInt32 c = 0; c < folder.NumCoders; ++c) {
                if (!IsLauncherCoder(folder.Coders[c].MethodID)) {
                    report.ok = false;
                    char id[16];
                    snprintf(id, sizeof id, "0x%X", unsigned(folder.Coders[c].MethodID));
                    report.problem = std::string("solid block ") + std::to_string(f) + " uses method " +
                                     id + ", which the launcher does not decode";
                }
            }
        }
        if (report.ok && !hasGame) {
            report.ok = false;
            report.problem = "the package holds no Vantrel.exe at its top level";
        }
    }
    SzArEx_Free(&db, &kAlloc);
    ISzAlloc_Free(&kAlloc, look.buf);
    File_Close(&file.file);
    return report;
}
