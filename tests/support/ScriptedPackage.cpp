#include "tests/support/ScriptedPackage.h"

#include <algorithm>

namespace testing_support {

void ScriptedPackage::Install(HttpServer& server, const std::string& path) {
    server.RouteRequest(path, [this, &server](SOCKET client, const std::string& request) { Serve(server, client, request); });
}

std::vector<std::string> ScriptedPackage::Ranges() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ranges;
}

std::vector<std::string> ScriptedPackage::IfRanges() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ifRanges;
}

size_t ScriptedPackage::Sent() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sent;
}

std::vector<size_t> ScriptedPackage::SentPerRequest() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sentPerRequest;
}

void ScriptedPackage::ResetCounts() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sentPerRequest.clear();
    m_ranges.clear();
    m_ifRanges.clear();
    m_sent = 0;
}

bool ScriptedPackage::SameFile(const std::string& ifRange) const {
    return !ifRange.empty() && (ifRange == etag || ifRange == lastModified);
}

std::string ScriptedPackage::Validators() const {
    std::string headers = "ETag: " + etag + "\r\n";
    if (!lastModified.empty()) headers += "Last-Modified: " + lastModified + "\r\n";
    return headers;
}

void ScriptedPackage::Serve(HttpServer& server, SOCKET client, const std::string& request) {
    const std::string range = HttpServer::HeaderOf(request, "Range");
    const std::string ifRange = HttpServer::HeaderOf(request, "If-Range");
    size_t number = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        number = m_ranges.size();
        m_ranges.push_back(range);
        m_ifRanges.push_back(ifRange);
        m_sentPerRequest.push_back(0);
    }
    if (mode == Mode::Unavailable) {
        HttpServer::Send(client, HttpServer::Head(503, "Content-Length: 0\r\n"));
        return;
    }
    const size_t dash = range.find('-');
    const bool closed = dash != std::string::npos && dash + 1 < range.size();
    const bool ranged = !range.empty() && mode != Mode::IgnoreRanges && mode != Mode::CutAtHalf &&
                        (SameFile(ifRange) || mode == Mode::RangeOfAnotherFile || ifRange.empty());
    if (ranged && mode == Mode::Refuse416) {
        HttpServer::Send(client, HttpServer::Head(416, "Content-Length: 0\r\n"));
        return;
    }
    size_t from = 0, to = body.size();
    std::string head;
    if (ranged) {
        const size_t asked = std::stoul(range.substr(6));
        from = mode == Mode::WrongOffset ? (asked > 0 ? asked - 1 : 1) : asked;
        const size_t last = closed ? std::min<size_t>(std::stoul(range.substr(dash + 1)), body.size() - 1) : body.size() - 1;
        to = last + 1;
        const std::string validators = mode == Mode::RangeOfAnotherFile ? "ETag: \"another-file\"\r\n" : Validators();
        head = HttpServer::Head(206, validators + "Content-Range: bytes " + std::to_string(from) + "-" +
                                         std::to_string(last) + "/" + std::to_string(body.size()) +
                                         "\r\nContent-Length: " + std::to_string(to - from) + "\r\n");
    } else {
        head = HttpServer::Head(200, Validators() + "Content-Length: " + std::to_string(body.size()) + "\r\n");
    }
    std::string rest = body.substr(from, to - from);
    if (mode == Mode::OtherBytes && from > 0)
        for (char& c : rest) c = char(c ^ 0x5A);
    if (mode == Mode::CutAtHalf) rest.resize(body.size() / 2);  // then the connection drops
    if (mode == Mode::CutRanges && ranged && rest.size() > (64u << 10)) rest.resize(rest.size() / 2);
    if (mode == Mode::CutWholeAtHalf && !ranged) rest.resize(body.size() / 2);
    if (mode == Mode::SpoilMiddle)
        for (size_t at = std::max(from, body.size() / 3); at < std::min(to, body.size() * 2 / 3); ++at)
            rest[at - from] = char(rest[at - from] ^ 0x5A);
    if (mode == Mode::StallAtHalf && !ranged) {
        rest.resize(rest.size() / 2);
        const bool sent = HttpServer::Send(client, head + rest);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_sent += rest.size();
            m_sentPerRequest[number] += rest.size();
        }
        // The connection stays open with nothing more on it, until the client gives up.
        for (int i = 0; sent && i < 1000 && !server.Stopping() && !HttpServer::PeerClosed(client); ++i) Sleep(100);
        return;
    }
    if ((mode == Mode::Trickle && !ranged) || (mode == Mode::TrickleRanges && ranged)) {
        HttpServer::Send(client, head);
        const size_t pieces = ranged ? 20 : 100;
        for (size_t i = 0; i < pieces && !server.Stopping(); ++i) {
            const size_t a = rest.size() * i / pieces, b = rest.size() * (i + 1) / pieces;
            if (!HttpServer::Send(client, rest.substr(a, b - a))) break;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_sent += b - a;
                m_sentPerRequest[number] += b - a;
            }
            Sleep(200);
        }
        return;
    }
    HttpServer::Send(client, head + rest);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sent += rest.size();
    m_sentPerRequest[number] += rest.size();
}

}  // namespace testing_support
