// The version manifest on disk.
#pragma once

#include <string>

#include "rules/ManifestFields.h"

// Parses a file as one JSON value (see ParseJsonText). False for a missing, unreadable or
// unparsable file.
bool LoadJsonFile(const std::wstring& path, Json::Value& value);
