#include "ThrowawayPostgres.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

namespace hub {

ThrowawayPostgres::ThrowawayPostgres()
{
    for (int version : {17, 16, 15, 14, 13}) {
        const std::string bin = "/usr/lib/postgresql/" + std::to_string(version) + "/bin";
        if (::access((bin + "/initdb").c_str(), X_OK) == 0 && ::access((bin + "/pg_ctl").c_str(), X_OK) == 0) {
            bin_ = bin;
            break;
        }
    }
    if (bin_.empty()) {
        return;
    }
    char pattern[] = "/tmp/velto-pg-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        bin_.clear();
        return;
    }
    ::chmod(pattern, 0755);
    dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/data");
    std::filesystem::create_directories(dir_ + "/sock");
    // As root the cluster, and every file it writes, belongs to postgres.
    if (::geteuid() == 0) {
        run("chown postgres " + dir_ + "/data " + dir_ + "/sock");
    }
    started_ = run(bin_ + "/initdb -D " + dir_ + "/data -A trust >/dev/null") && startServer();
}

std::string ThrowawayPostgres::serverOptions() const
{
    return " -o \"-k " + dir_ + "/sock -c listen_addresses='' -c fsync=on\" -l " + dir_ + "/sock/log ";
}

bool ThrowawayPostgres::startServer()
{
    return run(bin_ + "/pg_ctl -D " + dir_ + "/data" + serverOptions() + "start -w >/dev/null");
}

bool ThrowawayPostgres::stopServer()
{
    return run(bin_ + "/pg_ctl -D " + dir_ + "/data stop -m fast -w >/dev/null");
}

bool ThrowawayPostgres::restart()
{
    return run(bin_ + "/pg_ctl -D " + dir_ + "/data" + serverOptions() + "restart -m fast -w >/dev/null");
}

ThrowawayPostgres::~ThrowawayPostgres()
{
    if (started_) {
        stopServer();
    }
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

bool ThrowawayPostgres::run(const std::string& command)
{
    std::string line = command;
    if (::geteuid() == 0 && command.rfind("chown", 0) != 0) {
        std::string quoted;
        for (char c : command) {
            if (c == '\'') {
                quoted += "'\\''";
            } else {
                quoted.push_back(c);
            }
        }
        line = "su postgres -c '" + quoted + "'";
    }
    return std::system(line.c_str()) == 0;
}

std::string ThrowawayPostgres::newDatabase()
{
    const std::string name = "velto" + std::to_string(++databases_);
    const std::string user = ::geteuid() == 0 ? "postgres" : std::string(std::getenv("USER") ? std::getenv("USER") : "");
    if (!run(bin_ + "/createdb -h " + dir_ + "/sock " + name)) {
        return {};
    }
    return "postgresql:///" + name + "?host=" + dir_ + "/sock" + (user.empty() ? "" : "&user=" + user);
}

int ThrowawayPostgres::serverPid() const
{
    std::ifstream in(dir_ + "/data/postmaster.pid");
    int pid = 0;
    return started_ && (in >> pid) ? pid : 0;
}

}  // namespace hub
