#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"
#include "platform/LauncherBuild.h"
#include "transfer/PackageSources.h"
#include "update/LauncherUpdate.h"
#include "update/Manifest.h"

using namespace testing_support;

namespace {
bool LoadText(const std::string& text, Json::Value& value) {
    TempDir dir;
    WriteFileBytes(dir / L"version.json", text);
    return LoadJsonFile(dir / L"version.json", value);
}
}  // namespace

TEST(LoadJsonFile, AcceptsWhatTheReaderAccepts) {
    const char* accepted[] = {
        R"({"ServerVersionCode": 5, "WinPackageURL": "http://h/p.7z"})",
        "{ // comment\n \"ServerVersionCode\": 5, /* block */ \"WinPackageURL\": \"u\" }",
        R"({"ServerVersionCode": 5} trailing text is not examined)",
        "42",
        "null",
    };
    for (const char* text : accepted) {
        Json::Value value;
        EXPECT_TRUE(LoadText(text, value)) << text;
    }
}

TEST(LoadJsonFile, RefusesEmptyBrokenAndMissingFiles) {
    const char* refused[] = {"", "   \r\n\t ", "{\"ServerVersionCode\": ", "<html>404</html>"};
    for (const char* text : refused) {
        Json::Value value;
        EXPECT_FALSE(LoadText(text, value)) << text;
    }
    Json::Value value;
    EXPECT_FALSE(LoadJsonFile(L"C:\\no\\such\\version.json", value));
}

TEST(LoadJsonFile, WidePathWithNonAsciiNames) {
    TempDir dir;
    const std::wstring path = dir / L"版本 ü.json";
    ASSERT_TRUE(WriteFileBytes(path, R"({"ServerVersionCode": 3})"));
    Json::Value value;
    ASSERT_TRUE(LoadJsonFile(path, value));
    ManifestFields fields;
    ASSERT_TRUE(ReadManifestFields(value, fields));
    EXPECT_EQ(fields.version, 3);
}

