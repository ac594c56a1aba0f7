#include <gtest/gtest.h>

#include "platform/Process.h"
#include "tests/support/TestFiles.h"

using namespace testing_support;

namespace {
// A copy of the sleeper under a name no other test uses, started from a temp folder.
struct RunningCopy {
    TempDir dir;
    std::wstring name;
    std::unique_ptr<ChildProcess> process;
    explicit RunningCopy(const std::wstring& fileName) : name(fileName) {
        CopyFileW(HelperProgram(L"sleeper.exe").c_str(), (dir / name).c_str(), FALSE);
        process = std::make_unique<ChildProcess>(dir / name, L"60000");
    }
};
}  // namespace

TEST(IsProcessRunning, FindsARunningExecutableByItsWholeNameInAnyCase) {
    RunningCopy copy(L"QtRunningGame.exe");
    ASSERT_TRUE(copy.process->Started());
    EXPECT_TRUE(IsProcessRunning(L"QtRunningGame.exe", 0));
    EXPECT_TRUE(IsProcessRunning(L"qtrunninggame.exe", 0));    // file names ignore letter case
    EXPECT_TRUE(IsProcessRunning(L"QTRUNNINGGAME.EXE", 0));
    EXPECT_FALSE(IsProcessRunning(L"QtRunningGame", 0));       // not the whole name
    EXPECT_FALSE(IsProcessRunning(L"QtRunningGame.exe ", 0));
    copy.process->Kill();
    EXPECT_FALSE(IsProcessRunning(L"QtRunningGame.exe", 0));
}

TEST(IsProcessRunning, ExcludedProcessIdIsNotCounted) {
    RunningCopy first(L"QtSecondInstance.exe");
    ASSERT_TRUE(first.process->Started());
    EXPECT_FALSE(IsProcessRunning(L"QtSecondInstance.exe", first.process->Id()));

    ChildProcess second(first.dir / first.name, L"60000");
    ASSERT_TRUE(second.Started());
    EXPECT_TRUE(IsProcessRunning(L"QtSecondInstance.exe", first.process->Id()));
    EXPECT_TRUE(IsProcessRunning(L"QtSecondInstance.exe", second.Id()));
}

TEST(IsProcessRunning, OwnProcessWithOwnIdIsNotCounted) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring self = path;
    self = self.substr(self.rfind(L'\\') + 1);
    EXPECT_FALSE(IsProcessRunning(self, GetCurrentProcessId()));
    EXPECT_TRUE(IsProcessRunning(self, 0));
}

TEST(EndProcess, AWorkerStillRunningNeverMeetsDestroyedObjects) {
    for (int run = 0; run < 10; ++run) {
        TempDir dir;
        EXPECT_EQ(RunProgram(HelperProgram(L"exit_under_worker.exe"), L"\"" + dir.Path() + L"\"", 30000), 0u)
            << "run " << run;
    }
}

TEST(ChildProcess, OnlyAPassingRefusalIsTriedAgain) {
    TempDir dir;
    const ULONGLONG started = GetTickCount64();
    ChildProcess missing(dir / L"no-such-program.exe", L"");
    EXPECT_FALSE(missing.Started());
    EXPECT_EQ(missing.Retries(), 0);
    EXPECT_LT(GetTickCount64() - started, 250u);  // no waiting between tries
    ChildProcess present(HelperProgram(L"sleeper.exe"), L"10");
    EXPECT_TRUE(present.Started());
    EXPECT_EQ(present.Wait(10000), 0u);
    struct Case { DWORD error; bool exists, retried; };
    const Case cases[] = {{ERROR_FILE_NOT_FOUND, true, false}, {ERROR_BAD_EXE_FORMAT, true, false},
                          {ERROR_NOT_ENOUGH_MEMORY, true, true},  {ERROR_NOT_ENOUGH_MEMORY, false, false},
                          {ERROR_INVALID_HANDLE, true, true}};
    for (const Case& c : cases) EXPECT_EQ(IsPassingStartRefusal(c.error, c.exists), c.retried) << c.error;
}
