#include "update/UpdateTask.h"

int32_t CombinedProgress(int32_t progress, int32_t manifestProgress, int32_t packageProgress,
                         int32_t unpackProgress) {
    if (progress == PROGRESS_FULL) return PROGRESS_FULL;
    return manifestProgress / 10 + (packageProgress * 8) / 10 + unpackProgress / 10;
}

int32_t CombinedProgress(const UpdateTask& task) {
    return CombinedProgress(task.progress.load(), task.manifestProgress.load(),
                            task.packageProgress.load(), task.unpackProgress.load());
}
