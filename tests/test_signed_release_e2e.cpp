// Releases made by the publisher's tool, through the real launcher built with the test key: the
// release installs, and every forgery is refused with the installed game untouched.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/LauncherFixture.h"
#include "platform/LauncherBuild.h"
#include "tests/support/TreeCompare.h"

using namespace testing_support;

namespace {

const std::string kManifestPath = "/version/com.larkvane.vantrel.pcquenby.json";
const std::string kPackagePath = "/version/Vantrel-2.7z";
const std::wstring kBadManifest = L"非法的Version文件，请重新尝试。谢谢！";

std::wstring Releases() {
    const char* folder = getenv("QUENBY_SIGNED_RELEASES");
    std::wstring path = L"Z:" + Widen(folder ? folder : "");
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}
std::string Released(const std::wstring& relative) { return ReadFileBytes(Releases() + L"\\" + relative); }
std::string Flipped(std::string bytes, size_t at) {
    bytes[at % bytes.size()] ^= 0x01;
    return bytes;
}

// The launcher built with the test key, or the same file signed with a code-signing certificate.
std::wstring LauncherUnderTest() {
    const char* signedFile = getenv("QUENBY_AUTHENTICODE_LAUNCHER");
    if (!signedFile || !*signedFile) return ProgramDir() + Widen(SIGNED_LAUNCHER);
    std::wstring path = L"Z:" + Widen(signedFile);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

class SignedReleaseTest : public LauncherFixture {
protected:
    const std::string manifest = Released(L"good\\com.larkvane.vantrel.pcquenby.json");
    const std::string signature = Released(L"good\\com.larkvane.vantrel.pcquenby.json.sig");
    const std::string package = Released(L"good\\Vantrel-2.7z");

    void SetUp() override {
        ASSERT_NE(getenv("QUENBY_SIGNED_RELEASES"), nullptr) << "run through signed_release_e2e.sh";
        LauncherFixture::SetUp();
        ASSERT_TRUE(CopyFileW(LauncherUnderTest().c_str(), launcher.c_str(), FALSE));
        WriteSettings(download, server.Url(kManifestPath));
        ASSERT_FALSE(manifest.empty());
        Serve(manifest, signature, package);
    }
    void Serve(const std::string& m, const std::string& sig, const std::string& pkg) {
        server.RouteBody(kManifestPath, m);
        if (sig.empty())
            server.Route(kManifestPath + ".sig", nullptr);
        else
            server.RouteBody(kManifestPath + ".sig", sig);
        server.RouteBody(kPackagePath, pkg);
    }
    void InstallVersionOne() {
        CreateDirectoryTree(root + L"\\game\\saves");
        WriteFileBytes(root + L"\\game\\version.json", Manifest(1, "http://old.invalid/v1.7z"));
        CopyFileW(E2e(L"Vantrel.exe").c_str(), (root + L"\\game\\Vantrel.exe").c_str(), FALSE);
        WriteFileBytes(root + L"\\game\\saves\\slot1.dat", "the player's progress");
    }
};

}  // namespace

TEST_F(SignedReleaseTest, AReleaseMadeByTheToolInstalls) {
    InstallVersionOne();
    ChildProcess run(launcher, L"signed");
    EXPECT_EQ(run.Wait(60000), 0u);
    ASSERT_TRUE(WaitFor(record, 10000));
    EXPECT_EQ(ReadFileBytes(record), "signed");
    KillProcessesNamed(L"Vantrel.exe");
    EXPECT_EQ(ReadFileBytes(root + L"\\game\\version.json"), manifest);  // the exact bytes signed
    EXPECT_EQ(ReadFileBytes(root + L"\\game\\data\\readme.txt"), "Vantrel signed content\n");
    EXPECT_FALSE(Exists(root + L"\\game\\saves"));
}

TEST_F(SignedReleaseTest, EveryForgeryIsRefusedAndTheGameKept) {
    struct Case { const char* label; std::string manifest, signature, package; std::wstring message; };
    const std::wstring packageFailure = L"无法下载安装包更新文件，请检查您的网络！\n" + Widen(server.Url(kPackagePath));
    const Case cases[] = {
        {"one byte of the manifest", Flipped(manifest, 40), signature, package, kBadManifest},
        {"one byte of the signature", manifest, Flipped(signature, 20), package, kBadManifest},
        {"one byte of the package", manifest, signature, Flipped(package, package.size() / 2), packageFailure},
        {"the signature of another manifest", manifest,
         Released(L"other\\com.larkvane.vantrel.pcquenby.json.sig"), package, kBadManifest},
        {"a signature by another key", manifest, Released(L"stranger.json.sig"), package, kBadManifest},
        {"no signature", manifest, "", package, kBadManifest},
        {"a signed manifest without size and hash", Released(L"nofields.json"),
         Released(L"nofields.json.sig"), package, kBadManifest},
        {"a signature file of 1 MiB", manifest, std::string(1 << 20, 'A'), package, kBadManifest},
        {"an unsigned manifest of the old kind", Manifest(2, server.Url(kPackagePath)), "", package, kBadManifest},
    };
    InstallVersionOne();
    const auto before = ListTree(root + L"\\game");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Serve(c.manifest, c.signature, c.package);
        const int packageRequests = server.Requests(kPackagePath);
        ExpectMessage(launcher, L"", L"错误", c.message);
        EXPECT_TRUE(ListTree(root + L"\\game") == before);
        EXPECT_FALSE(Exists(root + L"\\game.new"));
        if (c.message == kBadManifest) {
            EXPECT_EQ(server.Requests(kPackagePath), packageRequests);  // nothing else fetched
        }
    }
    EXPECT_FALSE(Exists(copy));
}

