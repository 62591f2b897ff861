// The hub's HTTP/1.1 server: asynchronous, so that a slow or silent client
// holds a socket and a little memory but never a thread.
//
// What a client can make it hold is bounded whatever the client does:
// - a request's header must arrive within the request timeout; the handler
//   looks at it (who asks, from where) before any of the body is read, and
//   a refusal is answered without reading the body;
// - bodies in flight are capped in total: a request whose announced body
//   would pass the cap is answered 503 with Retry-After before it is read;
// - a body may take the request timeout plus its time at kMinBodyRate, and a
//   sender silent for the request timeout is cut off;
// - files are sent from disk in small pieces, so a reader that does not read
//   holds a socket, not a copy;
// - when every connection slot is taken, the connection idle the longest is
//   closed for the new one; per-address caps count an IPv6 /64 as one address;
// - running out of descriptors makes the accept loop pause, not spin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
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
    std::string remote;  // the peer's address key (see addressKey)

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
    // When set, the body is this file's content instead, sent from disk.
    std::string file;
    std::vector<std::pair<std::string, std::string>> headers;
};

// Called once, from any thread.
using Respond = std::function<void(HttpResponse&&)>;

class HttpHandler {
public:
    virtual ~HttpHandler() = default;
    // The largest body accepted for this request line.
    virtual size_t bodyLimit(const std::string& method, const std::string& path) = 0;
    // Looks at a request whose header is in and whose body is not: an answer
    // refuses it unread. May set request.remote (a proxy's client).
    virtual std::optional<HttpResponse> admit(HttpRequest& request) = 0;
    virtual void handle(HttpRequest&& request, Respond respond) = 0;
    // The answer to a request refused before the handler saw it.
    virtual HttpResponse refusal(int status, const std::string& why) = 0;
    // The route a request line counts under in the metrics, a bounded set.
    virtual std::string routeName(const std::string& method, const std::string& path) = 0;
};

// The slowest a body may arrive, on top of the request timeout.
inline constexpr double kMinBodyRate = 64.0 * 1024.0;  // bytes a second

struct ServerOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 8470;
    int threads = 4;
    double requestSeconds = 10.0;
    double idleSeconds = 30.0;
    double writeSeconds = 10.0;
    size_t maxConnections = 1024;
    size_t maxConnectionsPerAddress = 64;
    size_t maxBodyBytesInFlight = size_t{256} << 20;
    int retryAfterFull = 2;  // seconds, with the 503 of a full body budget
};

// What the server is holding now, for the metrics.
struct ServerGauges {
    size_t connections = 0;
    size_t idleConnections = 0;
    size_t bodyBytesInFlight = 0;
    uint64_t idleClosedForNew = 0;   // connections closed to make room
    uint64_t refusedConnections = 0;  // over a cap with nobody idle
    uint64_t acceptPauses = 0;        // out of descriptors
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
    ServerGauges gauges();

    struct Impl;  // the sessions' view of the server

private:
    std::unique_ptr<Impl> impl_;
};

// The key under which limits count a peer: an IPv4 address as it is
// (also when mapped into IPv6), an IPv6 address as its /64. Text that is
// not an address is kept, cut to 64 bytes.
std::string addressKey(const std::string& address);

}  // namespace hub
