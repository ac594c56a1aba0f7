// Ends the process the way the launcher does while a worker is still busy with the launcher's
// own code (folders, manifests, archives), and reports a clean end by exit code 0.
//   exit_under_worker.exe FOLDER
#include <windows.h>

#include <string>

#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "update/Manifest.h"

namespace {
std::wstring g_folder;
DWORD WINAPI Busy(LPVOID) {
    for (unsigned i = 0;; ++i) {
        const std::wstring path = g_folder + L"\\a\\b\\c" + std::to_wstring(i % 7);
        CreateDirectoryTree(path);
        Json::Value value;
        ParseJsonText("{\"ServerVersionCode\": 5, \"WinPackageURL\": \"http://h/p.7z\"}", value);
        ManifestFields fields;
        ReadManifestFields(value, fields);
        DeleteDirectoryTree(g_folder + L"\\a");
    }
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    g_folder = argv[1];
    HANDLE worker = CreateThread(nullptr, 0, Busy, nullptr, 0, nullptr);
    Sleep(30);
    EndProcess(0, WaitForSingleObject(worker, 0) != WAIT_TIMEOUT);
}