// A release that names launcher build 2: the copy in the install root, which the shortcuts start,
// becomes build 2, also while it runs; a launcher of a lower build never undoes that.
namespace {

class SelfUpdateTest : public SignedReleaseTest {
protected:
    const std::string build2 = ReadFileBytes(ProgramDir() + Widen(SIGNED_LAUNCHER_BUILD2));
    const std::string build1 = ReadFileBytes(ProgramDir() + Widen(SIGNED_LAUNCHER));

    // Installs release 2 with build 1 from the download folder: the copy is build 1, with the
    // settings a publisher ships beside it.
    void InstallWithBuildOne() {
        RunToGame(launcher);
        ASSERT_TRUE(CopyIs(build1));
        ASSERT_EQ(ReadLauncherBuild(copy), 1);
        WriteSettings(root, server.Url(kManifestPath));
    }
    // Compared whole, never printed: a failure names the builds, not megabytes of bytes.
    bool CopyIs(const std::string& bytes) { return ReadFileBytes(copy) == bytes; }
    // Release 4, which names build 2; its launcher file as served (altered: a tampered download).
    void ServeReleaseNamingBuildTwo(const std::string& launcherBytes) {
        ServeRelease(L"self", 4);
        server.RouteBody("/version/QuenbySkirmora-2.exe", launcherBytes);
    }
    // The manifest and signature of a release folder, and package n.
    void ServeRelease(const std::wstring& folder, int n) {
        server.RouteBody(kManifestPath, Released(folder + L"\\com.larkvane.vantrel.pcquenby.json"));
        server.RouteBody(kManifestPath + ".sig", Released(folder + L"\\com.larkvane.vantrel.pcquenby.json.sig"));
        const std::wstring package = L"Vantrel-" + std::to_wstring(n) + L".7z";
        server.RouteBody("/version/" + Narrow(package), Released(folder + L"\\" + package));
    }
    void RunToGame(const std::wstring& exe) {
        ChildProcess run(exe, L"");
        EXPECT_EQ(run.Wait(60000), 0u);
        EXPECT_TRUE(WaitFor(record, 10000));
        KillProcessesNamed(L"Vantrel.exe");
        DeleteFileW(record.c_str());
    }
    int InstalledVersion() {
        const std::string installed = ReadFileBytes(root + L"\\game\\version.json");
        for (int n = 6; n > 2; --n)
            if (installed.find("\"ServerVersionCode\" : " + std::to_string(n)) != std::string::npos) return n;
        return 2;
    }
};

}  // namespace

