#include <gtest/gtest.h>

#include <curl/curl.h>

#include <thread>

#include "tests/support/HttpServer.h"
#include "tests/support/TestFiles.h"
#include "transfer/Download.h"

using namespace testing_support;

namespace {

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char((i * 131 + i / 977) & 0xFF);
    return bytes;
}

// A download into a fresh file, with the progress field watched the way the window watches it.
struct Fetch {
    TempDir dir;
    AtomicInt field{4321};  // a value DownloadFile never writes by itself
    int result = -1;
    int32_t highest = 0;
    bool fellBack = false;

    std::string Run(const std::string& url) {
        const std::wstring path = dir / L"out.bin";
        FILE* out = _wfopen(path.c_str(), L"wb");
        EXPECT_NE(out, nullptr);
        std::atomic<bool> done{false};
        std::thread watcher([&] {
            int32_t last = 0;
            while (!done) {
                int32_t v = field.load();
                if (v != 4321) {
                    highest = std::max(highest, v);
                    if (v < last) fellBack = true;
                    last = v;
                }
                Sleep(1);
            }
        });
        DownloadProgress target{&field};
        result = DownloadFile(&target, url.c_str(), out);
        done = true;
        watcher.join();
        fclose(out);
        return ReadFileBytes(path);
    }
};

void ServeWithoutLength(HttpServer& server, const std::string& path, const std::string& body,
                        bool chunked) {
    server.Route(path, [body, chunked](SOCKET client) {
        if (!chunked) {
            HttpServer::Send(client, HttpServer::Head(200, "") + body);
            return;
        }
        HttpServer::Send(client, HttpServer::Head(200, "Transfer-Encoding: chunked\r\n"));
        for (size_t at = 0; at < body.size(); at += 70000) {
            std::string part = body.substr(at, 70000);
            char size[16];
            snprintf(size, sizeof size, "%zx\r\n", part.size());
            HttpServer::Send(client, size + part + "\r\n");
        }
        HttpServer::Send(client, "0\r\n\r\n");
    });
}

}  // namespace

TEST(DownloadFile, BodyWithLengthArrivesWholeWithProgressUpToFull) {
    HttpServer server;
    const std::string body = Pattern(3 << 20);
    server.RouteBody("/package.7z", body);
    Fetch fetch;
    EXPECT_EQ(fetch.Run(server.Url("/package.7z")), body);
    EXPECT_EQ(fetch.result, 0);
    EXPECT_EQ(fetch.field.load(), 10000);
    EXPECT_LE(fetch.highest, 10000);
    EXPECT_FALSE(fetch.fellBack);
}

TEST(DownloadFile, BodyWithoutLengthLeavesProgressUntouched) {
    for (bool chunked : {true, false}) {
        SCOPED_TRACE(chunked ? "chunked" : "close-delimited");
        HttpServer server;
        const std::string body = Pattern(500000);
        ServeWithoutLength(server, "/m.json", body, chunked);
        Fetch fetch;
        EXPECT_EQ(fetch.Run(server.Url("/m.json")), body);
        EXPECT_EQ(fetch.result, 0);
        EXPECT_EQ(fetch.field.load(), 4321);
    }
}

