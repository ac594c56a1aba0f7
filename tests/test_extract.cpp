#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <thread>
#include <vector>

#include "platform/CheckedSum.h"
#include "tests/support/DurabilityProbe.h"
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

TEST(NormalizeEntryName, Table) {
    using P = NameProblem;
    struct Case { const wchar_t* name; P problem; const wchar_t* normalized; };
    const Case cases[] = {
        {L"Vantrel.exe", P::None, L"Vantrel.exe"},      {L"data/levels/a.map", P::None, L"data\\levels\\a.map"},
        {L"a\\b.txt", P::None, L"a\\b.txt"},           {L"..data/x", P::None, L"..data\\x"},
        {L"x..y", P::None, L"x..y"},                   {L"console.txt", P::None, L"console.txt"},
        {L"COM0", P::None, L"COM0"},                   {L"LPT10.txt", P::None, L"LPT10.txt"},
        {L"a//b", P::None, L"a\\b"},                    {L" lead", P::None, L" lead"},
        // "." means the same as nothing: what other 7z writers store.
        {L"./data/a.pak", P::None, L"data\\a.pak"},     {L"a/./b", P::None, L"a\\b"},
        {L".", P::None, L""},                          {L"./", P::None, L""},
        {L"../x", P::LeadsOutside, L""},               {L"a/../../x", P::LeadsOutside, L""},
        {L"a\\..\\x", P::LeadsOutside, L""},           {L"..", P::LeadsOutside, L""},
        {L"/x", P::LeadsOutside, L""},                 {L"\\x", P::LeadsOutside, L""},
        {L"C:x", P::LeadsOutside, L""},                {L"C:\\x", P::LeadsOutside, L""},
        {L"\\\\h\\s\\x", P::LeadsOutside, L""},          {L"a/.../b", P::LeadsOutside, L""},
        {L"a/.. /b", P::LeadsOutside, L""},
        {L"f.txt:ads", P::ReservedCharacter, L""},     {L"a<b", P::ReservedCharacter, L""},
        {L"a>b", P::ReservedCharacter, L""},           {L"a\"b", P::ReservedCharacter, L""},
        {L"d/a|b", P::ReservedCharacter, L""},         {L"a?b", P::ReservedCharacter, L""},
        {L"a*b", P::ReservedCharacter, L""},           {L"a\x01b", P::ReservedCharacter, L""},
        {L"tab\there", P::ReservedCharacter, L""},
        {L"data./a.pak", P::TrailingDotOrSpace, L""},  {L"a.pak ", P::TrailingDotOrSpace, L""},
        {L"CON", P::DeviceName, L""},                  {L"con.txt", P::DeviceName, L""},
        {L"dir/Nul", P::DeviceName, L""},              {L"aux .log", P::DeviceName, L""},
        {L"COM9.x", P::DeviceName, L""},               {L"lpt1", P::DeviceName, L""},
        {L"prn.a.b", P::DeviceName, L""},              {L"con.tar.gz", P::DeviceName, L""},
        {L"COM\u00B9", P::DeviceName, L""},            {L"com\u00B2.log", P::DeviceName, L""},
        {L"LPT\u00B3", P::DeviceName, L""},            {L"a/lpt\u00B9.txt", P::DeviceName, L""},
        {L"COM\u2074", P::None, L"COM\u2074"},          // superscript four names no port
    };
    for (const Case& c : cases) {
        std::wstring normalized = L"unchanged";
        EXPECT_EQ(NormalizeEntryName(c.name, normalized), c.problem) << Narrow(c.name);
        EXPECT_EQ(normalized, c.normalized) << Narrow(c.name);
        EXPECT_EQ(IsSafeEntryName(c.name), c.problem == P::None) << Narrow(c.name);
    }
    // The longest path the launcher can write below its default root, and one unit more.
    std::wstring longest;
    while (longest.size() + 2 <= MAX_ENTRY_PATH_UNITS) longest += L"d/";
    longest.resize(MAX_ENTRY_PATH_UNITS, L'x');
    std::wstring normalized;
    EXPECT_EQ(NormalizeEntryName(longest, normalized), NameProblem::None);
    EXPECT_EQ(NormalizeEntryName(longest + L"x", normalized), NameProblem::TooLong);
    EXPECT_EQ(NormalizeEntryName(L"./" + longest, normalized), NameProblem::None);  // "./" takes no room
}

