// The record through which a worker thread reports to the launcher dialog, the progress scale
// and the result codes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/SharedText.h"

// Every progress value runs from 0 to PROGRESS_FULL (hundredths of a percent).
inline constexpr int32_t PROGRESS_FULL = 10000;

inline constexpr int32_t LAUNCH_ERR_VERSION_DOWNLOAD = -10000;
inline constexpr int32_t LAUNCH_ERR_PACKAGE_DOWNLOAD = -10001;
inline constexpr int32_t LAUNCH_ERR_EXTRACT = -10002;
inline constexpr int32_t LAUNCH_ERR_CONFIG = -10003;
inline constexpr int32_t LAUNCH_ERR_GAME_RUNNING = -10004;
inline constexpr int32_t LAUNCH_ERR_DISK_SPACE = -10005;
inline constexpr int32_t LAUNCH_ERR_VERSION_FILE = -10006;
// The new game could not be put in the old one's place (its files are held by another program).
inline constexpr int32_t LAUNCH_ERR_SWAP = -10007;

struct UpdateTask {
    AtomicInt progress{0};  // PROGRESS_FULL once the update ended successfully
    AtomicInt result{0};    // 0 while running and on success, else a LAUNCH_ERR_ code
    AtomicInt manifestProgress{0};
    AtomicInt packageProgress{0};
    AtomicInt unpackProgress{0};
    SharedText status;
    AtomicInt unpackError{0};
    // The worker writes these before its final progress/result; the dialog reads them only
    // after it has seen the record finished.
    SharedText errorDetail;
    SharedText installRoot;
    SharedText gameExePath;
    // The publisher's public key (base64); empty: manifests need no signature. Set by the
    // dialog before the worker starts, never changed afterwards.
    std::string releasePublicKey;
    HANDLE thread = nullptr;  // written and closed by the dialog only
};

// Finished: success (progress full) or failure (result non-zero).
template <typename Task>
bool IsTaskFinished(const Task& task) {
    return task.progress.load() == PROGRESS_FULL || task.result.load() != 0;
}

// The progress the window shows: manifest 10 %, package 80 %, extraction 10 %.
int32_t CombinedProgress(int32_t progress, int32_t manifestProgress, int32_t packageProgress,
                         int32_t unpackProgress);
int32_t CombinedProgress(const UpdateTask& task);

// Starts the worker on the record, unless one was started already. False when no thread could
// be created (the record then never finishes).
template <typename Task>
bool StartTaskThread(Task& task, LPTHREAD_START_ROUTINE entry) {
    if (task.thread) return true;
    task.thread = CreateThread(nullptr, 0, entry, &task, 0, nullptr);
    return task.thread != nullptr;
}

// Releases a record whose owner goes away. A worker that is still running keeps writing into
// it, so the record is then left allocated until the process ends (which follows at once)
// instead of being freed under the worker.
template <typename Task>
void ReleaseTaskRecord(Task* task) {
    if (!task) return;
    bool workerRunning = task->thread && WaitForSingleObject(task->thread, 0) == WAIT_TIMEOUT;
    if (task->thread) CloseHandle(task->thread);
    task->thread = nullptr;
    if (!workerRunning) delete task;
}
