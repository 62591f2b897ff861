// One HTTP exchange with a hub, through libcurl. Called only from the hub's
// background thread (net/HubService.h) and from the command line; never from
// a frame.
//
// Every exchange is bounded: the connection must be made within
// `connectMs`, the whole exchange must end within `totalMs` and the time the
// body takes at the slowest line we serve (exchangeLimitMs), a transfer
// below kStallBytesPerSecond for `totalMs` is cut, the answer's body is read
// up to `maxReply` bytes, and a set cancel flag ends it at once.
// Only http and https are spoken; redirects are not followed. https checks
// the hub's certificate against the system's certificates.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

struct HubTimeouts {
    long connectMs = 3000;
    long totalMs = 10000;
};

// The slowest upload we wait for, and below what a transfer counts as
// stalled.
inline constexpr size_t kSlowestBytesPerSecond = 64000;
inline constexpr long kStallBytesPerSecond = 1024;

// The whole exchange's limit for a request body of `bodyBytes`.
long exchangeLimitMs(const HubTimeouts& timeouts, size_t bodyBytes);

struct HttpRequest {
    std::string method = "GET";   // GET, POST or DELETE
    std::string url;
    std::vector<std::string> headers;   // "Name: value"
    std::string body;                    // sent with POST
    size_t maxReply = size_t{4} << 20;
};

struct HttpReply {
    enum class Outcome { Answered, Unreachable, TimedOut, Cancelled, TooLarge };
    Outcome outcome = Outcome::Unreachable;
    long status = 0;           // HTTP status when answered
    std::string body;
    long retryAfter = -1;      // seconds of a Retry-After header, -1 without one
    long long totalCount = -1; // an X-Total-Count header, -1 without one
    std::string error;         // why there was no answer
};

HttpReply httpExchange(const HttpRequest& request, const HubTimeouts& timeouts,
                       const std::atomic<bool>* cancel = nullptr);

// The seconds of a Retry-After value: digits, or (a date or anything else)
// `fallback`. Bounded to a day.
long parseRetryAfter(const std::string& value, long fallback);
