// A PostgreSQL cluster for tests and the load test: initdb in a temporary
// folder, a Unix socket only (no TCP), stopped and removed by the
// destructor. As root the cluster belongs to the postgres user.
#pragma once

#include <string>

namespace hub {

class ThrowawayPostgres {
public:
    ThrowawayPostgres();
    ~ThrowawayPostgres();
    ThrowawayPostgres(const ThrowawayPostgres&) = delete;
    ThrowawayPostgres& operator=(const ThrowawayPostgres&) = delete;
    // False when PostgreSQL's programs are not installed.
    bool available() const { return !bin_.empty(); }
    bool started() const { return started_; }
    // A new empty database: its connection URL, empty on failure.
    std::string newDatabase();
    // The server's main process, 0 when it is not running.
    int serverPid() const;
    // Stops the server (fast: open connections are ended) and starts it
    // again, or only one of the two; false when pg_ctl fails.
    bool restart();
    bool stopServer();
    bool startServer();

private:
    bool run(const std::string& command);
    std::string serverOptions() const;
    std::string bin_;
    std::string dir_;
    bool started_ = false;
    int databases_ = 0;
};

}  // namespace hub
