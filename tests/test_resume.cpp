#include <gtest/gtest.h>

#include <curl/curl.h>

#include <mutex>
#include <vector>

#include "tests/support/HttpServer.h"
#include "tests/support/ScriptedPackage.h"
#include "tests/support/TestFiles.h"
#include "transfer/ResumableSink.h"

using namespace testing_support;

TEST(ResumeRecord, RoundTripAndRefusals) {
    ResumeRecord r;
    r.url = "http://cdn.example.com/version/Vantrel-2.7z";
    r.hasSize = true;
    r.size = 5ull << 32;  // past 4 GiB
    r.sha256 = std::string(64, 'a');
    r.validator = "\"v1-etag\"";
    r.source = "https://mirror.example.net/Vantrel-2.7z";
    ResumeRecord back;
    ASSERT_TRUE(ParseResumeRecord(FormatResumeRecord(r), back));
    EXPECT_EQ(back.source, r.source);
    EXPECT_EQ(back.url, r.url);
    EXPECT_TRUE(back.hasSize);
    EXPECT_EQ(back.size, r.size);
    EXPECT_EQ(back.sha256, r.sha256);
    EXPECT_EQ(back.validator, r.validator);
    EXPECT_FALSE(ParseResumeRecord("", back));
    EXPECT_FALSE(ParseResumeRecord("url=x\nsize=12ab\n", back));
    EXPECT_FALSE(ParseResumeRecord("garbage", back));
}

TEST(CanContinue, OnlyThePackageItWasFor) {
    ResumeRecord wanted;
    wanted.url = "http://h/p.7z";
    wanted.hasSize = true;
    wanted.size = 1000;
    wanted.sha256 = std::string(64, 'b');
    ResumeRecord saved = wanted;
    saved.validator = "\"e\"";
    EXPECT_TRUE(CanContinue(saved, wanted, 500));
    struct Case { const char* label; ResumeRecord saved; uint64_t partial; };
    ResumeRecord otherUrl = saved, otherHash = saved, otherSize = saved, noValidator = saved;
    otherUrl.url = "http://h/q.7z";
    otherHash.sha256 = std::string(64, 'c');
    otherSize.size = 999;
    noValidator.validator.clear();
    const Case refused[] = {
        {"another URL", otherUrl, 500},  {"another hash", otherHash, 500}, {"another size", otherSize, 500},
        {"no validator", noValidator, 500}, {"nothing there", saved, 0},     {"complete", saved, 1000},
    };
    for (const Case& c : refused) EXPECT_FALSE(CanContinue(c.saved, wanted, c.partial)) << c.label;
}

