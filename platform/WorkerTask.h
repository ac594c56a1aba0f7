// What every worker's record shares with the window that owns it: when it is finished, how its
// thread is started, and how the record is let go while the thread may still write into it.
#pragma once

#include <windows.h>

#include "platform/Progress.h"
#include "platform/ScopedWin.h"

// Finished: success (progress full) or failure (result non-zero).
template <typename Task>
bool IsTaskFinished(const Task& task) {
    return task.progress.load() == PROGRESS_FULL || task.result.load() != 0;
}

// Starts the worker on the record, unless one was started already. False when no thread could
// be created (the record then never finishes).
template <typename Task>
bool StartTaskThread(Task& task, LPTHREAD_START_ROUTINE entry) {
    if (task.thread.IsValid()) return true;
    task.thread.Reset(CreateThread(nullptr, 0, entry, &task, 0, nullptr));
    return task.thread.IsValid();
}

// Releases a record whose owner goes away. A worker that is still running keeps writing into
// it, so the record is then left allocated until the process ends (which follows at once)
// instead of being freed under the worker.
template <typename Task>
void ReleaseTaskRecord(Task* task) {
    if (!task) return;
    const bool workerRunning = task->thread.IsValid() && WaitForSingleObject(task->thread.Get(), 0) == WAIT_TIMEOUT;
    task->thread.Reset();
    if (!workerRunning) delete task;
}

// A window's task record: created on demand, let go through ReleaseTaskRecord when the window
// goes, so a worker that still runs never meets a freed record.
template <typename Task>
class TaskRecord {
public:
    TaskRecord() = default;
    ~TaskRecord() { ReleaseTaskRecord(m_task); }
    TaskRecord(const TaskRecord&) = delete;
    TaskRecord& operator=(const TaskRecord&) = delete;
    Task& Create() {
        ReleaseTaskRecord(m_task);
        m_task = new Task;
        return *m_task;
    }
    Task* Get() const { return m_task; }
    Task* operator->() const { return m_task; }
    Task& operator*() const { return *m_task; }
    explicit operator bool() const { return m_task != nullptr; }

private:
    Task* m_task = nullptr;
};
