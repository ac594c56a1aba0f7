#include "tests/support/ReleaseFiles.h"

#include "tests/support/TestFiles.h"

namespace testing_support {

std::string ManifestJson(int version, const std::string& packageUrl, const std::string& extra) {
    return "{\"ServerVersionCode\": " + std::to_string(version) + ", \"WinPackageURL\": \"" + packageUrl + "\"" +
           extra + "}";
}

std::string SizeAndHashMembers(uint64_t size, const std::string& sha256Hex) {
    return ", \"WinPackageSize\": " + std::to_string(size) + ", \"WinPackageSHA256\": \"" + sha256Hex + "\"";
}

bool WriteSettingsFile(const std::wstring& folder, const std::string& localPath, const std::string& versionUrl) {
    std::string text = "[Vantrel]\r\n";
    if (!localPath.empty()) text += "local_path=" + localPath + "\r\n";
    return WriteFileBytes(folder + L"\\setting.ini", text + "version_url=" + versionUrl + "\r\n");
}

}  // namespace testing_support
