// The names the installation is built from, shared by the launcher and the release tool.
#pragma once

namespace names {
inline constexpr wchar_t kCompany[] = L"Larkvane";
inline constexpr wchar_t kGame[] = L"Vantrel";              // settings section, game executable
inline constexpr wchar_t kGameExe[] = L"Vantrel.exe";
inline constexpr wchar_t kDisplayTitle[] = L"QuenbySkirmora";  // launcher copy and shortcuts
inline constexpr wchar_t kLauncherExe[] = L"QuenbySkirmora.exe";
inline constexpr wchar_t kPackageName[] = L"com.larkvane.vantrel.pcquenby";
}  // namespace names
