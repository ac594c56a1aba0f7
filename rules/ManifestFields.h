// The version manifest's fields and the rules for them, shared by the launcher and the release
// tool so that a manifest one accepts is one the other accepts. No Windows calls in here.
//   {"ServerVersionCode": <int>, "WinPackageURL": "<url>",
//    "WinPackageSize": <bytes>, "WinPackageSHA256": "<64 hex digits>",
//    "WinPackageIndexURL": "<url>", "WinPackageIndexSize": <bytes>, "WinPackageIndexSHA256": "<hex>",
//    "WinPackageMirrors": ["<url of the same package>", ...],
//    "WinLauncherBuild": <int>, "WinLauncherURL": "<url>", "WinLauncherSize": <bytes>,
//    "WinLauncherSHA256": "<hex>", ...}
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Sha256Digest.h"
#include "rules/PackageIndex.h"

// A manifest body longer than this is refused before it is parsed.
inline constexpr uint64_t MANIFEST_MAX_BYTES = 1024 * 1024;
// More mirrors than this make the manifest malformed: each one tried can cost a stall.
inline constexpr unsigned PACKAGE_MIRRORS_MAX = 16;
// A launcher named in a manifest is at most this large.
inline constexpr uint64_t LAUNCHER_MAX_BYTES = 64ull << 20;

struct ManifestFields {
    int32_t version = 0;     // "ServerVersionCode"
    std::string packageUrl;  // "WinPackageURL", bytes as stored
    bool hasPackageSize = false;
    uint64_t packageSize = 0;  // "WinPackageSize"
    bool hasPackageSha256 = false;
    Sha256Digest packageSha256{};  // "WinPackageSHA256"
    // The package's file index (all three members or none), for updates by byte ranges.
    bool hasIndex = false;
    std::string indexUrl;       // "WinPackageIndexURL"
    uint64_t indexSize = 0;     // "WinPackageIndexSize": 1 to PACKAGE_INDEX_MAX_BYTES
    Sha256Digest indexSha256{}; // "WinPackageIndexSHA256"
    // Further URLs of the same package, tried in order after packageUrl ("WinPackageMirrors").
    std::vector<std::string> packageMirrors;
    // A launcher build of the release (all four members or none), which replaces the launcher
    // copy in the install root when its build is higher than the running one's.
    bool hasLauncher = false;
    int32_t launcherBuild = 0;     // "WinLauncherBuild": 1 or more
    std::string launcherUrl;       // "WinLauncherURL"
    uint64_t launcherSize = 0;     // "WinLauncherSize": 1 to LAUNCHER_MAX_BYTES
    Sha256Digest launcherSha256{}; // "WinLauncherSHA256"
};

// Parses bytes as one JSON value with the classic reader (comments allowed, text after the value
// not examined). False for anything it refuses, including nesting deeper than it accepts.
bool ParseJsonText(const std::string& bytes, Json::Value& value);

// Reads the members with the library's conversions (absent or null version and URL: 0 and "").
// False for a malformed manifest: a root that is neither object nor null, a version that does
// not convert to a 32-bit integer, a package URL that is an array or object, or a size or hash
// that is present but not a non-negative integer / 64 hex digits, an index named by some of its
// three members only or by values out of their range, mirrors that are not an array of at most
// PACKAGE_MIRRORS_MAX non-empty strings, a launcher named by some of its four members only or by
// values out of their range. Never throws.
bool ReadManifestFields(Json::Value& root, ManifestFields& fields);

// "WinPackageSize": an integer (not a real, not a string) from 0 up to 2^64 - 1.
bool ParsePackageSize(const Json::Value& value, uint64_t& size);
// "WinPackageSHA256": exactly 64 hexadecimal digits, either case.
bool ParseSha256Hex(const std::string& text, Sha256Digest& digest);
std::string Sha256Hex(const Sha256Digest& digest);  // lower case

// Whether a manifest names its package's size and hash, which a signed release must.
bool NamesPackageIdentity(const ManifestFields& fields);

// Already current: the server's version is not newer and the game executable exists.
bool IsUpdateNeeded(int32_t serverVersion, int32_t installedVersion, bool gameExeExists);
