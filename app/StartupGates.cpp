#include "app/StartupGates.h"

bool IsSupportedSystem(const OSVERSIONINFOW& v) {
    return v.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           (v.dwMajorVersion > 6 || (v.dwMajorVersion == 6 && v.dwMinorVersion >= 1));
}

std::wstring ExeFileNameOf(const std::wstring& modulePath) {
    size_t separator = modulePath.find_last_of(L"\\/");
    return separator == std::wstring::npos ? modulePath : modulePath.substr(separator + 1);
}
