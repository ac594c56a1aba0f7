// The rules for package entry names, shared by the launcher's extractor and the release tool so
// that a package the tool makes is one the launcher unpacks, and a package from elsewhere that
// Windows could not hold is refused before anything is written. No Windows calls in here.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The longest entry path (in UTF-16 units, after normalising) that the launcher can write below
// its default root: the default root and "\game.new\" take 84 of the system's 259 units with a
// profile folder name of 32 characters ("C:\Users\<name>\AppData\Roaming\Larkvane\Vantrel"),
// and room is kept for longer profile paths.
inline constexpr size_t MAX_ENTRY_PATH_UNITS = 160;

enum class NameProblem {
    None,
    LeadsOutside,        // absolute, a drive or UNC prefix, "..", or nothing but dots and blanks
    ReservedCharacter,   // < > : " | ? * or a control character
    TrailingDotOrSpace,  // Windows drops them, so the file would get another name
    DeviceName,          // CON, PRN, AUX, NUL, COM1-9, COM¹-³, LPT1-9, LPT¹-³, with any extension
    TooLong,             // longer than MAX_ENTRY_PATH_UNITS
    CaseClash,           // equal to another entry's path ignoring case (a file beside a folder too)
    LauncherFile,        // "version.json", "version.index", "version.stamps" at the top: the launcher's own
};

// The name as the launcher writes it: '\' between components, "." and empty components dropped
// ("./data//a.pak" is "data\a.pak"; "." alone is "", the game folder itself). The problem of the
// name on its own, or None.
NameProblem NormalizeEntryName(const std::wstring& name, std::wstring& normalized);

// Whether an entry name on its own is one the launcher takes.
bool IsSafeEntryName(const std::wstring& name);

struct PackageEntry {
    std::wstring name;  // as the archive stores it
    bool isDirectory = false;
};

struct NameCheck {
    NameProblem problem = NameProblem::None;
    size_t entry = 0;  // the first entry with the problem
    size_t other = 0;  // for CaseClash: the earlier entry it clashes with
};

// Every entry's own rule, then the rules between entries: no two paths equal ignoring case (a
// file where another entry needs a folder counts), none of the launcher's own files at the top
// ("version.json" and its companions). normalized
// receives every entry's normalised name, in order.
NameCheck CheckPackageEntries(const std::vector<PackageEntry>& entries, std::vector<std::wstring>& normalized);

// Whether the normalised names hold the game's executable as a file at the top.
bool HoldsGameAtTop(const std::vector<PackageEntry>& entries, const std::vector<std::wstring>& normalized);

// What is wrong, in a few words for the publisher ("names a device", ...).
const char* DescribeNameProblem(NameProblem problem);

// The letter case Windows ignores in file names, for the letters of the Latin, Greek and
// Cyrillic alphabets: the upper-case form of one UTF-16 unit.
wchar_t FoldNameCase(wchar_t c);
