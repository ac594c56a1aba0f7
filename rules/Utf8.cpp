#include "rules/Utf8.h"

#include <cstdint>

namespace {

void AppendCodePoint(std::wstring& text, uint32_t c) {
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
        c -= 0x10000;
        text.push_back(wchar_t(0xD800 + (c >> 10)));
        text.push_back(wchar_t(0xDC00 + (c & 0x3FF)));
    } else {
        text.push_back(wchar_t(c));
    }
}

}  // namespace

bool WideFromUtf8(const std::string& bytes, std::wstring& text) {
    text.clear();
    for (size_t i = 0; i < bytes.size();) {
        const uint8_t lead = uint8_t(bytes[i]);
        int extra = 0;
        uint32_t c = 0, least = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, c = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, c = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, c = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (i + size_t(extra) >= bytes.size() && extra) return false;  // cut off
        for (int k = 1; k <= extra; ++k) {
            const uint8_t next = uint8_t(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            c = (c << 6) | (next & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        AppendCodePoint(text, c);
        i += size_t(extra) + 1;
    }
    return true;
}

bool Utf8FromWide(const std::wstring& text, std::string& bytes) {
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = uint32_t(text[i]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || uint32_t(text[i + 1]) < 0xDC00 || uint32_t(text[i + 1]) > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(text[++i]) - 0xDC00);
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            return false;
        }
        if (c < 0x80) {
            bytes.push_back(char(c));
        } else if (c < 0x800) {
            bytes.push_back(char(0xC0 | (c >> 6)));
            bytes.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            bytes.push_back(char(0xE0 | (c >> 12)));
            bytes.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            bytes.push_back(char(0x80 | (c & 0x3F)));
        } else {
            bytes.push_back(char(0xF0 | (c >> 18)));
            bytes.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            bytes.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            bytes.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return true;
}
