// A scripted HTTP/1.1 server on 127.0.0.1 (ephemeral port) for tests. Each request runs the
// handler registered for its path on a thread of its own; the connection closes afterwards.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class HttpServer {
public:
    using Handler = std::function<void(SOCKET client)>;
    // A handler that sees the request (request line and headers).
    using RequestHandler = std::function<void(SOCKET client, const std::string& request)>;

    // port 0: an ephemeral port of the system's choice.
    explicit HttpServer(int port = 0);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Requests for a path that has no handler get a 404.
    void Route(const std::string& path, Handler handler);
    void RouteRequest(const std::string& path, RequestHandler handler);
    // Ready-made handlers.
    void RouteBody(const std::string& path, const std::string& body, int status = 200);
    void RouteRedirect(const std::string& path, const std::string& location);

    std::string Url(const std::string& path) const;
    int Port() const { return m_port; }
    int Requests(const std::string& path);
    bool Stopping() const { return m_stopping; }

    static bool Send(SOCKET client, const std::string& bytes);
    // Whether the client has closed its end (it sends nothing after its request).
    static bool PeerClosed(SOCKET client);
    static std::string Head(int status, const std::string& headers);
    // A header's value in a request ("" when absent); the name is matched in any case.
    static std::string HeaderOf(const std::string& request, const std::string& name);

private:
    void AcceptLoop();
    void Serve(SOCKET client);

    SOCKET m_listener = INVALID_SOCKET;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::map<std::string, RequestHandler> m_routes;
    std::map<std::string, int> m_requests;
    std::vector<std::thread> m_workers;
};

}  // namespace testing_support
