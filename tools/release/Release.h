// The publisher's side of a release: keys, packing a game folder, the signed manifest, and the
// check of a finished release folder exactly as the launcher will judge it. Every function
// returns "" on success or a message that names the file and what is wrong.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The manifest's file name; served at <base URL>/<this>, which is the launcher's version_url.
inline constexpr char MANIFEST_FILE_NAME[] = "com.larkvane.vantrel.pcquenby.json";
// The default solid-block limit: what the shipped 32-bit launcher unpacks with room to spare.
inline constexpr uint64_t DEFAULT_SOLID_BLOCK_MIB = 256;

// Writes a new secret key (owner-only permissions, never over an existing file) and gives back
// the public key in the form the launcher's build takes (base64).
std::string MakeKeyPair(const std::string& secretKeyFile, std::string& publicKeyBase64);

// How the package's files are laid out in solid blocks.
enum class PackageLayout {
    // A file of 4 MiB or more in a block of its own (LZMA2 alone unless it is an executable),
    // smaller files in blocks of at most 4 MiB in path order: an update fetches little.
    Delta,
    // Blocks of up to the solid-block limit: the smallest full download, dear updates.
    Solid,
};
inline constexpr uint64_t DELTA_BLOCK_BYTES = 4ull << 20;

struct ReleaseRequest {
    std::string secretKeyFile;
    std::string gameFolder;
    int64_t version = 0;
    std::string baseUrl;
    std::vector<std::string> mirrorBaseUrls;  // other hosts of the package's files, tried in order
    std::string outFolder;
    std::string previousManifest;  // optional
    // Optional: a launcher build for players' install roots (the signed executable) and its number.
    std::string launcherFile;
    int64_t launcherBuild = 0;
    uint64_t solidBlockMiB = DEFAULT_SOLID_BLOCK_MIB;  // for PackageLayout::Solid
    PackageLayout layout = PackageLayout::Delta;
};
std::string MakeRelease(const ReleaseRequest& request);

// Signs a file as it stands (FILE.sig beside it).
std::string SignFile(const std::string& secretKeyFile, const std::string& file);

// Checks a release folder against a public key: signature, fields, package size and hash, names
// and coders, and the package index (its size and hash, and every span and hash it lists, built
// again from the package).
std::string VerifyRelease(const std::string& publicKeyBase64, const std::string& releaseFolder);

// Every name below the folder, as a package entry would carry it ("data/level.pak"): "" when all
// are names the launcher takes and regular files or folders, else the first problem.
std::string CheckGameFolder(const std::string& folder);
