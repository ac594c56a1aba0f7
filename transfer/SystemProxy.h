// The proxy the current user set in the system's Internet settings, for libcurl, which does not
// read them itself. An explicit proxy and its bypass list are used; a configuration script or
// automatic detection is not (a direct connection then).
#pragma once

#include <string>

// The system's answer, as WinHTTP reads the user's settings.
struct SystemProxyConfig {
    std::wstring proxy;   // "host:port", or per scheme "http=host:port;https=..."
    std::wstring bypass;  // "host;*.domain;10.*;<local>"
};
bool ReadSystemProxyConfig(SystemProxyConfig& config);

// The proxy for a plain-http request to host under config ("" for a direct connection): the
// "http=" entry or the one for every scheme, unless the host matches the bypass list (patterns
// with '*', any case; "<local>" for names without a dot).
std::string ProxyForHost(const SystemProxyConfig& config, const std::string& host);

// The host of an http URL ("" when there is none).
std::string HostOfUrl(const std::string& url);
