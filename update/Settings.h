// Where the game lives and where its version manifest comes from.
#pragma once

#include <string>

// Names that the installation is built from.
namespace names {
inline constexpr wchar_t kCompany[] = L"Larkvane";
inline constexpr wchar_t kGame[] = L"Vantrel";              // settings section, game executable
inline constexpr wchar_t kGameExe[] = L"Vantrel.exe";
inline constexpr wchar_t kDisplayTitle[] = L"QuenbySkirmora";  // launcher copy and shortcuts
inline constexpr wchar_t kLauncherExe[] = L"QuenbySkirmora.exe";
inline constexpr wchar_t kPackageName[] = L"com.larkvane.vantrel.pcquenby";
}  // namespace names

// The manifest URL used when setting.ini names none: the publisher's CDN.
inline constexpr wchar_t DEFAULT_VERSION_URL[] =
    L"http://cdn.larkvane.com/version/com.larkvane.vantrel.pcquenby.json";

// The launcher's folder with a trailing backslash; empty when its path holds no backslash.
std::wstring GetLauncherDir();

// The launcher's folder (without the backslash) when "game\version.json" lies beside it,
// otherwise the roaming application-data folder + "\Larkvane\Vantrel".
std::wstring ResolveInstallRoot();

// The key's value from section "Vantrel" of setting.ini beside the launcher; the default when
// the file, the section or the key is missing or the value is empty.
std::wstring ReadSetting(const std::wstring& key, const std::wstring& defaultValue);

// Every path of an update, derived from the install root by plain concatenation.
struct InstallPaths {
    std::wstring gameDir;            // R\game
    std::wstring gameExe;            // R\game\Vantrel.exe
    std::wstring unpackDestination;  // R\game\ (with the separator)
    std::wstring installedManifest;  // R\game\version.json
    std::wstring tempDir;            // R\temp
    std::wstring downloadedManifest; // R\temp\version.json
    std::wstring packageFile;        // R\temp\com.larkvane.vantrel.pcquenby.7z
};
InstallPaths MakeInstallPaths(const std::wstring& installRoot);
