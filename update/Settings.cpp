#include "update/Settings.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/FileSystem.h"
#include "platform/ScopedWin.h"
#include "update/GameFolders.h"

std::wstring GetLauncherDir() {
    wchar_t modulePath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    std::wstring path = modulePath;
    size_t lastBackslash = path.rfind(L'\\');
    if (lastBackslash == std::wstring::npos) return std::wstring();
    return path.substr(0, lastBackslash + 1);
}

bool HoldsInstalledGame(const std::wstring& folder) {
    const std::wstring gameDir = folder + L"\\game";
    if (CanOpenForReading(gameDir + L"\\version.json")) return true;
    // An update cut short in the middle of its swap leaves the game as a previous game.
    for (int slot = 0; slot < PREVIOUS_GAME_SLOTS; ++slot)
        if (CanOpenForReading(PreviousGameDir(gameDir, slot) + L"\\version.json")) return true;
    return false;
}

std::wstring ResolveInstallRoot() {
    const std::wstring launcherDir = GetLauncherDir();
    const std::wstring launcherFolder = launcherDir.empty() ? launcherDir : launcherDir.substr(0, launcherDir.size() - 1);
    if (HoldsInstalledGame(launcherFolder)) return launcherFolder;

    std::wstring base;
    scoped::CoTaskMemory<wchar_t> roaming;  // the shell allocates even on some failures
    if (SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_CREATE, nullptr, roaming.Out()) == S_OK)
        base = roaming.Get();
    return base + L"\\" + names::kCompany + L"\\" + names::kGame;
}

std::wstring ReadSetting(const std::wstring& key, const std::wstring& defaultValue) {
    const std::wstring file = GetLauncherDir() + L"setting.ini";
    wchar_t value[MAX_PATH] = {};
    // The default is applied here rather than by the system call, which would cut it to fit.
    DWORD length =
        GetPrivateProfileStringW(names::kGame, key.c_str(), L"", value, MAX_PATH, file.c_str());
    return length != 0 ? std::wstring(value, length) : defaultValue;
}

InstallPaths MakeInstallPaths(const std::wstring& installRoot) {
    InstallPaths paths;
    paths.gameDir = installRoot + L"\\game";
    paths.gameExe = paths.gameDir + L"\\" + names::kGameExe;
    paths.unpackDestination = paths.gameDir + L"\\";
    paths.installedManifest = paths.gameDir + L"\\version.json";
    paths.installedIndex = paths.gameDir + L"\\version.index";
    paths.installedStamps = paths.gameDir + L"\\version.stamps";
    paths.stagedGameDir = paths.gameDir + L".new";
    paths.previousGameDir = paths.gameDir + L".old";
    paths.tempDir = installRoot + L"\\temp";
    paths.downloadedManifest = paths.tempDir + L"\\version.json";
    paths.packageFile = paths.tempDir + L"\\" + names::kPackageName + L".7z";
    paths.downloadedIndex = paths.tempDir + L"\\version.index";
    paths.packageParts = paths.packageFile + L".parts";
    return paths;
}

uint64_t DownloadCapOf(const std::wstring& value) {
    if (value.empty() || value.size() > 12) return 0;  // up to 999,999,999,999 KiB/s
    uint64_t kib = 0;
    for (wchar_t c : value) {
        if (c < L'0' || c > L'9') return 0;
        kib = kib * 10 + uint64_t(c - L'0');
    }
    return kib * 1024;
}
