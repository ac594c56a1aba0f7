// Where the game lives and where its version manifest comes from.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ProductNames.h"

// The manifest URL used when setting.ini names none: the publisher's CDN.
inline constexpr wchar_t DEFAULT_VERSION_URL[] =
    L"http://cdn.larkvane.com/version/com.larkvane.vantrel.pcquenby.json";

// The launcher's folder with a trailing backslash; empty when its path holds no backslash.
std::wstring GetLauncherDir();

// The launcher's folder (without the backslash) when it holds an installed game, otherwise the
// roaming application-data folder + "\Larkvane\Vantrel".
std::wstring ResolveInstallRoot();

// Whether folder is an install root: "game\version.json" is there, or a previous game with its
// manifest ("game.old\version.json"), which an update cut short in its swap leaves.
bool HoldsInstalledGame(const std::wstring& folder);

// The key's value from section "Vantrel" of setting.ini beside the launcher; the default when
// the file, the section or the key is missing or the value is empty.
std::wstring ReadSetting(const std::wstring& key, const std::wstring& defaultValue);

// "max_download_kbps": a positive whole number of KiB/s caps every download of the run. The
// cap in bytes per second, or 0 (no cap) for an empty, zero or malformed value.
uint64_t DownloadCapOf(const std::wstring& value);

// Every path of an update, derived from the install root by plain concatenation.
struct InstallPaths {
    std::wstring gameDir;            // R\game
    std::wstring gameExe;            // R\game\Vantrel.exe
    std::wstring unpackDestination;  // R\game\ (with the separator)
    std::wstring installedManifest;  // R\game\version.json
    std::wstring installedIndex;     // R\game\version.index: the installed release's file index
    std::wstring installedStamps;    // R\game\version.stamps: its files as they were installed
    std::wstring stagedGameDir;      // R\game.new: the new game while it is unpacked
    std::wstring previousGameDir;    // R\game.old: the old game while the new one moves in
    std::wstring tempDir;            // R\temp
    std::wstring downloadedManifest; // R\temp\version.json
    std::wstring packageFile;        // R\temp\com.larkvane.vantrel.pcquenby.7z
    std::wstring downloadedIndex;    // R\temp\version.index
    std::wstring packageParts;       // R\temp\com.larkvane.vantrel.pcquenby.7z.parts (+ ".list")
};
InstallPaths MakeInstallPaths(const std::wstring& installRoot);
