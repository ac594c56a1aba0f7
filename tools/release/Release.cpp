#include "tools/release/Release.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <json/reader.h>
#include <json/writer.h>
#include <sodium.h>

#include <algorithm>
#include <codecvt>
#include <cstdio>
#include <fstream>
#include <locale>
#include <sstream>
#include <vector>

#include "tools/release/IndexBuilder.h"
#include "tools/release/PackageCheck.h"
#include "rules/EntryName.h"
#include "rules/ManifestFields.h"
#include "rules/ReleaseSignature.h"

extern char** environ;

namespace {

bool ReadFile(const std::string& path, std::string& bytes, uint64_t limit = UINT64_MAX) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    bytes = all.str();
    return bytes.size() <= limit;
}

bool WriteNewFile(const std::string& path, const std::string& bytes, mode_t mode) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            close(fd);
            return false;
        }
        done += size_t(n);
    }
    return close(fd) == 0;
}

// Secret bytes that are wiped when they go, on every path out, failures included.
template <size_t Size>
class WipedBytes {
public:
    WipedBytes() = default;
    ~WipedBytes() { sodium_memzero(m_bytes, Size); }
    WipedBytes(const WipedBytes&) = delete;
    WipedBytes& operator=(const WipedBytes&) = delete;
    unsigned char* Data() { return m_bytes; }
    const unsigned char* Data() const { return m_bytes; }
    static constexpr size_t size = Size;

private:
    unsigned char m_bytes[Size] = {};
};
using SecretKey = WipedBytes<crypto_sign_SECRETKEYBYTES>;

// A string holding secret text (the key file's base64), wiped when it goes.
class WipedText {
public:
    WipedText() = default;
    ~WipedText() { sodium_memzero(&m_text[0], m_text.size()); }
    WipedText(const WipedText&) = delete;
    WipedText& operator=(const WipedText&) = delete;
    std::string& Text() { return m_text; }

private:
    std::string m_text;
};

std::string LoadSecretKey(const std::string& path, SecretKey& secret) {
    WipedText file;
    std::string& text = file.Text();
    if (!ReadFile(path, text, 1024)) return path + ": cannot read the secret key";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(secret.Data(), SecretKey::size, text.data(), text.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        length != SecretKey::size || end != text.data() + text.size())
        return path + ": not a secret key made by keygen";
    return "";
}

std::string SignatureText(const std::string& bytes, const SecretKey& secret) {
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(bytes.data()),
                         bytes.size(), secret.Data());
    return EncodeBase64(signature, sizeof signature) + "\n";
}

std::string Sha256OfFile(const std::string& path, uint64_t& size, Sha256Digest& digest) {
    FILE* in = fopen(path.c_str(), "rb");
    if (!in) return path + ": cannot read";
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    std::vector<unsigned char> block(1 << 20);
    size = 0;
    for (size_t n; (n = fread(block.data(), 1, block.size(), in)) > 0;) {
        crypto_hash_sha256_update(&state, block.data(), n);
        size += n;
    }
    const bool failed = ferror(in);
    fclose(in);
    if (failed) return path + ": read error";
    crypto_hash_sha256_final(&state, digest.data());
    return "";
}

bool IsFolderEmptyOrMissing(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (!dir) return access(path.c_str(), F_OK) != 0;
    int entries = 0;
    while (dirent* e = readdir(dir))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++entries;
    closedir(dir);
    return entries == 0;
}

// Every entry below root as a package would carry it ("data/level.pak"), in path order; the
// first thing that cannot be packed at all ends the walk with a message.
std::string WalkFolder(const std::string& root, const std::string& relative, std::vector<PackageEntry>& entries,
                       std::vector<std::string>& paths) {
    const std::string folder = relative.empty() ? root : root + "/" + relative;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return folder + ": cannot be read";
    std::vector<std::string> names;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string entry = relative.empty() ? name : relative + "/" + name;
        std::wstring wide;
        try {
            wide = std::wstring_convert<std::codecvt_utf8<wchar_t>>().from_bytes(entry);
        } catch (const std::exception&) {
            return root + "/" + entry + ": the name is not UTF-8, which Windows cannot show";
        }
        struct stat info;
        if (lstat((root + "/" + entry).c_str(), &info) != 0) return root + "/" + entry + ": cannot be read";
        if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode))
            return root + "/" + entry + ": only files and folders can be packed (a link or device is not)";
        entries.push_back(PackageEntry{wide, S_ISDIR(info.st_mode)});
        paths.push_back(root + "/" + entry);
        if (S_ISDIR(info.st_mode)) {
            std::string problem = WalkFolder(root, entry, entries, paths);
            if (!problem.empty()) return problem;
        }
    }
    return "";
}

