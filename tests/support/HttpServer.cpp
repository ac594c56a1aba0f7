#include "tests/support/HttpServer.h"

#include <ws2tcpip.h>

namespace testing_support {

HttpServer::HttpServer(int port) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(u_short(port));
    bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(m_listener, 16);
    int length = sizeof address;
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

HttpServer::~HttpServer() {
    m_stopping = true;
    closesocket(m_listener);
    m_acceptThread.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        workers.swap(m_workers);
    }
    for (auto& worker : workers) worker.join();
    WSACleanup();
}

void HttpServer::Route(const std::string& path, Handler handler) {
    if (!handler) return RouteRequest(path, nullptr);
    RouteRequest(path, [handler](SOCKET client, const std::string&) { handler(client); });
}

void HttpServer::RouteRequest(const std::string& path, RequestHandler handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = std::move(handler);
}

std::string HttpServer::HeaderOf(const std::string& request, const std::string& name) {
    std::string lower = request, wanted = "\r\n" + name + ":";
    for (char& c : lower) c = char(tolower(static_cast<unsigned char>(c)));
    for (char& c : wanted) c = char(tolower(static_cast<unsigned char>(c)));
    const size_t at = lower.find(wanted);
    if (at == std::string::npos) return "";
    size_t start = at + wanted.size();
    while (start < request.size() && request[start] == ' ') ++start;
    return request.substr(start, request.find("\r\n", start) - start);
}

void HttpServer::RouteBody(const std::string& path, const std::string& body, int status) {
    Route(path, [body, status](SOCKET client) {
        Send(client, Head(status, "Content-Length: " + std::to_string(body.size()) + "\r\n") + body);
    });
}

void HttpServer::RouteRedirect(const std::string& path, const std::string& location) {
    Route(path, [location](SOCKET client) {
        Send(client, Head(302, "Location: " + location + "\r\nContent-Length: 9\r\n") + "redirect!");
    });
}

std::string HttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

int HttpServer::Requests(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests[path];
}

namespace {
// A peer that takes or sends nothing for this long is given up. Clients here are gone when they
// stop reading, but Wine now and then never tells a blocking send that the peer reset the
// connection: the sockets are non-blocking and every wait has an end.
constexpr long kPeerSilenceSeconds = 60;

bool WaitUntilReady(SOCKET client, bool toWrite) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(client, &ready);
    FD_SET(client, &failed);
    timeval limit = {kPeerSilenceSeconds, 0};
    return select(0, toWrite ? nullptr : &ready, toWrite ? &ready : nullptr, &failed, &limit) > 0 &&
           !FD_ISSET(client, &failed);
}

// recv, waiting for bytes up to the limit: what recv returns, or -1.
int ReceiveSome(SOCKET client, char* buffer, int size) {
    for (;;) {
        const int n = recv(client, buffer, size, 0);
        if (n >= 0 || WSAGetLastError() != WSAEWOULDBLOCK) return n;
        if (!WaitUntilReady(client, false)) return -1;
    }
}
}  // namespace

bool HttpServer::Send(SOCKET client, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const int n = send(client, bytes.data() + done, int(std::min<size_t>(bytes.size() - done, 1 << 20)), 0);
        if (n > 0) {
            done += size_t(n);
        } else if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK || !WaitUntilReady(client, true)) {
            return false;
        }
    }
    return true;
}

bool HttpServer::PeerClosed(SOCKET client) {
    char byte;
    const int n = recv(client, &byte, 1, MSG_PEEK);
    return n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK);
}

std::string HttpServer::Head(int status, const std::string& headers) {
    return "HTTP/1.1 " + std::to_string(status) + " Status\r\nConnection: close\r\n" + headers + "\r\n";
}

void HttpServer::AcceptLoop() {
    for (;;) {
        SOCKET client = accept(m_listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            if (m_stopping) return;
            continue;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_workers.emplace_back([this, client] { Serve(client); });
    }
}

void HttpServer::Serve(SOCKET client) {
    u_long nonBlocking = 1;
    ioctlsocket(client, FIONBIO, &nonBlocking);
    std::string request;
    char chunk[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        int n = ReceiveSome(client, chunk, sizeof chunk);
        if (n <= 0) break;
        request.append(chunk, size_t(n));
    }
    // "GET /path HTTP/1.1"
    size_t start = request.find(' ');
    size_t end = start == std::string::npos ? start : request.find(' ', start + 1);
    std::string path = end == std::string::npos ? "" : request.substr(start + 1, end - start - 1);

    RequestHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_requests[path];
        auto route = m_routes.find(path);
        if (route != m_routes.end()) handler = route->second;
    }
    if (handler)
        handler(client, request);
    else
        Send(client, Head(404, "Content-Length: 9\r\n") + "not found");
    shutdown(client, SD_SEND);
    // Let the client read everything before the socket goes.
    while (ReceiveSome(client, chunk, sizeof chunk) > 0) {
    }
    closesocket(client);
}

}  // namespace testing_support
