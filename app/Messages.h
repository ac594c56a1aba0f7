// The texts the launcher shows, filled in and fitted to the 256-unit message buffer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Message buffers hold this many UTF-16 units, terminator included.
inline constexpr size_t MESSAGE_BUFFER_UNITS = 256;

// The text for a failed update (result is a LAUNCH_ERR_ code or any other non-zero value).
std::wstring UpdateFailureMessage(int32_t result, int32_t unpackError, const std::wstring& detail);
// The text for a failed uninstall.
std::wstring UninstallFailureMessage(int32_t result);
// The text when the game cannot be started.
std::wstring GameStartFailureMessage(DWORD error, const std::wstring& gameExePath);

// A text too long for the buffer, shortened in the middle with "..." so that its start and the
// end of a long path or URL both stay readable.
std::wstring FitMessage(const std::wstring& text);

// The format with its first "%s" or "%d" replaced by the argument.
std::wstring FillIn(const std::wstring& format, const std::wstring& argument);