// Runs 7zz in the game folder with these arguments after "7zz".
std::string RunSevenZip(const std::string& gameFolder, std::vector<std::string> args) {
    args.insert(args.begin(), "7zz");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    // Names are read as UTF-8 whatever the caller's locale.
    std::vector<std::string> env = {"LC_ALL=C.UTF-8"};
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("LC_ALL=", 0) != 0) env.push_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    char previous[4096];
    if (!getcwd(previous, sizeof previous)) return "cannot read the current folder";
    if (chdir(gameFolder.c_str()) != 0) return gameFolder + ": cannot enter";
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, "7zz", nullptr, nullptr, argv.data(), envp.data());
    if (chdir(previous) != 0) return "cannot return to the current folder";
    if (spawned != 0) return "cannot run 7zz (install Debian's 7zip package)";
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "7zz failed to pack " + gameFolder;
    return "";
}

std::string Pack(const std::string& gameFolder, const std::string& package, const ReleaseRequest& r) {
    // LZMA2 in independent 8 MiB chunks: the launcher decodes those on all of a player's cores,
    // and an update fetches only the chunks of a big file that changed.
    const std::vector<std::string> common = {"a", "-t7z", "-m0=LZMA2:d=8m:c=8m", "-mmt=on", "-mqs=off", "-ssc-",
                                             "-bso0", "-bsp2"};
    if (r.layout == PackageLayout::Solid) {
        std::vector<std::string> args = common;
        args.insert(args.end(), {"-ms=" + std::to_string(r.solidBlockMiB) + "m", package, "."});
        return RunSevenZip(gameFolder, args);
    }
    // Blocks end before they would pass 4 MiB, so a file of 4 MiB or more stands alone. Everything
    // but the executables goes in without filters; they follow with the branch filter 7zz picks.
    const std::string limit = "-ms=" + std::to_string(DELTA_BLOCK_BYTES - 1) + "b";
    std::vector<std::string> data = common;
    data.insert(data.end(), {limit, "-mf=off", "-xr!*.exe", "-xr!*.dll", package, "."});
    std::string problem = RunSevenZip(gameFolder, data);
    if (!problem.empty()) return problem;  // Vantrel.exe is always there for the second run
    std::vector<std::string> code = common;
    code.insert(code.end(), {limit, package, "-ir!*.exe", "-ir!*.dll"});
    return RunSevenZip(gameFolder, code);
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : path;
}

}  // namespace

std::string MakeKeyPair(const std::string& secretKeyFile, std::string& publicKeyBase64) {
    if (sodium_init() < 0) return "libsodium cannot start";
    if (access(secretKeyFile.c_str(), F_OK) == 0)
        return secretKeyFile + ": exists already; a key is never overwritten";
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    SecretKey secret;
    crypto_sign_keypair(publicKey, secret.Data());
    WipedText text;
    text.Text() = EncodeBase64(secret.Data(), SecretKey::size) + "\n";
    if (!WriteNewFile(secretKeyFile, text.Text(), 0600)) return secretKeyFile + ": cannot be created";
    publicKeyBase64 = EncodeBase64(publicKey, sizeof publicKey);
    return "";
}

