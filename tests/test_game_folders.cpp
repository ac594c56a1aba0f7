#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TreeCompare.h"
#include "update/GameFolders.h"

using namespace testing_support;

TEST(PlanRepair, DecisionTable) {
    struct Case { bool game, previous, complete, staged; bool restore, removeStaged, removePrevious; };
    const Case cases[] = {
        {true, false, false, false, false, false, false},  // nothing to do
        {false, true, true, false, true, false, false},    // power lost between the two renames
        {false, true, true, true, true, true, false},
        {false, true, false, false, false, false, true},   // not a whole game: not brought back
        {true, true, true, false, false, false, true},     // swap done, old one not yet deleted
        {true, false, false, true, false, true, false},    // unpack cut short
        {false, false, false, true, false, true, false},
    };
    for (const Case& c : cases) {
        RepairPlan plan = PlanRepair(c.game, c.previous, c.complete, c.staged);
        EXPECT_EQ(plan.restorePrevious, c.restore);
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

TEST_F(GameFoldersTest, RepairBringsTheWholePreviousGameBack) {
    MakeGame(previous, "v1");
    const auto before = ListTree(previous);
    MakeGame(staged, "v2 half");
    RepairInterruptedUpdate(game, staged, previous);
    EXPECT_TRUE(ListTree(game) == before);
    EXPECT_FALSE(Exists(staged));
    EXPECT_FALSE(Exists(previous));
}

TEST_F(GameFoldersTest, RepairRemovesLeftoversBesideAnInstalledGame) {
    MakeGame(game, "v2");
    const auto before = ListTree(game);
    MakeGame(previous, "v1");
    MakeGame(staged, "v3 half");
    RepairInterruptedUpdate(game, staged, previous);
    EXPECT_TRUE(ListTree(game) == before);
    EXPECT_FALSE(Exists(staged));
    EXPECT_FALSE(Exists(previous));
}

TEST_F(GameFoldersTest, SwapPutsTheStagedGameInPlace) {
    MakeGame(game, "v1");
    MakeGame(staged, "v2");
    const auto next = ListTree(staged);
    EXPECT_TRUE(SwapInStagedGame(game, staged, previous));
    EXPECT_TRUE(ListTree(game) == next);
    EXPECT_FALSE(Exists(staged));
    EXPECT_EQ(ReadFileBytes(previous + L"\\version.json"), "v1");  // deleted by the caller
}

TEST_F(GameFoldersTest, SwapWithoutAnInstalledGame) {
    MakeGame(staged, "v1");
    EXPECT_TRUE(SwapInStagedGame(game, staged, previous));
    EXPECT_EQ(ReadFileBytes(game + L"\\version.json"), "v1");
    EXPECT_FALSE(Exists(previous));
}

TEST_F(GameFoldersTest, FailedSwapsLeaveTheGameWhereItWas) {
    MakeGame(game, "v1");
    const auto before = ListTree(game);
    // The first rename cannot be done: something stands where the old game would go.
    WriteFileBytes(previous, "in the way");
    MakeGame(staged, "v2");
    const ULONGLONG started = GetTickCount64();
    EXPECT_FALSE(SwapInStagedGame(game, staged, previous));
    EXPECT_GE(GetTickCount64() - started, ULONGLONG(SWAP_RETRY_MS) * (SWAP_ATTEMPTS - 1));  // it tried again
    EXPECT_TRUE(ListTree(game) == before);
    DeleteFileW(previous.c_str());

    // The second rename cannot be done (the staged game is gone): the old game goes back.
    ForceRemoveTree(staged);
    EXPECT_FALSE(SwapInStagedGame(game, staged, previous));
    EXPECT_TRUE(ListTree(game) == before);
    EXPECT_FALSE(Exists(previous));
}
