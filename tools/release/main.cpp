// quenby-release: makes and checks signed releases of the game for the launcher.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tools/release/Release.h"

namespace {

const char kHelp[] =
    "quenby-release: signed releases of Vantrel for the launcher\n"
    "\n"
    "  keygen  --secret-key FILE\n"
    "      Makes a key pair. FILE gets the secret key (owner-only, never overwritten); the public\n"
    "      key is printed: build the launcher with -DRELEASE_PUBLIC_KEY=<it>.\n"
    "  make    --secret-key FILE --game DIR --version N --base-url URL --out DIR\n"
    "          [--previous MANIFEST] [--layout delta|solid] [--solid-block-mib N]\n"
    "          [--mirrors \"URL2 URL3 ...\"] [--launcher EXE --launcher-build B]\n"
    "      Packs DIR (it must hold Vantrel.exe) with 7zz, writes the manifest naming the package's\n"
    "      URL (URL/Vantrel-N.7z), size and SHA-256, its file index (URL/Vantrel-N.index) and the\n"
    "      manifest's signature, into the new folder OUT. Upload OUT's files to URL; the\n"
    "      launcher's version_url is URL/com.larkvane.vantrel.pcquenby.json. With --previous, N\n"
    "      must be higher than that manifest's version. The delta layout (the default) gives\n"
    "      each file of 4 MiB or more a solid block of its own and packs smaller ones in blocks of\n"
    "      at most 4 MiB, so an update fetches little; solid packs the smallest full download, in\n"
    "      blocks of at most 256 MiB unless said otherwise.\n"
    "      --mirrors names other hosts (up to 16, apart by spaces) where the same package is\n"
    "      uploaded too (URL2/Vantrel-N.7z, ...): a download that fails at one goes on at the\n"
    "      next.\n"
    "      --launcher names a launcher build B (the signed QuenbySkirmora.exe, built with\n"
    "      -DLAUNCHER_BUILD=B) for players' install roots: copied in as QuenbySkirmora-B.exe, it\n"
    "      replaces every launcher copy of a lower build after the game's update.\n"
    "  verify  --public-key KEY --release DIR\n"
    "      Checks a release folder as the launcher will: signature, fields, package size and hash,\n"
    "      entry names and methods.\n"
    "  sign    --secret-key FILE --file FILE\n"
    "      Signs a file as it stands (FILE.sig beside it).\n";

// --name value pairs after the command.
bool ParseOptions(int argc, char** argv, std::map<std::string, std::string>& options) {
    for (int i = 2; i < argc; i += 2) {
        std::string name = argv[i];
        if (name.rfind("--", 0) != 0 || i + 1 >= argc) return false;
        options[name.substr(2)] = argv[i + 1];
    }
    return true;
}

bool Require(const std::map<std::string, std::string>& options, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (!options.count(name)) {
            fprintf(stderr, "missing --%s (see --help)\n", name);
            return false;
        }
    return true;
}

bool ParseNumber(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 18) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = std::atoll(text.c_str());
    return true;
}

std::vector<std::string> SplitAtSpaces(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream stream(text);
    for (std::string word; stream >> word;) words.push_back(word);
    return words;
}

int Finish(const std::string& problem) {
    if (problem.empty()) return 0;
    fprintf(stderr, "error: %s\n", problem.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
        fputs(kHelp, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string command = argv[1];
    std::map<std::string, std::string> o;
    if (!ParseOptions(argc, argv, o)) {
        fprintf(stderr, "options come as --name value pairs (see --help)\n");
        return 2;
    }
    if (command == "keygen") {
        if (!Require(o, {"secret-key"})) return 2;
        std::string publicKey;
        std::string problem = MakeKeyPair(o["secret-key"], publicKey);
        if (problem.empty()) printf("%s\n", publicKey.c_str());
        return Finish(problem);
    }
    if (command == "make") {
        if (!Require(o, {"secret-key", "game", "version", "base-url", "out"})) return 2;
        ReleaseRequest r;
        long long number = 0;
        if (!ParseNumber(o["version"], number)) return Finish("version " + o["version"] + ": not a whole number");
        r.version = number;
        if (o.count("solid-block-mib")) {
            if (!ParseNumber(o["solid-block-mib"], number))
                return Finish("--solid-block-mib " + o["solid-block-mib"] + ": not a whole number");
            r.solidBlockMiB = uint64_t(number);
        }
        if (o.count("layout")) {
            if (o["layout"] != "delta" && o["layout"] != "solid")
                return Finish("--layout " + o["layout"] + ": delta or solid");
            r.layout = o["layout"] == "solid" ? PackageLayout::Solid : PackageLayout::Delta;
        }
        r.secretKeyFile = o["secret-key"];
        r.gameFolder = o["game"];
        r.baseUrl = o["base-url"];
        if (o.count("mirrors")) r.mirrorBaseUrls = SplitAtSpaces(o["mirrors"]);
        if (o.count("launcher")) r.launcherFile = o["launcher"];
        if (o.count("launcher-build")) {
            if (!ParseNumber(o["launcher-build"], number))
                return Finish("--launcher-build " + o["launcher-build"] + ": not a whole number");
            r.launcherBuild = number;
        }
        r.outFolder = o["out"];
        if (o.count("previous")) r.previousManifest = o["previous"];
        return Finish(MakeRelease(r));
    }
    if (command == "verify") {
        if (!Require(o, {"public-key", "release"})) return 2;
        std::string problem = VerifyRelease(o["public-key"], o["release"]);
        if (problem.empty()) fprintf(stderr, "%s: a valid release\n", o["release"].c_str());
        return Finish(problem);
    }
    if (command == "sign") {
        if (!Require(o, {"secret-key", "file"})) return 2;
        return Finish(SignFile(o["secret-key"], o["file"]));
    }
    fprintf(stderr, "unknown command %s (see --help)\n", command.c_str());
    return 2;
}