TEST(CheckPackageEntries, RulesBetweenEntries) {
    using P = NameProblem;
    struct Case {
        const char* label;
        std::vector<PackageEntry> entries;
        P problem;
        size_t entry, other;
    };
    const Case cases[] = {
        {"a game with folders", {{L"Vantrel.exe", false}, {L"data", true}, {L"data/a.pak", false}}, P::None, 0, 0},
        {"folder entries after their files, as libarchive writes them",
         {{L"./data/a.pak", false}, {L"./data", true}, {L".", true}}, P::None, 0, 0},
        {"two files equal ignoring case", {{L"data/a.pak", false}, {L"DATA/A.PAK", false}}, P::CaseClash, 1, 0},
        {"Latin letters beyond ASCII", {{L"\u00E9t\u00E9.txt", false}, {L"\u00C9T\u00C9.TXT", false}}, P::CaseClash, 1, 0},
        {"Cyrillic", {{L"\u0434\u0430.txt", false}, {L"\u0414\u0410.txt", false}}, P::CaseClash, 1, 0},
        {"a file where a folder is needed", {{L"Data", false}, {L"data/a.pak", false}}, P::CaseClash, 1, 0},
        {"a folder needed where a later file is", {{L"data/a.pak", false}, {L"DATA", false}}, P::CaseClash, 1, 0},
        {"a folder beside a file of its name", {{L"x", false}, {L"X", true}}, P::CaseClash, 1, 0},
        {"the same folder twice", {{L"data", true}, {L"./Data", true}}, P::CaseClash, 1, 0},
        {"the same path through \".\"", {{L"a.pak", false}, {L"./a.pak", false}}, P::CaseClash, 1, 0},
        {"the launcher's manifest", {{L"Vantrel.exe", false}, {L"./Version.JSON", false}}, P::LauncherFile, 1, 0},
        {"a manifest deeper down is the game's own", {{L"data/version.json", false}}, P::None, 0, 0},
        {"a file named \".\"", {{L"./", false}}, P::LeadsOutside, 0, 0},
        {"the first bad name wins", {{L"ok", false}, {L"ab:c", false}, {L"../x", false}}, P::ReservedCharacter, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<std::wstring> normalized;
        const NameCheck check = CheckPackageEntries(c.entries, normalized);
        EXPECT_EQ(check.problem, c.problem);
        if (c.problem == P::None) continue;
        EXPECT_EQ(check.entry, c.entry);
        if (c.problem == P::CaseClash) {
            EXPECT_EQ(check.other, c.other);
        }
    }
}

TEST(HoldsGameAtTop, OnlyAFileAtTheTopInAnyCase) {
    struct Case { const char* label; std::vector<PackageEntry> entries; bool holds; };
    const Case cases[] = {
        {"at the top", {{L"data/a.pak", false}, {L"Vantrel.exe", false}}, true},
        {"through \"./\"", {{L"./Vantrel.exe", false}}, true},
        {"in another case", {{L"vantrel.EXE", false}}, true},
        {"one folder too deep", {{L"Vantrel/Vantrel.exe", false}}, false},
        {"a folder of that name", {{L"Vantrel.exe", true}}, false},
        {"nothing", {}, false},
    };
    for (const Case& c : cases) {
        std::vector<std::wstring> normalized;
        ASSERT_EQ(CheckPackageEntries(c.entries, normalized).problem, NameProblem::None) << c.label;
        EXPECT_EQ(HoldsGameAtTop(c.entries, normalized), c.holds) << c.label;
    }
}

TEST(AddWithoutOverflow, RefusesASumPast64Bits) {
    uint64_t total = 0;
    EXPECT_TRUE(AddWithoutOverflow(total, 5ull << 32));  // past 4 GiB is fine
    EXPECT_TRUE(AddWithoutOverflow(total, UINT64_MAX - (5ull << 32)));
    EXPECT_EQ(total, UINT64_MAX);
    EXPECT_FALSE(AddWithoutOverflow(total, 1));
    EXPECT_EQ(total, UINT64_MAX);  // unchanged
    total = 1ull << 63;
    EXPECT_FALSE(AddWithoutOverflow(total, 1ull << 63));
}

TEST(Extract7z, PackagesFromOtherWritersInstall) {
    const auto expected = ListTree(Fixture(L"tree"));
    for (const wchar_t* writer : {L"writer-bsdtar.7z", L"writer-p7zip.7z"}) {
        SCOPED_TRACE(Narrow(writer));
        Extraction x(writer);
        EXPECT_EQ(x.result, 0);
        EXPECT_TRUE(ListTree(x.destination) == expected);
        EXPECT_TRUE(IsDirectory(x.destination + L"\\empty-dir"));
    }
}

TEST(Extract7z, LzmaEndMarkersBeyondTheInputBuffer) {
    Extraction x(L"lzma-eos-boundary.7z");
    EXPECT_EQ(x.result, 0);
    EXPECT_TRUE(ListTree(x.destination) == ListTree(Fixture(L"lzma-eos-boundary-tree")));
}

TEST(Extract7z, NamesWindowsCannotHoldAreRefusedBeforeAnythingIsWritten) {
    for (const wchar_t* label : {L"less", L"greater", L"colon", L"quote", L"pipe", L"question", L"star",
                                 L"control", L"trailing-dot", L"trailing-space", L"device-extensions",
                                 L"device-superscript", L"device-lpt-superscript", L"case-clash",
                                 L"file-beside-folder", L"too-long", L"launcher-file", L"launcher-file-upper"}) {
        SCOPED_TRACE(Narrow(label));
        Extraction x(std::wstring(L"badname-") + label + L".7z", L"root\\game");
        EXPECT_EQ(x.result, 16);
        EXPECT_FALSE(Exists(x.dir / L"root"));
        PackageSummary summary;
        EXPECT_EQ(InspectPackage(Fixture(std::wstring(L"badname-") + label + L".7z"), summary), 16);
    }
}

TEST(InspectPackage, SumsSizesAndWantsTheGameAtTheTop) {
    PackageSummary summary;
    EXPECT_EQ(InspectPackage(Fixture(L"game-v1.7z"), summary), 0);
    EXPECT_EQ(summary.unpackedBytes, 27u + 9u + 9u);
    EXPECT_EQ(InspectPackage(Fixture(L"game-one-folder-deep.7z"), summary), EXTRACT_NO_GAME);
    EXPECT_EQ(InspectPackage(Fixture(L"method-LZMA2.7z"), summary), EXTRACT_NO_GAME);
}

TEST(Extract7z, EveryFileIsOnTheDiskBeforeItReturns) {
    TempDir dir;
    const std::wstring destination = dir / L"game";
    {
        DurabilityProbe probe;
        ASSERT_EQ(Extract7z(Fixture(L"method-LZMA2.7z"), destination + L"\\", nullptr), 0);
        const auto flushed = probe.Flushed();
        for (const auto& file : ListTree(destination)) {
            if (IsDirectory(destination + L"\\" + file.first)) continue;
            const std::wstring path = FinalPathOf(destination + L"\\" + file.first);
            EXPECT_NE(std::find(flushed.begin(), flushed.end(), path), flushed.end()) << Narrow(file.first);
        }
    }
    // A flush the disk refuses fails the extraction, and that file is not left looking whole.
    ForceRemoveTree(destination);
    DurabilityProbe probe;
    probe.failFlush = [](const std::wstring& path) { return path.find(L"random.bin") != std::wstring::npos; };
    EXPECT_EQ(Extract7z(Fixture(L"method-LZMA2.7z"), destination + L"\\", nullptr), EXTRACT_OUTPUT_FAILED);
    EXPECT_FALSE(Exists(destination + L"\\data\\random.bin"));
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

TEST(StreamingExtraction, AStopRequestEndsTheExtractionAndLeavesNoFileLookingComplete) {
    // The 512 MiB block: a stop once the first file is under way ends it long before the end.
    TempDir dir;
    StopFlag stop{false};
    AtomicInt progress{0};
    int result = -1;
    std::thread extraction([&] { result = Extract7z(Fixture(L"big-block.7z"), dir / L"out\\", &progress, &stop); });
    const std::wstring first = dir / L"out\\part0.bin";
    for (int i = 0; i < 600 && !Exists(first); ++i) Sleep(50);
    stop = true;
    extraction.join();
    EXPECT_EQ(result, EXTRACT_STOPPED);
    // Whatever file was under way is gone; only whole files stay.
    for (const auto& file : ListTree(dir / L"out"))
        EXPECT_EQ(file.second.size(), 128u << 20) << Narrow(file.first);
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
