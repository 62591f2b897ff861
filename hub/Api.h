// The hub's requests: the JSON API under /api and the web pages.
#pragma once

#include "HttpServer.h"
#include "Outlines.h"
#include "RateLimit.h"
#include "Store.h"
#include "Verifier.h"
#include "WebFiles.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <string>

namespace hub {

inline constexpr size_t kMaxTrackBytes = size_t{16} << 20;
inline constexpr size_t kMaxReplayBody = size_t{1} << 20;
// 30 minutes of riding at 100 steps a second.
inline constexpr int32_t kMaxRideSteps = 30 * 60 * 100;
// Tracks on one page of the index, and at most in one answer of the API.
inline constexpr int64_t kIndexPageTracks = 50;
inline constexpr int64_t kMaxListTracks = 100;

struct ApiOptions {
    std::string cacheDir;        // the hub's own copies of track files, for the verifiers
    double addressRate = 20.0;   // requests a second per address
    double addressBurst = 60.0;
    double playerRate = 2.0;     // uploads a second per player
    double playerBurst = 20.0;
    int retryAfterBusy = 2;      // seconds, with 503
    // A new track is probed (Verifier.h): refused when a step of the probe
    // costs more than this many microseconds of CPU time on average; 0
    // takes tracks unprobed.
    double stepCpuMicros = 20.0 / kMaxRideSteps * 1e6;
    int32_t probeSteps = 1000;   // the longest of each probe ride
    // Quotas: tracks and track bytes a player may store in a day, and
    // players an address may register in an hour (0: no limit).
    int64_t tracksPerDay = 20;
    int64_t trackBytesPerDay = int64_t{64} << 20;
    double registrationsPerHour = 5;
    // Behind a reverse proxy on this machine, a client's address is the
    // last one the proxy added to X-Forwarded-For.
    bool behindProxy = false;
    // The track pages' player (--web); none when null or empty: the pages
    // then hold no script.
    std::shared_ptr<const WebFiles> web;
};

class Api : public HttpHandler {
public:
    Api(Store& store, Verifier& verifier, std::string databaseKind, ApiOptions options);

    size_t bodyLimit(const std::string& method, const std::string& path) override;
    std::optional<HttpResponse> admit(HttpRequest& request) override;
    void handle(HttpRequest&& request, Respond respond) override;
    HttpResponse refusal(int status, const std::string& why) override;
    std::string routeName(const std::string& method, const std::string& path) override;

    // Ends the work the API does on threads of its own, before the server
    // its answers go to.
    void stop();

    // The metrics the API keeps, in the Prometheus text format.
    void renderMetrics(std::string& out);

private:
    HttpResponse route(HttpRequest& request, Respond& respond, bool& answered);
    HttpResponse health();
    HttpResponse addPlayer(const HttpRequest& request);
    HttpResponse addTrack(const HttpRequest& request, Respond& respond, bool& answered);
    HttpResponse listTracks(const std::string& query);
    HttpResponse trackFile(const HttpRequest& request, const std::string& digest);
    HttpResponse like(const HttpRequest& request, const std::string& digest, bool like);
    HttpResponse versions(const std::string& digest);
    HttpResponse times(const std::string& digest, const std::string& query);
    HttpResponse replay(const std::string& digest, const std::string& rank);
    HttpResponse submitRun(HttpRequest& request, Respond& respond, bool& answered);
    HttpResponse indexPage(const std::string& query);
    HttpResponse trackPage(const std::string& digest);
    HttpResponse outline(const std::string& digest, Respond& respond, bool& answered);
    HttpResponse playerPage(const std::string& name, const std::string& query);
    HttpResponse reportTrack(const HttpRequest& request, const std::string& digest);

    // The player the request's X-Velto-Player and X-Velto-Token name, or an
    // answer refusing it.
    // The player's upload budget is taken once, when the request is admitted.
    bool authenticate(const HttpRequest& request, PlayerRecord& player, HttpResponse& refusal,
                      bool takeBudget = false);
    // The path of the track's file in the cache, written from the database
    // when missing; empty when the hub does not hold the track.
    std::string cachedTrack(const std::string& digest);
    std::mutex copyLock_;

    Store& store_;
    Verifier& verifier_;
    std::string databaseKind_;
    ApiOptions options_;
    RateLimiter byAddress_;
    RateLimiter byPlayer_;
    RateLimiter registrations_;
    // Players by name key. A player's token never changes, so a record
    // once read stays true, for every hub on the database.
    std::optional<PlayerRecord> lookUpPlayer(const std::string& name);
    std::mutex playersLock_;
    std::unordered_map<std::string, PlayerRecord> players_;
    std::atomic<uint64_t> accepted_{0};
    std::atomic<uint64_t> refused_{0};
    std::atomic<uint64_t> probes_{0};  // names the probed files apart
    Outlines outlines_;
};

// Serves GET /metrics: the API's, the server's and the process's figures.
class MetricsHandler : public HttpHandler {
public:
    MetricsHandler(Api& api, HttpServer& server) : api_(api), server_(server) {}
    size_t bodyLimit(const std::string&, const std::string&) override { return 0; }
    std::optional<HttpResponse> admit(HttpRequest&) override { return std::nullopt; }
    void handle(HttpRequest&& request, Respond respond) override;
    HttpResponse refusal(int status, const std::string& why) override;
    std::string routeName(const std::string&, const std::string&) override { return "metrics"; }

private:
    Api& api_;
    HttpServer& server_;
};

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool validUtf8(const std::string& text);

// One JSON object {"error": why}.
HttpResponse errorResponse(int status, const std::string& why);

// A track's file name as it travels: no folders, nothing hidden, 1 to 64
// letters, digits, spaces, '.', '-' and '_'.
bool validTrackName(const std::string& name);

// 16 lower-case hex digits.
std::string hexDigest(uint64_t digest);

// "YYYY-MM-DDTHH:MM:SSZ" of ms since 1970.
std::string isoDate(int64_t ms);

}  // namespace hub
