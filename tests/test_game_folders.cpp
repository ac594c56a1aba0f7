#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "tests/support/DurabilityProbe.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TreeCompare.h"
#include "update/GameFolders.h"

using namespace testing_support;

TEST(PlanRepair, DecisionTable) {
    struct Case {
        const char* label;
        bool game; int newestPrevious; bool staged, stagedComplete;
        int restoreSlot; bool promote, removeStaged, removePrevious;
    };
    const Case cases[] = {
        {"nothing beside the game", true, -1, false, false, -1, false, false, false},
        {"nothing at all: a first install", false, -1, false, false, -1, false, false, false},
        {"power lost between the two renames", false, 0, false, false, 0, false, false, false},
        {"between the renames, the new game complete beside it", false, 0, true, true, 0, false, true, false},
        {"the newest of several previous games comes back", false, 3, false, false, 3, false, false, true},
        {"swap done, the old game not yet deleted", true, 0, false, false, -1, false, false, true},
        {"unpack cut short beside the game", true, -1, true, false, -1, false, true, false},
        {"a complete new game beside the game is a leftover", true, -1, true, true, -1, false, true, false},
        {"first install cut short in its unpack", false, -1, true, false, -1, false, true, false},
        {"first install unpacked, not yet renamed: the only copy", false, -1, true, true, -1, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RepairState state;
        state.game = c.game;
        state.newestPrevious = c.newestPrevious;
        state.staged = c.staged;
        state.stagedComplete = c.stagedComplete;
        const RepairPlan plan = PlanRepair(state);
        EXPECT_EQ(plan.restoreSlot, c.restoreSlot);
        EXPECT_EQ(plan.promoteStaged, c.promote);
        EXPECT_EQ(plan.removeStaged, c.removeStaged);
        EXPECT_EQ(plan.removePrevious, c.removePrevious);
    }
}

TEST(IsInstallSpaceTooLow, NeedsTheGamePlus64MiB) {
    const uint64_t margin = 64ull << 20;
    EXPECT_FALSE(IsInstallSpaceTooLow(false, 0, 1000));               // unknown: go on
    EXPECT_FALSE(IsInstallSpaceTooLow(true, 1000 + margin, 1000));
    EXPECT_TRUE(IsInstallSpaceTooLow(true, 999 + margin, 1000));
    EXPECT_TRUE(IsInstallSpaceTooLow(true, 0, 0));
    EXPECT_FALSE(IsInstallSpaceTooLow(true, (8ull << 30) + margin, 8ull << 30));  // past 4 GiB
    EXPECT_TRUE(IsInstallSpaceTooLow(true, UINT64_MAX - 1, UINT64_MAX - 10));   // no wrap-around
}

class GameFoldersTest : public ::testing::Test {
protected:
    TempDir dir;
    std::wstring game = dir / L"game", staged = dir / L"game.new", previous = dir / L"game.old";
    void MakeGame(const std::wstring& folder, const std::string& version) {
        CreateDirectoryTree(folder + L"\\data");
        WriteFileBytes(folder + L"\\version.json", version);
        WriteFileBytes(folder + L"\\data\\level.pak", "level of " + version);
    }
};

TEST_F(GameFoldersTest, RepairBringsThePreviousGameBackWhateverItHolds) {
    // No manifest in it (a game the player tidied up by hand), but the player's saves.
    CreateDirectoryTree(previous + L"\\saves");
    WriteFileBytes(previous + L"\\Vantrel.exe", "game");
    WriteFileBytes(previous + L"\\saves\\slot1.dat", "the player's progress");
    const auto before = ListTree(previous);
    MakeGame(staged, "v2 half");
    EXPECT_TRUE(RepairInterruptedUpdate(game));
    EXPECT_TRUE(ListTree(game) == before);
    EXPECT_FALSE(Exists(staged));
    EXPECT_FALSE(Exists(previous));
}

TEST_F(GameFoldersTest, RepairTakesTheNewestPreviousGameAndDropsOlderLeftovers) {
    MakeGame(previous, "a leftover that could not be deleted");
    MakeGame(PreviousGameDir(game, 1), "the game the last swap moved aside");
    const auto newest = ListTree(PreviousGameDir(game, 1));
    EXPECT_EQ(NewestPreviousSlot(game), 1);
    EXPECT_TRUE(RepairInterruptedUpdate(game));
    EXPECT_TRUE(ListTree(game) == newest);
    EXPECT_EQ(NewestPreviousSlot(game), -1);
}

TEST_F(GameFoldersTest, RepairMakesACompleteNewGameTheGameWhenItIsTheOnlyCopy) {
    MakeGame(staged, "v1");
    const auto complete = ListTree(staged);
    EXPECT_TRUE(RepairInterruptedUpdate(game));
    EXPECT_TRUE(ListTree(game) == complete);
    EXPECT_FALSE(Exists(staged));

    // Without its manifest it is an unpack cut short, not a game.
    ForceRemoveTree(game);
    MakeGame(staged, "v1");
    DeleteFileW((staged + L"\\version.json").c_str());
    EXPECT_TRUE(RepairInterruptedUpdate(game));
    EXPECT_FALSE(Exists(game));
    EXPECT_FALSE(Exists(staged));
}

TEST_F(GameFoldersTest, RepairRemovesLeftoversBesideAnInstalledGame) {
    MakeGame(game, "v2");
    const auto before = ListTree(game);
    MakeGame(previous, "v1");
    MakeGame(PreviousGameDir(game, 2), "v0");
    MakeGame(staged, "v3 half");
    EXPECT_TRUE(RepairInterruptedUpdate(game));
    EXPECT_TRUE(ListTree(game) == before);
    EXPECT_FALSE(Exists(staged));
    EXPECT_EQ(NewestPreviousSlot(game), -1);
}

TEST_F(GameFoldersTest, ARestoreThatFailsDeletesNothing) {
    MakeGame(previous, "v1");
    MakeGame(staged, "v2");
    const auto before = ListTree(dir.Path());
    DurabilityProbe probe;
    probe.failMove = [](const std::wstring&, const std::wstring&) { return true; };
    EXPECT_FALSE(RepairInterruptedUpdate(game));
    EXPECT_TRUE(ListTree(dir.Path()) == before);
}

TEST_F(GameFoldersTest, AStagedGameLosesItsManifestFirst) {
    MakeGame(staged, "v2");
    // Another program holds a file: the deletion stops there, but what is left is no game.
    HANDLE held = CreateFileW((staged + L"\\data\\level.pak").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(RemoveStagedGame(staged));
    EXPECT_FALSE(IsStagedGameComplete(staged));
    CloseHandle(held);
    EXPECT_TRUE(RemoveStagedGame(staged));
    EXPECT_FALSE(Exists(staged));
    EXPECT_TRUE(RemoveStagedGame(staged));  // nothing there is fine
}

TEST_F(GameFoldersTest, NothingIsDeletedThroughALinkInTheStagedGamesPlace) {
    MakeGame(dir / L"elsewhere", "someone else's");
    const auto before = ListTree(dir / L"elsewhere");
    ASSERT_TRUE(MakeDirectoryLink(staged, dir / L"elsewhere"));
    RemoveStagedGame(staged);
    EXPECT_TRUE(ListTree(dir / L"elsewhere") == before);
}

TEST_F(GameFoldersTest, SwapPutsTheStagedGameInPlaceWithRenamesWrittenThrough) {
    MakeGame(game, "v1");
    MakeGame(staged, "v2");
    const auto next = ListTree(staged);
    DurabilityProbe probe;
    EXPECT_TRUE(SwapInStagedGame(game));
    EXPECT_TRUE(ListTree(game) == next);
    EXPECT_FALSE(Exists(staged));
    EXPECT_EQ(ReadFileBytes(previous + L"\\version.json"), "v1");  // deleted by the caller
    const auto moves = probe.Moves();
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0].from, game);
    EXPECT_EQ(moves[0].to, previous);
    EXPECT_EQ(moves[1].from, staged);
    EXPECT_EQ(moves[1].to, game);
    for (const auto& move : moves) EXPECT_TRUE(move.flags & MOVEFILE_WRITE_THROUGH);
}

