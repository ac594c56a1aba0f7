// The release tool as a publisher runs it: real folders, real 7zz, real keys made here.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Result {
    int code = -1;
    std::string output;  // standard output and error together
};

Result Tool(const std::string& arguments) {
    Result r;
    FILE* pipe = popen((std::string(RELEASE_TOOL) + " " + arguments + " 2>&1").c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.output.append(buffer, n);
    const int status = pclose(pipe);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}
void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class ReleaseToolTest : public ::testing::Test {
protected:
    std::string dir;
    std::string publicKey;
    void SetUp() override {
        char pattern[] = "/tmp/quenby-release-test.XXXXXX";
        dir = mkdtemp(pattern);
        Result r = Tool("keygen --secret-key " + dir + "/secret.key");
        ASSERT_EQ(r.code, 0) << r.output;
        publicKey = r.output.substr(0, r.output.find('\n'));
        MakeGame(dir + "/game");
    }
    void TearDown() override { system(("rm -rf '" + dir + "'").c_str()); }

    void MakeGame(const std::string& folder) {
        system(("mkdir -p '" + folder + "/data'").c_str());
        Write(folder + "/Vantrel.exe", "MZ stand-in game executable");
        Write(folder + "/data/level.pak", std::string(100000, 'L'));
        Write(folder + "/data/readme.txt", "Vantrel\n");
    }
    Result Make(const std::string& out, int version, const std::string& extra = "") {
        return Tool("make --secret-key " + dir + "/secret.key --game " + dir + "/game --version " +
                    std::to_string(version) + " --base-url http://cdn.example.com/version --out " + out + " " + extra);
    }
    Result Verify(const std::string& release, const std::string& key = "") {
        return Tool("verify --public-key " + (key.empty() ? publicKey : key) + " --release " + release);
    }
    std::string ManifestOf(const std::string& release) {
        return release + "/com.larkvane.vantrel.pcquenby.json";
    }
};

}  // namespace

TEST_F(ReleaseToolTest, KeygenWritesAnOwnerOnlySecretAndNeverOverwrites) {
    const std::string secret = dir + "/secret.key";
    struct stat info;
    ASSERT_EQ(stat(secret.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(publicKey.size(), 44u);
    const std::string before = Read(secret);
    Result again = Tool("keygen --secret-key " + secret);
    EXPECT_NE(again.code, 0);
    EXPECT_NE(again.output.find("exists already"), std::string::npos) << again.output;
    EXPECT_EQ(Read(secret), before);
}

TEST_F(ReleaseToolTest, MadeReleaseVerifies) {
    Result made = Make(dir + "/r7", 7);
    ASSERT_EQ(made.code, 0) << made.output;
    const std::string manifest = Read(ManifestOf(dir + "/r7"));
    EXPECT_NE(manifest.find("\"ServerVersionCode\" : 7"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("\"WinPackageURL\" : \"http://cdn.example.com/version/Vantrel-7.7z\""), std::string::npos);
    EXPECT_NE(manifest.find("\"WinPackageSize\" : "), std::string::npos);
    EXPECT_NE(manifest.find("\"WinPackageSHA256\" : \""), std::string::npos);
    EXPECT_EQ(Read(ManifestOf(dir + "/r7") + ".sig").size(), 89u);  // 88 characters and a newline
    Result verified = Verify(dir + "/r7");
    EXPECT_EQ(verified.code, 0) << verified.output;
    // The archive really holds the game, as 7zz itself lists it.
    FILE* list = popen(("7zz l -slt '" + dir + "/r7/Vantrel-7.7z'").c_str(), "r");
    std::string listing;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, list)) > 0;) listing.append(buffer, n);
    pclose(list);
    EXPECT_NE(listing.find("Path = Vantrel.exe"), std::string::npos);
    EXPECT_NE(listing.find("Path = data/level.pak"), std::string::npos);
    EXPECT_NE(listing.find("LZMA2"), std::string::npos);
}

