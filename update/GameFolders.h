// The game folder and the folders beside it that an update uses: "game.new" receives the new game
// while the old one stays whole, and "game.old" holds the old game for the moment of the swap.
// Renames on one volume are what make the swap all-or-nothing, so a "game.old" is always a whole
// former game. When one cannot be deleted after a swap (a file held open, a name too long), the
// next swap puts the old game into "game.old.1", then "game.old.2" and so on: the highest one is
// always the newest, and an update never stops for a leftover.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int PREVIOUS_GAME_SLOTS = 10;
// Slot 0 is "<game>.old", slot n is "<game>.old.<n>".
std::wstring PreviousGameDir(const std::wstring& gameDir, int slot);
// The highest slot that holds something; -1 when none does.
int NewestPreviousSlot(const std::wstring& gameDir);
std::wstring StagedGameDir(const std::wstring& gameDir);
// A staged game is complete when its "version.json" is there: it is written, flushed, after
// every other file.
bool IsStagedGameComplete(const std::wstring& stagedDir);

// What an earlier, interrupted update left, and what to do about it.
struct RepairState {
    bool game = false;           // "game" exists
    int newestPrevious = -1;     // the highest previous slot that exists, or -1
    bool staged = false;         // "game.new" exists
    bool stagedComplete = false; // ... and holds its manifest
};
struct RepairPlan {
    int restoreSlot = -1;        // rename this previous game back to "game"
    bool promoteStaged = false;  // the only copy of a game: rename "game.new" to "game"
    bool removeStaged = false;   // delete "game.new"
    bool removePrevious = false; // delete every previous game not restored
};
// With the game missing, the newest previous game comes back whatever it holds (the player's
// saves too); with none, a complete "game.new" becomes the game. Only then do leftovers go, so a
// folder is never deleted while it is the only copy of a game.
RepairPlan PlanRepair(const RepairState& state);

// Looks at the folders beside gameDir and carries out PlanRepair. False when a rename it needed
// failed: nothing was deleted then, and the update must not go on. Deleting leftovers is
// best-effort (see RemoveStagedGame for the one that matters).
bool RepairInterruptedUpdate(const std::wstring& gameDir);

// Deletes a staged game, its manifest first, so a deletion cut short never leaves something that
// looks complete. True when it is gone.
bool RemoveStagedGame(const std::wstring& stagedDir);
// Deletes every previous game beside gameDir; best-effort.
void RemovePreviousGames(const std::wstring& gameDir);

// Renames (written through), trying again for about two seconds while another program (a virus
// scanner, an indexer) holds a file for a moment.
inline constexpr int SWAP_ATTEMPTS = 10;
inline constexpr unsigned SWAP_RETRY_MS = 200;
bool RenameWithRetry(const std::wstring& from, const std::wstring& to);

// Puts the staged game ("game.new") in the game folder's place: game -> the next free previous
// slot, game.new -> game (the first step only when a game folder exists). When the second rename
// fails, the old game goes back. False when the swap could not be done; the installed game is
// then as it was.
bool SwapInStagedGame(const std::wstring& gameDir);

// Whether the install root's volume takes the unpacked game beside the old one: a failed query
// lets the update go on, otherwise unpackedBytes + INSTALL_SPACE_MARGIN must be available.
inline constexpr uint64_t INSTALL_SPACE_MARGIN = 64ull * 1024 * 1024;
bool IsInstallSpaceTooLow(bool querySucceeded, uint64_t availableBytes, uint64_t unpackedBytes);
