// HTTPS through the launcher's downloader and its update worker, against local servers over TLS
// whose certificates the run's own test CA signed (trusted in the prefix as Windows stores a
// root), and against ones that are expired, for another host, or trusted by nobody.
#include <gtest/gtest.h>

#include <curl/curl.h>

#include <cstdio>
#include <map>
#include <sstream>

#include "platform/FileSystem.h"
#include "tests/support/ReleaseFiles.h"
#include "tests/support/Shell.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TreeCompare.h"
#include "transfer/Download.h"

using namespace testing_support;

namespace {

std::wstring WinePath(const char* unixPath) {
    std::wstring path = L"Z:" + Widen(unixPath ? unixPath : "");
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

class TlsTest : public ::testing::Test {
protected:
    std::map<std::string, int> ports;
    std::wstring www;

    void SetUp() override {
        const char* list = getenv("QUENBY_TLS_PORTS");
        if (!list) GTEST_SKIP() << "no TLS servers (run through tls_e2e.sh with a trusted test CA)";
        std::istringstream entries(list);
        for (std::string entry; std::getline(entries, entry, ';');)
            if (entry.find('=') != std::string::npos)
                ports[entry.substr(0, entry.find('='))] = atoi(entry.substr(entry.find('=') + 1).c_str());
        www = WinePath(getenv("QUENBY_TLS_WWW"));
        ASSERT_TRUE(WriteFileBytes(www + L"\\hello.txt", "hello over TLS"));
    }
    std::string Url(const std::string& scheme, const std::string& server, const std::string& path) {
        return scheme + "://localhost:" + std::to_string(ports[server]) + path;
    }
    // The body fetched from url ("" on failure) and the result code.
    std::string Fetch(const std::string& url, int& result) {
        TempDir dir;
        FILE* out = _wfopen((dir / L"out.bin").c_str(), L"wb");
        DownloadProgress progress;
        result = DownloadFile(&progress, url.c_str(), out);
        fclose(out);
        return result == 0 ? ReadFileBytes(dir / L"out.bin") : std::string();
    }
};

}  // namespace

TEST_F(TlsTest, HttpsIsFetchedAndARedirectMayLeadToItButNeverBackToHttp) {
    struct Case { const char* label; std::string url; bool fetched; };
    const Case cases[] = {
        {"https", Url("https", "good", "/hello.txt"), true},
        {"the scheme in capitals", Url("HTTPS", "good", "/hello.txt"), true},
        {"a redirect from http to https", Url("http", "up", "/hello.txt"), true},
        {"a redirect from https to http", Url("https", "down", "/hello.txt"), false},
        {"plain http as before", Url("http", "plain", "/hello.txt"), true},
        {"https to a server that has no TLS", Url("https", "plain", "/hello.txt"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        int result = -1;
        const std::string body = Fetch(c.url, result);
        EXPECT_EQ(body, c.fetched ? "hello over TLS" : "");
        EXPECT_EQ(result == 0, c.fetched) << result;
    }
    int result = -1;
    Fetch(Url("https", "down", "/hello.txt"), result);
    EXPECT_EQ(result, CURLE_UNSUPPORTED_PROTOCOL);
}

TEST_F(TlsTest, ACertificateThatIsNotGoodForTheServerFailsTheDownload) {
    for (const char* server : {"expired", "wrong-host", "untrusted"}) {
        SCOPED_TRACE(server);
        int result = -1;
        EXPECT_EQ(Fetch(Url("https", server, "/hello.txt"), result), "");
        EXPECT_NE(result, 0);
        EXPECT_NE(result, CURLE_UNSUPPORTED_PROTOCOL);  // a TLS failure, never a quiet retry
    }
}

namespace {

// The update worker from a launcher folder of its own, the release on the TLS servers.
class TlsUpdateTest : public TlsTest {
protected:
    TempDir dir;
    std::wstring launcherDir = dir / L"download";
    std::wstring root = dir / L"Games\\Vantrel";

    void SetUp() override {
        TlsTest::SetUp();
        if (IsSkipped()) return;
        CreateDirectoryTree(launcherDir);
        ASSERT_TRUE(CopyFileW(HelperProgram(L"update_runner.exe").c_str(), (launcherDir + L"\\runner.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileW((ProgramDir() + L"fixtures\\game-v1.7z").c_str(), (www + L"\\package.7z").c_str(), FALSE));
    }
    // Serves version n naming the package on server, and runs the worker against manifestServer.
    std::map<std::wstring, std::wstring> Update(int version, const std::string& manifestServer,
                                                const std::string& packageServer = "good") {
        WriteFileBytes(www + L"\\version.json", ManifestJson(version, Url("https", packageServer, "/package.7z")));
        WriteSettingsFile(launcherDir, Narrow(root), Url("https", manifestServer, "/version.json"));
        const std::wstring out = dir / L"out.txt";
        DeleteFileW(out.c_str());
        EXPECT_EQ(RunProgram(launcherDir + L"\\runner.exe", L"\"" + out + L"\"", 120000), 0u);
        return ParseKeyValues(Widen(ReadFileBytes(out)));
    }
};

}  // namespace

TEST_F(TlsUpdateTest, AReleaseOverHttpsIsInstalledAndABadCertificateKeepsTheGame) {
    auto r = Update(1, "good");
    ASSERT_EQ(r[L"result"], L"0");
    const auto installed = ListTree(root + L"\\game");
    EXPECT_TRUE(Exists(root + L"\\game\\Vantrel.exe"));
    for (const char* server : {"expired", "wrong-host", "untrusted"}) {
        SCOPED_TRACE(server);
        r = Update(2, "good", server);  // the manifest fine, the package's server not
        EXPECT_EQ(r[L"result"], L"-10001");
        EXPECT_EQ(r[L"errorDetail"], Widen(Url("https", server, "/package.7z")));
        EXPECT_TRUE(ListTree(root + L"\\game") == installed);
        r = Update(2, server);  // the manifest's server
        EXPECT_EQ(r[L"result"], L"-10000");
        EXPECT_TRUE(ListTree(root + L"\\game") == installed);
    }
}

TEST_F(TlsUpdateTest, ADownloadOverHttpsCutShortIsContinued) {
    auto r = Update(1, "good", "cut");  // the first answer for the package stops half-way
    EXPECT_EQ(r[L"result"], L"-10001");
    r = Update(1, "good", "cut");
    ASSERT_EQ(r[L"result"], L"0");
    EXPECT_TRUE(Exists(root + L"\\game\\Vantrel.exe"));
    const std::string log = ReadFileBytes(WinePath(getenv("QUENBY_TLS_LOGS")) + L"\\cut.log");
    EXPECT_NE(log.find("range=bytes="), std::string::npos) << log;  // the rest, by range
}

// Behind the player's proxy (a real tinyproxy): the TLS session goes through a CONNECT tunnel.
TEST_F(TlsUpdateTest, HttpsGoesThroughTheSystemProxyInATunnel) {
    const char* port = getenv("QUENBY_PROXY_PORT");
    const char* log = getenv("QUENBY_PROXY_LOG");
    ASSERT_TRUE(port && log) << "run through tls_e2e.sh, which starts a proxy";
    ASSERT_TRUE(SetSystemProxy(std::string("127.0.0.1:") + port, ""));
    auto r = Update(1, "good");
    ClearSystemProxy();
    EXPECT_EQ(r[L"result"], L"0");
    EXPECT_TRUE(Exists(root + L"\\game\\Vantrel.exe"));
    const std::string passed = ReadFileBytes(WinePath(log));
    EXPECT_NE(passed.find("CONNECT localhost:" + std::to_string(ports["good"])), std::string::npos) << passed;
}
