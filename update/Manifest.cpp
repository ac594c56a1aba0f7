#include "update/Manifest.h"

#include <json/reader.h>

#include <sstream>

#include "platform/FileSystem.h"

bool LoadJsonFile(const std::wstring& path, Json::Value& value) {
    std::string bytes;
    ReadWholeFile(path, bytes);  // an unreadable file reads as empty, which does not parse
    std::istringstream stream(bytes);
    try {
        // The classic reader: comments allowed, any value as root, trailing text ignored.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        Json::Reader reader;
#pragma GCC diagnostic pop
        return reader.parse(stream, value, true);
    } catch (const std::exception&) {
        return false;
    }
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
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool IsUpdateNeeded(int32_t serverVersion, int32_t installedVersion, bool gameExeExists) {
    return !(serverVersion <= installedVersion && gameExeExists);
}
