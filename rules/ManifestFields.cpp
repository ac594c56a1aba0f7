#include "rules/ManifestFields.h"

#include <json/reader.h>

#include <sstream>

namespace {
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
// The package index: all three members or none; a URL, a size an index may have, a hash.
bool ReadIndexFields(const Json::Value& root, ManifestFields& fields) {
    const int present = int(root.isMember("WinPackageIndexURL")) + int(root.isMember("WinPackageIndexSize")) +
                        int(root.isMember("WinPackageIndexSHA256"));
    fields.hasIndex = present == 3;
    if (present == 0) return true;
    if (present != 3) return false;
    const Json::Value& url = root["WinPackageIndexURL"];
    const Json::Value& hash = root["WinPackageIndexSHA256"];
    if (!url.isString() || url.asString().empty() || !ParsePackageSize(root["WinPackageIndexSize"], fields.indexSize) ||
        fields.indexSize == 0 || fields.indexSize > PACKAGE_INDEX_MAX_BYTES || !hash.isString() ||
        !ParseSha256Hex(hash.asString(), fields.indexSha256))
        return false;
    fields.indexUrl = url.asString();
    return true;
}

// "WinPackageMirrors": absent, or an array of non-empty strings (at most PACKAGE_MIRRORS_MAX).
bool ReadMirrorFields(const Json::Value& root, ManifestFields& fields) {
    fields.packageMirrors.clear();
    if (!root.isMember("WinPackageMirrors")) return true;
    const Json::Value& mirrors = root["WinPackageMirrors"];
    if (!mirrors.isArray() || mirrors.size() > PACKAGE_MIRRORS_MAX) return false;
    for (const Json::Value& mirror : mirrors) {
        if (!mirror.isString() || mirror.asString().empty()) return false;
        fields.packageMirrors.push_back(mirror.asString());
    }
    return true;
}

// "WinLauncherBuild", "WinLauncherURL", "WinLauncherSize", "WinLauncherSHA256": all or none.
bool ReadLauncherFields(const Json::Value& root, ManifestFields& fields) {
    const char* names[] = {"WinLauncherBuild", "WinLauncherURL", "WinLauncherSize", "WinLauncherSHA256"};
    int present = 0;
    for (const char* name : names) present += int(root.isMember(name));
    fields.hasLauncher = false;
    if (present == 0) return true;
    if (present != 4) return false;
    const Json::Value& build = root["WinLauncherBuild"];
    const Json::Value& url = root["WinLauncherURL"];
    const Json::Value& hash = root["WinLauncherSHA256"];
    const bool wholeNumber = build.type() == Json::intValue || build.type() == Json::uintValue;
    if (!wholeNumber || !build.isInt() || build.asInt() < 1 || !url.isString() || url.asString().empty() ||
        !ParsePackageSize(root["WinLauncherSize"], fields.launcherSize) || fields.launcherSize == 0 ||
        fields.launcherSize > LAUNCHER_MAX_BYTES || !hash.isString() || !ParseSha256Hex(hash.asString(), fields.launcherSha256))
        return false;
    fields.launcherBuild = build.asInt();
    fields.launcherUrl = url.asString();
    fields.hasLauncher = true;
    return true;
}

}  // namespace

bool ParseJsonText(const std::string& bytes, Json::Value& value) {
    std::istringstream stream(bytes);
    try {
        // The classic reader: comments allowed, any value as root, trailing text ignored. It
        // throws past its nesting limit, which counts as unparsable here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        Json::Reader reader;
#pragma GCC diagnostic pop
        return reader.parse(stream, value, true);
    } catch (...) {
        value = Json::Value();
        return false;
    }
}

bool ParsePackageSize(const Json::Value& value, uint64_t& size) {
    if (value.type() == Json::uintValue) {
        size = value.asUInt64();
        return true;
    }
    if (value.type() == Json::intValue && value.asInt64() >= 0) {
        size = uint64_t(value.asInt64());
        return true;
    }
    return false;
}

bool ParseSha256Hex(const std::string& text, Sha256Digest& digest) {
    if (text.size() != digest.size() * 2) return false;
    for (size_t i = 0; i < digest.size(); ++i) {
        int high = HexValue(text[2 * i]), low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        digest[i] = uint8_t(high * 16 + low);
    }
    return true;
}

std::string Sha256Hex(const Sha256Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : digest) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 15]);
    }
    return text;
}

bool ReadManifestFields(Json::Value& root, ManifestFields& fields) {
    try {
        if (!root.isObject() && !root.isNull()) return false;
        // Non-const access, as for any reader of the manifest: absent members become null.
        Json::Value& version = root["ServerVersionCode"];
        Json::Value& packageUrl = root["WinPackageURL"];
        if (!version.isConvertibleTo(Json::intValue)) return false;
        if (!packageUrl.isConvertibleTo(Json::stringValue)) return false;
        fields.version = version.asInt();
        fields.packageUrl = packageUrl.asString();

        fields.hasPackageSize = root.isMember("WinPackageSize");
        if (fields.hasPackageSize && !ParsePackageSize(root["WinPackageSize"], fields.packageSize))
            return false;
        fields.hasPackageSha256 = root.isMember("WinPackageSHA256");
        if (fields.hasPackageSha256) {
            const Json::Value& hash = root["WinPackageSHA256"];
            if (!hash.isString() || !ParseSha256Hex(hash.asString(), fields.packageSha256))
                return false;
        }
        return ReadIndexFields(root, fields) && ReadMirrorFields(root, fields) && ReadLauncherFields(root, fields);
    } catch (...) {
        return false;
    }
}

bool NamesPackageIdentity(const ManifestFields& fields) {
    return fields.hasPackageSize && fields.hasPackageSha256;
}

bool IsUpdateNeeded(int32_t serverVersion, int32_t installedVersion, bool gameExeExists) {
    return !(serverVersion <= installedVersion && gameExeExists);
}
