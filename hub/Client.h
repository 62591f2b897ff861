// A small blocking HTTP/1.1 client over one kept-alive TCP connection, for
// the load test and the hub's own tests. Every wait is bounded.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace hub {

struct ClientResponse {
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

class HttpClient {
public:
    HttpClient(std::string host, uint16_t port, double timeoutSeconds = 10.0);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // One request; connects (again) as needed. False with `error` on a
    // network failure or a malformed answer.
    bool request(const std::string& method, const std::string& target,
                 const std::vector<std::pair<std::string, std::string>>& headers, const std::string& body,
                 ClientResponse& response, std::string& error);

    // For hostile tests: the raw socket.
    bool connect(std::string& error);
    bool sendRaw(const std::string& bytes);
    bool readResponse(ClientResponse& response, std::string& error);
    // True when the server closed the connection within the timeout, or
    // announced its end with its last answer.
    bool closedByPeer(double seconds);
    void close();

private:
    std::string host_;
    uint16_t port_;
    double timeout_;
    int fd_ = -1;
    bool peerClosed_ = false;
    bool headOnly_ = false;  // the answer to a HEAD has a length but no body
    std::string pending_;
};

}  // namespace hub