TEST(DownloadFile, ErrorStatusFailsAndStoresNoErrorPage) {
    struct Case { int status; const char* body; };
    const Case cases[] = {{404, "<html>Not Found</html>"}, {500, "<html>Oops</html>"},
                          {204, ""}, {304, ""}, {399, "odd"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        HttpServer server;
        server.RouteBody("/x", c.body, c.status);
        Fetch fetch;
        std::string stored = fetch.Run(server.Url("/x"));
        if (c.status == 204) {
            EXPECT_EQ(fetch.result, 0);  // success without content
        } else {
            EXPECT_EQ(fetch.result, CURLE_HTTP_RETURNED_ERROR);
        }
        EXPECT_EQ(stored, "");
    }
}

TEST(DownloadFile, FollowsFiveRedirectsButNotSix) {
    HttpServer server;
    server.RouteBody("/final", "payload");
    for (int i = 1; i <= 6; ++i)
        server.RouteRedirect("/hop" + std::to_string(i),
                             i == 1 ? server.Url("/final") : "/hop" + std::to_string(i - 1));
    Fetch five;
    EXPECT_EQ(five.Run(server.Url("/hop5")), "payload");
    EXPECT_EQ(five.result, 0);
    Fetch six;
    EXPECT_EQ(six.Run(server.Url("/hop6")), "");
    EXPECT_EQ(six.result, CURLE_TOO_MANY_REDIRECTS);
}

TEST(DownloadFile, RedirectsLeadOnlyToHttpOrHttps) {
    TempDir secret;
    ASSERT_TRUE(WriteFileBytes(secret / L"secret.txt", "local file content"));
    std::string fileUrl = "file:///" + Narrow(secret / L"secret.txt");
    for (char& c : fileUrl)
        if (c == '\\') c = '/';

    HttpServer server;
    server.RouteRedirect("/to-file", fileUrl);
    server.RouteRedirect("/to-ftp", "ftp://127.0.0.1/x");
    for (const char* path : {"/to-file", "/to-ftp"}) {
        SCOPED_TRACE(path);
        Fetch fetch;
        EXPECT_EQ(fetch.Run(server.Url(path)), "");
        EXPECT_NE(fetch.result, 0);
        // The library refuses the scheme itself, or already the URL (file: is not built in).
        EXPECT_TRUE(fetch.result == CURLE_UNSUPPORTED_PROTOCOL || fetch.result == CURLE_URL_MALFORMAT)
            << fetch.result;
    }
}

TEST(DownloadFile, StartingUrlSchemeRules) {
    HttpServer server;
    server.RouteBody("/v.json", "{}");
    const std::string rest = "://127.0.0.1:" + std::to_string(server.Port()) + "/v.json";

    // "https" in any letter case is TLS, never quietly plain http: this server has no TLS and
    // never answers the handshake, which is given up like a stalled transfer.
    SetDownloadStallSecondsForTesting(2);
    for (const char* scheme : {"https", "HTTPS"}) {
        Fetch tls;
        EXPECT_EQ(tls.Run(scheme + rest), "") << scheme;
        EXPECT_NE(tls.result, 0) << scheme;
        EXPECT_NE(tls.result, CURLE_UNSUPPORTED_PROTOCOL) << scheme;  // tried, over TLS
    }
    SetDownloadStallSecondsForTesting(0);

    for (const char* shortUrl : {"http", "", "file:///C:/windows/win.ini"}) {
        Fetch fetch;
        EXPECT_EQ(fetch.Run(shortUrl), "");
        EXPECT_NE(fetch.result, 0) << shortUrl;
    }
    EXPECT_EQ(server.Requests("/v.json"), 0);  // none of them reached it as plain http
}

TEST(DownloadFile, BodyCutShortFailsWithPartialFile) {
    HttpServer server;
    server.Route("/cut", [](SOCKET client) {
        HttpServer::Send(client, HttpServer::Head(200, "Content-Length: 1000\r\n") + std::string(400, 'c'));
    });
    Fetch fetch;
    EXPECT_EQ(fetch.Run(server.Url("/cut")), std::string(400, 'c'));
    EXPECT_EQ(fetch.result, CURLE_PARTIAL_FILE);
    EXPECT_EQ(fetch.field.load(), 4000);
}

TEST(DownloadFile, StalledTransferIsGivenUp) {
    HttpServer server;
    server.Route("/stall", [&server](SOCKET client) {
        HttpServer::Send(client, HttpServer::Head(200, "Content-Length: 1000\r\n") + "0123456789");
        for (int i = 0; i < 300 && !server.Stopping(); ++i) Sleep(100);
    });
    SetDownloadStallSecondsForTesting(2);
    Fetch fetch;
    ULONGLONG start = GetTickCount64();
    fetch.Run(server.Url("/stall"));
    ULONGLONG took = GetTickCount64() - start;
    SetDownloadStallSecondsForTesting(0);
    EXPECT_EQ(fetch.result, CURLE_OPERATION_TIMEDOUT);
    EXPECT_LT(took, 20000u);
}

TEST(DownloadFile, NothingListeningAndUnwritableStream) {
    int port;
    {
        HttpServer gone;
        port = gone.Port();
    }
    Fetch refused;
    refused.Run("http://127.0.0.1:" + std::to_string(port) + "/v.json");
    EXPECT_EQ(refused.result, CURLE_COULDNT_CONNECT);

    HttpServer server;
    server.RouteBody("/v.json", "{\"ServerVersionCode\": 1}");
    TempDir dir;
    WriteFileBytes(dir / L"ro.bin", "");
    FILE* readOnly = _wfopen((dir / L"ro.bin").c_str(), L"rb");
    ASSERT_NE(readOnly, nullptr);
    DownloadProgress noProgress{nullptr};
    EXPECT_EQ(DownloadFile(&noProgress, server.Url("/v.json").c_str(), readOnly), CURLE_WRITE_ERROR);
    fclose(readOnly);
}

TEST(DownloadProgressValue, ScaleCapAndUnknownLength) {
    struct Case { double total, now; int32_t value; };
    const Case cases[] = {{0, 0, -1},       {0.001, 5, -1},  {100, 0, 0},    {100, 50, 5000},
                          {3, 1, 3333},     {100, 100, 10000}, {100, 150, 10000},
                          {4294967296.0 * 4, 4294967296.0, 2500}};
    for (const Case& c : cases)
        EXPECT_EQ(DownloadProgressValue(c.total, c.now), c.value) << c.total << " " << c.now;

    AtomicInt field{77};
    DownloadProgress target{&field};
    EXPECT_EQ(DownloadProgressCallback(&target, 0, 10, 0, 0), 0);
    EXPECT_EQ(field.load(), 77);
    EXPECT_EQ(DownloadProgressCallback(&target, 10, 5, 0, 0), 0);
    EXPECT_EQ(field.load(), 5000);
    DownloadProgress none{nullptr};
    EXPECT_EQ(DownloadProgressCallback(&none, 10, 5, 0, 0), 0);
    // A stop request ends the transfer at its next call.
    StopFlag stop{false};
    DownloadProgress stoppable{&field, 0, &stop};
    EXPECT_EQ(DownloadProgressCallback(&stoppable, 10, 6, 0, 0), 0);
    stop = true;
    EXPECT_NE(DownloadProgressCallback(&stoppable, 10, 7, 0, 0), 0);
    EXPECT_EQ(field.load(), 6000);
}

TEST(DownloadFile, AStopRequestEndsATransferThatIsStillComing) {
    HttpServer server;
    server.Route("/trickle", [&server](SOCKET client) {
        HttpServer::Send(client, HttpServer::Head(200, "Content-Length: 100000000\r\n"));
        const std::string piece(4096, 'x');
        for (int i = 0; i < 2000 && !server.Stopping(); ++i) {
            if (!HttpServer::Send(client, piece)) break;
            Sleep(10);
        }
    });
    StopFlag stop{false};
    AtomicInt field{0};
    DownloadProgress target{&field, 0, &stop};
    std::thread stopper([&stop] {
        Sleep(500);
        stop = true;
    });
    std::string body;
    struct Collect : DownloadSink {
        std::string* body;
        bool Write(const char* data, size_t size) override {
            body->append(data, size);
            return true;
        }
    } sink;
    sink.body = &body;
    EXPECT_EQ(DownloadFile(&target, server.Url("/trickle").c_str(), sink), CURLE_ABORTED_BY_CALLBACK);
    stopper.join();
    EXPECT_GT(body.size(), 0u);
    EXPECT_LT(body.size(), 100000000u);
}

TEST(DownloadFile, TheShippedStallLimitIsWhatADownloadUsesWithoutASeam) {
    EXPECT_EQ(DownloadStallSeconds(), 60);
    SetDownloadStallSecondsForTesting(2);
    EXPECT_EQ(DownloadStallSeconds(), 2);
    SetDownloadStallSecondsForTesting(0);
    EXPECT_EQ(DownloadStallSeconds(), DOWNLOAD_STALL_SECONDS);
    EXPECT_EQ(DOWNLOAD_STALL_SECONDS, 60);
}
