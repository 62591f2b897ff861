// velto-hub-load: the hub under load on loopback, on SQLite and on a
// throwaway PostgreSQL cluster. Many clients send the pack's proof replays
// for a fixed time; it reports accepted runs a second, the latency's p50
// and p99, and what verification costs in the hub against the physics
// alone, measured in the same run:
//   - velto-sim riding each proof replay (one process per replay), and
//   - the same ride in this process through the core (the physics alone).
// CPU times are used, not wall times, so that other load on the machine
// does not count against either side.
//
//   velto-hub-load [--db sqlite|postgresql|both] [--clients N] [--seconds S] [--workers N]
#include "Client.h"
#include "Database.h"
#include "ThrowawayPostgres.h"

#include "model/Replay.h"
#include "physics/ReplayRide.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using json = nlohmann::json;
using clock_type = std::chrono::steady_clock;

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Proof {
    std::string name;
    std::string trackPath;
    std::string track;
    std::string replayPath;
    std::string replay;
    int32_t steps = 0;
};

double threadCpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// utime + stime of a process, in seconds; 0 when it is gone.
double processCpu(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return 0.0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string f;
    double ticks = 0.0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14 || i == 15) {
            ticks += std::stod(f);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The hub and its verifier processes.
double hubCpu(int pid)
{
    double total = processCpu(pid);
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream children(task.path() / "children");
        int child = 0;
        while (children >> child) {
            total += processCpu(child);
        }
    }
    return total;
}

class HubProcess {
public:
    HubProcess(const std::string& db, int workers)
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        std::vector<std::string> args = {VELTO_BINARY_DIR "/velto-hub", "--listen", "127.0.0.1:0",
                                         "--metrics-listen", "127.0.0.1:0", "--db", db,
                                         "--address-rate", "0", "--player-rate", "0", "--queue", "1024",
                                         "--registrations-per-hour", "0", "--tracks-per-day", "0"};
        if (workers > 0) {
            args.push_back("--workers");
            args.push_back(std::to_string(workers));
        }
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            pid_ = -1;
            ::close(out[0]);
            return;
        }
        std::string line;
        const auto end = clock_type::now() + std::chrono::seconds(30);
        while (line.find('\n') == std::string::npos && clock_type::now() < end) {
            pollfd p{out[0], POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) {
                continue;
            }
            char c[256];
            const ssize_t n = ::read(out[0], c, sizeof c);
            if (n <= 0) {
                break;
            }
            line.append(c, static_cast<size_t>(n));
        }
        ::close(out[0]);
        const size_t colon = line.rfind(':');
        if (colon != std::string::npos) {
            port_ = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
        }
    }
    ~HubProcess()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    int pid() const { return pid_; }
    uint16_t port() const { return port_; }

private:
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

struct Baseline {
    double simCpuPerStep = 0.0;   // velto-sim processes
    double coreCpuPerStep = 0.0;  // the ride in this process
};

// velto-sim on each proof replay, one process each, `rounds` times.
double simCpuPerStep(const std::vector<Proof>& proofs, int rounds)
{
    double cpu = 0.0;
    double steps = 0.0;
    for (int r = 0; r < rounds; ++r) {
        for (const Proof& p : proofs) {
            std::string a0 = VELTO_BINARY_DIR "/velto-sim";
            std::string a1 = p.trackPath;
            std::string a2 = "--replay";
            std::string a3 = p.replayPath;
            char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
            pid_t pid = -1;
            const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
            posix_spawn_file_actions_destroy(&actions);
            if (rc != 0) {
                continue;
            }
            int status = 0;
            rusage usage{};
            wait4(pid, &status, 0, &usage);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                std::fprintf(stderr, "velto-hub-load: velto-sim refuses %s\n", p.replayPath.c_str());
            }
            cpu += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
            steps += p.steps;
        }
    }
    return cpu / steps;
}

