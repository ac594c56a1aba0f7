#include "update/GameFolders.h"

#include <windows.h>

#include "platform/FileSystem.h"

namespace {
bool IsFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
}  // namespace

RepairPlan PlanRepair(bool gameExists, bool previousExists, bool previousComplete, bool stagedExists) {
    RepairPlan plan;
    plan.restorePrevious = !gameExists && previousExists && previousComplete;
    plan.removeStaged = stagedExists;
    plan.removePrevious = previousExists && !plan.restorePrevious;
    return plan;
}

void RepairInterruptedUpdate(const std::wstring& gameDir, const std::wstring& stagedDir,
                             const std::wstring& previousDir) {
    const bool previousExists = IsFolder(previousDir);
    const RepairPlan plan = PlanRepair(IsFolder(gameDir), previousExists,
                                       previousExists && CanOpenForReading(previousDir + L"\\version.json"),
                                       IsFolder(stagedDir));
    if (plan.restorePrevious && !RenameWithRetry(previousDir, gameDir)) {
        // The previous game stays where it is rather than being deleted.
        if (plan.removeStaged) DeleteDirectoryTree(stagedDir);
        return;
    }
    if (plan.removeStaged) DeleteDirectoryTree(stagedDir);
    if (plan.removePrevious) DeleteDirectoryTree(previousDir);
}

bool RenameWithRetry(const std::wstring& from, const std::wstring& to) {
    for (int attempt = 0; attempt < SWAP_ATTEMPTS; ++attempt) {
        if (attempt > 0) Sleep(SWAP_RETRY_MS);
        if (MoveFileExW(from.c_str(), to.c_str(), 0)) return true;
        // Nothing to wait for when the source is gone.
        if (GetFileAttributesW(from.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    }
    return false;
}

bool SwapInStagedGame(const std::wstring& gameDir, const std::wstring& stagedDir,
                      const std::wstring& previousDir) {
    const bool hadGame = GetFileAttributesW(gameDir.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (hadGame && !RenameWithRetry(gameDir, previousDir)) return false;
    if (RenameWithRetry(stagedDir, gameDir)) return true;
    if (hadGame) RenameWithRetry(previousDir, gameDir);
    return false;
}

bool IsInstallSpaceTooLow(bool querySucceeded, uint64_t availableBytes, uint64_t unpackedBytes) {
    if (!querySucceeded) return false;
    const uint64_t needed = unpackedBytes > UINT64_MAX - INSTALL_SPACE_MARGIN
                                ? UINT64_MAX
                                : unpackedBytes + INSTALL_SPACE_MARGIN;
    return availableBytes < needed;
}
