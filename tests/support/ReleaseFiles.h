// The files a test hands the launcher, written one way for every suite: a version manifest and a
// setting.ini.
#pragma once

#include <cstdint>
#include <string>

namespace testing_support {

// {"ServerVersionCode": v, "WinPackageURL": "url"<extra>}; extra is more members, each with its
// leading comma.
std::string ManifestJson(int version, const std::string& packageUrl, const std::string& extra = "");
// The size and hash members, for ManifestJson's extra.
std::string SizeAndHashMembers(uint64_t size, const std::string& sha256Hex);

// setting.ini in folder, section [Vantrel]: local_path when localPath is not empty, and
// version_url.
bool WriteSettingsFile(const std::wstring& folder, const std::string& localPath, const std::string& versionUrl);

}  // namespace testing_support
