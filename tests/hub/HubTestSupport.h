// Runs velto-hub as a child process on 127.0.0.1 (a free port) for the
// hub's tests, and a throwaway PostgreSQL cluster in a temporary folder.
#pragma once

#include "Client.h"
#include "ThrowawayPostgres.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hubtest {

using nlohmann::json;
using Headers = std::vector<std::pair<std::string, std::string>>;

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
std::string tempDir();

class Hub {
public:
    // `db` is an SQLite path or a PostgreSQL URL.
    Hub(const std::string& db, const std::vector<std::string>& options = {});
    ~Hub();
    bool running() const { return pid_ > 0; }
    uint16_t port() const { return port_; }
    int pid() const { return pid_; }
    // The hub process's CPU time (its verifiers aside) and resident memory.
    double cpuSeconds() const;
    size_t residentBytes() const;
    // The port of its metrics, from what it said at start; 0 when none.
    uint16_t metricsPort() const;
    void kill9();
    // SIGTERM and wait; the exit status.
    int stop();
    hub::ClientResponse request(const std::string& method, const std::string& target, const Headers& headers = {},
                                const std::string& body = {});
    std::string errors() const;

private:
    int pid_ = -1;
    uint16_t port_ = 0;
    std::string errFile_;
    std::string cacheDir_;  // the hub's track copies, removed with it even after a kill
    std::unique_ptr<hub::HttpClient> client_;
};

// The databases the API tests run on.
enum class Backend { Sqlite, Postgres };
std::string backendName(const testing::TestParamInfo<Backend>& info);

// Gives each test a fresh database of its backend, or skips.
class BackendTest : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string db_;
    std::string dir_;
    static std::unique_ptr<hub::ThrowawayPostgres> cluster_;
};

struct Player {
    std::string name;
    std::string token;
    Headers auth() const { return {{"X-Velto-Player", name}, {"X-Velto-Token", token}}; }
};

Player addPlayer(Hub& hub, const std::string& name);
// Uploads a track file; the digest.
std::string addTrack(Hub& hub, const Player& author, const std::string& name, const std::string& bytes);

// A flat track: ground from x -1000 to 2000 at y 0, start (0, 100), finish
// (300, 60), no apples.
std::string flatTrack();
// The flat track with `layers` x 2,000 squares of one unit piled where the
// bike lands from the start: every step near them walks thousands of edges.
std::string pileTrack(int layers);
// A replay that says it finishes the track of `digest` (hex) after 30
// minutes of standing still.
std::string standingReplay(const std::string& digest);
// Rides `keys` (a key script) on the track file with velto-sim and answers
// the replay it records.
std::string recordReplay(const std::string& trackPath, const std::string& keys, const std::string& maxSteps = {});
std::string packTrack(const std::string& name);   // build/tracks/NAME.vlt
std::string packReplay(const std::string& name);  // tests/data/tracks/NAME.replay

}  // namespace hubtest
