#include <gtest/gtest.h>

#include <curl/curl.h>

#include <mutex>
#include <vector>

#include "tests/support/HttpServer.h"
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
    ResumeRecord back;
    ASSERT_TRUE(ParseResumeRecord(FormatResumeRecord(r), back));
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
    EXPECT_EQ(ContentRangeStart("bytes 500-999/1000"), 500);
    EXPECT_EQ(ContentRangeStart("bytes 0-0/1"), 0);
    EXPECT_EQ(ContentRangeStart("bytes */1000"), -1);
    EXPECT_EQ(ContentRangeStart("items 5-6/7"), -1);
    EXPECT_EQ(ContentRangeStart("bytes 99999999999999999999-1/2"), -1);
}

namespace {
// A file served as a careful server does: Range honoured when If-Range names its ETag.
struct RangeServer {
    HttpServer server;
    std::string body, etag = "\"v1\"";
    enum class Mode { Honour, IgnoreRanges, WrongOffset, Refuse416 } mode = Mode::Honour;
    std::mutex mutex;
    std::vector<std::string> ranges;  // the Range header of each request ("" for none)

    RangeServer() {
        server.RouteRequest("/p.7z", [this](SOCKET client, const std::string& request) {
            const std::string range = HttpServer::HeaderOf(request, "Range");
            {
                std::lock_guard<std::mutex> lock(mutex);
                ranges.push_back(range);
            }
            const bool sameFile = HttpServer::HeaderOf(request, "If-Range") == etag;
            if (!range.empty() && sameFile && mode != Mode::IgnoreRanges) {
                const size_t from = std::stoul(range.substr(6));
                if (mode == Mode::Refuse416) {
                    HttpServer::Send(client, HttpServer::Head(416, "Content-Length: 0\r\n"));
                    return;
                }
                const size_t start = mode == Mode::WrongOffset ? from - 1 : from;
                const std::string rest = body.substr(start);
                HttpServer::Send(client, HttpServer::Head(206, "ETag: " + etag + "\r\nContent-Range: bytes " +
                                                                   std::to_string(start) + "-" +
                                                                   std::to_string(body.size() - 1) + "/" +
                                                                   std::to_string(body.size()) + "\r\nContent-Length: " +
                                                                   std::to_string(rest.size()) + "\r\n") +
                                             rest);
                return;
            }
            HttpServer::Send(client, HttpServer::Head(200, "ETag: " + etag + "\r\nContent-Length: " +
                                                               std::to_string(body.size()) + "\r\n") +
                                         body);
        });
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
        ResumeRecord wanted;
        wanted.url = s.server.Url("/p.7z");
        wanted.hasSize = true;
        wanted.size = s.body.size();
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
        EXPECT_EQ(s.ranges.front(), c.expectRange);
        if (c.restart) {
            EXPECT_EQ(s.ranges.back(), "");
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
    EXPECT_EQ(s.ranges.front(), "");
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
        const std::string body = Body();
        HttpServer server;
        std::mutex mutex;
        std::vector<std::string> ifRanges;
        int requests = 0;
        server.RouteRequest("/p.7z", [&](SOCKET client, const std::string& request) {
            int number;
            {
                std::lock_guard<std::mutex> lock(mutex);
                number = ++requests;
                ifRanges.push_back(HttpServer::HeaderOf(request, "If-Range"));
            }
            std::string validators = "ETag: " + c.etag + "\r\n";
            if (!c.lastModified.empty()) validators += "Last-Modified: " + c.lastModified + "\r\n";
            const std::string range = HttpServer::HeaderOf(request, "Range");
            if (number == 1) {  // the first run is cut at a third
                HttpServer::Send(client, HttpServer::Head(200, validators + "Content-Length: " +
                                                                   std::to_string(body.size()) + "\r\n") +
                                             body.substr(0, 100000));
                return;
            }
            if (!range.empty()) {
                const size_t from = std::stoul(range.substr(6));
                const std::string sent = c.rangeOfAnotherFile ? "ETag: \"r3\"\r\n" : validators;
                HttpServer::Send(client, HttpServer::Head(206, sent + "Content-Range: bytes " + std::to_string(from) + "-" +
                                                                   std::to_string(body.size() - 1) + "/" +
                                                                   std::to_string(body.size()) + "\r\nContent-Length: " +
                                                                   std::to_string(body.size() - from) + "\r\n") +
                                             body.substr(from));
                return;
            }
            HttpServer::Send(client, HttpServer::Head(200, validators + "Content-Length: " + std::to_string(body.size()) +
                                                               "\r\n") +
                                         body);
        });
        TempDir dir;
        const std::wstring path = dir / L"p.7z";
        ResumeRecord wanted;
        wanted.url = server.Url("/p.7z");
        wanted.hasSize = true;
        wanted.size = body.size();
        {
            ResumableSink first(path, wanted, true);
            ASSERT_TRUE(first.Prepare());
            EXPECT_NE(DownloadFile(nullptr, wanted.url.c_str(), first), 0);
            first.Close();
        }
        ResumableSink second(path, wanted, true);
        ASSERT_TRUE(second.Prepare());
        EXPECT_EQ(second.ResumeOffset(), c.ifRange.empty() ? 0u : 100000u);
        int result = DownloadFile(nullptr, wanted.url.c_str(), second);
        second.Close();
        EXPECT_EQ(second.RestartNeeded(), c.rangeOfAnotherFile);
        if (second.RestartNeeded()) {
            ASSERT_TRUE(second.StartAfresh());
            result = DownloadFile(nullptr, wanted.url.c_str(), second);
            second.Close();
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(ReadFileBytes(path), body);
        ASSERT_GE(ifRanges.size(), 2u);
        EXPECT_EQ(ifRanges[1], c.ifRange);
    }
}
