#include "RealHub.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

RealHub::RealHub()
{
    char pattern[] = "/tmp/velto-realhub-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return;
    }
    dir_ = pattern;
    int out[2];
    if (pipe(out) != 0) {
        return;
    }
    const std::string program = std::string(VELTO_BINARY_DIR) + "/velto-hub";
    const std::string db = dir_ + "/hub.sqlite";
    const std::string cache = dir_ + "/cache";
    const char* argv[] = {program.c_str(), "--listen", "127.0.0.1:0", "--db", db.c_str(), "--cache", cache.c_str(),
                          "--workers", "1", "--registrations-per-hour", "0", "--tracks-per-day", "0",
                          "--track-mib-per-day", "0", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // "velto-hub: listening on 127.0.0.1:PORT", within ten seconds.
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buffer[256];
            const ssize_t got = read(out[0], buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            text.append(buffer, static_cast<size_t>(got));
        }
    }
    close(out[0]);
    const size_t colon = text.rfind(':');
    if (text.rfind("velto-hub: listening on ", 0) == 0 && colon != std::string::npos) {
        port_ = std::atoi(text.c_str() + colon + 1);
    }
}

RealHub::~RealHub()
{
    if (pid_ > 0) {
        kill(pid_, SIGCONT);
        kill(pid_, SIGTERM);
        int status = 0;
        // A hub that does not end within five seconds is killed.
        for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i) {
            usleep(50000);
        }
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
    }
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

void RealHub::pause()
{
    kill(pid_, SIGSTOP);
}

void RealHub::resume()
{
    kill(pid_, SIGCONT);
}