TEST_F(SelfUpdateTest, TheCopyBecomesTheNewerBuildWhileItRunsAndWorksAfterwards) {
    ASSERT_EQ(ReadLauncherBuild(ProgramDir() + Widen(SIGNED_LAUNCHER_BUILD2)), 2);
    InstallWithBuildOne();
    ASSERT_EQ(LinkTarget(DesktopShortcut()), copy);
    ServeReleaseNamingBuildTwo(build2);
    RunToGame(LinkTarget(DesktopShortcut()));  // the copy, as the shortcut starts it
    EXPECT_EQ(InstalledVersion(), 4);
    EXPECT_TRUE(CopyIs(build2)) << "build " << ReadLauncherBuild(copy);
    EXPECT_EQ(LinkTarget(DesktopShortcut()), copy);
    EXPECT_FALSE(Exists(root + L"\\temp"));

    // Build 2 runs from there and clears what build 1 left aside.
    RunToGame(copy);
    EXPECT_TRUE(CopyIs(build2)) << "build " << ReadLauncherBuild(copy);
    EXPECT_FALSE(Exists(copy + L".old"));

    // Build 1 run again from the download folder leaves the newer copy alone.
    RunToGame(launcher);
    EXPECT_TRUE(CopyIs(build2)) << "build " << ReadLauncherBuild(copy);
    EXPECT_EQ(LinkTarget(DesktopShortcut()), copy);
}

TEST_F(SelfUpdateTest, ATamperedLauncherDownloadIsRefusedAndTheOldCopyKept) {
    InstallWithBuildOne();
    ServeReleaseNamingBuildTwo(Flipped(build2, build2.size() / 2));
    RunToGame(copy);
    EXPECT_EQ(InstalledVersion(), 4);  // the game's update stands
    EXPECT_TRUE(CopyIs(build1)) << "build " << ReadLauncherBuild(copy);
    EXPECT_FALSE(Exists(copy + L".old"));
    EXPECT_FALSE(Exists(root + L"\\temp"));
}

// Moving to a new key: a launcher build with the new key, in a release still signed with the old
// one; from then on releases signed with the new key are taken and the old key's are refused.
TEST_F(SelfUpdateTest, AKeyRotationGoesThroughALauncherBuildSignedWithTheOldKey) {
    const std::string newKeyBuild2 = ReadFileBytes(ProgramDir() + L"QuenbySkirmoraNewKeyBuild2.exe");
    ASSERT_FALSE(newKeyBuild2.empty());
    InstallWithBuildOne();
    ServeRelease(L"rotate", 5);
    server.RouteBody("/version/QuenbySkirmora-2.exe", newKeyBuild2);
    RunToGame(copy);
    EXPECT_EQ(InstalledVersion(), 5);
    ASSERT_TRUE(CopyIs(newKeyBuild2)) << "build " << ReadLauncherBuild(copy);

    // The old key's signature over release 6 is refused by the new launcher, the game kept.
    server.RouteBody(kManifestPath, Released(L"new-key\\com.larkvane.vantrel.pcquenby.json"));
    server.RouteBody(kManifestPath + ".sig", Released(L"old-key\\com.larkvane.vantrel.pcquenby.json.sig"));
    ExpectMessage(copy, L"", L"错误", kBadManifest);
    EXPECT_EQ(InstalledVersion(), 5);

    ServeRelease(L"new-key", 6);
    RunToGame(copy);
    EXPECT_EQ(InstalledVersion(), 6);
    EXPECT_TRUE(CopyIs(newKeyBuild2));
}
