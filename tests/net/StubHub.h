// A stand-in hub on the loopback interface for the client's tests: it
// answers each request through a handler, one connection at a time, and can
// stall or answer nonsense as a broken hub would. Ends with its owner.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct StubRequest {
    std::string method;
    std::string target;                         // path and query
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
};

struct StubAnswer {
    int status = 200;
    std::string body;
    std::vector<std::string> headers;   // "Name: value"
    int delayMs = 0;                     // wait before answering
    std::string raw;                     // when set, sent as it is instead
};

class StubHub {
public:
    explicit StubHub(std::function<StubAnswer(const StubRequest&)> handler);
    ~StubHub();
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // The requests seen so far, in order.
    std::vector<StubRequest> requests();
    // Takes request bodies at this many bytes a second (0: at once), or
    // waits this long before reading any of a body.
    void setBodyPace(int bytesPerSecond, int stallMs)
    {
        bodyBytesPerSecond_ = bytesPerSecond;
        stallBeforeBodyMs_ = stallMs;
    }

private:
    void serve();
    std::function<StubAnswer(const StubRequest&)> handler_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> bodyBytesPerSecond_{0};
    std::atomic<int> stallBeforeBodyMs_{0};
    std::mutex lock_;
    std::vector<StubRequest> seen_;
    std::thread thread_;
};

// A loopback port where nothing listens.
int closedPort();
