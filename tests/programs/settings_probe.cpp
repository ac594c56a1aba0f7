// Prints what the launcher's settings functions see from wherever this program was copied to.
//   settings_probe.exe <output file>
// Output: UTF-8 lines: launcher dir, install root, local_path (default "<none>"), version_url.
#include <windows.h>

#include <string>

#include "tests/support/TestFiles.h"
#include "update/Settings.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    std::wstring text = GetLauncherDir() + L"\n" + ResolveInstallRoot() + L"\n" +
                        ReadSetting(L"local_path", L"<none>") + L"\n" +
                        ReadSetting(L"version_url", DEFAULT_VERSION_URL) + L"\n";
    return testing_support::WriteFileBytes(argv[1], testing_support::Narrow(text)) ? 0 : 1;
}
