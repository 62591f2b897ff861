// Rides uploaded replays again on a bounded pool. The physics of a run is
// process state (one world at a time), so each pool thread drives a worker
// process of its own, velto-hub started again with --verify-worker: rides
// then run in parallel, a ride that takes too long is ended by killing its
// worker, and a worker that dies is replaced without disturbing the hub.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hub {

struct VerifyOutcome {
    enum Kind { Holds, EndsOtherwise, Unreadable, Overtime, Failed } kind = Failed;
    int32_t result = 0;
    int32_t steps = 0;
    std::string reason;
    double cpuSeconds = 0.0;  // the worker's CPU time for this ride
};

struct VerifyJob {
    std::string trackPath;
    std::string replay;   // the replay's text
    int32_t maxSteps = 0;
    std::function<void(const VerifyOutcome&)> done;  // called on a pool thread
};

class Verifier {
public:
    // `program` is the hub's own executable.
    Verifier(std::string program, int workers, size_t queueLimit, double timeoutSeconds);
    ~Verifier();
    Verifier(const Verifier&) = delete;
    Verifier& operator=(const Verifier&) = delete;

    // False, and `job` untouched, when the queue is full.
    bool submit(VerifyJob&& job);

    size_t queued();
    int workers() const { return static_cast<int>(threads_.size()); }
    // Totals over the hub's life: rides, steps ridden, workers' CPU time.
    void totals(uint64_t& rides, uint64_t& steps, double& cpuSeconds);

private:
    struct Worker {
        int pid = -1;
        int in = -1;   // the worker's stdin
        int out = -1;  // the worker's stdout
    };
    void run(int index);
    bool spawn(Worker& w);
    void stop(Worker& w, bool kill);
    VerifyOutcome ride(Worker& w, const VerifyJob& job);

    std::string program_;
    size_t queueLimit_;
    double timeoutSeconds_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<VerifyJob> queue_;
    bool stopping_ = false;
    uint64_t rides_ = 0;
    uint64_t steps_ = 0;
    double cpuSeconds_ = 0.0;
    std::vector<std::thread> threads_;
};

// The worker's side: reads jobs on stdin, answers on stdout, until stdin
// ends. Returns the process's exit status.
int runVerifyWorker();

}  // namespace hub
