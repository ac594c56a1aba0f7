// A package served the way servers and CDNs answer, one mode at a time: ranges honoured when
// If-Range names the file's validator or is not sent, or ignored,
// answered at the wrong place or refused; the body cut, spliced with other bytes or sent slowly;
// a range of another file.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "tests/support/HttpServer.h"

namespace testing_support {

class ScriptedPackage {
public:
    enum class Mode {
        Honour,             // 206 from the offset asked for, when If-Range matches
        IgnoreRanges,       // always the whole file
        WrongOffset,        // a 206 that starts one byte before the offset asked for
        Refuse416,          // 416 for any range
        CutAtHalf,          // the whole file's first half, then the connection drops
        OtherBytes,         // 206 from the offset, with other bytes than the file's
        Trickle,            // the whole file slowly (a piece every 200 ms); ranges honoured
        RangeOfAnotherFile, // a 206 for any range, whatever If-Range says, under another ETag
        CutRanges,          // ranges honoured, each answer over 64 KiB cut at half, then the connection drops
        CutWholeAtHalf,     // ranges honoured; the whole file's first half, then the connection drops
        TrickleRanges,      // ranges honoured, each answer slowly (20 pieces, 200 ms apart)
        Unavailable,        // 503 for every request
        StallAtHalf,        // ranges honoured; the whole file's first half, then nothing on an open connection
        SpoilMiddle,        // ranges honoured; the package's middle third other bytes in every answer
    };
    std::string body;
    std::string etag = "\"release-2\"";
    std::string lastModified;  // sent too when not empty
    Mode mode = Mode::Honour;

    void Install(HttpServer& server, const std::string& path);
    // The Range and If-Range header of every request so far ("" for none).
    std::vector<std::string> Ranges() const;
    std::vector<std::string> IfRanges() const;
    // Body bytes sent, all requests together.
    size_t Sent() const;
    // Body bytes sent per request, in the order of Ranges().
    std::vector<size_t> SentPerRequest() const;
    void ResetCounts();

private:
    void Serve(HttpServer& server, SOCKET client, const std::string& request);
    bool SameFile(const std::string& ifRange) const;
    std::string Validators() const;

    mutable std::mutex m_mutex;
    std::vector<std::string> m_ranges, m_ifRanges;
    std::vector<size_t> m_sentPerRequest;
    size_t m_sent = 0;
};

}  // namespace testing_support
