#include "rules/EntryName.h"

#include <cstdint>
#include <map>

#include "platform/ProductNames.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsReservedCharacter(wchar_t c) {
    return unsigned(c) < 0x20 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' ||
           c == L'?' || c == L'*';
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9 and the superscript digits ¹ ² ³ that Windows also takes
// for a port number, in any case, with or without an extension or blanks before it.
bool IsDeviceName(std::wstring component) {
    const size_t dot = component.find(L'.');
    if (dot != std::wstring::npos) component.resize(dot);
    while (!component.empty() && component.back() == L' ') component.pop_back();
    for (wchar_t& c : component) c = FoldNameCase(c);
    for (const wchar_t* name : {L"CON", L"PRN", L"AUX", L"NUL"})
        if (component == name) return true;
    if (component.size() != 4 || (component.compare(0, 3, L"COM") != 0 && component.compare(0, 3, L"LPT") != 0))
        return false;
    const wchar_t digit = component[3];
    return (digit >= L'1' && digit <= L'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

// The units the name takes in UTF-16 (a wchar_t is a code point where it is 32 bits wide).
template <size_t WcharBytes = sizeof(wchar_t)>
size_t Utf16Units(const std::wstring& text) {
    if constexpr (WcharBytes == 2) {
        return text.size();
    } else {
        size_t units = 0;
        for (wchar_t c : text) units += (uint32_t(c) > 0xFFFF) ? 2 : 1;
        return units;
    }
}

NameProblem ComponentProblem(const std::wstring& component) {
    // The system drops trailing dots and blanks, so ".. " or "..." would act as "..".
    if (component.find_first_not_of(L". ") == std::wstring::npos) return NameProblem::LeadsOutside;
    for (wchar_t c : component)
        if (IsReservedCharacter(c)) return NameProblem::ReservedCharacter;
    if (component.back() == L'.' || component.back() == L' ') return NameProblem::TrailingDotOrSpace;
    if (IsDeviceName(component)) return NameProblem::DeviceName;
    return NameProblem::None;
}

std::wstring Folded(const std::wstring& text) {
    std::wstring folded = text;
    for (wchar_t& c : folded) c = FoldNameCase(c);
    return folded;
}

}  // namespace

wchar_t FoldNameCase(wchar_t c) {
    const unsigned u = unsigned(c);
    if (u >= 'a' && u <= 'z') return wchar_t(u - 0x20);
    if (u < 0xE0) return c;
    if (u <= 0xFE) return u == 0xF7 ? c : wchar_t(u - 0x20);
    if (u == 0xFF) return wchar_t(0x178);
    // Latin Extended-A: upper and lower case alternate, with the odd ones out left alone.
    if ((u >= 0x100 && u <= 0x137) || (u >= 0x14A && u <= 0x177)) return (u & 1) ? wchar_t(u - 1) : c;
    if ((u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E)) return (u & 1) ? c : wchar_t(u - 1);
    if (u == 0x3C2) return wchar_t(0x3A3);  // final sigma
    if ((u >= 0x3B1 && u <= 0x3C1) || (u >= 0x3C3 && u <= 0x3CB)) return wchar_t(u - 0x20);
    if (u >= 0x430 && u <= 0x44F) return wchar_t(u - 0x20);
    if (u >= 0x450 && u <= 0x45F) return wchar_t(u - 0x50);
    if (u >= 0xFF41 && u <= 0xFF5A) return wchar_t(u - 0x20);  // full-width Latin
    return c;
}

NameProblem NormalizeEntryName(const std::wstring& name, std::wstring& normalized) {
    normalized.clear();
    if (!name.empty() && IsSeparator(name[0])) return NameProblem::LeadsOutside;  // absolute, or UNC
    // A drive letter ("C:", "C:x") leads outside; any other ':' is a reserved character.
    if (name.size() >= 2 && name[1] == L':') return NameProblem::LeadsOutside;
    for (size_t start = 0; start <= name.size();) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        const std::wstring component = name.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == L".") continue;
        const NameProblem problem = ComponentProblem(component);
        if (problem != NameProblem::None) {
            normalized.clear();
            return problem;
        }
        if (!normalized.empty()) normalized += L'\\';
        normalized += component;
    }
    if (Utf16Units(normalized) > MAX_ENTRY_PATH_UNITS) {
        normalized.clear();
        return NameProblem::TooLong;
    }
    return NameProblem::None;
}

