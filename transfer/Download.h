// One HTTP GET of a URL into an open file, with progress in basis points.
#pragma once

#include <cstdio>

#include "platform/Progress.h"
#include "platform/SharedText.h"
#include "platform/StopFlag.h"

#include <cstdint>
#include <functional>
#include <string>

// Where a transfer's progress goes: a stage field of a task record, or nowhere when null.
struct DownloadProgress {
    explicit DownloadProgress(AtomicInt* bar = nullptr, uint64_t before = 0, const StopFlag* stopFlag = nullptr)
        : progress(bar), alreadyThere(before), stop(stopFlag) {}

    AtomicInt* progress = nullptr;
    // Bytes the file held before this transfer continued it; progress counts them as done.
    uint64_t alreadyThere = 0;
    // Set: the transfer ends at its next block (CURLE_ABORTED_BY_CALLBACK, 42).
    const StopFlag* stop = nullptr;
    // Told the bytes so far (a continued file's earlier ones included) and the announced total
    // (0: none) as the transfer goes, and about once a second while nothing arrives. May be empty.
    std::function<void(uint64_t received, uint64_t total)> bytes;
};

// The final response as far as a resumed download cares about it.
struct ResponseStart {
    long status = 0;
    int64_t rangeStart = -1;  // the first byte of "Content-Range: bytes a-b/n", or -1
    std::string contentRange; // the header's value as sent ("" for none)
    std::string validator;    // ChooseValidator of its ETag and Last-Modified
};

// What a resumed request may be conditional on (If-Range): a strong ETag, else the Last-Modified
// date, else nothing (empty: the download cannot be continued and starts over).
std::string ChooseValidator(const std::string& etag, const std::string& lastModified);

// Where a download's body goes, piece by piece as it arrives.
class DownloadSink {
public:
    virtual ~DownloadSink() = default;
    // Takes the next bytes of the body; false ends the transfer with CURLE_WRITE_ERROR (23).
    virtual bool Write(const char* data, size_t size) = 0;

    // A sink that continues a partial file asks for the rest: a range request from this offset,
    // made conditional (If-Range) on the validator. 0: a plain request.
    virtual uint64_t ResumeOffset() const { return 0; }
    virtual std::string ResumeValidator() const { return std::string(); }
    // A sink that wants one span of the file asks for it ("a-b", both included), without any
    // condition: what arrives is checked against its hash. Takes precedence over ResumeOffset.
    virtual std::string RequestedRange() const { return std::string(); }
    // Before the first byte of a successful response's body. Returns how many bytes of the file
    // the body continues (0 when it starts the file afresh), or -1 to refuse the response (the
    // transfer ends with CURLE_WRITE_ERROR).
    virtual int64_t BeginBody(const ResponseStart&) { return 0; }
    // After the transfer, with the final response's status (0 when none came).
    virtual void EndTransfer(long /*status*/) {}
};

// Parses "Content-Range: bytes a-b/n" (the header's value); -1 for anything else.
int64_t ContentRangeStart(const std::string& value);
// Whether the header's value is exactly "bytes first-last/total".
bool IsContentRange(const std::string& value, uint64_t first, uint64_t last, uint64_t total);

// A connected transfer below 1 byte/s for this long is given up.
inline constexpr long DOWNLOAD_STALL_SECONDS = 60;

// Whether url's scheme is "https", in any letter case.
bool IsHttpsUrl(const std::string& url);

// Fetches url (http or https, also across redirects, but never from https back to http: that
// fails with CURLE_UNSUPPORTED_PROTOCOL; https over TLS 1.2 or later, the certificate checked
// against the system's trusted roots) and streams the body of the final response into out. Returns 0 on success, otherwise a libcurl
// result code: CURLE_HTTP_RETURNED_ERROR (22) for a final status outside 2xx, whose body is not
// written; CURLE_OPERATION_TIMEDOUT (28) for a stalled transfer. The caller opens and closes out.
int DownloadFile(DownloadProgress* target, const char* url, FILE* out);
// The same, with the body handed to a sink.
int DownloadFile(DownloadProgress* target, const char* url, DownloadSink& sink);

// libcurl's callbacks, exposed for tests.
size_t DownloadWriteCallback(char* data, size_t size, size_t count, void* sink);
int DownloadProgressCallback(void* target, double dltotal, double dlnow, double ultotal,
                             double ulnow);

// The progress stored for dlnow of dltotal bytes; -1 when nothing is announced (nothing stored).
int32_t DownloadProgressValue(double dltotal, double dlnow);

// A cap on every download's speed from now on, in bytes per second (0: none), as the player's
// setting asks; and the cap in effect.
void SetDownloadRateCap(uint64_t bytesPerSecond);
uint64_t DownloadRateCap();

// The stall limit a download uses now: DOWNLOAD_STALL_SECONDS unless a test shortened it.
long DownloadStallSeconds();
// Test seam: shortens the stall limit. 0 restores DOWNLOAD_STALL_SECONDS.
void SetDownloadStallSecondsForTesting(long seconds);
