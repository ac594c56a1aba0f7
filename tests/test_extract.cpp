#include <gtest/gtest.h>

#include <map>

#include "tests/support/Shell.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TreeCompare.h"
#include "transfer/Extract7z.h"
#include "transfer/FolderStream.h"

using namespace testing_support;

namespace {

std::wstring Fixture(const std::wstring& name) { return ProgramDir() + L"fixtures\\" + name; }

struct Extraction {
    TempDir dir;
    std::wstring destination;
    AtomicInt progress{-1};
    int result = -100;
    explicit Extraction(const std::wstring& archive, const std::wstring& into = L"game") {
        destination = dir / into;
        result = Extract7z(Fixture(archive), destination + L"\\", &progress);
    }
};

}  // namespace

TEST(Extract7z, EveryMethodAndFilterExtractsByteIdentical) {
    const auto expected = ListTree(Fixture(L"tree"));
    ASSERT_GT(expected.size(), 8u);
    for (const wchar_t* method : {L"Copy", L"LZMA", L"LZMA2", L"Delta", L"BCJ", L"PPC", L"IA64",
                                  L"ARM", L"ARMT", L"SPARC", L"BCJ2"}) {
        SCOPED_TRACE(Narrow(method));
        Extraction x(std::wstring(L"method-") + method + L".7z");
        EXPECT_EQ(x.result, 0);
        EXPECT_EQ(x.progress.load(), 10000);
        EXPECT_TRUE(ListTree(x.destination) == expected);
    }
}

TEST(Extract7z, UnsupportedMethodsAndEncryptionAreRefused) {
    for (const wchar_t* archive : {L"method-PPMd.7z", L"encrypted.7z", L"encrypted-header.7z"}) {
        SCOPED_TRACE(Narrow(archive));
        Extraction x(archive);
        EXPECT_EQ(x.result, 4);
        EXPECT_EQ(x.progress.load(), 10000);
    }
}

TEST(Extract7z, ArchiveWithoutEntriesCreatesNothing) {
    Extraction x(L"no-entries.7z", L"a\\b\\game");
    EXPECT_EQ(x.result, 0);
    EXPECT_EQ(x.progress.load(), 10000);
    EXPECT_FALSE(Exists(x.dir / L"a"));
}

TEST(Extract7z, MissingArchiveLeavesProgressAlone) {
    Extraction x(L"no-such-archive.7z");
    EXPECT_EQ(x.result, 1);
    EXPECT_EQ(x.progress.load(), -1);
}

TEST(Extract7z, BrokenArchivesReportTheDecodersCode) {
    struct Case { const wchar_t* archive; int result; };
    const Case cases[] = {{L"not-7z.7z", 17}, {L"empty-file.7z", 17}, {L"cut-after-start-header.7z", 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.archive));
        Extraction x(c.archive);
        EXPECT_EQ(x.result, c.result);
        EXPECT_EQ(x.progress.load(), 10000);
    }
}

TEST(Extract7z, DamagedFifthEntryStopsAfterFourFiles) {
    Extraction x(L"damaged-fifth.7z");
    EXPECT_EQ(x.result, 3);
    for (const wchar_t* name : {L"1.txt", L"2.txt", L"3.txt", L"4.txt"})
        EXPECT_TRUE(Exists(x.destination + L"\\" + name)) << Narrow(name);
    EXPECT_FALSE(Exists(x.destination + L"\\5.txt"));
}

TEST(Extract7z, ProgressOfFiveEntries) {
    const int32_t expected[] = {0, 2000, 4000, 6000, 8000};
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(ExtractionProgress(i, 5), expected[i]);
    EXPECT_EQ(ExtractionProgress(999999, 1000000), 9999);  // no overflow for large counts
    Extraction x(L"five.7z");
    EXPECT_EQ(x.result, 0);
    EXPECT_EQ(x.progress.load(), 10000);
    EXPECT_EQ(ListTree(x.destination).size(), 5u);
}