bool IsSafeEntryName(const std::wstring& name) {
    std::wstring normalized;
    return NormalizeEntryName(name, normalized) == NameProblem::None;
}

NameCheck CheckPackageEntries(const std::vector<PackageEntry>& entries, std::vector<std::wstring>& normalized) {
    normalized.assign(entries.size(), std::wstring());
    for (size_t i = 0; i < entries.size(); ++i) {
        const NameProblem problem = NormalizeEntryName(entries[i].name, normalized[i]);
        // A file needs a name; "." stands only for the game folder itself.
        if (problem != NameProblem::None) return NameCheck{problem, i, 0};
        if (normalized[i].empty() && !entries[i].isDirectory) return NameCheck{NameProblem::LeadsOutside, i, 0};
    }

    // Every path an entry makes, folded: the entry itself and the folders it lies in.
    struct Made {
        size_t entry;
        bool file;      // a file stands here
        bool explicitDirectory;
    };
    std::map<std::wstring, Made> made;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (normalized[i].empty()) continue;
        const std::wstring folded = Folded(normalized[i]);
        for (const wchar_t* own : {L"version.json", L"version.index", L"version.stamps"})
            if (folded == Folded(own)) return NameCheck{NameProblem::LauncherFile, i, 0};
        for (size_t at = folded.find(L'\\'); at != std::wstring::npos; at = folded.find(L'\\', at + 1)) {
            auto parent = made.emplace(folded.substr(0, at), Made{i, false, false}).first;
            if (parent->second.file) return NameCheck{NameProblem::CaseClash, i, parent->second.entry};
        }
        auto placed = made.emplace(folded, Made{i, !entries[i].isDirectory, entries[i].isDirectory});
        if (placed.second) continue;
        Made& earlier = placed.first->second;
        // A folder entry may name a folder that a deeper entry already implied; nothing else
        // may share a path.
        if (earlier.file || earlier.explicitDirectory || !entries[i].isDirectory)
            return NameCheck{NameProblem::CaseClash, i, earlier.entry};
        earlier.explicitDirectory = true;
    }
    return NameCheck{};
}

bool HoldsGameAtTop(const std::vector<PackageEntry>& entries, const std::vector<std::wstring>& normalized) {
    const std::wstring game = Folded(names::kGameExe);
    for (size_t i = 0; i < entries.size() && i < normalized.size(); ++i)
        if (!entries[i].isDirectory && Folded(normalized[i]) == game) return true;
    return false;
}

const char* DescribeNameProblem(NameProblem problem) {
    switch (problem) {
    case NameProblem::None: return "nothing is wrong";
    case NameProblem::LeadsOutside: return "would lead outside the game folder";
    case NameProblem::ReservedCharacter: return "holds a character Windows does not allow in names (< > : \" | ? * or a control character)";
    case NameProblem::TrailingDotOrSpace: return "has a name ending in a dot or a space, which Windows drops";
    case NameProblem::DeviceName: return "is named like a Windows device (CON, PRN, AUX, NUL, COM1, LPT1, ...)";
    case NameProblem::TooLong: return "has a path longer than the 160 UTF-16 units the launcher can write below its default folder";
    case NameProblem::CaseClash: return "has the same path as another entry when letter case is ignored, as Windows does";
    case NameProblem::LauncherFile: return "is version.json, version.index or version.stamps at the top, which are the launcher's own files";
    }
    return "is refused";
}
