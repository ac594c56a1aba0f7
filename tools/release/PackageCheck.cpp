#include "tools/release/PackageCheck.h"

#include <codecvt>
#include <locale>
#include <vector>

#include "platform/CheckedSum.h"
#include "rules/CoderTable.h"
#include "rules/SevenZipArchive.h"

namespace {

std::string Utf8(const std::wstring& text) {
    try {
        std::wstring_convert<std::codecvt_utf8<wchar_t>> convert;
        return convert.to_bytes(text);
    } catch (const std::exception&) {
        return "(a name that is not valid UTF-16)";
    }
}

// Names by the launcher's rule, sizes summed without wrapping, the game at the top.
bool CheckEntries(const SevenZipArchive& archive, PackageReport& report) {
    const CSzArEx* db = archive.Database();
    const std::vector<PackageEntry> entries = archive.Entries();
    std::vector<std::wstring> normalized;
    const NameCheck names = CheckPackageEntries(entries, normalized);
    if (names.problem != NameProblem::None) {
        report.problem = DescribeNameCheck(names, entries);
        return false;
    }
    for (UInt32 i = 0; i < db->NumFiles; ++i) {
        if (!SzArEx_IsDir(db, i) && !AddWithoutOverflow(report.unpackedBytes, SzArEx_GetFileSize(db, i))) {
            report.problem = "the unpacked sizes add up to more than 2^64 bytes";
            return false;
        }
    }
    if (!HoldsGameAtTop(entries, normalized)) {
        report.problem = "the package holds no Vantrel.exe at its top level";
        return false;
    }
    return true;
}

// Every solid block's coders as the launcher decodes them.
bool CheckFolders(const SevenZipArchive& archive, PackageReport& report) {
    const CSzAr& ar = archive.Database()->db;
    for (UInt32 f = 0; f < ar.NumFolders; ++f) {
        const UInt64 size = SzAr_GetFolderUnpackSize(&ar, f);
        if (size > report.largestFolder) report.largestFolder = size;
        CSzFolder folder;
        CSzData data;
        data.Data = ar.CodersData + ar.FoCodersOffsets[f];
        data.Size = ar.FoCodersOffsets[f + 1] - ar.FoCodersOffsets[f];
        if (SzGetNextFolderItem(&folder, &data) != SZ_OK) {
            report.problem = "solid block " + std::to_string(f) + " cannot be read";
            return false;
        }
        for (UInt32 c = 0; c < folder.NumCoders; ++c) {
            if (!FindLauncherCoder(uint32_t(folder.Coders[c].MethodID))) {
                char id[16];
                snprintf(id, sizeof id, "0x%X", unsigned(folder.Coders[c].MethodID));
                report.problem = "solid block " + std::to_string(f) + " uses method " + id +
                                 ", which the launcher does not decode";
                return false;
            }
        }
        if (!IsLauncherArrangement(folder)) {
            report.problem = "solid block " + std::to_string(f) + " arranges its coders in a way the launcher does not decode";
            return false;
        }
    }
    return true;
}

}  // namespace

std::string DescribeNameCheck(const NameCheck& check, const std::vector<PackageEntry>& entries) {
    std::string text = "entry \"" + Utf8(entries[check.entry].name) + "\" " + DescribeNameProblem(check.problem);
    if (check.problem == NameProblem::CaseClash) text += " (\"" + Utf8(entries[check.other].name) + "\")";
    return text;
}

PackageReport CheckPackage(const std::string& path) {
    PackageReport report;
    SevenZipArchive archive;
    if (InFile_Open(&archive.File(), path.c_str()) != 0) {
        report.problem = "cannot open " + path;
        return report;
    }
    const SRes opened = archive.Open();
    if (opened != SZ_OK) {
        report.problem = path + " is not a 7z archive the launcher can open (code " + std::to_string(opened) + ")";
        return report;
    }
    report.entries = archive.Database()->NumFiles;
    report.folders = archive.Database()->db.NumFolders;
    report.ok = CheckEntries(archive, report) && CheckFolders(archive, report);
    return report;
}