TEST(Extract7z, NestedNamesGetTheirFoldersWithoutDirectoryEntries) {
    Extraction x(L"nested.7z", L"deep\\er\\game");
    EXPECT_EQ(x.result, 0);
    EXPECT_EQ(ReadFileBytes(x.destination + L"\\a\\b\\c\\deep.txt"), "deep\n");
}

TEST(Extract7z, ExtractingAgainOverExistingFoldersAndFiles) {
    Extraction x(L"method-LZMA2.7z");
    ASSERT_EQ(x.result, 0);
    WriteFileBytes(x.destination + L"\\readme.txt", "changed");
    EXPECT_EQ(Extract7z(Fixture(L"method-LZMA2.7z"), x.destination + L"\\", nullptr), 0);
    EXPECT_TRUE(ListTree(x.destination) == ListTree(Fixture(L"tree")));
}

TEST(Extract7z, ReadOnlyAttributeIsAppliedWithoutPosixBits) {
    Extraction x(L"readonly.7z");
    ASSERT_EQ(x.result, 0);
    DWORD attributes = GetFileAttributesW((x.destination + L"\\locked.txt").c_str());
    EXPECT_EQ(attributes, DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    SetFileAttributesW((x.destination + L"\\locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Extract7z, OutputFileThatCannotBeCreatedFails) {
    // A file another program holds without sharing, and a folder in the file's place. (A read-only
    // file would do on Windows; Wine running as root lets it be replaced.)
    for (bool folderInTheWay : {false, true}) {
        SCOPED_TRACE(folderInTheWay);
        TempDir dir;
        const std::wstring dest = dir / L"game";
        CreateDirectoryW(dest.c_str(), nullptr);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (folderInTheWay) {
            CreateDirectoryW((dest + L"\\2.txt").c_str(), nullptr);
        } else {
            WriteFileBytes(dest + L"\\2.txt", "old");
            held = CreateFileW((dest + L"\\2.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               0, nullptr);
        }
        EXPECT_EQ(Extract7z(Fixture(L"five.7z"), dest + L"\\", nullptr), 11);
        EXPECT_TRUE(Exists(dest + L"\\1.txt"));
        EXPECT_FALSE(Exists(dest + L"\\3.txt"));
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    }
}

TEST(Extract7z, NamesLeadingOutsideAreRefusedBeforeAnythingIsWritten) {
    for (const wchar_t* label : {L"parent-slash", L"parent-backslash", L"parent-inside", L"absolute",
                                 L"absolute-backslash", L"drive", L"drive-absolute", L"unc",
                                 L"stream", L"device", L"device-extension", L"device-com", L"dots"}) {
        SCOPED_TRACE(Narrow(label));
        Extraction x(std::wstring(L"unsafe-") + label + L".7z", L"root\\game");
        EXPECT_EQ(x.result, 16);
        EXPECT_EQ(x.progress.load(), 10000);
        EXPECT_FALSE(Exists(x.dir / L"root"));  // not even the destination
        EXPECT_FALSE(Exists(x.dir / L"evil.txt"));
        EXPECT_FALSE(Exists(L"C:\\evil.txt"));
        EXPECT_FALSE(Exists(L"C:\\evil"));
    }
}

TEST(IsSafeEntryName, Table) {
    struct Case { const wchar_t* name; bool safe; };
    const Case cases[] = {
        {L"Vantrel.exe", true},        {L"data/levels/a.map", true}, {L"a\\b.txt", true},
        {L"..data/x", true},           {L"x..", true},               {L"console.txt", true},
        {L"COM0", true},               {L"LPT10.txt", true},         {L"a//b", true},
        {L"../x", false},              {L"a/../../x", false},        {L"a\\..\\x", false},
        {L"..", false},                {L"/x", false},               {L"\\x", false},
        {L"C:x", false},               {L"C:\\x", false},            {L"\\\\h\\s\\x", false},
        {L"f.txt:ads", false},         {L"CON", false},              {L"con.txt", false},
        {L"dir/Nul", false},           {L"aux .log", false},         {L"COM9.x", false},
        {L"lpt1", false},              {L"prn.a.b", false},          {L"a/./b", false},
        {L"a/.../b", false},           {L"a/.. /b", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsSafeEntryName(c.name), c.safe) << Narrow(c.name);
}

TEST(WindowsAttributesOf, PosixModeBitsAreDropped) {
    EXPECT_EQ(WindowsAttributesOf(0x81248021), 0x21u);  // RA with -r--r--r-- mode bits
    EXPECT_EQ(WindowsAttributesOf(0x81A48020), 0x20u);
    EXPECT_EQ(WindowsAttributesOf(0x21), 0x21u);          // a Windows word is applied as stored
    EXPECT_EQ(WindowsAttributesOf(0x2), 0x2u);
}

namespace {
// Extracts in a helper process of its own, so that its peak memory is the extraction's.
std::map<std::wstring, std::wstring> ExtractAlone(const std::wstring& archive, const std::wstring& destination) {
    TempDir report;
    EXPECT_EQ(RunProgram(HelperProgram(L"extract_runner.exe"),
                         L"\"" + Fixture(archive) + L"\" \"" + destination + L"\\\\\" \"" + (report / L"out.txt") + L"\"",
                         600000),
              0u);
    return ParseKeyValues(Widen(ReadFileBytes(report / L"out.txt")));
}
}  // namespace

TEST(StreamingExtraction, ASolidBlockLargerThanTheMemoryItMayUse) {
    TempDir dir;
    const std::wstring destination = dir / L"big";
    auto r = ExtractAlone(L"big-block.7z", destination);
    ASSERT_EQ(r[L"result"], L"0");
    // 512 MiB in one block; the dictionary is 16 MiB: the goal is that plus 64 MiB, and the
    // process itself (Wine's own libraries) needs a few dozen more.
    EXPECT_LT(std::stoi(r[L"peakWorkingSetMiB"]), 160) << "peak working set";
    EXPECT_LT(std::stoi(r[L"peakPrivateMiB"]), 160) << "peak private bytes";
    // The content: four parts of 128 MiB, each the same random MiB rotated.
    for (int n = 0; n < 4; ++n) {
        WIN32_FILE_ATTRIBUTE_DATA info;
        ASSERT_TRUE(GetFileAttributesExW((destination + L"\\part" + std::to_wstring(n) + L".bin").c_str(),
                                         GetFileExInfoStandard, &info));
        EXPECT_EQ((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow, 128ull << 20);
    }
}

TEST(StreamingExtraction, MultiChunkLzma2IsDecodedOnSeveralThreads) {
    TempDir dir;
    auto r = ExtractAlone(L"multi-chunk.7z", dir / L"out");
    ASSERT_EQ(r[L"result"], L"0");
    EXPECT_TRUE(ListTree(dir / L"out") == ListTree(Fixture(L"multi-chunk-tree")));
    if (Lzma2DecoderThreads() > 1) {
        EXPECT_EQ(r[L"multiThreaded"], L"1");
    }
}

TEST(StreamingExtraction, DamageInTheMiddleOfABlockLeavesNoFileLookingComplete) {
    TempDir dir;
    AtomicInt progress{0};
    EXPECT_EQ(Extract7z(Fixture(L"crc-middle.7z"), dir / L"out\\", &progress), 3);
    EXPECT_EQ(ReadFileBytes(dir / L"out\\1.bin"), ReadFileBytes(Fixture(L"crc-middle-tree\\1.bin")));
    EXPECT_FALSE(Exists(dir / L"out\\2.bin"));
    EXPECT_FALSE(Exists(dir / L"out\\3.bin"));
    EXPECT_EQ(progress.load(), 10000);
}