TEST_F(GameFoldersTest, SwapWithoutAnInstalledGame) {
    MakeGame(staged, "v1");
    EXPECT_TRUE(SwapInStagedGame(game));
    EXPECT_EQ(ReadFileBytes(game + L"\\version.json"), "v1");
    EXPECT_FALSE(Exists(previous));
}

TEST_F(GameFoldersTest, APreviousGameThatStaysNeverBlocksTheNextSwap) {
    MakeGame(game, "v2");
    MakeGame(previous, "v1 leftover");
    MakeGame(staged, "v3");
    EXPECT_TRUE(SwapInStagedGame(game));
    EXPECT_EQ(ReadFileBytes(game + L"\\version.json"), "v3");
    EXPECT_EQ(ReadFileBytes(PreviousGameDir(game, 1) + L"\\version.json"), "v2");
    EXPECT_EQ(ReadFileBytes(previous + L"\\version.json"), "v1 leftover");
    // With every slot taken the swap is refused and the game stays.
    for (int slot = 2; slot < PREVIOUS_GAME_SLOTS; ++slot) MakeGame(PreviousGameDir(game, slot), "leftover");
    MakeGame(staged, "v4");
    EXPECT_FALSE(SwapInStagedGame(game));
    EXPECT_EQ(ReadFileBytes(game + L"\\version.json"), "v3");
    RemovePreviousGames(game);
    EXPECT_EQ(NewestPreviousSlot(game), -1);
}

TEST_F(GameFoldersTest, FailedSwapsLeaveTheGameWhereItWas) {
    MakeGame(game, "v1");
    const auto before = ListTree(game);
    MakeGame(staged, "v2");
    {
        // The first rename cannot be done: another program holds a file of the game.
        DurabilityProbe probe;
        int tries = 0;
        probe.failMove = [&](const std::wstring& from, const std::wstring&) { return from == game && ++tries; };
        EXPECT_FALSE(SwapInStagedGame(game));
        EXPECT_EQ(tries, SWAP_ATTEMPTS);  // it tried again
        EXPECT_TRUE(ListTree(game) == before);
        EXPECT_TRUE(Exists(staged));
    }
    {
        // The second rename cannot be done: the old game goes back.
        DurabilityProbe probe;
        probe.failMove = [&](const std::wstring& from, const std::wstring&) { return from == staged; };
        EXPECT_FALSE(SwapInStagedGame(game));
        EXPECT_TRUE(ListTree(game) == before);
        EXPECT_FALSE(Exists(previous));
    }
}
