#include "update/Manifest.h"

#include "platform/FileSystem.h"

bool LoadJsonFile(const std::wstring& path, Json::Value& value) {
    std::string bytes;
    ReadWholeFile(path, bytes);  // an unreadable file reads as empty, which does not parse
    return ParseJsonText(bytes, value);
}
