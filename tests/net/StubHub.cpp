#include "StubHub.h"

#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

int listenLoopback(int& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// Reads with a bound on time, so that a test never hangs here.
bool readSome(int fd, std::string& into)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) {
        return false;
    }
    char buffer[65536];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) {
        return false;
    }
    into.append(buffer, static_cast<size_t>(got));
    return true;
}

// How the stand-in takes a request's body: a line this slow, or a hub that
// stalls before it reads any of it.
struct BodyPace {
    int bytesPerSecond = 0;   // 0: as fast as it comes
    int stallMs = 0;
    const std::atomic<bool>* stop = nullptr;   // ends a stall
};

bool readRequest(int fd, StubRequest& request, const BodyPace& pace)
{
    std::string data;
    size_t end;
    while ((end = data.find("\r\n\r\n")) == std::string::npos) {
        if (!readSome(fd, data) || data.size() > (1u << 20)) {
            return false;
        }
    }
    const std::string head = data.substr(0, end);
    std::string body = data.substr(end + 4);
    size_t lineEnd = head.find("\r\n");
    const std::string first = head.substr(0, lineEnd);
    const size_t space = first.find(' ');
    request.method = first.substr(0, space);
    request.target = first.substr(space + 1, first.rfind(' ') - space - 1);
    while (lineEnd != std::string::npos) {
        const size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        request.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
    }
    const size_t length = request.headers.count("content-length") ? std::stoul(request.headers["content-length"]) : 0;
    if (pace.stallMs > 0 && body.size() < length) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(pace.stallMs);
        while (std::chrono::steady_clock::now() < end && !pace.stop->load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    while (body.size() < length) {
        if (pace.bytesPerSecond > 0) {
            // A tenth of a second's worth at a time.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            char buffer[65536];
            const size_t want = std::min({sizeof buffer, length - body.size(),
                                          static_cast<size_t>(std::max(1, pace.bytesPerSecond / 10))});
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) {
                return false;
            }
            const ssize_t got = read(fd, buffer, want);
            if (got <= 0) {
                return false;
            }
            body.append(buffer, static_cast<size_t>(got));
        } else if (!readSome(fd, body)) {
            return false;
        }
    }
    request.body = body.substr(0, length);
    return true;
}

void writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (put <= 0) {
            return;
        }
        done += static_cast<size_t>(put);
    }
}

} // namespace

StubHub::StubHub(std::function<StubAnswer(const StubRequest&)> handler) : handler_(std::move(handler))
{
    listener_ = listenLoopback(port_);
    thread_ = std::thread([this] { serve(); });
}

StubHub::~StubHub()
{
    stop_ = true;
    thread_.join();
    if (listener_ >= 0) {
        close(listener_);
    }
}

std::vector<StubRequest> StubHub::requests()
{
    std::lock_guard<std::mutex> guard(lock_);
    return seen_;
}

void StubHub::serve()
{
    while (!stop_.load() && listener_ >= 0) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) {
            continue;
        }
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        StubRequest request;
        if (bodyBytesPerSecond_.load() > 0) {
            // A small window, so that a slow reader slows the sender.
            const int size = 16384;
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        if (readRequest(fd, request, BodyPace{bodyBytesPerSecond_.load(), stallBeforeBodyMs_.load(), &stop_})) {
            {
                std::lock_guard<std::mutex> guard(lock_);
                seen_.push_back(request);
            }
            const StubAnswer answer = handler_(request);
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(answer.delayMs);
            // A client that hangs up meanwhile is not waited for.
            bool gone = false;
            while (!stop_.load() && !gone && std::chrono::steady_clock::now() < until) {
                pollfd peer{fd, POLLRDHUP, 0};
                gone = poll(&peer, 1, 5) > 0 && (peer.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
            }
            if (!answer.raw.empty()) {
                writeAll(fd, answer.raw);
            } else {
                std::string text = "HTTP/1.1 " + std::to_string(answer.status) + " Stub\r\nConnection: close\r\n" +
                                   "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
                for (const std::string& header : answer.headers) {
                    text += header + "\r\n";
                }
                writeAll(fd, text + "\r\n" + answer.body);
            }
        }
        close(fd);
    }
}

int closedPort()
{
    int port = 0;
    const int fd = listenLoopback(port);
    close(fd);
    return port;
}
