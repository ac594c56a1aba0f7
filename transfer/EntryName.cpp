#include "transfer/EntryName.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? wchar_t(c - L'a' + L'A') : c; }

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension or trailing blanks.
bool IsDeviceName(std::wstring component) {
    size_t dot = component.find(L'.');
    if (dot != std::wstring::npos) component.resize(dot);
    while (!component.empty() && component.back() == L' ') component.pop_back();
    for (wchar_t& c : component) c = AsciiUpper(c);
    static const wchar_t* const kFixed[] = {L"CON", L"PRN", L"AUX", L"NUL"};
    for (const wchar_t* name : kFixed)
        if (component == name) return true;
    if (component.size() == 4 && (component.compare(0, 3, L"COM") == 0 ||
                                  component.compare(0, 3, L"LPT") == 0))
        return component[3] >= L'1' && component[3] <= L'9';
    return false;
}

}  // namespace

bool IsSafeEntryName(const std::wstring& name) {
    if (name.empty()) return true;
    if (IsSeparator(name[0])) return false;                   // absolute, or a UNC prefix
    if (name.find(L':') != std::wstring::npos) return false;  // drive letter or stream name
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        std::wstring component = name.substr(start, end - start);
        if (!component.empty()) {
            // The system drops trailing dots and blanks, so ".. " or "..." would act as "..".
            if (component.find_first_not_of(L". ") == std::wstring::npos) return false;
            if (IsDeviceName(component)) return false;
        }
        start = end + 1;
    }
    return true;
}
