// A real velto-hub for end-to-end tests: started from the build on the
// loopback interface with a port of its own and a database in a scratch
// folder, stopped (and its folder removed) with its owner.
#pragma once

#include <string>
#include <sys/types.h>

// Tests that need one begin with this: velto-hub is not built with
// ThreadSanitizer, where they are skipped.
#ifdef VELTO_REAL_HUB
#define NEEDS_REAL_HUB()
#else
#define NEEDS_REAL_HUB() GTEST_SKIP() << "velto-hub is not built in this configuration"
#endif

class RealHub {
public:
    RealHub();
    ~RealHub();
    bool running() const { return pid_ > 0 && port_ > 0; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // A stalled hub: the process stops answering, and goes on again.
    void pause();
    void resume();

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string dir_;
};
