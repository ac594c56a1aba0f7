// The package index as both sides read it: a real release's index, then hostile texts made from
// it, each refused with the line that is wrong.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "rules/ManifestFields.h"
#include "rules/PackageIndex.h"
#include "tools/release/IndexBuilder.h"

namespace {

const std::string kZero = std::string(64, '0');

// A small index by hand: one folder of two files, one of a single file in two chunks.
std::string SmallIndex() {
    return "quenby-package-index 1\n"
           "package 1000 folders 2 chunks 2 files 4 directories 1\n"
           "start 0 32 " + kZero + "\n"
           "end 900 100 " + kZero + "\n"
           "folder 32 300 " + kZero + " 5000 -\n"
           "folder 400 400 " + kZero + " 9000 22\n"
           "chunk 0 4000 " + kZero + " 400 150 " + kZero + "\n"
           "chunk 4000 5000 " + kZero + " 550 250 " + kZero + "\n"
           "file 0 3000 " + kZero + " Vantrel.exe\n"
           "file 0 2000 " + kZero + " data/a b.txt\n"
           "file 1 9000 " + kZero + " data/world.pak\n"
           "file - 0 " + kZero + " data/empty.cfg\n"
           "dir mods\n";
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

}  // namespace

TEST(PackageIndex, ASmallIndexReadsAndFormatsToItself) {
    PackageIndex index;
    ASSERT_EQ(ParsePackageIndex(SmallIndex(), index), "");
    EXPECT_EQ(index.packageSize, 1000u);
    ASSERT_EQ(index.folders.size(), 2u);
    EXPECT_EQ(index.folders[1].lzma2Property, 22);
    EXPECT_EQ(index.folders[1].chunks[1].packed.offset, 550u);
    EXPECT_EQ(index.files[1].path, "data/a b.txt");  // a blank inside a name is kept
    EXPECT_EQ(index.files[3].folder, -1);
    EXPECT_EQ(FormatPackageIndex(index), SmallIndex());
}

TEST(PackageIndex, HostileTextsAreRefused) {
    struct Case { const char* label; std::string text; const char* problem; };
    const std::string good = SmallIndex();
    const Case cases[] = {
        {"empty", "", "first line"},
        {"cut short inside a line", good.substr(0, good.size() - 3), "cut short"},
        {"cut short by whole lines", good.substr(0, good.find("dir mods")), "do not match the lines"},
        {"a count past what an index holds", Replaced(good, "files 4", "files 4000001"), "larger than an index"},
        {"a huge count", Replaced(good, "files 4", "files 99999999999999999999"), "counts are malformed"},
        {"a count larger than the lines", Replaced(good, "directories 1", "directories 2"), "do not match"},
        {"a number with a sign", Replaced(good, "folder 32 300", "folder +32 300"), "malformed folder"},
        {"a number with a leading zero", Replaced(good, "folder 32 300", "folder 032 300"), "malformed folder"},
        {"an upper-case hash", Replaced(good, "start 0 32 " + kZero, "start 0 32 " + std::string(64, 'A')), "start"},
        {"the start header elsewhere", Replaced(good, "start 0 32", "start 1 32"), "start"},
        {"the end header short of the end", Replaced(good, "end 900 100", "end 900 99"), "end header"},
        {"an offset past the package", Replaced(good, "folder 400 400", "folder 400 4000"), "outside"},
        {"an offset that wraps", Replaced(good, "folder 400 400", "folder 18446744073709551615 2"), "outside"},
        {"overlapping folders", Replaced(good, "folder 400 400", "folder 300 500"), "overlaps"},
        {"a folder inside the start header", Replaced(good, "folder 32 300", "folder 16 316"), "overlaps"},
        {"chunks with a gap", Replaced(good, "chunk 4000 5000 " + kZero + " 550", "chunk 4000 5000 " + kZero + " 551"), "follow"},
        {"chunks short of the folder", Replaced(good, "550 250", "550 240"), "cover"},
        {"chunks of a block that is not LZMA2 alone", Replaced(good, "9000 22", "9000 -"), "not LZMA2"},
        {"a file larger than its folder", Replaced(good, "file 0 2000", "file 0 2001"), "larger than it"},
        {"files short of their folder", Replaced(good, "file 0 2000", "file 0 1999"), "do not fill"},
        {"a file of a folder that is not there", Replaced(good, "file 1 9000", "file 2 9000"), "no such folder"},
        {"an empty file in a folder", Replaced(good, "file - 0", "file 0 0"), "empty file"},
        {"a name leading outside", Replaced(good, "data/a b.txt", "../a b.txt"), "normalised name"},
        {"a name not normalised", Replaced(good, "data/a b.txt", "data//a b.txt"), "normalised name"},
        {"a name that is not UTF-8", Replaced(good, "data/a b.txt", "data/a\xff.txt"), "normalised name"},
        {"two names alike but for case", Replaced(good, "dir mods", "dir DATA/A B.TXT"), "refuses"},
        {"the launcher's own file", Replaced(good, "dir mods", "dir version.stamps"), "refuses"},
        {"no game", Replaced(good, "Vantrel.exe", "Other.exe"), "Vantrel.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        PackageIndex index;
        const std::string problem = ParsePackageIndex(c.text, index);
        EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        EXPECT_TRUE(index.files.empty());
    }
}

TEST(PackageIndex, AnIndexLargerThanTheCapIsRefusedUnread) {
    PackageIndex index;
    EXPECT_EQ(ParsePackageIndex(std::string(PACKAGE_INDEX_MAX_BYTES + 1, 'x'), index), "larger than an index may be");
}

TEST(PackageIndex, TheManifestNamesAllThreeFieldsOrNone) {
    const std::string hash = "\"" + std::string(64, 'a') + "\"";
    struct Case { const char* label; std::string members; bool ok; bool hasIndex; };
    const Case cases[] = {
        {"none", "", true, false},
        {"all three", ", \"WinPackageIndexURL\": \"http://h/i\", \"WinPackageIndexSize\": 10, \"WinPackageIndexSHA256\": " + hash, true, true},
        {"two of three", ", \"WinPackageIndexURL\": \"http://h/i\", \"WinPackageIndexSize\": 10", false, false},
        {"a size past the cap", ", \"WinPackageIndexURL\": \"http://h/i\", \"WinPackageIndexSize\": 67108865, \"WinPackageIndexSHA256\": " + hash, false, false},
        {"a size of 0", ", \"WinPackageIndexURL\": \"http://h/i\", \"WinPackageIndexSize\": 0, \"WinPackageIndexSHA256\": " + hash, false, false},
        {"a URL that is a number", ", \"WinPackageIndexURL\": 5, \"WinPackageIndexSize\": 10, \"WinPackageIndexSHA256\": " + hash, false, false},
        {"a short hash", ", \"WinPackageIndexURL\": \"http://h/i\", \"WinPackageIndexSize\": 10, \"WinPackageIndexSHA256\": \"ab\"", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Json::Value root;
        ManifestFields fields;
        ASSERT_TRUE(ParseJsonText("{\"ServerVersionCode\": 2, \"WinPackageURL\": \"http://h/p\"" + c.members + "}", root));
        EXPECT_EQ(ReadManifestFields(root, fields), c.ok);
        if (c.ok) {
            EXPECT_EQ(fields.hasIndex, c.hasIndex);
        }
    }
}

TEST(PackageIndex, ThePackageInOrderIsItsHeadersAndEveryBlockOrChunkWithoutAGap) {
    PackageIndex index;
    const std::string tiling =
        Replaced(Replaced(SmallIndex(), "end 900 100", "end 800 200"), "folder 32 300", "folder 32 368");
    ASSERT_EQ(ParsePackageIndex(tiling, index), "");
    std::vector<std::pair<uint64_t, uint64_t>> spans;
    for (const ByteSpan& span : SpansInPackageOrder(index)) spans.push_back({span.offset, span.length});
    const std::vector<std::pair<uint64_t, uint64_t>> expected = {{0, 32}, {32, 368}, {400, 150}, {550, 250}, {800, 200}};
    EXPECT_EQ(spans, expected);  // the big file's block as its two chunks
    EXPECT_EQ(UnpackedBytes(index), 14000u);

    // Bytes between two blocks that no hash covers: the package cannot be checked as it arrives.
    ASSERT_EQ(ParsePackageIndex(SmallIndex(), index), "");
    EXPECT_TRUE(SpansInPackageOrder(index).empty());
}
