#include "tests/support/TreeCompare.h"

#include <windows.h>

#include "tests/support/TestFiles.h"

namespace testing_support {

namespace {
void Walk(const std::wstring& root, const std::wstring& relative,
          std::map<std::wstring, std::string>& out) {
    const std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = relative.empty() ? name : relative + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[path] = "<dir>";
            Walk(root, path, out);
        } else {
            out[path] = ReadFileBytes(root + L"\\" + path);
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}
}  // namespace

std::map<std::wstring, std::string> ListTree(const std::wstring& root) {
    std::map<std::wstring, std::string> out;
    Walk(root, L"", out);
    return out;
}

}  // namespace testing_support
