// A request to stop: set by the window when the player leaves, read by the worker at its next
// piece (a block of the download, a piece of a file being unpacked).
#pragma once

#include <atomic>

using StopFlag = std::atomic<bool>;

inline bool StopRequested(const StopFlag* stop) { return stop && stop->load(); }