// The same rides through the core in this process: the physics alone.
double coreCpuPerStep(const std::vector<Proof>& proofs, int rounds)
{
    double cpu = 0.0;
    double steps = 0.0;
    for (int r = 0; r < rounds; ++r) {
        for (const Proof& p : proofs) {
            Replay replay;
            std::string error;
            const double before = threadCpu();
            ReplayCheck check;
            if (!parseReplay(p.replay, replay, error) || !checkReplay(p.trackPath, replay, 180000, check) ||
                check.verdict != ReplayVerdict::Holds) {
                std::fprintf(stderr, "velto-hub-load: %s does not hold\n", p.replayPath.c_str());
            }
            cpu += threadCpu() - before;
            steps += p.steps;
        }
    }
    return cpu / steps;
}

struct LoadResult {
    double seconds = 0.0;
    uint64_t accepted = 0;
    uint64_t other = 0;
    uint64_t failed = 0;
    double p50 = 0.0;
    double p99 = 0.0;
    double hubCpu = 0.0;
    double ownCpu = 0.0;       // the hub process alone
    double databaseCpu = 0.0;  // the database server
    double riddenSteps = 0.0;
    double storedRuns = 0.0;
    double bytesPerRun = 0.0;    // database growth per stored run
    double replayBytes = 0.0;    // the replay text's share of it
};

// The database's size in bytes, its stored runs and their replays' bytes.
void measureStorage(const std::string& db, double& size, double& runs, double& replayBytes)
{
    auto database = hub::Database::open(db, 1);
    hub::Database::Lease conn(*database);
    if (database->kind() == "sqlite") {
        conn->query("PRAGMA wal_checkpoint(TRUNCATE)");
        auto pages = conn->query("PRAGMA page_count");
        auto pageSize = conn->query("PRAGMA page_size");
        size = std::stod(*pages[0][0]) * std::stod(*pageSize[0][0]);
    } else {
        size = std::stod(*conn->query("SELECT pg_database_size(current_database())")[0][0]);
    }
    auto rows = conn->query("SELECT COUNT(*), COALESCE(SUM(LENGTH(replay)), 0) FROM runs");
    runs = std::stod(*rows[0][0]);
    replayBytes = std::stod(*rows[0][1]);
}

json health(uint16_t port)
{
    hub::HttpClient c("127.0.0.1", port, 10.0);
    hub::ClientResponse r;
    std::string error;
    c.request("GET", "/api/health", {}, {}, r, error);
    return json::parse(r.body, nullptr, false);
}

