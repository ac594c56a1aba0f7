// The record through which the update worker reports to the launcher dialog.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/Progress.h"
#include "platform/SharedText.h"
#include "platform/StopFlag.h"
#include "platform/WorkerTask.h"
#include "update/LaunchErrors.h"


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
    // The running launcher's build, set likewise; 0: the launcher copy is never updated.
    int32_t launcherBuild = 0;
    // Set by the dialog before the worker starts ("-repair"): every installed file is hashed
    // against the installed index and what differs is restored.
    bool verifyFiles = false;
    // Set by the dialog when the player leaves: the worker stops at its next piece.
    StopFlag stop{false};
    scoped::Handle thread;  // the worker's, owned by the dialog
};

// The progress the window shows: manifest 10 %, package 80 %, extraction 10 %.
int32_t CombinedProgress(int32_t progress, int32_t manifestProgress, int32_t packageProgress,
                         int32_t unpackProgress);
int32_t CombinedProgress(const UpdateTask& task);
