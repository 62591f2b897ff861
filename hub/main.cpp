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

#include <unistd.h>

namespace {

void usage(std::FILE* to)
{
    std::fputs("usage: velto-hub [--listen HOST:PORT] [--db FILE|postgresql://...] [--workers N] [--queue N]\n"
               "                 [--threads N] [--connections N] [--cache DIR] [--address-rate R] [--player-rate R]\n"
               "                 [--request-timeout S] [--idle-timeout S] [--verify-timeout S] [--behind-proxy]\n"
               "                 [--ride-cpu S] [--track-step-cpu US] [--stop-grace S]\n"
               "                 [--tracks-per-day N] [--track-mib-per-day N] [--registrations-per-hour N]\n"
               "       velto-hub [--db ...] hide-track|unhide-track DIGEST [REASON] | ban-player NAME [REASON]\n"
               "                 | delete-run DIGEST NAME [REASON] | reports | acts\n"
               "defaults: --listen 127.0.0.1:8470 --db hub.sqlite, one worker per CPU, a queue of 64,\n"
               "          20 tracks and 64 MiB a player a day, 5 registrations an address an hour\n",
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

    hub::ServerOptions server;
    hub::ApiOptions api;
    std::string db = "hub.sqlite";
    std::string cache;
    int workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    double queue = 64;
    double verifySeconds = 0;  // six times the ride budget, a minute at least, unless given
    double rideCpu = 20;
    double stepCpu = -1;       // what fits a 30-minute ride in the budget unless given; 0: no probe
    double stopGrace = 10;
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
            const size_t colon = value.rfind(':');
            if (colon == std::string::npos || !number(value.substr(colon + 1), 0, 65535, v)) {
                return bad("--listen needs HOST:PORT");
            }
            server.address = value.substr(0, colon);
            if (server.address.size() > 2 && server.address.front() == '[' && server.address.back() == ']') {
                server.address = server.address.substr(1, server.address.size() - 2);
            }
            server.port = static_cast<uint16_t>(v);
        } else if (arg == "--db") {
            db = value;
        } else if (arg == "--cache") {
            cache = value;
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
            server.requestSeconds = v;
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
        http.run();
        {
            std::lock_guard<std::mutex> lock(stopLock);
            serving = false;
            stopWake.notify_one();
        }
        stopper.join();
        // Rides that ended meanwhile answer into the stopped server, which
        // they must outlive.
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
