// The workers' result codes: 0 is success (or still running), each failure a code of its own.
#pragma once

#include <cstdint>

inline constexpr int32_t LAUNCH_ERR_VERSION_DOWNLOAD = -10000;
inline constexpr int32_t LAUNCH_ERR_PACKAGE_DOWNLOAD = -10001;
inline constexpr int32_t LAUNCH_ERR_EXTRACT = -10002;
inline constexpr int32_t LAUNCH_ERR_CONFIG = -10003;
inline constexpr int32_t LAUNCH_ERR_GAME_RUNNING = -10004;
inline constexpr int32_t LAUNCH_ERR_DISK_SPACE = -10005;
inline constexpr int32_t LAUNCH_ERR_VERSION_FILE = -10006;
// The new game could not be put in the old one's place (its files are held by another program).
inline constexpr int32_t LAUNCH_ERR_SWAP = -10007;