TEST(ChooseValidator, OnlyAStrongETagOrTheDate) {
    struct Case { const char* label; const char* etag; const char* lastModified; const char* chosen; };
    const Case cases[] = {
        {"strong ETag", "\"abc\"", "Tue, 01 Dec 2026 10:00:00 GMT", "\"abc\""},
        {"weak ETag: the date", "W/\"abc\"", "Tue, 01 Dec 2026 10:00:00 GMT", "Tue, 01 Dec 2026 10:00:00 GMT"},
        {"weak ETag alone: nothing", "W/\"abc\"", "", ""},
        {"date alone", "", "Tue, 01 Dec 2026 10:00:00 GMT", "Tue, 01 Dec 2026 10:00:00 GMT"},
        {"neither", "", "", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(ChooseValidator(c.etag, c.lastModified), c.chosen) << c.label;
}

TEST(JudgeResumeResponse, Table) {
    const std::string saved = "\"v1\"";
    struct Case { uint64_t offset; long status; int64_t rangeStart; std::string validator; ResumeAnswer answer; };
    const Case cases[] = {
        {0, 200, -1, "", ResumeAnswer::StartOver},        {500, 206, 500, saved, ResumeAnswer::Append},
        {500, 206, 500, "", ResumeAnswer::Append},        // nothing to compare: If-Range decided
        {500, 200, -1, "\"v2\"", ResumeAnswer::StartOver},
        {500, 206, 500, "\"v2\"", ResumeAnswer::Refuse},   // a range of another file
        {500, 206, 0, saved, ResumeAnswer::Refuse},       {500, 206, 499, saved, ResumeAnswer::Refuse},
        {500, 206, -1, saved, ResumeAnswer::Refuse},      {500, 204, -1, saved, ResumeAnswer::Refuse},
    };
    for (const Case& c : cases) {
        ResponseStart r;
        r.status = c.status;
        r.rangeStart = c.rangeStart;
        r.validator = c.validator;
        EXPECT_EQ(JudgeResumeResponse(c.offset, saved, r), c.answer)
            << c.offset << " " << c.status << " " << c.rangeStart << " " << c.validator;
    }
    // Going on at another server of the package: no validator to ask with, any is taken.
    ResponseStart elsewhere;
    elsewhere.status = 206;
    elsewhere.rangeStart = 500;
    elsewhere.validator = "\"mirror\"";
    EXPECT_EQ(JudgeResumeResponse(500, "", elsewhere), ResumeAnswer::Append);
    elsewhere.rangeStart = 0;
    EXPECT_EQ(JudgeResumeResponse(500, "", elsewhere), ResumeAnswer::Refuse);
    EXPECT_EQ(ContentRangeStart("bytes 500-999/1000"), 500);
    EXPECT_EQ(ContentRangeStart("bytes 0-0/1"), 0);
    EXPECT_EQ(ContentRangeStart("bytes */1000"), -1);
    EXPECT_EQ(ContentRangeStart("items 5-6/7"), -1);
    EXPECT_EQ(ContentRangeStart("bytes 99999999999999999999-1/2"), -1);
}

namespace {
// A file served on a server of its own, ranges as the mode says.
struct RangeServer : ScriptedPackage {
    HttpServer server;
    RangeServer() {
        etag = "\"v1\"";
        Install(server, "/p.7z");
    }
    // What a download of this file wants: its URL and size.
    ResumeRecord Wanted() const {
        ResumeRecord wanted;
        wanted.url = server.Url("/p.7z");
        wanted.hasSize = true;
        wanted.size = body.size();
        return wanted;
    }
};

std::string Body() {
    std::string bytes(300000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}
}  // namespace

TEST(ResumableSink, ContinuesAPartialFileOrStartsOverAsTheServerAnswers) {
    struct Case { const char* label; RangeServer::Mode mode; bool sameEtag; std::string expectRange; bool restart; };
    const Case cases[] = {
        {"206 from the offset", RangeServer::Mode::Honour, true, "bytes=100000-", false},
        {"a server that ignores ranges", RangeServer::Mode::IgnoreRanges, true, "bytes=100000-", false},
        {"a changed file (new validator)", RangeServer::Mode::Honour, false, "bytes=100000-", false},
        {"206 at the wrong offset", RangeServer::Mode::WrongOffset, true, "bytes=100000-", true},
        {"416", RangeServer::Mode::Refuse416, true, "bytes=100000-", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RangeServer s;
        s.body = Body();
        s.mode = c.mode;
        TempDir dir;
        const std::wstring path = dir / L"p.7z";
        const ResumeRecord wanted = s.Wanted();
        // What an interrupted run left: a third of the file and its record.
        WriteFileBytes(path, s.body.substr(0, 100000));
        ResumeRecord saved = wanted;
        saved.validator = c.sameEtag ? s.etag : "\"v0\"";
        WriteFileBytes(path + L".resume", FormatResumeRecord(saved));

        ResumableSink sink(path, wanted, true);
        ASSERT_TRUE(sink.Prepare());
        EXPECT_EQ(sink.ResumeOffset(), 100000u);
        AtomicInt progress{0};
        DownloadProgress target{&progress};
        int result = DownloadFile(&target, wanted.url.c_str(), sink);
        sink.Close();
        EXPECT_EQ(sink.RestartNeeded(), c.restart);
        if (c.restart) {
            EXPECT_NE(result, 0);
            ASSERT_TRUE(sink.StartAfresh());
            result = DownloadFile(&target, wanted.url.c_str(), sink);
            sink.Close();
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(ReadFileBytes(path), s.body);
        EXPECT_EQ(s.Ranges().front(), c.expectRange);
        if (c.restart) {
            EXPECT_EQ(s.Ranges().back(), "");
        }
        Sha256Digest digest{}, expected{};
        ASSERT_TRUE(sink.Digest(digest));
        Sha256 reference;
        reference.Add(s.body.data(), s.body.size());
        ASSERT_TRUE(reference.Finish(expected));
        EXPECT_EQ(digest, expected);  // the whole file's hash, the earlier bytes included
        EXPECT_EQ(progress.load(), 10000);
    }
}

TEST(ResumableSink, APartialOfAnotherPackageIsThrownAway) {
    RangeServer s;
    s.body = Body();
    TempDir dir;
    const std::wstring path = dir / L"p.7z";
    ResumeRecord wanted;
    wanted.url = s.server.Url("/p.7z");
    ResumeRecord saved = wanted;
    saved.url = s.server.Url("/older.7z");
    saved.validator = s.etag;
    WriteFileBytes(path, "older release's bytes");
    WriteFileBytes(path + L".resume", FormatResumeRecord(saved));
    ResumableSink sink(path, wanted, false);
    ASSERT_TRUE(sink.Prepare());
    EXPECT_EQ(sink.ResumeOffset(), 0u);
    DownloadProgress target{nullptr};
    EXPECT_EQ(DownloadFile(&target, wanted.url.c_str(), sink), 0);
    sink.Close();
    EXPECT_EQ(s.Ranges().front(), "");
    EXPECT_EQ(ReadFileBytes(path), s.body);
    EXPECT_NE(ReadFileBytes(path + L".resume").find("url=" + wanted.url), std::string::npos);
}

TEST(DownloadProgress, AContinuedFileCountsTheBytesAlreadyThere) {
    AtomicInt field{0};
    DownloadProgress target{&field, 600};
    // The rest is 400 bytes: the bar starts at 60 % and ends at 100 %.
    DownloadProgressCallback(&target, 400, 0, 0, 0);
    EXPECT_EQ(field.load(), 6000);
    DownloadProgressCallback(&target, 400, 200, 0, 0);
    EXPECT_EQ(field.load(), 8000);
    DownloadProgressCallback(&target, 400, 400, 0, 0);
    EXPECT_EQ(field.load(), 10000);
    // Nothing announced: nothing stored, as for a fresh download.
    field = 1234;
    DownloadProgressCallback(&target, 0, 100, 0, 0);
    EXPECT_EQ(field.load(), 1234);
}

TEST(ResumableSink, AsksWithAStrongETagOrTheDateAndNeverAppendsAnotherFile) {
    const std::string date = "Tue, 01 Dec 2026 10:00:00 GMT";
    struct Case {
        const char* label;
        std::string etag, lastModified;  // what the server sends with every answer
        std::string ifRange;             // what the second run asks with; "" for a plain request
        bool rangeOfAnotherFile;         // the server ignores If-Range and sends a 206 of a new file
    };
    const Case cases[] = {
        {"a strong ETag", "\"r2\"", date, "\"r2\"", false},
        {"a weak ETag: the date", "W/\"r2\"", date, date, false},
        {"a weak ETag alone: starting over", "W/\"r2\"", "", "", false},
        {"a 206 of another file", "\"r2\"", "", "\"r2\"", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RangeServer s;
        s.body = Body();
        s.etag = c.etag;
        s.lastModified = c.lastModified;
        TempDir dir;
        const std::wstring path = dir / L"p.7z";
        const ResumeRecord wanted = s.Wanted();
        s.mode = ScriptedPackage::Mode::CutAtHalf;  // the first run is cut
        {
            ResumableSink first(path, wanted, true);
            ASSERT_TRUE(first.Prepare());
            EXPECT_NE(DownloadFile(nullptr, wanted.url.c_str(), first), 0);
            first.Close();
        }
        s.mode = c.rangeOfAnotherFile ? ScriptedPackage::Mode::RangeOfAnotherFile : ScriptedPackage::Mode::Honour;
        ResumableSink second(path, wanted, true);
        ASSERT_TRUE(second.Prepare());
        EXPECT_EQ(second.ResumeOffset(), c.ifRange.empty() ? 0u : s.body.size() / 2);
        int result = DownloadFile(nullptr, wanted.url.c_str(), second);
        second.Close();
        EXPECT_EQ(second.RestartNeeded(), c.rangeOfAnotherFile);
        if (second.RestartNeeded()) {
            ASSERT_TRUE(second.StartAfresh());
            result = DownloadFile(nullptr, wanted.url.c_str(), second);
            second.Close();
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(ReadFileBytes(path), s.body);
        const auto ifRanges = s.IfRanges();
        ASSERT_GE(ifRanges.size(), 2u);
        EXPECT_EQ(ifRanges[1], c.ifRange);
    }
}

TEST(ResumableSink, GoesOnAtAnotherServerOfThePackageAndNextTimeAsksThatOne) {
    RangeServer first, second;
    first.body = second.body = Body();
    second.etag = "\"mirror-etag\"";
    TempDir dir;
    const std::wstring path = dir / L"p.7z";
    ResumeRecord wanted = first.Wanted();
    wanted.sha256 = std::string(64, 'a');  // a package the manifest names by its hash
    const std::string mirrorUrl = second.server.Url("/p.7z");

    first.mode = ScriptedPackage::Mode::CutAtHalf;
    second.mode = ScriptedPackage::Mode::CutRanges;  // cut too, at half of what it was asked for
    const size_t half = first.body.size() / 2, later = half + (first.body.size() - half) / 2;
    {
        ResumableSink sink(path, wanted, true);
        ASSERT_TRUE(sink.Prepare());
        sink.FetchFrom(wanted.url);
        EXPECT_NE(DownloadFile(nullptr, wanted.url.c_str(), sink), 0);
        sink.Close();
        ASSERT_TRUE(sink.ContinueElsewhere(UINT64_MAX));
        EXPECT_EQ(sink.ResumeOffset(), half);
        sink.FetchFrom(mirrorUrl);
        EXPECT_NE(DownloadFile(nullptr, mirrorUrl.c_str(), sink), 0);
        sink.Close();
    }
    EXPECT_EQ(second.Ranges().front(), "bytes=" + std::to_string(half) + "-");
    EXPECT_EQ(second.IfRanges().front(), "");  // the first server's validator means nothing here
    EXPECT_EQ(ReadFileBytes(path), first.body.substr(0, later));

    // The next run goes on at the mirror, asking with its validator.
    second.mode = ScriptedPackage::Mode::Honour;
    ResumableSink sink(path, wanted, true);
    ASSERT_TRUE(sink.Prepare());
    EXPECT_EQ(sink.SavedSource(), mirrorUrl);
    EXPECT_EQ(sink.ResumeOffset(), later);
    sink.FetchFrom(mirrorUrl);
    EXPECT_EQ(DownloadFile(nullptr, mirrorUrl.c_str(), sink), 0);
    sink.Close();
    EXPECT_EQ(second.IfRanges().back(), second.etag);
    EXPECT_EQ(ReadFileBytes(path), first.body);

    // Without the package's hash to judge the whole, bytes of two servers are never joined.
    ResumableSink unhashed(path, first.Wanted(), false);
    ASSERT_TRUE(unhashed.ContinueElsewhere(UINT64_MAX));
    EXPECT_EQ(unhashed.ResumeOffset(), 0u);
}
