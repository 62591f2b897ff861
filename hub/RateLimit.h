// Token buckets by key (an address, a player): `rate` requests a second on
// average, `burst` at once. take() answers 0 when the request may go on,
// else the whole seconds to wait before asking again.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace hub {

class RateLimiter {
public:
    RateLimiter(double rate, double burst) : rate_(rate), burst_(burst) {}

    int take(const std::string& key)
    {
        if (rate_ <= 0.0) {
            return 0;
        }
        const double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        std::lock_guard<std::mutex> lock(mutex_);
        // Full buckets say nothing a new bucket would not: drop them now
        // and then, so that the table stays as small as the busy keys.
        if (buckets_.size() > 10000) {
            for (auto it = buckets_.begin(); it != buckets_.end();) {
                it = level(it->second, now) >= burst_ ? buckets_.erase(it) : std::next(it);
            }
        }
        auto [it, added] = buckets_.try_emplace(key, Bucket{burst_, now});
        Bucket& b = it->second;
        b.tokens = level(b, now);
        b.time = now;
        if (b.tokens >= 1.0) {
            b.tokens -= 1.0;
            return 0;
        }
        const double wait = (1.0 - b.tokens) / rate_;
        return static_cast<int>(wait) + 1;
    }

private:
    struct Bucket {
        double tokens;
        double time;
    };
    double level(const Bucket& b, double now) const
    {
        const double t = b.tokens + (now - b.time) * rate_;
        return t < burst_ ? t : burst_;
    }

    double rate_;
    double burst_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
};

}  // namespace hub