TEST(ReadManifestFields, ConversionTable) {
    struct Case { const char* json; int32_t version; const char* url; };
    const Case cases[] = {
        {R"({"ServerVersionCode": 5, "WinPackageURL": "http://h/p.7z"})", 5, "http://h/p.7z"},
        {R"({})", 0, ""},
        {R"(null)", 0, ""},
        {R"({"ServerVersionCode": null, "WinPackageURL": null})", 0, ""},
        {R"({"ServerVersionCode": 5.9})", 5, ""},
        {R"({"ServerVersionCode": -5.9})", -5, ""},
        {R"({"ServerVersionCode": true, "WinPackageURL": false})", 1, "false"},
        {R"({"ServerVersionCode": 2147483647, "WinPackageURL": 12})", 2147483647, "12"},
        {R"({"ServerVersionCode": -2147483648, "WinPackageURL": 99999999999})", -2147483647 - 1,
         "99999999999"},
        {R"({"WinPackageURL": "http://h/\u00e9.7z"})", 0, "http://h/\xC3\xA9.7z"},
    };
    for (const Case& c : cases) {
        Json::Value root;
        ASSERT_TRUE(LoadText(c.json, root)) << c.json;
        ManifestFields fields;
        ASSERT_TRUE(ReadManifestFields(root, fields)) << c.json;
        EXPECT_EQ(fields.version, c.version) << c.json;
        EXPECT_EQ(fields.packageUrl, c.url) << c.json;
    }
}

TEST(ReadManifestFields, MalformedManifestsAreRefusedWithoutThrowing) {
    const char* malformed[] = {
        R"([1, 2])",
        R"("text")",
        R"(7)",
        R"({"ServerVersionCode": "5"})",
        R"({"ServerVersionCode": [5]})",
        R"({"ServerVersionCode": {"v": 5}})",
        R"({"ServerVersionCode": 2147483648})",
        R"({"ServerVersionCode": -2147483649})",
        R"({"ServerVersionCode": 1e300})",
        R"({"WinPackageURL": ["http://h/p.7z"]})",
        R"({"WinPackageURL": {"u": 1}})",
    };
    for (const char* text : malformed) {
        Json::Value root;
        ASSERT_TRUE(LoadText(text, root)) << text;
        ManifestFields fields;
        EXPECT_FALSE(ReadManifestFields(root, fields)) << text;
    }
}

TEST(IsUpdateNeeded, DecisionTable) {
    struct Case { int32_t server, installed; bool exeExists, needed; };
    const Case cases[] = {
        {5, 5, true, false},   // current
        {5, 5, false, true},   // executable missing: reinstall
        {5, 7, true, false},   // never downgrade
        {1, 0, true, true},    // nothing installed
        {0, 0, true, false},
        {6, 5, true, true},
        {-1, 0, true, false},  // signed comparison
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsUpdateNeeded(c.server, c.installed, c.exeExists), c.needed)
            << c.server << " " << c.installed << " " << c.exeExists;
}

TEST(ReadManifestFields, PackageSizeAndHash) {
    const std::string hash = "00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";
    struct Case { std::string json; bool ok; bool hasSize = false; uint64_t size = 0; bool hasHash = false; };
    const Case cases[] = {
        {R"({"ServerVersionCode": 1})", true, false, 0, false},  // older manifests stay valid
        {R"({"WinPackageSize": 0})", true, true, 0, false},
        {R"({"WinPackageSize": 4294967296})", true, true, 4294967296ull, false},
        {R"({"WinPackageSize": 18446744073709551615})", true, true, 18446744073709551615ull, false},
        {R"({"WinPackageSHA256": ")" + hash + R"("})", true, false, 0, true},
        {R"({"WinPackageSize": 5, "WinPackageSHA256": ")" + hash + R"("})", true, true, 5, true},
        {R"({"WinPackageSize": -1})", false},
        {R"({"WinPackageSize": 5.0})", false},
        {R"({"WinPackageSize": 1e3})", false},
        {R"({"WinPackageSize": "5"})", false},
        {R"({"WinPackageSize": true})", false},
        {R"({"WinPackageSize": null})", false},
        {R"({"WinPackageSize": [5]})", false},
        {R"({"WinPackageSHA256": ")" + hash.substr(1) + R"("})", false},
        {R"({"WinPackageSHA256": ")" + hash + R"(0"})", false},
        {R"({"WinPackageSHA256": ")" + std::string(63, '0') + R"(g"})", false},
        {R"({"WinPackageSHA256": " )" + hash.substr(1) + R"("})", false},
        {R"({"WinPackageSHA256": 12})", false},
        {R"({"WinPackageSHA256": null})", false},
    };
    for (const Case& c : cases) {
        Json::Value root;
        ASSERT_TRUE(ParseJsonText(c.json, root)) << c.json;
        ManifestFields fields;
        ASSERT_EQ(ReadManifestFields(root, fields), c.ok) << c.json;
        if (!c.ok) continue;
        EXPECT_EQ(fields.hasPackageSize, c.hasSize) << c.json;
        EXPECT_EQ(fields.packageSize, c.size) << c.json;
        EXPECT_EQ(fields.hasPackageSha256, c.hasHash) << c.json;
        EXPECT_EQ(NamesPackageIdentity(fields), c.hasSize && c.hasHash) << c.json;
        if (c.hasHash) {
            EXPECT_EQ(fields.packageSha256[0], 0x00);
            EXPECT_EQ(fields.packageSha256[9], 0x99);
            EXPECT_EQ(fields.packageSha256[31], 0xFF);
            EXPECT_EQ(Sha256Hex(fields.packageSha256), "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");
        }
    }
}

TEST(ReadManifestFields, PackageMirrors) {
    std::string seventeen = "[";
    for (int i = 0; i < 17; ++i) seventeen += std::string(i ? "," : "") + "\"http://m" + std::to_string(i) + "/p.7z\"";
    seventeen += "]";
    struct Case { std::string json; bool ok; std::vector<std::string> mirrors; };
    const Case cases[] = {
        {R"({"WinPackageURL": "http://a/p.7z"})", true, {}},
        {R"({"WinPackageMirrors": []})", true, {}},
        {R"({"WinPackageMirrors": ["https://b/p.7z", "http://c/x/p.7z"]})", true, {"https://b/p.7z", "http://c/x/p.7z"}},
        {R"({"WinPackageMirrors": "https://b/p.7z"})", false, {}},
        {R"({"WinPackageMirrors": ["https://b/p.7z", 7]})", false, {}},
        {R"({"WinPackageMirrors": [""]})", false, {}},
        {R"({"WinPackageMirrors": [["https://b/p.7z"]]})", false, {}},
        {R"({"WinPackageMirrors": null})", false, {}},
        {R"({"WinPackageMirrors": )" + seventeen + "}", false, {}},
    };
    for (const Case& c : cases) {
        Json::Value root;
        ASSERT_TRUE(ParseJsonText(c.json, root)) << c.json;
        ManifestFields fields;
        ASSERT_EQ(ReadManifestFields(root, fields), c.ok) << c.json;
        if (c.ok) {
            EXPECT_EQ(fields.packageMirrors, c.mirrors) << c.json;
        }
    }
}

TEST(ReadManifestFields, ALauncherBuildIsNamedByAllFourMembersOrNone) {
    const std::string hash(64, 'a');
    const std::string url = R"("WinLauncherURL": "https://h/QuenbySkirmora-2.exe")";
    const std::string size = R"("WinLauncherSize": 5000000)";
    const std::string sha = R"("WinLauncherSHA256": ")" + hash + "\"";
    auto with = [&](const std::string& build, const std::string& rest) { return "{\"WinLauncherBuild\": " + build + rest + "}"; };
    struct Case { std::string json; bool ok; bool named; };
    const Case cases[] = {
        {"{}", true, false},
        {with("2", ", " + url + ", " + size + ", " + sha), true, true},
        {with("2", ", " + url + ", " + size), false, false},                        // three of four
        {"{" + url + "}", false, false},
        {with("0", ", " + url + ", " + size + ", " + sha), false, false},           // builds start at 1
        {with("2.0", ", " + url + ", " + size + ", " + sha), false, false},
        {with("\"2\"", ", " + url + ", " + size + ", " + sha), false, false},
        {with("2147483648", ", " + url + ", " + size + ", " + sha), false, false},
        {with("2", ", \"WinLauncherURL\": \"\", " + size + ", " + sha), false, false},
        {with("2", ", " + url + ", \"WinLauncherSize\": 0, " + sha), false, false},
        {with("2", ", " + url + ", \"WinLauncherSize\": 67108865, " + sha), false, false},  // over 64 MiB
        {with("2", ", " + url + ", " + size + ", \"WinLauncherSHA256\": \"abc\""), false, false},
    };
    for (const Case& c : cases) {
        Json::Value root;
        ASSERT_TRUE(ParseJsonText(c.json, root)) << c.json;
        ManifestFields fields;
        ASSERT_EQ(ReadManifestFields(root, fields), c.ok) << c.json;
        EXPECT_EQ(fields.hasLauncher, c.named) << c.json;
        if (c.named) {
            EXPECT_EQ(fields.launcherBuild, 2);
            EXPECT_EQ(fields.launcherUrl, "https://h/QuenbySkirmora-2.exe");
            EXPECT_EQ(fields.launcherSize, 5000000u);
        }
    }
}

TEST(IsLauncherUpdateWanted, OnlyAHigherBuildThanBothTheRunningOneAndTheCopy) {
    ManifestFields server;
    server.hasLauncher = true;
    server.launcherBuild = 3;
    struct Case { int32_t running, copy; bool wanted; };
    const Case cases[] = {
        {2, 2, true}, {1, 0, true},  // no copy yet, or one from before builds were numbered
        {3, 1, false}, {4, 1, false}, {1, 3, false}, {1, 5, false},
        {0, 0, false},  // a program that never updates a launcher
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsLauncherUpdateWanted(server, c.running, c.copy), c.wanted) << c.running << " " << c.copy;
    server.hasLauncher = false;
    EXPECT_FALSE(IsLauncherUpdateWanted(server, 1, 1));
    EXPECT_TRUE(MayReplaceLauncher(2, 2));
    EXPECT_TRUE(MayReplaceLauncher(3, 0));
    EXPECT_FALSE(MayReplaceLauncher(1, 2));
}

TEST(PackageSources, TheManifestsUrlFirstThenEachMirrorOnce) {
    PackageSources urls("http://a/p.7z", {"http://b/p.7z", "", "http://c/p.7z"});
    EXPECT_EQ(urls.Current(), "http://a/p.7z");
    EXPECT_FALSE(urls.IsLast());
    EXPECT_TRUE(urls.MoveOn());
    EXPECT_EQ(urls.Current(), "http://b/p.7z");
    EXPECT_TRUE(urls.MoveOn());
    EXPECT_EQ(urls.Current(), "http://c/p.7z");  // the empty one skipped
    EXPECT_TRUE(urls.IsLast());
    EXPECT_FALSE(urls.MoveOn());
    EXPECT_EQ(urls.Current(), "http://c/p.7z");
    urls.Restart();
    EXPECT_EQ(urls.Current(), "http://a/p.7z");
    EXPECT_TRUE(urls.StartAt("http://b/p.7z"));
    EXPECT_EQ(urls.Current(), "http://b/p.7z");
    EXPECT_FALSE(urls.StartAt("http://elsewhere/p.7z"));  // not one of them: stays
    EXPECT_EQ(urls.Current(), "http://b/p.7z");
    PackageSources alone("http://a/p.7z", {});
    EXPECT_TRUE(alone.IsLast());
}

TEST(ParseJsonText, NestingPastTheReadersLimitIsRefusedNotThrown) {
    Json::Value value;
    EXPECT_TRUE(ParseJsonText(std::string(500, '[') + std::string(500, ']'), value));
    EXPECT_FALSE(ParseJsonText(std::string(5000, '[') + std::string(5000, ']'), value));
    EXPECT_FALSE(ParseJsonText("{\"a\":" + std::string(100000, '[') , value));
}
