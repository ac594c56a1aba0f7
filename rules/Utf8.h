// UTF-8 and the wide strings of this code (UTF-16 where wchar_t has 16 bits, code points where
// it has 32), for text files the launcher and the release tool both read. No Windows calls.
#pragma once

#include <string>

// False for bytes that are not well-formed UTF-8 (overlong forms, surrogates, past U+10FFFF).
bool WideFromUtf8(const std::string& bytes, std::wstring& text);
// False for a lone surrogate.
bool Utf8FromWide(const std::wstring& text, std::string& bytes);
