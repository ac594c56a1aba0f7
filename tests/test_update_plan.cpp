// The plan of an update by ranges, worked out from two small indexes made here: what is linked,
// copied piece by piece, decoded, and which spans are fetched in how many requests.
#include <gtest/gtest.h>

#include "update/UpdatePlan.h"

namespace {

Sha256Digest Digest(int n) {
    Sha256Digest d{};
    d[0] = uint8_t(n);
    d[1] = uint8_t(n >> 8);
    return d;
}

ByteSpan Span(uint64_t offset, uint64_t length, int hash = 0) {
    ByteSpan s;
    s.offset = offset;
    s.length = length;
    s.sha256 = Digest(hash);
    return s;
}

// Folder 0: two small files; folder 1: a big file in three chunks of 100 bytes, each chunk's
// content given by the numbers in chunkHashes.
PackageIndex Release(int smallA, int smallB, const std::string& bigPath, std::vector<int> chunkHashes, int bigHash) {
    PackageIndex index;
    index.packageSize = 10'000'000;
    index.startHeader = Span(0, 32, 1);
    index.endHeader = Span(9'999'000, 1000, 2);
    IndexFolder small;
    small.packed = Span(32, 2'000'000, 3);
    small.unpackSize = 300;
    index.folders.push_back(small);
    IndexFolder big;
    big.packed = Span(4'000'000, 3000, 4);
    big.unpackSize = 300;
    big.lzma2Property = 22;
    for (size_t k = 0; k < chunkHashes.size(); ++k) {
        IndexChunk chunk;
        chunk.unpackOffset = k * 100;
        chunk.unpackLength = 100;
        chunk.unpackSha256 = Digest(chunkHashes[k]);
        chunk.packed = Span(4'000'000 + k * 1000, 1000, 100 + chunkHashes[k]);
        big.chunks.push_back(chunk);
    }
    index.folders.push_back(big);
    index.files.push_back(IndexFile{"Vantrel.exe", 0, 200, Digest(smallA)});
    index.files.push_back(IndexFile{"data/a.txt", 0, 100, Digest(smallB)});
    index.files.push_back(IndexFile{bigPath, 1, 300, Digest(bigHash)});
    index.files.push_back(IndexFile{"data/empty.cfg", -1, 0, Digest(0)});
    return index;
}

}  // namespace

TEST(UpdatePlan, EachFileTakesTheCheapestWayThatIsSafe) {
    const PackageIndex installed = Release(10, 11, "data/world.pak", {20, 21, 22}, 30);
    struct Case {
        const char* label;
        PackageIndex next;
        std::vector<bool> intact;
        std::vector<FileAction> actions;
        std::vector<bool> copied;  // the big file's pieces, when it is rebuilt
        bool headers;
        uint64_t fetched;
    };
    const std::vector<bool> all(4, true);
    const Case cases[] = {
        {"nothing changed", Release(10, 11, "data/world.pak", {20, 21, 22}, 30), all,
         {FileAction::Link, FileAction::Link, FileAction::Link, FileAction::Empty}, {}, false, 0},
        {"a small file changed: its folder, with the headers", Release(10, 12, "data/world.pak", {20, 21, 22}, 30), all,
         {FileAction::Link, FileAction::Decode, FileAction::Link, FileAction::Empty}, {}, true, 2'000'000 + 32 + 1000},
        {"a region inside the big file: one chunk", Release(10, 11, "data/world.pak", {20, 29, 22}, 31), all,
         {FileAction::Link, FileAction::Link, FileAction::Rebuild, FileAction::Empty}, {true, false, true}, false, 1000},
        {"the big file moved: linked from its old path", Release(10, 11, "maps/world.pak", {20, 21, 22}, 30), all,
         {FileAction::Link, FileAction::Link, FileAction::Link, FileAction::Empty}, {}, false, 0},
        {"moved and changed: nothing at its path to take pieces from", Release(10, 11, "maps/world.pak", {20, 29, 22}, 31),
         all, {FileAction::Link, FileAction::Link, FileAction::Rebuild, FileAction::Empty}, {false, false, false}, false, 3000},
        {"a file the player changed is not linked", Release(10, 11, "data/world.pak", {20, 21, 22}, 30),
         {true, false, true, true}, {FileAction::Link, FileAction::Decode, FileAction::Link, FileAction::Empty}, {}, true,
         2'000'000 + 32 + 1000},
        {"a changed big file still gives the pieces it holds (checked when read)",
         Release(10, 11, "data/world.pak", {20, 21, 22}, 30), {true, true, false, true},
         {FileAction::Link, FileAction::Link, FileAction::Rebuild, FileAction::Empty}, {true, true, true}, false, 0},
        {"a digest of another installed file, but not its size, is no match", Release(11, 11, "data/world.pak",
         {20, 21, 22}, 30), all, {FileAction::Decode, FileAction::Link, FileAction::Link, FileAction::Empty}, {}, true,
         2'000'000 + 32 + 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const UpdatePlan plan = PlanUpdate(c.next, installed, c.intact);
        ASSERT_EQ(plan.files.size(), c.actions.size());
        for (size_t i = 0; i < c.actions.size(); ++i) EXPECT_EQ(int(plan.files[i].action), int(c.actions[i])) << i;
        if (!c.copied.empty()) {
            EXPECT_EQ(plan.files[2].copyPiece, c.copied);
        }
        EXPECT_EQ(plan.needsHeaders, c.headers);
        EXPECT_EQ(TotalLength(SpansToFetch(c.next, plan)), c.fetched);
    }
}

TEST(UpdatePlan, SpansCloserThanTheGapShareARequest) {
    const std::vector<ByteSpan> spans = {Span(0, 32), Span(100, 50), Span(2'000'000, 10), Span(2'000'010 + (1 << 20), 5),
                                         Span(2'000'015 + (1 << 20) + (1 << 20) - 1, 5)};
    const std::vector<ByteSpan> requests = MergeIntoRequests(spans);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].offset, 0u);
    EXPECT_EQ(requests[0].length, 150u);  // 0-31 and 100-149, the gap fetched too
    EXPECT_EQ(requests[1].offset, 2'000'000u);  // exactly 1 MiB apart: not merged
    EXPECT_EQ(requests[2].offset, 2'000'010u + (1 << 20));
    EXPECT_EQ(requests[2].End(), spans[4].End());  // 1 MiB - 1 apart: merged
    EXPECT_TRUE(MergeIntoRequests({}).empty());
}

TEST(UpdatePlan, DecodedBlocksAreSharedOutSoTheThreadsFinishTogether) {
    struct Case { const char* label; std::vector<uint64_t> bytes; size_t threads; std::vector<size_t> expected; };
    const Case cases[] = {
        {"largest first, each to the least loaded (a tie to the first)", {4, 0, 9, 3, 5}, 2, {1, 0, 0, 0, 1}},
        {"fewer blocks than threads", {0, 7, 2}, 4, {0, 0, 1}},
        {"one thread", {1, 2, 3}, 1, {0, 0, 0}},
        {"nothing to decode", {0, 0}, 2, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(ShareOutFolders(c.bytes, c.threads), c.expected);
    }
}
