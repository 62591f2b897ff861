#include "Outlines.h"

#include "CacheFile.h"
#include "TrackShape.h"

#include <cstdio>
#include <stdexcept>

#include <unistd.h>

namespace hub {

Outlines::Outlines(std::string dir, std::function<std::string(const std::string&)> trackFile, size_t maxWaiting)
    : dir_(std::move(dir)), trackFile_(std::move(trackFile)), maxWaiting_(maxWaiting), thread_([this] { run(); })
{
}

Outlines::~Outlines()
{
    stop();
}

void Outlines::stop()
{
    std::map<std::string, std::vector<Ready>> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        dropped.swap(waiting_);
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool Outlines::get(const std::string& digest, Ready ready)
{
    const std::string file = path(digest);
    if (::access(file.c_str(), R_OK) == 0) {
        ready(file);
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = waiting_.find(digest);
        if (found != waiting_.end()) {
            found->second.push_back(std::move(ready));
            return true;
        }
        if (stopping_ || waiting_.size() >= maxWaiting_) {
            return false;
        }
        waiting_[digest].push_back(std::move(ready));
        todo_.push_back(digest);
    }
    wake_.notify_one();
    return true;
}

void Outlines::run()
{
    for (;;) {
        std::string digest;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !todo_.empty(); });
            if (stopping_) {
                return;
            }
            digest = std::move(todo_.front());
            todo_.pop_front();
        }
        bool drawn = false;
        try {
            drawn = draw(digest);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "velto-hub: cannot draw %s: %s\n", digest.c_str(), e.what());
        }
        std::vector<Ready> callers;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto found = waiting_.find(digest);
            if (found != waiting_.end()) {
                callers.swap(found->second);
                waiting_.erase(found);
            }
        }
        const std::string file = drawn ? path(digest) : std::string();
        for (Ready& ready : callers) {
            ready(file);
        }
    }
}

bool Outlines::draw(const std::string& digest)
{
    const std::string file = path(digest);
    if (::access(file.c_str(), R_OK) == 0) {
        return true;
    }
    const std::string track = trackFile_(digest);
    if (track.empty()) {
        return false;
    }
    // A track the reader refuses gets an empty picture, kept like the others.
    TrackShape shape;
    const std::string svg = readTrackShape(track, shape) ? trackSvg(shape) : trackSvg(TrackShape{});
    replaceCacheFile(file, svg);
    return true;
}

}  // namespace hub
