#include <gtest/gtest.h>

#include <curl/curl.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/Sha256.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TestFiles.h"
#include "rules/ManifestFields.h"
#include "transfer/FileSink.h"

using namespace testing_support;

namespace {
Sha256Digest DigestOf(const char* hex) {
    Sha256Digest digest{};
    EXPECT_TRUE(ParseSha256Hex(hex, digest));
    return digest;
}
}  // namespace

TEST(FileSink, HashesWhatItWritesAcrossPieces) {
    TempDir dir;
    FileSink sink(UINT64_MAX, true);
    ASSERT_TRUE(sink.Open(dir / L"abc.bin"));
    // "abc" in two pieces, as a transfer hands it over.
    ASSERT_TRUE(sink.Write("a", 1));
    ASSERT_TRUE(sink.Write("bc", 2));
    ASSERT_TRUE(sink.Write("", 0));
    ASSERT_TRUE(sink.Close());
    Sha256Digest digest{};
    ASSERT_TRUE(sink.Digest(digest));
    EXPECT_EQ(digest, DigestOf("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(sink.Size(), 3u);
    EXPECT_EQ(ReadFileBytes(dir / L"abc.bin"), "abc");
}

TEST(FileSink, StopsAtItsCapBeforeAByteTooManyIsWritten) {
    TempDir dir;
    FileSink sink(5, false);
    ASSERT_TRUE(sink.Open(dir / L"capped.bin"));
    EXPECT_TRUE(sink.Write("1234", 4));
    EXPECT_TRUE(sink.Write("5", 1));
    EXPECT_FALSE(sink.Write("6", 1));
    EXPECT_TRUE(sink.Exceeded());
    sink.Close();
    EXPECT_EQ(ReadFileBytes(dir / L"capped.bin"), "12345");
}

TEST(FileSink, EndlessBodyEndsAtTheCap) {
    HttpServer server;
    server.Route("/endless", [&server](SOCKET client) {
        HttpServer::Send(client, HttpServer::Head(200, ""));
        const std::string block(64 * 1024, 'x');
        for (int i = 0; i < 100000 && !server.Stopping(); ++i)
            if (!HttpServer::Send(client, block)) break;
    });
    TempDir dir;
    FileSink sink(1000000, true);
    ASSERT_TRUE(sink.Open(dir / L"endless.bin"));
    DownloadProgress target{nullptr};
    EXPECT_EQ(DownloadFile(&target, server.Url("/endless").c_str(), sink), CURLE_WRITE_ERROR);
    EXPECT_TRUE(sink.Exceeded());
    EXPECT_LE(sink.Size(), 1000000u);
    sink.Close();
}

TEST(FileSink, FullDiskFailsTheWriteThatMeetsIt) {
    const char* volume = getenv("QUENBY_SMALL_VOLUME");
    if (!volume || !*volume) GTEST_SKIP() << "no small volume mounted (QUENBY_SMALL_VOLUME)";
    std::wstring folder = L"Z:" + Widen(volume);
    for (wchar_t& c : folder)
        if (c == L'/') c = L'\\';
    folder += L"\\sink-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    FileSink sink(UINT64_MAX, true);
    ASSERT_TRUE(sink.Open(folder + L"\\big.bin"));
    const std::string block(1 << 20, 'f');
    int accepted = 0;
    while (accepted < 64 && sink.Write(block.data(), block.size())) ++accepted;
    EXPECT_LT(accepted, 64);  // the volume holds 16 MiB
    EXPECT_FALSE(sink.Write("more", 4));
    EXPECT_FALSE(sink.Close());
    Sha256Digest digest{};
    sink.Digest(digest);
    ForceRemoveTree(folder);
}

TEST(DownloadFile, AnExceptionInTheSinkEndsTheTransferAsAWriteError) {
    HttpServer server;
    server.RouteBody("/body", std::string(100000, 'b'));
    struct ThrowingSink : DownloadSink {
        bool Write(const char*, size_t) override { throw std::runtime_error("sink fault"); }
    } sink;
    DownloadProgress target{nullptr};
    EXPECT_EQ(DownloadFile(&target, server.Url("/body").c_str(), sink), CURLE_WRITE_ERROR);
}

TEST(PackageMatches, SizeAndHashWhereGiven) {
    const Sha256Digest a = DigestOf("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    Sha256Digest b = a;
    b[31] ^= 1;
    EXPECT_TRUE(PackageMatches(false, 0, 123, false, a, false, b));  // nothing given
    EXPECT_TRUE(PackageMatches(true, 5ull << 32, 5ull << 32, true, a, true, a));
    EXPECT_FALSE(PackageMatches(true, 5ull << 32, 1ull << 32, false, a, false, a));  // differs past 32 bits
    EXPECT_FALSE(PackageMatches(false, 0, 3, true, a, true, b));
    EXPECT_FALSE(PackageMatches(false, 0, 3, true, a, false, a));  // no hash computed
}

namespace {

Sha256Digest HashOf(const std::string& bytes) {
    Sha256 hash;
    hash.Add(bytes.data(), bytes.size());
    Sha256Digest digest{};
    EXPECT_TRUE(hash.Finish(digest));
    return digest;
}

// "abc" and "defgh", the package "abcdefgh".
std::vector<ByteSpan> TwoSpans() {
    ByteSpan first, second;
    first.length = 3;
    first.sha256 = HashOf("abc");
    second.offset = 3;
    second.length = 5;
    second.sha256 = HashOf("defgh");
    return {first, second};
}

}  // namespace

TEST(ArrivalCheck, AReaderGetsBytesOnlyOnceTheirWholeSpanMatched) {
    ArrivalCheck check(TwoSpans());
    ASSERT_TRUE(check.Add("ab", 2));
    std::atomic<int> got{-1};
    std::thread reader([&] { got = check.WaitFor(2) ? 1 : 0; });
    Sleep(200);
    EXPECT_EQ(got.load(), -1);  // two bytes are there, their span is not
    ASSERT_TRUE(check.Add("cdef", 4));
    reader.join();
    EXPECT_EQ(got.load(), 1);
    EXPECT_EQ(check.CheckedEnd(), 3u);
    ASSERT_TRUE(check.Add("gh", 2));
    EXPECT_TRUE(check.WaitFor(8));
    EXPECT_FALSE(check.Mismatched());
}

TEST(ArrivalCheck, ASpanThatDoesNotMatchReleasesNothingAfterIt) {
    struct Case { const char* label; std::string bytes; uint64_t checked; };
    const Case cases[] = {
        {"the first span", "abXdefgh", 0},
        {"the second span", "abcdefgX", 3},
        {"a byte past the package", "abcdefghi", 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ArrivalCheck check(TwoSpans());
        check.Add(c.bytes.data(), c.bytes.size());
        check.Close();
        EXPECT_FALSE(check.WaitFor(9));
        EXPECT_EQ(check.WaitFor(c.checked), true);
        EXPECT_EQ(check.CheckedEnd(), c.checked);
        EXPECT_TRUE(check.Mismatched());
        EXPECT_FALSE(check.Add("x", 1));  // the writer is stopped too
    }
}

TEST(ArrivalCheck, AReaderWaitingForBytesThatNeverComeIsLetGo) {
    ArrivalCheck closed(TwoSpans());
    ASSERT_TRUE(closed.Add("abcde", 5));
    closed.Close();  // the download ended early
    EXPECT_FALSE(closed.WaitFor(8));
    EXPECT_TRUE(closed.WaitFor(3));
    EXPECT_FALSE(closed.Mismatched());

    ArrivalCheck abandoned(TwoSpans());
    std::atomic<int> got{-1};
    std::thread reader([&] { got = abandoned.WaitFor(3) ? 1 : 0; });
    Sleep(100);
    abandoned.Abandon();
    reader.join();
    EXPECT_EQ(got.load(), 0);
}

TEST(ArrivalCheck, ThePartOfAFileAlreadyThereIsCheckedWhenTheSinkContinuesIt) {
    TempDir dir;
    WriteFileBytes(dir / L"package.bin", "abcdefgh");
    ArrivalCheck check(TwoSpans());
    FileSink sink(8, true);
    sink.CheckAlso(&check);
    ASSERT_TRUE(sink.OpenToContinue(dir / L"package.bin", 4));
    EXPECT_TRUE(check.WaitFor(3));
    ASSERT_TRUE(sink.Write("efgh", 4));
    EXPECT_TRUE(check.WaitFor(8));
    ASSERT_TRUE(sink.Close());
    EXPECT_EQ(ReadFileBytes(dir / L"package.bin"), "abcdefgh");
}
