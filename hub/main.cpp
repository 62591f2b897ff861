// velto-hub: shares tracks and best times; every run is ridden again with
// the game's own physics before it counts.
//
//   velto-hub [--listen HOST:PORT] [--db FILE | --db postgresql://...] [options]
//
// Prints "velto-hub: listening on HOST:PORT" once it accepts connections
// (port 0 picks a free port). SIGINT or SIGTERM stop it: it stops accepting,
// answers the queued runs 503, gives the rides in progress --stop-grace
// seconds and exits once the answers are out; a second signal stops it at
// once.
#include "Api.h"
#include "HttpServer.h"
#include "Moderation.h"
#include "Store.h"
#include "Verifier.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

void usage(std::FILE* to)
{
    std::fputs("usage: velto-hub [--listen HOST:PORT] [--db FILE|postgresql://...] [--workers N] [--queue N]\n"
               "                 [--threads N] [--connections N] [--cache DIR] [--address-rate R] [--player-rate R]\n"
               "                 [--request-timeout S] [--idle-timeout S] [--verify-timeout S] [--behind-proxy]\n"
               "                 [--ride-cpu S] [--track-step-cpu US] [--stop-grace S]\n"
               "                 [--tracks-per-day N] [--track-mib-per-day N] [--registrations-per-hour N]\n"
               "                 [--body-memory MB] [--metrics-listen HOST:PORT|off] [--web DIR]\n"
               "       velto-hub [--db ...] hide-track|unhide-track DIGEST [REASON] | ban-player NAME [REASON]\n"
               "                 | delete-run DIGEST NAME [REASON] | reports | acts\n"
               "defaults: --listen 127.0.0.1:8470 --db hub.sqlite, one worker per CPU, a queue of 64,\n"
               "          20 tracks and 64 MiB a player a day, 5 registrations an address an hour,\n"
               "          --body-memory 256, --metrics-listen 127.0.0.1:8471\n"
               "--web DIR: the track pages' player (make web builds it into build/web), served under /web/\n",
               to);
}

int bad(const std::string& why)
{
    std::fprintf(stderr, "velto-hub: %s\n", why.c_str());
    usage(stderr);
    return 2;
}

bool number(const std::string& text, double low, double high, double& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == '\0' && errno == 0 && value >= low && value <= high;
}

// HOST:PORT, HOST possibly in brackets; false when it is not one.
bool hostPort(const std::string& value, std::string& host, uint16_t& port)
{
    const size_t colon = value.rfind(':');
    double v = 0;
    if (colon == std::string::npos || !number(value.substr(colon + 1), 0, 65535, v)) {
        return false;
    }
    host = value.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    port = static_cast<uint16_t>(v);
    return true;
}

// Raises the descriptor limit as far as the connection cap needs and the
// hard limit allows; lowers the cap when the limit stays below it, so that
// the hub refuses connections rather than run out of descriptors.
void fitDescriptors(size_t& maxConnections)
{
    constexpr rlim_t kSpare = 128;  // database, verifiers, files
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return;
    }
    const rlim_t wanted = static_cast<rlim_t>(maxConnections) + kSpare;
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur < wanted) {
        const size_t fits = limit.rlim_cur > 2 * kSpare ? static_cast<size_t>(limit.rlim_cur - kSpare)
                                                         : static_cast<size_t>(limit.rlim_cur / 2);
        std::fprintf(stderr,
                     "velto-hub: the descriptor limit is %llu: at most %zu connections (raise LimitNOFILE)\n",
                     static_cast<unsigned long long>(limit.rlim_cur), fits);
        maxConnections = std::max<size_t>(1, fits);
    }
}

std::string selfPath()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return {};
    }
    return std::string(path, static_cast<size_t>(n));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--verify-worker") == 0) {
        return hub::runVerifyWorker();
    }
    std::signal(SIGPIPE, SIG_IGN);
    // Bodies of megabytes get pages of their own, given back when freed,
    // rather than heap that stays at its highest.
    ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    ::mallopt(M_TRIM_THRESHOLD, 4 * 1024 * 1024);
    // One heap for every thread: the track reader's many small blocks are
    // then given back too (a thread's own heap keeps what it freed).
    ::mallopt(M_ARENA_MAX, 1);

    hub::ServerOptions server;
    hub::ApiOptions api;
    std::string db = "hub.sqlite";
    std::string cache;
    std::string webDir;
    int workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    double queue = 64;
    double verifySeconds = 0;  // six times the ride budget, a minute at least, unless given
    double rideCpu = 20;
    double stepCpu = -1;       // what fits a 30-minute ride in the budget unless given; 0: no probe
    double stopGrace = 10;
    std::string metricsHost = "127.0.0.1";
    uint16_t metricsPort = 8471;
    bool metricsChosen = false;
    bool metricsOff = false;
    std::vector<std::string> command;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (hub::isModerationCommand(arg)) {
            command.assign(argv + i, argv + argc);
            break;
        }
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
#ifdef VELTO_VERSION
        if (arg == "--version") {
            std::printf("velto-hub %s\n", VELTO_VERSION);
            return 0;
        }
