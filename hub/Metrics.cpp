#include "Metrics.h"

#include <cstdio>

namespace hub {
namespace {

std::string numberText(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

}  // namespace

void Histogram::observe(double seconds)
{
    if (!(seconds >= 0.0)) {
        seconds = 0.0;
    }
    size_t i = 0;
    while (i < kBounds.size() && seconds > kBounds[i]) {
        ++i;
    }
    counts_[i].fetch_add(1, std::memory_order_relaxed);
    sumMicros_.fetch_add(static_cast<uint64_t>(seconds * 1e6), std::memory_order_relaxed);
}

void Histogram::render(std::string& out, const std::string& name, const std::string& help) const
{
    out += "# HELP " + name + " " + help + "\n# TYPE " + name + " histogram\n";
    uint64_t total = 0;
    for (size_t i = 0; i < kBounds.size(); ++i) {
        total += counts_[i].load(std::memory_order_relaxed);
        out += name + "_bucket{le=\"" + numberText(kBounds[i]) + "\"} " + std::to_string(total) + "\n";
    }
    total += counts_[kBounds.size()].load(std::memory_order_relaxed);
    out += name + "_bucket{le=\"+Inf\"} " + std::to_string(total) + "\n";
    out += name + "_sum " + numberText(static_cast<double>(sumMicros_.load(std::memory_order_relaxed)) / 1e6) + "\n";
    out += name + "_count " + std::to_string(total) + "\n";
}

void Metrics::request(const std::string& route, int status)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++requests_[{route, status}];
}

void Metrics::render(std::string& out) const
{
    out += "# HELP velto_hub_requests_total Requests answered, by route and status.\n"
           "# TYPE velto_hub_requests_total counter\n";
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [key, count] : requests_) {
            out += "velto_hub_requests_total{route=\"" + key.first + "\",status=\"" + std::to_string(key.second) +
                   "\"} " + std::to_string(count) + "\n";
        }
    }
    database.render(out, "velto_hub_database_seconds",
                    "Time a request held the database: waiting for a connection and using it.");
    rideCpu.render(out, "velto_hub_ride_cpu_seconds", "CPU time of one verification ride.");
}

Metrics& metrics()
{
    static Metrics instance;
    return instance;
}

void renderValue(std::string& out, const std::string& name, const char* type, const std::string& help, double value)
{
    out += "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n" + name + " " + numberText(value) +
           "\n";
}

}  // namespace hub
