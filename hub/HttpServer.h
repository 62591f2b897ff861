// The hub's HTTP/1.1 server: asynchronous, so that a slow or silent client
// holds a socket and a little memory but never a thread. Each request must
// arrive whole within the request timeout; a kept-alive connection may wait
// the idle timeout for its next request. A body larger than the route's
// limit is refused from its announced length before it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace hub {

struct HttpRequest {
    std::string method;
    std::string path;   // without the query
    std::string query;  // after '?', raw
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    std::string remote;  // the peer's address

    const std::string* header(const std::string& lowerName) const
    {
        auto found = headers.find(lowerName);
        return found == headers.end() ? nullptr : &found->second;
    }
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

// Called once, from any thread.
using Respond = std::function<void(HttpResponse&&)>;

class HttpHandler {
public:
    virtual ~HttpHandler() = default;
    // The largest body accepted for this request line.
    virtual size_t bodyLimit(const std::string& method, const std::string& path) = 0;
    virtual void handle(HttpRequest&& request, Respond respond) = 0;
    // The answer to a request refused before the handler saw it.
    virtual HttpResponse refusal(int status, const std::string& why) = 0;
};

struct ServerOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 8470;
    int threads = 4;
    double requestSeconds = 10.0;
    double idleSeconds = 30.0;
    double writeSeconds = 10.0;
    size_t maxConnections = 1024;
    size_t maxConnectionsPerAddress = 64;
};

class HttpServer {
public:
    // Binds at once; throws std::runtime_error when it cannot.
    HttpServer(const ServerOptions& options, HttpHandler& handler);
    ~HttpServer();
    uint16_t port() const;
    // Serves until stop() or SIGINT/SIGTERM.
    void run();
    void stop();
    // Set before run(): the first SIGINT or SIGTERM calls `handler` (on a
    // server thread; it must not block) instead of stop(), a second one stops.
    void setStopHandler(std::function<void()> handler);
    // Closes the listening socket; the connections open are still served.
    void stopAccepting();
    // Waits until every request handed to the handler has had its answer
    // written, or `seconds` have passed, then stops.
    void stopAfterAnswers(double seconds);

    struct Impl;  // the sessions' view of the server

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace hub
