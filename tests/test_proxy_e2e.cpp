// The launcher behind the proxy a player set in the system's Internet settings: a real proxy
// (tinyproxy) on 127.0.0.1, and the setting written where Windows keeps it for the user.
#include <gtest/gtest.h>

#include "tests/support/LauncherFixture.h"
#include "transfer/SystemProxy.h"

using namespace testing_support;

namespace {

class ProxyTest : public LauncherFixture {
protected:
    std::string proxy;
    std::wstring log;
    void SetUp() override {
        const char* port = getenv("QUENBY_PROXY_PORT");
        const char* path = getenv("QUENBY_PROXY_LOG");
        ASSERT_TRUE(port && path) << "run through with_tinyproxy.sh";
        proxy = std::string("127.0.0.1:") + port;
        log = L"Z:" + Widen(path);
        for (wchar_t& c : log)
            if (c == L'/') c = L'\\';
        LauncherFixture::SetUp();
    }
    void TearDown() override {
        ClearSystemProxy();  // whatever happened, the prefix goes back to a direct connection
        LauncherFixture::TearDown();
    }
    // The requests the proxy passed on since the last call.
    std::string ProxiedSince(size_t& seen) {
        std::string text = ReadFileBytes(log);
        std::string fresh = text.size() > seen ? text.substr(seen) : std::string();
        seen = text.size();
        return fresh;
    }
    void InstallFresh(const std::string& manifestUrl) {
        ForceRemoveTree(root);
        WriteSettings(download, manifestUrl);
        ChildProcess run(launcher, L"");
        EXPECT_EQ(run.Wait(60000), 0u);
        EXPECT_TRUE(WaitFor(record, 10000));
        KillProcessesNamed(L"Vantrel.exe");
    }
};

}  // namespace

TEST_F(ProxyTest, BothDownloadsGoThroughTheUsersProxyAndABypassedHostDirect) {
    // The manifest names the package on 127.0.0.1; the manifest itself is asked for as localhost.
    const std::string viaName = "http://localhost:" + std::to_string(server.Port());
    size_t seen = 0;
    ProxiedSince(seen);

    ASSERT_TRUE(SetSystemProxy(proxy, ""));
    InstallFresh(viaName + "/version.json");
    std::string passed = ProxiedSince(seen);
    EXPECT_NE(passed.find("GET " + viaName + "/version.json"), std::string::npos) << passed;
    EXPECT_NE(passed.find("GET " + server.Url("/package.7z")), std::string::npos) << passed;

    ASSERT_TRUE(SetSystemProxy(proxy, "localhost;*.example.invalid"));
    InstallFresh(viaName + "/version.json");
    passed = ProxiedSince(seen);
    EXPECT_EQ(passed.find("/version.json"), std::string::npos) << passed;  // bypassed: direct
    EXPECT_NE(passed.find("GET " + server.Url("/package.7z")), std::string::npos) << passed;

    ClearSystemProxy();
    InstallFresh(viaName + "/version.json");
    passed = ProxiedSince(seen);
    EXPECT_EQ(passed.find("GET http"), std::string::npos) << passed;  // no proxy set: all direct
}

TEST_F(ProxyTest, AProxyThatIsNotThereFailsTheDownload) {
    int deadPort;
    {
        HttpServer gone;
        deadPort = gone.Port();
    }
    ASSERT_TRUE(SetSystemProxy("127.0.0.1:" + std::to_string(deadPort), ""));
    WriteSettings(download, server.Url("/version.json"));
    ExpectMessage(launcher, L"", L"错误", L"无法下载Version文件，请检查您的网络！\n" + Widen(server.Url("/version.json")));
}

TEST(ProxyForHost, SystemSettingsTable) {
    struct Case { const wchar_t* proxy; const wchar_t* bypass; const char* host; const char* chosen; };
    const Case cases[] = {
        {L"", L"", "cdn.example.com", ""},
        {L"proxy:8080", L"", "cdn.example.com", "http://proxy:8080"},
        {L"http=web:80;https=secure:443", L"", "cdn.example.com", "http://web:80"},
        {L"https=secure:443;ftp=f:21", L"", "cdn.example.com", ""},
        {L"http://proxy:8080", L"", "h", "http://proxy:8080"},
        {L"proxy:8080", L"*.example.com", "cdn.example.com", ""},
        {L"proxy:8080", L"*.example.com", "example.org", "http://proxy:8080"},
        {L"proxy:8080", L"CDN.Example.com", "cdn.example.COM", ""},
        {L"proxy:8080", L"10.*; 192.168.1.5", "10.1.2.3", ""},
        {L"proxy:8080", L"<local>", "intranet", ""},
        {L"proxy:8080", L"<local>", "intranet.corp", "http://proxy:8080"},
    };
    for (const Case& c : cases) {
        SystemProxyConfig config{c.proxy, c.bypass};
        EXPECT_EQ(ProxyForHost(config, c.host), c.chosen) << Narrow(c.proxy) << " | " << Narrow(c.bypass) << " | " << c.host;
    }
    EXPECT_EQ(HostOfUrl("http://cdn.example.com:8080/v/x.json"), "cdn.example.com");
    EXPECT_EQ(HostOfUrl("http://user:pw@h/x"), "h");
    EXPECT_EQ(HostOfUrl("http://[::1]:80/x"), "[::1]");
    EXPECT_EQ(HostOfUrl("no scheme"), "");
}