// `database` is the database server's main process, 0 for none: its CPU,
// with its children's, counts as the hub's.
bool runLoad(const std::string& label, const std::string& db, int database, const std::vector<Proof>& proofs,
             int clients, double seconds, int workers, LoadResult& out)
{
    HubProcess hub(db, workers);
    if (hub.port() == 0) {
        std::fprintf(stderr, "velto-hub-load: the hub did not start on %s\n", label.c_str());
        return false;
    }
    hub::HttpClient setup("127.0.0.1", hub.port(), 30.0);
    std::vector<std::pair<std::string, std::string>> players;
    for (int c = 0; c < clients; ++c) {
        hub::ClientResponse r;
        std::string error;
        const std::string name = "load" + std::to_string(c);
        setup.request("POST", "/api/players", {}, json{{"name", name}}.dump(), r, error);
        const json body = json::parse(r.body, nullptr, false);
        if (r.status != 201 || !body.contains("token")) {
            std::fprintf(stderr, "velto-hub-load: cannot register %s: %d %s\n", name.c_str(), r.status, error.c_str());
            return false;
        }
        players.emplace_back(name, body["token"].get<std::string>());
    }
    for (const Proof& p : proofs) {
        hub::ClientResponse r;
        std::string error;
        setup.request("POST", "/api/tracks",
                      {{"X-Velto-Player", players[0].first}, {"X-Velto-Token", players[0].second},
                       {"X-Velto-Name", p.name + ".vlt"}},
                      p.track, r, error);
        if (r.status != 201 && r.status != 200) {
            std::fprintf(stderr, "velto-hub-load: cannot upload %s: %d %s\n", p.name.c_str(), r.status, r.body.c_str());
            return false;
        }
    }

    double sizeBefore = 0.0;
    double runsBefore = 0.0;
    double replayBefore = 0.0;
    measureStorage(db, sizeBefore, runsBefore, replayBefore);
    const json before = health(hub.port());
    const double cpuBefore = hubCpu(hub.pid()) + (database > 0 ? hubCpu(database) : 0.0);
    const double ownBefore = processCpu(hub.pid());
    const double databaseBefore = database > 0 ? hubCpu(database) : 0.0;
    std::atomic<uint64_t> accepted{0};
    std::atomic<uint64_t> other{0};
    std::atomic<uint64_t> failed{0};
    std::mutex mutex;
    std::vector<double> latencies;
    const auto start = clock_type::now();
    const auto end = start + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            hub::HttpClient client("127.0.0.1", hub.port(), 30.0);
            const std::vector<std::pair<std::string, std::string>> auth = {{"X-Velto-Player", players[c].first},
                                                                           {"X-Velto-Token", players[c].second}};
            std::vector<double> mine;
            for (size_t i = static_cast<size_t>(c) % proofs.size(); clock_type::now() < end; ++i) {
                const Proof& p = proofs[i % proofs.size()];
                hub::ClientResponse r;
                std::string error;
                const auto t0 = clock_type::now();
                const bool ok = client.request("POST", "/api/runs", auth, p.replay, r, error);
                mine.push_back(std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
                if (!ok) {
                    failed += 1;
                } else if (r.status == 200 || r.status == 201) {
                    accepted += 1;
                } else {
                    other += 1;
                    if (other < 5) {
                        std::fprintf(stderr, "velto-hub-load: %d %s\n", r.status, r.body.c_str());
                    }
                }
            }
            std::lock_guard<std::mutex> lock(mutex);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    out.seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    out.hubCpu = hubCpu(hub.pid()) + (database > 0 ? hubCpu(database) : 0.0) - cpuBefore;
    out.ownCpu = processCpu(hub.pid()) - ownBefore;
    out.databaseCpu = (database > 0 ? hubCpu(database) : 0.0) - databaseBefore;
    const json after = health(hub.port());
    out.riddenSteps = after.value("ridden_steps", 0.0) - before.value("ridden_steps", 0.0);
    double sizeAfter = 0.0;
    double runsAfter = 0.0;
    double replayAfter = 0.0;
    measureStorage(db, sizeAfter, runsAfter, replayAfter);
    out.storedRuns = runsAfter - runsBefore;
    if (out.storedRuns > 0) {
        out.bytesPerRun = (sizeAfter - sizeBefore) / out.storedRuns;
        out.replayBytes = (replayAfter - replayBefore) / out.storedRuns;
    }
    out.accepted = accepted;
    out.other = other;
    out.failed = failed;
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        out.p50 = latencies[latencies.size() / 2];
        out.p99 = latencies[std::min(latencies.size() - 1, static_cast<size_t>(std::ceil(latencies.size() * 0.99)) - 1)];
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string which = "both";
    int clients = 32;
    double seconds = 10.0;
    int workers = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const std::string value = argv[i + 1];
        if (arg == "--db") {
            which = value;
        } else if (arg == "--clients") {
            clients = std::max(1, std::atoi(value.c_str()));
        } else if (arg == "--seconds") {
            seconds = std::max(0.5, std::atof(value.c_str()));
        } else if (arg == "--workers") {
            workers = std::max(1, std::atoi(value.c_str()));
        } else {
            std::fprintf(stderr, "usage: velto-hub-load [--db sqlite|postgresql|both] [--clients N] [--seconds S] [--workers N]\n");
            return 2;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<Proof> proofs;
    const std::string data = std::string(VELTO_SOURCE_DIR) + "/tests/data/tracks";
    for (const auto& entry : std::filesystem::directory_iterator(data)) {
        if (entry.path().extension() != ".replay") {
            continue;
        }
        Proof p;
        p.name = entry.path().stem().string();
        p.replayPath = entry.path().string();
        p.replay = readFile(p.replayPath);
        p.trackPath = std::string(VELTO_BINARY_DIR) + "/tracks/" + p.name + ".vlt";
        p.track = readFile(p.trackPath);
        Replay replay;
        std::string error;
        if (p.track.empty() || !parseReplay(p.replay, replay, error)) {
            std::fprintf(stderr, "velto-hub-load: cannot read %s or its track\n", p.replayPath.c_str());
            return 1;
        }
        p.steps = replay.steps;
        proofs.push_back(std::move(p));
    }
    std::sort(proofs.begin(), proofs.end(), [](const Proof& a, const Proof& b) { return a.name < b.name; });
    double totalSteps = 0;
    for (const Proof& p : proofs) {
        totalSteps += p.steps;
    }
    std::printf("%zu proof replays, %.0f steps (%.1f minutes of riding); %d clients for %.0f s a database\n",
                proofs.size(), totalSteps, totalSteps / 6000.0, clients, seconds);

    std::vector<std::pair<std::string, std::string>> databases;
    std::unique_ptr<hub::ThrowawayPostgres> cluster;
    const std::string dir = std::filesystem::temp_directory_path() / ("velto-hub-load-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    if (which == "sqlite" || which == "both") {
        databases.emplace_back("SQLite", dir + "/hub.sqlite");
    }
    if (which == "postgresql" || which == "both") {
        cluster = std::make_unique<hub::ThrowawayPostgres>();
        if (!cluster->available() || !cluster->started()) {
            std::printf("PostgreSQL: skipped (%s)\n", cluster->available() ? "the cluster did not start"
                                                                          : "its programs are not installed");
        } else {
            databases.emplace_back("PostgreSQL", cluster->newDatabase());
        }
    }

    int status = 0;
    for (const auto& [label, db] : databases) {
        // The physics alone and velto-sim, before and after the load, averaged.
        const double simBefore = simCpuPerStep(proofs, 3);
        const double coreBefore = coreCpuPerStep(proofs, 3);
        LoadResult r;
        const int database = label == "PostgreSQL" ? cluster->serverPid() : 0;
        if (!runLoad(label, db, database, proofs, clients, seconds, workers, r)) {
            status = 1;
            continue;
        }
        const double sim = (simBefore + simCpuPerStep(proofs, 3)) / 2.0;
        const double core = (coreBefore + coreCpuPerStep(proofs, 3)) / 2.0;
        const double hubPerStep = r.riddenSteps > 0 ? r.hubCpu / r.riddenSteps : 0.0;
        std::printf("\n%s: %llu runs accepted in %.1f s = %.1f runs/s (%llu refused, %llu failed); "
                    "latency p50 %.1f ms, p99 %.1f ms\n",
                    label.c_str(), static_cast<unsigned long long>(r.accepted), r.seconds,
                    static_cast<double>(r.accepted) / r.seconds, static_cast<unsigned long long>(r.other),
                    static_cast<unsigned long long>(r.failed), r.p50, r.p99);
        std::printf("  CPU per 1000 steps ridden: hub %.3f ms (with its verifiers and database server), velto-sim %.3f ms, "
                    "physics alone %.3f ms\n",
                    hubPerStep * 1e6, sim * 1e6, core * 1e6);
        std::printf("  CPU per run: %.3f ms in all: hub process %.3f ms, verifiers %.3f ms, database server %.3f ms\n",
                    r.hubCpu / static_cast<double>(r.accepted) * 1e3, r.ownCpu / static_cast<double>(r.accepted) * 1e3,
                    (r.hubCpu - r.ownCpu - r.databaseCpu) / static_cast<double>(r.accepted) * 1e3,
                    r.databaseCpu / static_cast<double>(r.accepted) * 1e3);
        std::printf("  verification rate, hub / velto-sim: %.2f; hub / physics alone: %.2f\n", sim / hubPerStep,
                    core / hubPerStep);
        std::printf("  hub overhead over the physics: %.0f %% (goal < 30 %%); p99 goal < 250 ms at 32 clients\n",
                    (hubPerStep / core - 1.0) * 100.0);
        std::printf("  CPU per verified minute of riding: %.1f ms\n", hubPerStep * 6000.0 * 1000.0);
        std::printf("  storage: %.0f runs stored, %.0f bytes of database a run, of which %.0f bytes of replay\n",
                    r.storedRuns, r.bytesPerRun, r.replayBytes);
    }
    cluster.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return status;
}
