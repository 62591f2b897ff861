// Track outlines drawn once, kept as SVG files beside the hub's track
// copies and sent from disk. Drawing reads the whole track with the game's
// reader, which the hub's threads take in turns: it happens on a thread of
// its own, so a large track never holds a server thread, and a track asked
// for by many clients at once is drawn once.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hub {

class Outlines {
public:
    // Called with the outline's file, or an empty path when the track could
    // not be fetched (the database failed).
    using Ready = std::function<void(const std::string& path)>;
    // `trackFile` answers the path of a track's file, empty when the hub
    // does not hold it; it is called on the drawing thread.
    Outlines(std::string dir, std::function<std::string(const std::string& digest)> trackFile,
             size_t maxWaiting = 64);
    ~Outlines();
    Outlines(const Outlines&) = delete;
    Outlines& operator=(const Outlines&) = delete;

    // Calls `ready` at once when the outline is drawn, else from the
    // drawing thread once it is. False when too many tracks wait already.
    bool get(const std::string& digest, Ready ready);
    // Ends the drawing thread; waiting callers are dropped unanswered.
    void stop();

    std::string path(const std::string& digest) const { return dir_ + "/" + digest + ".svg"; }

private:
    void run();
    // True when the outline's file is there afterwards.
    bool draw(const std::string& digest);

    std::string dir_;
    std::function<std::string(const std::string&)> trackFile_;
    size_t maxWaiting_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> todo_;
    std::map<std::string, std::vector<Ready>> waiting_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace hub