#endif
        if (arg == "--behind-proxy") {
            // Every connection comes from the proxy: the per-address limits
            // apply to the addresses it forwards instead.
            api.behindProxy = true;
            continue;
        }
        if (i + 1 >= argc) {
            return bad("unknown option or missing value: " + arg);
        }
        const std::string value = argv[++i];
        double v = 0;
        if (arg == "--listen") {
            if (!hostPort(value, server.address, server.port)) {
                return bad("--listen needs HOST:PORT");
            }
        } else if (arg == "--metrics-listen") {
            metricsChosen = true;
            metricsOff = value == "off";
            if (!metricsOff && !hostPort(value, metricsHost, metricsPort)) {
                return bad("--metrics-listen needs HOST:PORT or off");
            }
        } else if (arg == "--body-memory" && number(value, 1, 1e6, v)) {
            server.maxBodyBytesInFlight = static_cast<size_t>(v * 1024 * 1024);
        } else if (arg == "--db") {
            db = value;
        } else if (arg == "--cache") {
            cache = value;
        } else if (arg == "--web") {
            webDir = value;
        } else if (arg == "--workers" && number(value, 1, 256, v)) {
            workers = static_cast<int>(v);
        } else if (arg == "--queue" && number(value, 1, 100000, v)) {
            queue = v;
        } else if (arg == "--threads" && number(value, 1, 256, v)) {
            server.threads = static_cast<int>(v);
        } else if (arg == "--connections" && number(value, 1, 1000000, v)) {
            server.maxConnections = static_cast<size_t>(v);
        } else if (arg == "--address-rate" && number(value, 0, 1e9, v)) {
            api.addressRate = v;
            api.addressBurst = std::max(3.0 * v, 1.0);
        } else if (arg == "--player-rate" && number(value, 0, 1e9, v)) {
            api.playerRate = v;
            api.playerBurst = std::max(10.0 * v, 1.0);
        } else if (arg == "--request-timeout" && number(value, 0.1, 3600, v)) {
            // A reader that takes nothing for as long is cut off too.
            server.requestSeconds = v;
            server.writeSeconds = v;
        } else if (arg == "--idle-timeout" && number(value, 0.1, 3600, v)) {
            server.idleSeconds = v;
        } else if (arg == "--verify-timeout" && number(value, 0.01, 3600, v)) {
            verifySeconds = v;
        } else if (arg == "--ride-cpu" && number(value, 0.001, 3600, v)) {
            rideCpu = v;
        } else if (arg == "--track-step-cpu" && number(value, 0, 1e9, v)) {
            stepCpu = v;
        } else if (arg == "--stop-grace" && number(value, 0, 10, v)) {
            stopGrace = v;
        } else if (arg == "--tracks-per-day" && number(value, 0, 1e9, v)) {
            api.tracksPerDay = static_cast<int64_t>(v);
        } else if (arg == "--track-mib-per-day" && number(value, 0, 1e6, v)) {
            api.trackBytesPerDay = static_cast<int64_t>(v * 1048576.0);
        } else if (arg == "--registrations-per-hour" && number(value, 0, 1e9, v)) {
            api.registrationsPerHour = v;
        } else {
            return bad("bad option or value: " + arg + " " + value);
        }
    }

    // The wall clock only catches a worker that hangs: a ride over its CPU
    // budget is ended long before.
    if (verifySeconds == 0) {
        verifySeconds = std::max(6 * rideCpu, 60.0);
    } else if (verifySeconds < 2 * rideCpu) {
        return bad("--verify-timeout must be at least twice --ride-cpu");
    }
    api.stepCpuMicros = stepCpu >= 0 ? stepCpu : rideCpu / hub::kMaxRideSteps * 1e6;

    if (!command.empty()) {
        try {
            auto database = hub::Database::open(db, 1);
            hub::Store store(*database);
            return hub::runModeration(store, command, stdout, stderr);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "velto-hub: %s\n", e.what());
            return 1;
        }
    }

    if (!webDir.empty()) {
        auto web = std::make_shared<hub::WebFiles>();
        std::string error;
        if (!web->load(webDir, error)) {
            std::fprintf(stderr, "velto-hub: --web: %s (make web builds the player)\n", error.c_str());
            return 1;
        }
        api.web = web;
    }

    // The verifiers read tracks from files: the hub keeps its own copies.
    bool ownCache = false;
    if (cache.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/velto-hub-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::fprintf(stderr, "velto-hub: cannot make a folder for track copies: %s\n", std::strerror(errno));
            return 1;
        }
        cache = pattern;
        ownCache = true;
    } else {
        std::error_code ec;
        std::filesystem::create_directories(cache, ec);
    }
    api.cacheDir = cache;
    if (api.behindProxy) {
        server.maxConnectionsPerAddress = server.maxConnections;
    }
    server.retryAfterFull = api.retryAfterBusy;
    fitDescriptors(server.maxConnections);

    int status = 0;
    try {
        auto database = hub::Database::open(db, server.threads + workers + 1);
        hub::Store store(*database);
        hub::VerifierOptions verifying;
        verifying.workers = workers;
        verifying.queueLimit = static_cast<size_t>(queue);
        verifying.rideCpuSeconds = rideCpu;
        verifying.wallSeconds = verifySeconds;
        auto verifier = std::make_unique<hub::Verifier>(selfPath(), verifying);
        hub::Api handler(store, *verifier, database->kind(), api);
        hub::HttpServer http(server, handler);
        // The operator's figures, on an address of their own.
        std::unique_ptr<hub::MetricsHandler> metricsHandler;
        std::unique_ptr<hub::HttpServer> metricsServer;
        if (!metricsOff) {
            hub::ServerOptions m;
            m.address = metricsHost;
            m.port = metricsPort;
            m.threads = 1;
            m.maxConnections = 16;
            m.maxConnectionsPerAddress = 16;
            m.maxBodyBytesInFlight = 1 << 20;
            metricsHandler = std::make_unique<hub::MetricsHandler>(handler, http);
            try {
                metricsServer = std::make_unique<hub::HttpServer>(m, *metricsHandler);
                std::fprintf(stderr, "velto-hub: metrics on %s:%u\n", metricsHost.c_str(),
                             static_cast<unsigned>(metricsServer->port()));
            } catch (const std::exception& e) {
                // The default address may be another hub's on this machine.
                if (metricsChosen) {
                    throw;
                }
                std::fprintf(stderr, "velto-hub: no metrics: %s\n", e.what());
            }
        }
        // The stop, on a thread of its own: no new connections, the queue
        // answered 503, the rides in progress given the grace, the answers
        // written out, then the server stops.
        std::mutex stopLock;
        std::condition_variable stopWake;
        bool stopAsked = false;
        bool serving = true;
        std::thread stopper([&] {
            std::unique_lock<std::mutex> lock(stopLock);
            stopWake.wait(lock, [&] { return stopAsked || !serving; });
            if (!serving) {
                return;
            }
            lock.unlock();
            http.stopAccepting();
            verifier->stop(stopGrace);
            // Answers are small: a client that cannot take one in a few
            // seconds is not waited for.
            http.stopAfterAnswers(std::min(server.writeSeconds, 3.0));
        });
        http.setStopHandler([&] {
            std::lock_guard<std::mutex> lock(stopLock);
            stopAsked = true;
            stopWake.notify_one();
        });
        std::printf("velto-hub: listening on %s:%u\n", server.address.c_str(), static_cast<unsigned>(http.port()));
        std::fflush(stdout);
        std::thread metricsThread;
        if (metricsServer) {
            metricsThread = std::thread([&metricsServer] { metricsServer->run(); });
        }
        http.run();
        if (metricsServer) {
            metricsServer->stop();
            metricsThread.join();
        }
        handler.stop();
        {
            std::lock_guard<std::mutex> lock(stopLock);
            serving = false;
            stopWake.notify_one();
        }
        stopper.join();
        // Rides that ended meanwhile, and work still queued, answer into the
        // stopped server, which they must outlive.
        verifier.reset();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velto-hub: %s\n", e.what());
        status = 1;
    }
    if (ownCache) {
        std::error_code ec;
        std::filesystem::remove_all(cache, ec);
    }
    return status;
}
