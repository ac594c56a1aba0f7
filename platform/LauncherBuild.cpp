#include "platform/LauncherBuild.h"

#include <windows.h>

#include <cwchar>
#include <vector>

int32_t ReadLauncherBuild(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return 0;
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return 0;
    wchar_t* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\080404b0\\LauncherBuild", reinterpret_cast<void**>(&text),
                        &length) ||
        !text || length == 0)
        return 0;
    const std::wstring digits(text, wcsnlen(text, length));
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of(L"0123456789") != std::wstring::npos) return 0;
    return int32_t(std::wcstol(digits.c_str(), nullptr, 10));
}
