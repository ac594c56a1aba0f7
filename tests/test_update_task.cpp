#include <gtest/gtest.h>

#include <thread>

#include "update/UpdateTask.h"

TEST(CombinedProgress, WeightsAndTruncation) {
    struct Case { int32_t progress, manifest, package, unpack, shown; };
    const Case cases[] = {
        {0, 0, 0, 0, 0},
        {0, 5555, 0, 0, 555},
        {0, 10000, 0, 0, 1000},
        {0, 10000, 5000, 0, 5000},
        {0, 10000, 10000, 0, 9000},
        {0, 10000, 10000, 10000, 10000},
        {0, 10000, 5000, 0, 5000},
        {0, 9, 1, 9, 0},       // each quotient truncated on its own
        {0, 19, 1, 19, 2},  // 1 + 0 + 1
        {10000, 0, 0, 0, 10000},  // success shows full whatever the stages say
        {10000, 3, 4, 5, 10000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CombinedProgress(c.progress, c.manifest, c.package, c.unpack), c.shown)
            << c.manifest << " " << c.package << " " << c.unpack;
    }
}

TEST(UpdateTask, FreshRecordIsRunningAndEmpty) {
    UpdateTask task;
    EXPECT_FALSE(IsTaskFinished(task));
    EXPECT_EQ(CombinedProgress(task), 0);
    EXPECT_TRUE(task.status.Get().empty());
    EXPECT_FALSE(task.thread.IsValid());
}

TEST(UpdateTask, FinishedByResultOrFullProgress) {
    UpdateTask failed;
    failed.manifestProgress = PROGRESS_FULL;
    failed.result = LAUNCH_ERR_VERSION_FILE;
    EXPECT_TRUE(IsTaskFinished(failed));
    UpdateTask done;
    done.progress = PROGRESS_FULL;
    EXPECT_TRUE(IsTaskFinished(done));
}

TEST(SharedText, ReaderOnlyEverSeesWholeStrings) {
    SharedText text;
    const std::wstring a(2000, L'a'), b(10, L'b');
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) text.Set(i % 2 ? a : b);
        stop = true;
    });
    int reads = 0;
    do {  // at least once, even when the writer is done before the first look
        std::wstring seen = text.Get();
        ASSERT_TRUE(seen.empty() || seen == a || seen == b);
        ++reads;
    } while (!stop);
    writer.join();
    EXPECT_GT(reads, 0);
}

namespace {
DWORD WINAPI KeepsWriting(void* parameter) {
    auto* task = static_cast<UpdateTask*>(parameter);
    for (int i = 0; i < 200; ++i) {
        task->status.Set(L"step " + std::to_wstring(i));
        task->unpackProgress = i;
        Sleep(1);
    }
    return 0;
}
DWORD WINAPI EndsAtOnce(void*) { return 0; }
}  // namespace

TEST(ReleaseTaskRecord, RecordOutlivesItsOwnerWhileTheWorkerRuns) {
    auto* task = new UpdateTask;
    ASSERT_TRUE(StartTaskThread(*task, KeepsWriting));
    HANDLE watch = nullptr;
    DuplicateHandle(GetCurrentProcess(), task->thread.Get(), GetCurrentProcess(), &watch, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    ReleaseTaskRecord(task);  // the worker goes on writing into the record it was given
    EXPECT_EQ(WaitForSingleObject(watch, 10000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeThread(watch, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(watch);
}

TEST(ReleaseTaskRecord, FinishedWorkerAndUnstartedRecordAreFreed) {
    auto* task = new UpdateTask;
    ASSERT_TRUE(StartTaskThread(*task, EndsAtOnce));
    HANDLE first = task->thread.Get();
    EXPECT_TRUE(StartTaskThread(*task, EndsAtOnce));  // started once only
    EXPECT_EQ(task->thread.Get(), first);
    WaitForSingleObject(task->thread.Get(), 10000);
    ReleaseTaskRecord(task);
    ReleaseTaskRecord(new UpdateTask);
    ReleaseTaskRecord<UpdateTask>(nullptr);
}
