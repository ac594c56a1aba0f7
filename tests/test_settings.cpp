#include <gtest/gtest.h>

#include <shlobj.h>

#include <sstream>
#include <vector>

#include "tests/support/TestFiles.h"
#include "update/Settings.h"

using namespace testing_support;

namespace {

struct ProbeResult {
    std::wstring launcherDir, installRoot, localPath, versionUrl;
};

// Places the probe program in a fresh folder (which the test may fill first) and runs it there.
class SettingsProbe {
public:
    TempDir dir;
    std::wstring Folder() const { return dir.Path() + L"\\"; }

    ProbeResult Run() {
        const std::wstring exe = dir / L"launcher.exe";
        CopyFileW(HelperProgram(L"settings_probe.exe").c_str(), exe.c_str(), FALSE);
        const std::wstring out = dir / L"probe.txt";
        EXPECT_EQ(RunProgram(exe, L"\"" + out + L"\""), 0u);
        std::wistringstream lines(Widen(ReadFileBytes(out)));
        ProbeResult r;
        std::getline(lines, r.launcherDir);
        std::getline(lines, r.installRoot);
        std::getline(lines, r.localPath);
        std::getline(lines, r.versionUrl);
        return r;
    }
    void WriteIni(const std::string& utf8) { ASSERT_TRUE(WriteFileBytes(dir / L"setting.ini", utf8)); }
};

std::wstring RoamingInstallRoot() {
    PWSTR roaming = nullptr;
    SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &roaming);
    std::wstring root = std::wstring(roaming) + L"\\Larkvane\\Vantrel";
    CoTaskMemFree(roaming);
    return root;
}

}  // namespace

TEST(Settings, LauncherElsewhereUsesRoamingFolderAndBuiltInUrl) {
    SettingsProbe probe;
    ProbeResult r = probe.Run();
    EXPECT_EQ(r.launcherDir, probe.Folder());
    EXPECT_EQ(r.installRoot, RoamingInstallRoot());
    EXPECT_EQ(r.localPath, L"<none>");
    EXPECT_EQ(r.versionUrl, DEFAULT_VERSION_URL);
    EXPECT_NE(std::wstring(DEFAULT_VERSION_URL).find(L"/version/com.larkvane.vantrel.pcquenby.json"),
              std::wstring::npos);
    EXPECT_EQ(std::wstring(DEFAULT_VERSION_URL).rfind(L"http://", 0), 0u);
}

TEST(Settings, LauncherBesideAnInstalledGameUsesItsOwnFolder) {
    SettingsProbe probe;
    ASSERT_TRUE(CreateDirectoryW((probe.dir / L"game").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(probe.dir / L"game\\version.json", "{}"));
    EXPECT_EQ(probe.Run().installRoot, probe.dir.Path());
}

TEST(Settings, ValuesFromTheFileWinOverDefaults) {
    SettingsProbe probe;
    probe.WriteIni("[Vantrel]\r\nlocal_path=D:\\Games\\Vantrel\\\r\nversion_url=http://127.0.0.1:8080/v.json\r\n");
    ProbeResult r = probe.Run();
    EXPECT_EQ(r.localPath, L"D:\\Games\\Vantrel\\");  // used as written
    EXPECT_EQ(r.versionUrl, L"http://127.0.0.1:8080/v.json");
}

TEST(Settings, EmptyValuesAndOtherSectionsGiveDefaults) {
    const char* files[] = {
        "[Vantrel]\r\nlocal_path=\r\nversion_url=\r\n",
        "[Other]\r\nlocal_path=C:\\x\r\nversion_url=http://x/\r\n",
        "",
    };
    for (const char* content : files) {
        SCOPED_TRACE(content);
        SettingsProbe probe;
        probe.WriteIni(content);
        ProbeResult r = probe.Run();
        EXPECT_EQ(r.localPath, L"<none>");
        EXPECT_EQ(r.versionUrl, DEFAULT_VERSION_URL);
    }
}

TEST(Settings, LongValueIsCutTo259Units) {
    SettingsProbe probe;
    const std::string longValue = "C:\\" + std::string(400, 'p');
    probe.WriteIni("[Vantrel]\r\nlocal_path=" + longValue + "\r\n");
    EXPECT_EQ(probe.Run().localPath, Widen(longValue.substr(0, 259)));
}

TEST(Settings, Utf16FileWithByteOrderMarkIsRead) {
    SettingsProbe probe;
    const std::wstring text = L"[Vantrel]\r\nlocal_path=C:\\游戏\\Vantrel\r\n";
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    probe.WriteIni(bytes);
    EXPECT_EQ(probe.Run().localPath, L"C:\\游戏\\Vantrel");
}

TEST(InstallPaths, DerivedByPlainConcatenation) {
    InstallPaths p = MakeInstallPaths(L"D:\\Games\\Vantrel");
    EXPECT_EQ(p.gameDir, L"D:\\Games\\Vantrel\\game");
    EXPECT_EQ(p.gameExe, L"D:\\Games\\Vantrel\\game\\Vantrel.exe");
    EXPECT_EQ(p.unpackDestination, L"D:\\Games\\Vantrel\\game\\");
    EXPECT_EQ(p.installedManifest, L"D:\\Games\\Vantrel\\game\\version.json");
    EXPECT_EQ(p.tempDir, L"D:\\Games\\Vantrel\\temp");
    EXPECT_EQ(p.downloadedManifest, L"D:\\Games\\Vantrel\\temp\\version.json");
    EXPECT_EQ(p.packageFile, L"D:\\Games\\Vantrel\\temp\\com.larkvane.vantrel.pcquenby.7z");
}

TEST(Settings, TheDownloadCapIsAPositiveWholeNumberOfKibPerSecond) {
    struct Case { const wchar_t* value; uint64_t bytesPerSecond; };
    const Case cases[] = {
        {L"1", 1024},
        {L"2048", 2097152},
        {L"999999999999", 999999999999ull * 1024},  // past 4 GiB/s: 64-bit arithmetic
        {L"", 0},
        {L"0", 0},
        {L"-5", 0},
        {L"12k", 0},
        {L"1.5", 0},
        {L"1000000000000", 0},  // longer than any line could mean
    };
    for (const Case& c : cases) EXPECT_EQ(DownloadCapOf(c.value), c.bytesPerSecond) << Narrow(c.value);
}
