// The game folder and the two folders beside it that an update uses: "game.new" receives the new
// game while the old one stays whole, and "game.old" holds the old game for the moment of the
// swap. Renames on one volume are what make the swap all-or-nothing.
#pragma once

#include <cstdint>
#include <string>

// What an earlier, interrupted update left, and what to do about it.
struct RepairPlan {
    bool restorePrevious = false;  // rename "game.old" back to "game"
    bool removeStaged = false;     // delete "game.new"
    bool removePrevious = false;   // delete "game.old"
};
// The game folder is missing and a complete previous game exists: it comes back. Leftovers go.
RepairPlan PlanRepair(bool gameExists, bool previousExists, bool previousComplete, bool stagedExists);

// Carries out PlanRepair on the real folders. A previous game counts as complete when it holds
// its installed manifest ("version.json"), which every finished installation has.
void RepairInterruptedUpdate(const std::wstring& gameDir, const std::wstring& stagedDir,
                             const std::wstring& previousDir);

// Renames, trying again for about two seconds while another program (a virus scanner, an
// indexer) holds a file for a moment.
inline constexpr int SWAP_ATTEMPTS = 10;
inline constexpr unsigned SWAP_RETRY_MS = 200;
bool RenameWithRetry(const std::wstring& from, const std::wstring& to);

// Puts the staged game in the game folder's place: game -> game.old, game.new -> game (the first
// step only when a game folder exists). When the second rename fails, game.old goes back.
// False when the swap could not be done; the installed game is then as it was.
bool SwapInStagedGame(const std::wstring& gameDir, const std::wstring& stagedDir,
                      const std::wstring& previousDir);

// Whether the install root's volume takes the unpacked game beside the old one: a failed query
// lets the update go on, otherwise unpackedBytes + INSTALL_SPACE_MARGIN must be available.
inline constexpr uint64_t INSTALL_SPACE_MARGIN = 64ull * 1024 * 1024;
bool IsInstallSpaceTooLow(bool querySucceeded, uint64_t availableBytes, uint64_t unpackedBytes);
