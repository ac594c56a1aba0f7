#include "update/GameFolders.h"

#include <windows.h>

#include "platform/DurableFile.h"
#include "platform/FileSystem.h"

namespace {
bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
}  // namespace

std::wstring PreviousGameDir(const std::wstring& gameDir, int slot) {
    return slot == 0 ? gameDir + L".old" : gameDir + L".old." + std::to_wstring(slot);
}

int NewestPreviousSlot(const std::wstring& gameDir) {
    for (int slot = PREVIOUS_GAME_SLOTS - 1; slot >= 0; --slot)
        if (Exists(PreviousGameDir(gameDir, slot))) return slot;
    return -1;
}

std::wstring StagedGameDir(const std::wstring& gameDir) { return gameDir + L".new"; }

bool IsStagedGameComplete(const std::wstring& stagedDir) {
    return CanOpenForReading(stagedDir + L"\\version.json");
}

RepairPlan PlanRepair(const RepairState& state) {
    RepairPlan plan;
    if (!state.game && state.newestPrevious >= 0) {
        plan.restoreSlot = state.newestPrevious;
    } else if (!state.game && state.staged && state.stagedComplete) {
        plan.promoteStaged = true;
        return plan;
    }
    plan.removeStaged = state.staged;
    // Below the one restored only leftovers of failed deletions can lie.
    plan.removePrevious = plan.restoreSlot >= 0 ? plan.restoreSlot > 0 : state.newestPrevious >= 0;
    return plan;
}

bool RepairInterruptedUpdate(const std::wstring& gameDir) {
    const std::wstring staged = StagedGameDir(gameDir);
    RepairState state;
    state.game = Exists(gameDir);
    state.newestPrevious = NewestPreviousSlot(gameDir);
    state.staged = Exists(staged);
    state.stagedComplete = state.staged && IsStagedGameComplete(staged);
    const RepairPlan plan = PlanRepair(state);

    if (plan.restoreSlot >= 0 && !RenameWithRetry(PreviousGameDir(gameDir, plan.restoreSlot), gameDir))
        return false;
    if (plan.promoteStaged && !RenameWithRetry(staged, gameDir)) return false;
    if (plan.removeStaged) RemoveStagedGame(staged);
    if (plan.removePrevious) RemovePreviousGames(gameDir);
    return true;
}

bool RemoveStagedGame(const std::wstring& stagedDir) {
    // A link in its place goes alone (DeleteDirectoryTree): nothing is deleted through it.
    const DWORD attributes = GetFileAttributesW(stagedDir.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        const std::wstring manifest = stagedDir + L"\\version.json";
        SetFileAttributesW(manifest.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(manifest.c_str());
    }
    return RemoveTreeIfPresent(stagedDir);
}

void RemovePreviousGames(const std::wstring& gameDir) {
    for (int slot = 0; slot < PREVIOUS_GAME_SLOTS; ++slot) RemoveTreeIfPresent(PreviousGameDir(gameDir, slot));
}

bool RenameWithRetry(const std::wstring& from, const std::wstring& to) {
    for (int attempt = 0; attempt < SWAP_ATTEMPTS; ++attempt) {
        if (attempt > 0) Sleep(SWAP_RETRY_MS);
        if (MoveWriteThrough(from, to)) return true;
        // Nothing to wait for when the source is gone.
        if (!Exists(from)) return false;
    }
    return false;
}

bool SwapInStagedGame(const std::wstring& gameDir) {
    const int slot = NewestPreviousSlot(gameDir) + 1;
    if (slot >= PREVIOUS_GAME_SLOTS) return false;
    const std::wstring previous = PreviousGameDir(gameDir, slot);
    const bool hadGame = Exists(gameDir);
    if (hadGame && !RenameWithRetry(gameDir, previous)) return false;
    if (RenameWithRetry(StagedGameDir(gameDir), gameDir)) return true;
    if (hadGame) RenameWithRetry(previous, gameDir);
    return false;
}

bool IsInstallSpaceTooLow(bool querySucceeded, uint64_t availableBytes, uint64_t unpackedBytes) {
    if (!querySucceeded) return false;
    const uint64_t needed = unpackedBytes > UINT64_MAX - INSTALL_SPACE_MARGIN
                                ? UINT64_MAX
                                : unpackedBytes + INSTALL_SPACE_MARGIN;
    return availableBytes < needed;
}
