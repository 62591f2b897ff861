#include "Client.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hub {

HttpClient::HttpClient(std::string host, uint16_t port, double timeoutSeconds)
    : host_(std::move(host)), port_(port), timeout_(timeoutSeconds)
{
}

HttpClient::~HttpClient()
{
    close();
}

void HttpClient::close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    pending_.clear();
}

bool HttpClient::connect(std::string& error)
{
    close();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port_);
    if (inet_pton(AF_INET, host_.c_str(), &addr.sin_addr) != 1) {
        error = "not an IPv4 address: " + host_;
        return false;
    }
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        error = std::strerror(errno);
        return false;
    }
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout_);
    tv.tv_usec = static_cast<suseconds_t>((timeout_ - static_cast<double>(tv.tv_sec)) * 1e6);
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error = std::string("connect: ") + std::strerror(errno);
        close();
        return false;
    }
    peerClosed_ = false;
    return true;
}

bool HttpClient::sendRaw(const std::string& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool HttpClient::closedByPeer(double seconds)
{
    if (fd_ < 0) {
        return peerClosed_;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
                return true;
            }
        }
    }
    return false;
}

bool HttpClient::readResponse(ClientResponse& response, std::string& error)
{
    response = ClientResponse{};
    auto fill = [&]() {
        char buffer[16384];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            error = n == 0 ? "connection closed" : std::string("recv: ") + std::strerror(errno);
            return false;
        }
        pending_.append(buffer, static_cast<size_t>(n));
        return true;
    };
    size_t end = 0;
    while ((end = pending_.find("\r\n\r\n")) == std::string::npos) {
        if (pending_.size() > 65536 || !fill()) {
            if (error.empty()) {
                error = "header too large";
            }
            return false;
        }
    }
    const std::string head = pending_.substr(0, end);
    pending_.erase(0, end + 4);
    size_t lineEnd = head.find("\r\n");
    const std::string status = head.substr(0, lineEnd);
    if (status.size() < 12 || status.compare(0, 5, "HTTP/") != 0) {
        error = "bad status line: " + status;
        return false;
    }
    response.status = std::atoi(status.c_str() + 9);
    while (lineEnd != std::string::npos) {
        const size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string name = line.substr(0, colon);
        for (char& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        size_t v = colon + 1;
        while (v < line.size() && line[v] == ' ') {
            ++v;
        }
        response.headers[name] = line.substr(v);
    }
    const auto length = response.headers.find("content-length");
    const size_t size = length == response.headers.end() || headOnly_ ? 0 : std::stoull(length->second);
    headOnly_ = false;
    while (pending_.size() < size) {
        if (!fill()) {
            return false;
        }
    }
    response.body = pending_.substr(0, size);
    pending_.erase(0, size);
    const auto connection = response.headers.find("connection");
    if (connection != response.headers.end() && connection->second == "close") {
        close();
        peerClosed_ = true;
    }
    return true;
}

bool HttpClient::request(const std::string& method, const std::string& target,
                         const std::vector<std::pair<std::string, std::string>>& headers, const std::string& body,
                         ClientResponse& response, std::string& error)
{
    std::string text = method + " " + target + " HTTP/1.1\r\nHost: " + host_ + "\r\n";
    for (const auto& [name, value] : headers) {
        text += name + ": " + value + "\r\n";
    }
    if (!body.empty() || method == "POST") {
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    text += "\r\n";
    text += body;
    // A kept-alive connection the server has closed meanwhile is opened
    // again once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool reused = fd_ >= 0;
        if (!reused && !connect(error)) {
            return false;
        }
        headOnly_ = method == "HEAD";
        if (sendRaw(text) && readResponse(response, error)) {
            return true;
        }
        close();
        if (!reused) {
            return false;
        }
        error.clear();
    }
    return false;
}

}  // namespace hub