std::string CheckGameFolder(const std::string& folder) {
    struct stat info;
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return folder + ": not a folder";
    const std::string game = folder + "/Vantrel.exe";
    if (lstat(game.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return game + ": missing; the launcher starts this file";
    std::vector<PackageEntry> entries;
    std::vector<std::string> paths;
    std::string problem = WalkFolder(folder, "", entries, paths);
    if (!problem.empty()) return problem;
    // The launcher's own rule, so nothing is packed that a player's launcher would refuse.
    std::vector<std::wstring> normalized;
    const NameCheck names = CheckPackageEntries(entries, normalized);
    if (names.problem == NameProblem::None) return "";
    problem = paths[names.entry] + ": the launcher refuses this name: it " + DescribeNameProblem(names.problem);
    if (names.problem == NameProblem::CaseClash) problem += " (" + paths[names.other] + ")";
    return problem;
}

namespace {

// An http:// or https:// URL (the scheme in any letter case, as the launcher takes it).
bool IsWebUrl(const std::string& url) {
    std::string scheme = url.substr(0, url.find("://") == std::string::npos ? 0 : url.find("://") + 3);
    for (char& c : scheme) c = char(tolower(static_cast<unsigned char>(c)));
    return scheme == "http://" || scheme == "https://";
}

// What the request asks for, before anything is read or written.
std::string CheckRequest(const ReleaseRequest& r) {
    if (r.version < 1 || r.version > INT32_MAX)
        return "version " + std::to_string(r.version) + ": must be a whole number from 1 to 2147483647";
    if (!IsWebUrl(r.baseUrl)) return r.baseUrl + ": the launcher fetches http:// and https:// URLs only";
    for (const std::string& mirror : r.mirrorBaseUrls)
        if (!IsWebUrl(mirror)) return mirror + ": the launcher fetches http:// and https:// URLs only";
    if (r.mirrorBaseUrls.size() > PACKAGE_MIRRORS_MAX)
        return "at most " + std::to_string(PACKAGE_MIRRORS_MAX) + " mirrors";
    if (r.solidBlockMiB < 1) return "the solid-block limit must be at least 1 MiB";
    if (r.launcherFile.empty() != (r.launcherBuild == 0)) return "--launcher and --launcher-build go together";
    if (!r.launcherFile.empty() && (r.launcherBuild < 1 || r.launcherBuild > INT32_MAX))
        return "--launcher-build must be a whole number from 1 to 2147483647";
    return "";
}

// A release players would never install: not higher than the previous one.
std::string CheckAgainstPrevious(const ReleaseRequest& r) {
    if (r.previousManifest.empty()) return "";
    std::string bytes;
    Json::Value root;
    ManifestFields previous;
    if (!ReadFile(r.previousManifest, bytes, MANIFEST_MAX_BYTES) || !ParseJsonText(bytes, root) ||
        !ReadManifestFields(root, previous))
        return r.previousManifest + ": not a manifest the launcher reads";
    if (r.version <= previous.version)
        return "version " + std::to_string(r.version) + " is not higher than " + std::to_string(previous.version) +
               " in " + r.previousManifest + "; players would never install it";
    return "";
}

// Packs the game and checks the package as the launcher will.
std::string PackAndCheck(const ReleaseRequest& r, const std::string& package, PackageReport& report) {
    fprintf(stderr, "packing %s into %s\n", r.gameFolder.c_str(), package.c_str());
    const std::string problem = Pack(r.gameFolder, package, r);
    fputc('\n', stderr);  // after 7zz's progress line
    if (!problem.empty()) return problem;
    report = CheckPackage(package);
    return report.ok ? "" : package + ": " + report.problem;
}

// A file of the release: its name in the folder, size and SHA-256.
struct PublishedFile {
    std::string name;
    uint64_t size = 0;
    Sha256Digest sha256{};
};

std::string WithoutTrailingSlashes(std::string url) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url;
}

std::string ManifestText(const ReleaseRequest& r, const PublishedFile& package, const PublishedFile& index,
                         const PublishedFile& launcher) {
    const std::string base = WithoutTrailingSlashes(r.baseUrl);
    Json::Value manifest(Json::objectValue);
    manifest["ServerVersionCode"] = Json::Int(r.version);
    manifest["WinPackageURL"] = base + "/" + package.name;
    manifest["WinPackageSize"] = Json::UInt64(package.size);
    manifest["WinPackageSHA256"] = Sha256Hex(package.sha256);
    manifest["WinPackageIndexURL"] = base + "/" + index.name;
    manifest["WinPackageIndexSize"] = Json::UInt64(index.size);
    manifest["WinPackageIndexSHA256"] = Sha256Hex(index.sha256);
    if (!r.mirrorBaseUrls.empty()) {
        Json::Value& mirrors = manifest["WinPackageMirrors"] = Json::Value(Json::arrayValue);
        for (const std::string& mirror : r.mirrorBaseUrls) mirrors.append(WithoutTrailingSlashes(mirror) + "/" + package.name);
    }
    if (!launcher.name.empty()) {
        manifest["WinLauncherBuild"] = Json::Int(r.launcherBuild);
        manifest["WinLauncherURL"] = base + "/" + launcher.name;
        manifest["WinLauncherSize"] = Json::UInt64(launcher.size);
        manifest["WinLauncherSHA256"] = Sha256Hex(launcher.sha256);
    }
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "  ";
    return Json::writeString(writer, manifest) + "\n";
}

}  // namespace

std::string MakeRelease(const ReleaseRequest& r) {
    if (sodium_init() < 0) return "libsodium cannot start";
    SecretKey secret;
    std::string problem = LoadSecretKey(r.secretKeyFile, secret);
    if (problem.empty()) problem = CheckRequest(r);
    if (problem.empty()) problem = CheckAgainstPrevious(r);
    if (problem.empty()) problem = CheckGameFolder(r.gameFolder);
    if (!problem.empty()) return problem;
    if (!IsFolderEmptyOrMissing(r.outFolder)) return r.outFolder + ": must be a new or empty folder";
    mkdir(r.outFolder.c_str(), 0755);

    const std::string stem = "Vantrel-" + std::to_string(r.version);
    PublishedFile package{stem + ".7z"}, index{stem + ".index"};
    const std::string packagePath = AbsolutePath(r.outFolder + "/" + package.name);
    PackageReport report;
    problem = PackAndCheck(r, packagePath, report);
    if (!problem.empty()) return problem;
    problem = Sha256OfFile(packagePath, package.size, package.sha256);
    if (!problem.empty()) return problem;

    PackageIndex built;
    problem = BuildPackageIndex(packagePath, built);
    if (!problem.empty()) return packagePath + ": " + problem;
    const std::string indexText = FormatPackageIndex(built);
    if (indexText.size() > PACKAGE_INDEX_MAX_BYTES) return "the package index would be larger than 64 MiB";
    const std::string indexPath = r.outFolder + "/" + index.name;
    if (!WriteNewFile(indexPath, indexText, 0644)) return indexPath + ": cannot be written";
    problem = Sha256OfFile(indexPath, index.size, index.sha256);
    if (!problem.empty()) return problem;

    PublishedFile launcher;
    if (!r.launcherFile.empty()) {
        std::string exe;
        if (!ReadFile(r.launcherFile, exe, LAUNCHER_MAX_BYTES + 1) || exe.empty() || exe.size() > LAUNCHER_MAX_BYTES)
            return r.launcherFile + ": cannot be read, or empty or larger than 64 MiB";
        if (exe.compare(0, 2, "MZ") != 0) return r.launcherFile + ": not a Windows executable";
        launcher.name = "QuenbySkirmora-" + std::to_string(r.launcherBuild) + ".exe";
        const std::string launcherPath = r.outFolder + "/" + launcher.name;
        if (!WriteNewFile(launcherPath, exe, 0644)) return launcherPath + ": cannot be written";
        problem = Sha256OfFile(launcherPath, launcher.size, launcher.sha256);
        if (!problem.empty()) return problem;
    }

    const std::string bytes = ManifestText(r, package, index, launcher);
    const std::string manifestPath = r.outFolder + "/" + MANIFEST_FILE_NAME;
    if (!WriteNewFile(manifestPath, bytes, 0644)) return manifestPath + ": cannot be written";
    if (!WriteNewFile(manifestPath + ".sig", SignatureText(bytes, secret), 0644))
        return manifestPath + ".sig: cannot be written";
    fprintf(stderr, "release %lld: %u entries, %.1f MiB unpacked, package %.1f MiB, largest solid block %.1f MiB\n",
            (long long)r.version, report.entries, report.unpackedBytes / 1048576.0, package.size / 1048576.0,
            report.largestFolder / 1048576.0);
    fprintf(stderr, "index %s: %zu solid blocks, %llu chunks, %.1f KiB\n", index.name.c_str(), built.folders.size(),
            (unsigned long long)built.ChunkCount(), index.size / 1024.0);
    return "";
}

std::string SignFile(const std::string& secretKeyFile, const std::string& file) {
    if (sodium_init() < 0) return "libsodium cannot start";
    SecretKey secret;
    std::string problem = LoadSecretKey(secretKeyFile, secret);
    if (!problem.empty()) return problem;
    std::string bytes;
    if (!ReadFile(file, bytes)) return file + ": cannot read";
    const std::string sig = file + ".sig";
    unlink(sig.c_str());
    if (!WriteNewFile(sig, SignatureText(bytes, secret), 0644)) return sig + ": cannot be written";
    return "";
}

namespace {

// The index the manifest names: its size and hash, its own rules, and every line of it equal to
// the index built again from the package.
std::string VerifyIndex(const ManifestFields& fields, const std::string& folder, const std::string& package) {
    const std::string path = folder + "/" + fields.indexUrl.substr(fields.indexUrl.rfind('/') + 1);
    std::string text;
    if (!ReadFile(path, text, PACKAGE_INDEX_MAX_BYTES)) return path + ": missing or larger than 64 MiB";
    Sha256Digest digest{};
    crypto_hash_sha256(digest.data(), reinterpret_cast<const unsigned char*>(text.data()), text.size());
    if (text.size() != fields.indexSize || digest != fields.indexSha256)
        return path + ": its size or SHA-256 differs from the manifest's";
    PackageIndex published, built;
    std::string problem = ParsePackageIndex(text, published);
    if (!problem.empty()) return path + ": " + problem;
    if (published.packageSize != fields.packageSize) return path + ": describes a package of another size";
    problem = BuildPackageIndex(package, built);
    if (!problem.empty()) return package + ": " + problem;
    const std::string expected = FormatPackageIndex(built);
    if (expected == text) return "";
    size_t line = 1;
    for (size_t i = 0; i < std::min(expected.size(), text.size()) && expected[i] == text[i]; ++i)
        if (text[i] == '\n') ++line;
    return path + ": line " + std::to_string(line) + " does not describe the package";
}

}  // namespace

std::string VerifyRelease(const std::string& publicKeyBase64, const std::string& folder) {
    PublicKey key;
    if (!DecodePublicKey(publicKeyBase64, key)) return "the public key is not base64 of 32 bytes";
    const std::string manifestPath = folder + "/" + MANIFEST_FILE_NAME;
    std::string bytes, signature;
    if (!ReadFile(manifestPath, bytes)) return manifestPath + ": missing";
    if (bytes.size() > MANIFEST_MAX_BYTES) return manifestPath + ": larger than 1 MiB";
    if (!ReadFile(manifestPath + ".sig", signature)) return manifestPath + ".sig: missing";
    if (signature.size() > SIGNATURE_MAX_BYTES) return manifestPath + ".sig: larger than 1 KiB";
    if (!IsManifestSignedBy(bytes, signature, key))
        return manifestPath + ".sig: not a valid signature of the manifest by this key";
    Json::Value root;
    ManifestFields fields;
    if (!ParseJsonText(bytes, root) || !ReadManifestFields(root, fields))
        return manifestPath + ": not a manifest the launcher reads";
    if (!NamesPackageIdentity(fields))
        return manifestPath + ": a signed manifest must name WinPackageSize and WinPackageSHA256";
    if (!IsWebUrl(fields.packageUrl))
        return manifestPath + ": WinPackageURL must be an http:// or https:// URL";
    for (const std::string& mirror : fields.packageMirrors)
        if (!IsWebUrl(mirror)) return manifestPath + ": " + mirror + " in WinPackageMirrors is not an http:// or https:// URL";
    const std::string packageName = fields.packageUrl.substr(fields.packageUrl.rfind('/') + 1);
    const std::string package = folder + "/" + packageName;
    uint64_t size = 0;
    Sha256Digest digest{};
    std::string problem = Sha256OfFile(package, size, digest);
    if (!problem.empty()) return problem;
    if (size != fields.packageSize)
        return package + ": " + std::to_string(size) + " bytes, the manifest says " + std::to_string(fields.packageSize);
    if (digest != fields.packageSha256) return package + ": its SHA-256 differs from the manifest's";
    PackageReport report = CheckPackage(package);
    if (!report.ok) return package + ": " + report.problem;
    if (fields.hasLauncher) {
        if (!IsWebUrl(fields.launcherUrl)) return manifestPath + ": WinLauncherURL must be an http:// or https:// URL";
        const std::string launcher = folder + "/" + fields.launcherUrl.substr(fields.launcherUrl.rfind('/') + 1);
        problem = Sha256OfFile(launcher, size, digest);
        if (!problem.empty()) return problem;
        if (size != fields.launcherSize || digest != fields.launcherSha256)
            return launcher + ": not the launcher the manifest names (size or SHA-256)";
    }
    return fields.hasIndex ? VerifyIndex(fields, folder, package) : "";
}
