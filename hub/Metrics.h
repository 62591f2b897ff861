// The hub's counters for its operator, written in the Prometheus text
// format. Counting is cheap and lock-free but for the request table, whose
// keys are a bounded set of route names and statuses.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace hub {

// A histogram over fixed upper bounds, in seconds.
class Histogram {
public:
    static constexpr std::array<double, 12> kBounds = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025,
                                                       0.05,   0.1,   0.25,   0.5,   1.0,  5.0};
    void observe(double seconds);
    // Appends the histogram's lines under `name`.
    void render(std::string& out, const std::string& name, const std::string& help) const;

private:
    std::array<std::atomic<uint64_t>, kBounds.size() + 1> counts_{};  // the last: above every bound
    std::atomic<uint64_t> sumMicros_{0};
};

class Metrics {
public:
    void request(const std::string& route, int status);
    Histogram database;  // a database lease: waiting for a connection and using it
    Histogram rideCpu;   // a verifier's CPU time for one ride

    // Appends the request counts and the histograms.
    void render(std::string& out) const;

private:
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, int>, uint64_t> requests_;
};

// The process's one set.
Metrics& metrics();

// Appends one metric's HELP, TYPE and value lines.
void renderValue(std::string& out, const std::string& name, const char* type, const std::string& help,
                 double value);

}  // namespace hub
