// The version manifest: {"ServerVersionCode": <int>, "WinPackageURL": "<url>", ...}.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// Parses a file as one JSON value (comments allowed; text after the value is not examined).
// False for a missing, unreadable or unparsable file.
bool LoadJsonFile(const std::wstring& path, Json::Value& value);

// The two members the launcher reads.
struct ManifestFields {
    int32_t version = 0;     // "ServerVersionCode"
    std::string packageUrl;  // "WinPackageURL", bytes as stored
};

// Reads both members with the library's conversions (absent or null: 0 and ""). False for a
// malformed manifest: a root that is neither object nor null, a version that does not convert to
// a 32-bit integer, or a package URL that is an array or object. Never throws.
bool ReadManifestFields(Json::Value& root, ManifestFields& fields);

// Already current: the server's version is not newer and the game executable exists.
bool IsUpdateNeeded(int32_t serverVersion, int32_t installedVersion, bool gameExeExists);
