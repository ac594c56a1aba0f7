#include "transfer/SystemProxy.h"

#include "platform/ScopedWin.h"

#include <windows.h>
#include <winhttp.h>

#include <cctype>
#include <cstring>
#include <vector>

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(unsigned(c) < 0x80 ? char(c) : '?');  // host names are ASCII
    return out;
}

std::vector<std::string> Split(const std::string& text, const char* separators) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : text) {
        if (strchr(separators, c)) {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

// '*' matches any run of characters.
bool WildcardMatch(const char* pattern, const char* text) {
    if (*pattern == '\0') return *text == '\0';
    if (*pattern == '*') return WildcardMatch(pattern + 1, text) || (*text && WildcardMatch(pattern, text + 1));
    return *text && *pattern == *text && WildcardMatch(pattern + 1, text + 1);
}

bool IsBypassed(const std::string& bypass, const std::string& host) {
    const std::string name = Lower(host);
    for (std::string entry : Split(Lower(bypass), "; \t,")) {
        if (entry == "<local>") {
            if (name.find('.') == std::string::npos) return true;
            continue;
        }
        if (entry.compare(0, 7, "http://") == 0) entry.erase(0, 7);
        if (WildcardMatch(entry.c_str(), name.c_str())) return true;
    }
    return false;
}

}  // namespace

bool ReadSystemProxyConfig(SystemProxyConfig& config) {
    config = SystemProxyConfig();
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie = {};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&ie)) return false;
    // The strings are the caller's to free.
    const scoped::GlobalMemory<wchar_t> proxy(ie.lpszProxy), bypass(ie.lpszProxyBypass),
        script(ie.lpszAutoConfigUrl);
    if (proxy.Get()) config.proxy = proxy.Get();
    if (bypass.Get()) config.bypass = bypass.Get();
    return true;
}

std::string ProxyForHost(const SystemProxyConfig& config, const std::string& host) {
    std::string chosen;
    for (const std::string& entry : Split(Narrow(config.proxy), "; \t")) {
        const size_t equals = entry.find('=');
        if (equals == std::string::npos) {
            if (chosen.empty()) chosen = entry;  // one proxy for every scheme
        } else if (Lower(entry.substr(0, equals)) == "http") {
            chosen = entry.substr(equals + 1);
            break;
        }
    }
    if (chosen.empty() || IsBypassed(Narrow(config.bypass), host)) return std::string();
    return chosen.find("://") == std::string::npos ? "http://" + chosen : chosen;
}

std::string HostOfUrl(const std::string& url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos) return std::string();
    size_t start = scheme + 3;
    const size_t at = url.find('@', start);
    const size_t end = url.find_first_of("/?#", start);
    if (at != std::string::npos && (end == std::string::npos || at < end)) start = at + 1;
    std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!authority.empty() && authority[0] == '[') return authority.substr(0, authority.find(']') + 1);
    return authority.substr(0, authority.find(':'));
}
