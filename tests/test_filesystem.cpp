#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TreeCompare.h"

using namespace testing_support;

TEST(CreateDirectoryTree, ExistingDirectoryIsTrueAndUntouched) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / L"keep.txt", "x"));
    EXPECT_TRUE(CreateDirectoryTree(dir.Path()));
    EXPECT_EQ(ReadFileBytes(dir / L"keep.txt"), "x");
}

TEST(CreateDirectoryTree, ExistingFileIsFalseAndCreatesNothing) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / L"file", "x"));
    EXPECT_FALSE(CreateDirectoryTree(dir / L"file"));
    EXPECT_FALSE(CreateDirectoryTree(dir / L"file\\below"));
    EXPECT_FALSE(IsDirectory(dir / L"file"));
}

TEST(CreateDirectoryTree, CreatesMissingLevelsWithEitherSeparator) {
    const wchar_t* cases[] = {L"a\\b\\c", L"a/b/c", L"a\\b/c", L"a/b\\c"};
    for (const wchar_t* relative : cases) {
        TempDir dir;
        SCOPED_TRACE(Narrow(relative));
        EXPECT_TRUE(CreateDirectoryTree(dir / relative));
        EXPECT_TRUE(IsDirectory(dir / L"a"));
        EXPECT_TRUE(IsDirectory(dir / L"a\\b"));
        EXPECT_TRUE(IsDirectory(dir / L"a\\b\\c"));
    }
}

TEST(CreateDirectoryTree, DriveRootExists) {
    EXPECT_TRUE(CreateDirectoryTree(L"C:\\"));
    EXPECT_TRUE(CreateDirectoryTree(L"C:"));
}

TEST(DeleteDirectoryTree, EmptyAndMissingDirectories) {
    TempDir dir;
    ASSERT_TRUE(CreateDirectoryTree(dir / L"empty"));
    EXPECT_TRUE(DeleteDirectoryTree(dir / L"empty"));
    EXPECT_FALSE(Exists(dir / L"empty"));
    EXPECT_FALSE(DeleteDirectoryTree(dir / L"missing"));
}

TEST(DeleteDirectoryTree, RemovesReadOnlyHiddenAndNestedEntries) {
    TempDir dir;
    const std::wstring root = dir / L"game";
    ASSERT_TRUE(CreateDirectoryTree(root + L"\\data\\deep\\deeper"));
    ASSERT_TRUE(WriteFileBytes(root + L"\\top.bin", "1"));
    ASSERT_TRUE(WriteFileBytes(root + L"\\data\\ro.txt", "2"));
    ASSERT_TRUE(WriteFileBytes(root + L"\\data\\deep\\hidden.txt", "3"));
    ASSERT_TRUE(WriteFileBytes(root + L"\\data\\deep\\deeper\\x", ""));
    SetFileAttributesW((root + L"\\data\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((root + L"\\data\\deep\\hidden.txt").c_str(),
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_TRUE(DeleteDirectoryTree(root));
    EXPECT_FALSE(Exists(root));
    EXPECT_TRUE(IsDirectory(dir.Path()));
}

TEST(DeleteDirectoryTree, FileHeldOpenStopsTheDeletion) {
    TempDir dir;
    const std::wstring root = dir / L"game";
    ASSERT_TRUE(CreateDirectoryTree(root));
    ASSERT_TRUE(WriteFileBytes(root + L"\\locked.dat", "data"));
    HANDLE held = CreateFileW((root + L"\\locked.dat").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteDirectoryTree(root));
    EXPECT_TRUE(Exists(root + L"\\locked.dat"));
    EXPECT_TRUE(IsDirectory(root));
    CloseHandle(held);
    EXPECT_TRUE(DeleteDirectoryTree(root));
}

TEST(DeleteDirectoryTree, PathsBeyondTheBufferEndWithFalseInsteadOfOverrunning) {
    TempDir dir;
    // A directory whose own name is fine but whose entries' paths exceed 259 units.
    std::wstring deep = dir.Path();
    while (deep.size() < 240) deep += L"\\dddddddddd";
    ASSERT_TRUE(CreateDirectoryTree(deep));
    const std::wstring longName(40, L'n');
    ASSERT_TRUE(WriteFileBytes(L"\\\\?\\" + deep + L"\\" + longName, "x"));
    EXPECT_FALSE(DeleteDirectoryTree(deep));
    EXPECT_TRUE(Exists(L"\\\\?\\" + deep + L"\\" + longName));

    // A directory path that alone is longer than the buffer.
    EXPECT_FALSE(DeleteDirectoryTree(std::wstring(300, L'x')));
}

TEST(DeleteDirectoryTree, ALinkGoesAloneAndItsTargetStays) {
    // A link inside the tree, and the tree itself a link (a "game" folder the player moved to
    // another drive and linked back).
    struct Case { const char* label; const wchar_t* link; const wchar_t* deleted; };
    for (const Case& c : {Case{"inside", L"game\\link", L"game"}, Case{"the tree itself", L"game", L"game"}}) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const std::wstring outside = dir / L"outside";
        ASSERT_TRUE(CreateDirectoryTree(outside + L"\\saves"));
        ASSERT_TRUE(WriteFileBytes(outside + L"\\precious.txt", "keep me"));
        ASSERT_TRUE(WriteFileBytes(outside + L"\\saves\\slot1.dat", "keep me too"));
        const auto before = ListTree(outside);
        if (std::wstring(c.link) != L"game") {
            ASSERT_TRUE(CreateDirectoryTree(dir / L"game"));
        }
        ASSERT_TRUE(MakeDirectoryLink(dir / c.link, outside));
        const bool removed = DeleteDirectoryTree(dir / c.deleted);
        EXPECT_TRUE(ListTree(outside) == before);  // never descended into
        // Windows removes the link itself; Wine cannot remove a host link to a folder that holds
        // files (error 145), and the deletion then reports the link it could not remove.
        EXPECT_EQ(removed, !Exists(dir / c.deleted));
        EXPECT_EQ(removed, !Exists(dir / c.link));
    }
}

TEST(ReadWholeFile, ReadsAFileOthersHoldOpenForWriting) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / L"f", std::string("a\0b", 3)));
    HANDLE writer = CreateFileW((dir / L"f").c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(dir / L"f", bytes));
    EXPECT_EQ(bytes, std::string("a\0b", 3));
    CloseHandle(writer);
    EXPECT_FALSE(ReadWholeFile(dir / L"missing", bytes));
}