TEST_F(ReleaseToolTest, MakeRefusesWhatTheLauncherWouldRefuse) {
    struct Case { const char* label; std::string setup; std::string extra; int version; std::string says; };
    ASSERT_EQ(Make(dir + "/previous", 5).code, 0);
    const Case cases[] = {
        {"no game executable", "rm '" + dir + "/game/Vantrel.exe'", "", 6, "Vantrel.exe: missing"},
        {"a name with .. that Windows reads as a parent", "touch '" + dir + "/game/..\\\\evil.dll'", "", 6, "refuses this name"},
        {"a dots-only name", "touch '" + dir + "/game/data/...'", "", 6, "refuses this name"},
        {"a device name", "touch '" + dir + "/game/data/CON.txt'", "", 6, "refuses this name"},
        {"a drive-like name", "touch '" + dir + "/game/data/c:x'", "", 6, "refuses this name"},
        {"a link", "ln -s /etc/passwd '" + dir + "/game/data/link'", "", 6, "a link"},
        {"the same version as before", "", "--previous " + ManifestOf(dir + "/previous"), 5, "not higher"},
        {"a lower version", "", "--previous " + ManifestOf(dir + "/previous"), 4, "not higher"},
        {"version zero", "", "", 0, "from 1 to"},
        {"an existing release folder", "", "", 6, "new or empty folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        system(("rm -rf '" + dir + "/game'").c_str());
        MakeGame(dir + "/game");
        if (!c.setup.empty()) ASSERT_EQ(system(c.setup.c_str()), 0);
        const std::string out = std::string(c.label) == "an existing release folder" ? dir + "/previous" : dir + "/out";
        Result r = Make(out, c.version, c.extra);
        EXPECT_NE(r.code, 0);
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
        if (out == dir + "/out") EXPECT_NE(access((dir + "/out/com.larkvane.vantrel.pcquenby.json").c_str(), F_OK), 0);
    }
    // http:// and https:// only: the launcher fetches nothing else.
    Result ftp = Tool("make --secret-key " + dir + "/secret.key --game " + dir +
                      "/game --version 6 --base-url ftp://cdn.example.com --out " + dir + "/o2");
    EXPECT_NE(ftp.code, 0);
    EXPECT_NE(ftp.output.find("http:// and https:// URLs only"), std::string::npos) << ftp.output;
    Result https = Tool("make --secret-key " + dir + "/secret.key --game " + dir +
                        "/game --version 6 --base-url https://cdn.example.com --out " + dir + "/o3");
    EXPECT_EQ(https.code, 0) << https.output;
    Result higher = Make(dir + "/r6", 6, "--previous " + ManifestOf(dir + "/previous"));
    EXPECT_EQ(higher.code, 0) << higher.output;
}

TEST_F(ReleaseToolTest, MirrorsAreNamedInTheSignedManifestWithThePackagesName) {
    Result made = Make(dir + "/r3", 3, "--mirrors 'https://m1.example.com/v  http://m2.example.com/v/'");
    ASSERT_EQ(made.code, 0) << made.output;
    const std::string manifest = Read(ManifestOf(dir + "/r3"));
    EXPECT_NE(manifest.find("\"WinPackageMirrors\" : \n  [\n    \"https://m1.example.com/v/Vantrel-3.7z\",\n"
                            "    \"http://m2.example.com/v/Vantrel-3.7z\"\n  ]"),
              std::string::npos)
        << manifest;
    EXPECT_EQ(Verify(dir + "/r3").code, 0);
    Result ftp = Make(dir + "/r4", 4, "--mirrors 'https://m1.example.com ftp://m2.example.com'");
    EXPECT_NE(ftp.code, 0);
    EXPECT_NE(ftp.output.find("ftp://m2.example.com: the launcher fetches http:// and https:// URLs only"),
              std::string::npos)
        << ftp.output;
}

TEST_F(ReleaseToolTest, ALauncherBuildIsNamedInTheSignedManifestAndVerified) {
    Write(dir + "/launcher.exe", "MZ stand-in signed launcher, build 2");
    Result made = Make(dir + "/r3", 3, "--launcher " + dir + "/launcher.exe --launcher-build 2");
    ASSERT_EQ(made.code, 0) << made.output;
    const std::string manifest = Read(ManifestOf(dir + "/r3"));
    EXPECT_NE(manifest.find("\"WinLauncherBuild\" : 2"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("\"WinLauncherURL\" : \"http://cdn.example.com/version/QuenbySkirmora-2.exe\""), std::string::npos);
    EXPECT_NE(manifest.find("\"WinLauncherSize\" : 36"), std::string::npos);
    EXPECT_EQ(Read(dir + "/r3/QuenbySkirmora-2.exe"), Read(dir + "/launcher.exe"));
    EXPECT_EQ(Verify(dir + "/r3").code, 0);
    Write(dir + "/r3/QuenbySkirmora-2.exe", "MZ another launcher, same length!!!!");
    Result tampered = Verify(dir + "/r3");
    EXPECT_NE(tampered.code, 0);
    EXPECT_NE(tampered.output.find("not the launcher the manifest names"), std::string::npos) << tampered.output;

    Write(dir + "/notes.txt", "not an executable");
    struct Case { std::string extra, says; };
    const Case refused[] = {
        {"--launcher " + dir + "/notes.txt --launcher-build 2", "not a Windows executable"},
        {"--launcher " + dir + "/launcher.exe", "go together"},
        {"--launcher " + dir + "/launcher.exe --launcher-build 2147483648", "from 1 to"},
    };
    for (const Case& c : refused) {
        system(("rm -rf '" + dir + "/r4'").c_str());
        Result r = Make(dir + "/r4", 4, c.extra);
        EXPECT_NE(r.code, 0) << c.extra;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    }
}

TEST_F(ReleaseToolTest, VerifyRefusesEveryTamperedRelease) {
    ASSERT_EQ(Make(dir + "/good", 3).code, 0);
    ASSERT_EQ(Make(dir + "/other", 4).code, 0);
    const std::string otherKey = dir + "/other.key";
    const std::string otherPublic = Tool("keygen --secret-key " + otherKey).output.substr(0, 44);
    auto flip = [](const std::string& path, size_t at) {
        std::string bytes = Read(path);
        bytes[at % bytes.size()] ^= 0x01;
        Write(path, bytes);
    };
    struct Case { const char* label; std::function<void(const std::string&)> tamper; std::string says; };
    const Case cases[] = {
        {"a byte of the manifest", [&](const std::string& r) { flip(ManifestOf(r), 20); }, "not a valid signature"},
        {"a byte of the signature", [&](const std::string& r) { flip(ManifestOf(r) + ".sig", 10); }, "not a valid signature"},
        {"a byte of the package", [&](const std::string& r) { flip(r + "/Vantrel-3.7z", 5000); }, "SHA-256 differs"},
        {"another manifest's signature",
         [&](const std::string& r) { Write(ManifestOf(r) + ".sig", Read(ManifestOf(dir + "/other") + ".sig")); },
         "not a valid signature"},
        {"a signature by another key",
         [&](const std::string& r) { Tool("sign --secret-key " + otherKey + " --file " + ManifestOf(r)); },
         "not a valid signature"},
        {"no signature", [&](const std::string& r) { unlink((ManifestOf(r) + ".sig").c_str()); }, ".sig: missing"},
        {"a signature file of 1 MiB",
         [&](const std::string& r) { Write(ManifestOf(r) + ".sig", std::string(1 << 20, 'A')); }, "larger than 1 KiB"},
        {"a signed manifest without size and hash",
         [&](const std::string& r) {
             Write(ManifestOf(r), "{\"ServerVersionCode\": 3, \"WinPackageURL\": \"http://cdn.example.com/version/Vantrel-3.7z\"}");
             Tool("sign --secret-key " + dir + "/secret.key --file " + ManifestOf(r));
         },
         "must name WinPackageSize"},
        {"a package cut short",
         [&](const std::string& r) { Write(r + "/Vantrel-3.7z", Read(r + "/Vantrel-3.7z").substr(0, 100)); },
         "bytes, the manifest says"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string release = dir + "/tampered";
        system(("rm -rf '" + release + "' && cp -r '" + dir + "/good' '" + release + "'").c_str());
        ASSERT_EQ(Verify(release).code, 0);
        c.tamper(release);
        Result r = Verify(release);
        EXPECT_NE(r.code, 0);
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    }
    Result wrongKey = Verify(dir + "/good", otherPublic);
    EXPECT_NE(wrongKey.code, 0);
}

TEST_F(ReleaseToolTest, MakeRefusesEveryNameWindowsCannotHoldAndSignsNothing) {
    struct Case { const char* label; std::vector<std::string> names; std::string says; };
    const std::string longPath = [] {
        std::string path;
        for (int i = 0; i < 80; ++i) path += "d/";
        return path + "x";
    }();
    const Case cases[] = {
        {"<", {"data/a<b"}, "character Windows does not allow"},
        {">", {"a>b"}, "character Windows does not allow"},
        {"\"", {"a\"b"}, "character Windows does not allow"},
        {"|", {"a|b"}, "character Windows does not allow"},
        {"?", {"a?b"}, "character Windows does not allow"},
        {"*", {"a*b"}, "character Windows does not allow"},
        {":", {"data/ab:c"}, "character Windows does not allow"},
        {"a control character", {"a\x01b"}, "character Windows does not allow"},
        {"a trailing dot", {"data./a.pak"}, "ending in a dot or a space"},
        {"a trailing space", {"a.pak "}, "ending in a dot or a space"},
        {"a device with extensions", {"data/con.tar.gz"}, "named like a Windows device"},
        {"COM with a superscript digit", {"COM\u00B9"}, "named like a Windows device"},
        {"LPT with a superscript digit", {"data/lpt\u00B3.txt"}, "named like a Windows device"},
        {"two names equal ignoring case", {"data/level.pak", "DATA/LEVEL.PAK"}, "same path as another entry"},
        {"a file beside a folder of its name", {"Data", "data/a.pak"}, "same path as another entry"},
        {"a path too long to write", {longPath}, "longer than the 160 UTF-16 units"},
        {"the launcher's own file", {"version.json"}, "the launcher's own file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        system(("rm -rf '" + dir + "/game' '" + dir + "/out'").c_str());
        MakeGame(dir + "/game");
        for (const std::string& name : c.names) {
            const std::string path = dir + "/game/" + name;
            system(("mkdir -p \"$(dirname '" + path + "')\"").c_str());
            Write(path, "x");
        }
        Result r = Make(dir + "/out", 9);
        EXPECT_NE(r.code, 0);
        EXPECT_NE(r.output.find("refuses this name"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
        EXPECT_NE(access((ManifestOf(dir + "/out") + ".sig").c_str(), F_OK), 0);
    }
}

TEST_F(ReleaseToolTest, VerifyRefusesAPackageWithANameTheLauncherRefuses) {
    ASSERT_EQ(Make(dir + "/good", 3).code, 0);
    // The same game packed by hand with a name of another case beside the game, and a manifest
    // that names the new package correctly and is signed.
    Write(dir + "/game/VANTREL.EXE", "a second executable");
    const std::string package = dir + "/good/Vantrel-3.7z";
    ASSERT_EQ(system(("rm '" + package + "' && cd '" + dir + "/game' && 7zz a -bd -bso0 '" + package + "' .").c_str()), 0);
    const std::string manifest = Read(ManifestOf(dir + "/good"));
    FILE* hash = popen(("sha256sum '" + package + "' | cut -c1-64; stat -c %s '" + package + "'").c_str(), "r");
    char text[256] = {};
    fread(text, 1, sizeof text - 1, hash);
    pclose(hash);
    std::istringstream lines(text);
    std::string sha, size;
    lines >> sha >> size;
    std::string changed = manifest;
    const size_t at = changed.find("\"WinPackageSHA256\" : \"") + 22;
    changed.replace(at, 64, sha);
    const size_t sizeAt = changed.find("\"WinPackageSize\" : ") + 19;
    changed.replace(sizeAt, changed.find_first_of(",\n}", sizeAt) - sizeAt, size);
    Write(ManifestOf(dir + "/good"), changed);
    ASSERT_EQ(Tool("sign --secret-key " + dir + "/secret.key --file " + ManifestOf(dir + "/good")).code, 0);
    Result r = Verify(dir + "/good");
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.output.find("same path as another entry"), std::string::npos) << r.output;
}

namespace {

// 7zz's own listing: each file's path and the solid block it is in.
std::map<std::string, std::string> BlocksOf(const std::string& package) {
    FILE* list = popen(("7zz l -slt '" + package + "'").c_str(), "r");
    std::string listing;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, list)) > 0;) listing.append(buffer, n);
    pclose(list);
    std::map<std::string, std::string> blocks;
    std::istringstream lines(listing);
    std::string line, path;
    while (std::getline(lines, line)) {
        if (line.rfind("Path = ", 0) == 0) path = line.substr(7);
        if (line.rfind("Block = ", 0) == 0 && line.size() > 8) blocks[path] = line.substr(8);
    }
    return blocks;
}

}  // namespace

TEST_F(ReleaseToolTest, TheDeltaLayoutGivesBigFilesBlocksOfTheirOwnAndSolidKeepsThemTogether) {
    Write(dir + "/game/data/big.pak", std::string(5 << 20, 'B'));
    Write(dir + "/game/data/small.txt", "small");
    Result delta = Make(dir + "/delta", 1);
    ASSERT_EQ(delta.code, 0) << delta.output;
    auto blocks = BlocksOf(dir + "/delta/Vantrel-1.7z");
    EXPECT_NE(blocks["data/big.pak"], blocks["data/small.txt"]);
    EXPECT_EQ(blocks["data/level.pak"], blocks["data/small.txt"]);  // small files share a block
    EXPECT_EQ(Verify(dir + "/delta").code, 0);
    const std::string index = Read(dir + "/delta/Vantrel-1.index");
    EXPECT_EQ(index.rfind("quenby-package-index 1\n", 0), 0u);
    EXPECT_NE(index.find("\nchunk 0 "), std::string::npos);  // the big file's chunks
    EXPECT_NE(Read(ManifestOf(dir + "/delta")).find("\"WinPackageIndexURL\" : \"http://cdn.example.com/version/Vantrel-1.index\""),
              std::string::npos);

    Result solid = Make(dir + "/solid", 1, "--layout solid");
    ASSERT_EQ(solid.code, 0) << solid.output;
    blocks = BlocksOf(dir + "/solid/Vantrel-1.7z");
    EXPECT_EQ(blocks["data/big.pak"], blocks["data/small.txt"]);
    EXPECT_EQ(Verify(dir + "/solid").code, 0);
    EXPECT_NE(Make(dir + "/other", 1, "--layout tiny").code, 0);
}

TEST_F(ReleaseToolTest, VerifyRefusesAnIndexThatDoesNotDescribeThePackage) {
    ASSERT_EQ(Make(dir + "/r1", 1).code, 0);
    const std::string index = dir + "/r1/Vantrel-1.index";
    const std::string good = Read(index);
    // A line of it changed: first under the old manifest, then with the manifest signed again
    // over the new size and hash, so the signature holds and only the package disagrees.
    std::string altered = good;
    const size_t at = altered.find("\nfile ");
    const size_t hashAt = altered.find(' ', altered.find(' ', at + 6) + 1) + 1;  // the first file's SHA-256
    altered[hashAt] = altered[hashAt] == '0' ? '1' : '0';
    Write(index, altered);
    Result refused = Verify(dir + "/r1");
    EXPECT_NE(refused.code, 0);
    EXPECT_NE(refused.output.find("size or SHA-256 differs"), std::string::npos) << refused.output;

    const std::string manifestPath = ManifestOf(dir + "/r1");
    std::string manifest = Read(manifestPath);
    const std::string goodManifest = manifest, goodSignature = Read(manifestPath + ".sig");
    auto replaceValue = [&manifest](const std::string& member, const std::string& value) {
        const size_t at = manifest.find(member), start = manifest.find(':', at) + 2;
        const size_t end = manifest.find_first_of(",\n", start);
        manifest.replace(start, end - start, value);
    };
    FILE* hash = popen(("sha256sum '" + index + "'").c_str(), "r");
    char digest[65] = {};
    ASSERT_EQ(fread(digest, 1, 64, hash), 64u);
    pclose(hash);
    replaceValue("\"WinPackageIndexSize\"", std::to_string(altered.size()));
    replaceValue("\"WinPackageIndexSHA256\"", "\"" + std::string(digest) + "\"");
    Write(manifestPath, manifest);
    ASSERT_EQ(Tool("sign --secret-key " + dir + "/secret.key --file " + manifestPath).code, 0);
    refused = Verify(dir + "/r1");
    EXPECT_NE(refused.code, 0);
    EXPECT_NE(refused.output.find("does not describe the package"), std::string::npos) << refused.output;
    Write(index, good);
    Write(manifestPath, goodManifest);
    Write(manifestPath + ".sig", goodSignature);
    EXPECT_EQ(Verify(dir + "/r1").code, 0);
}
