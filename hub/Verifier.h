// Rides uploaded replays again on a bounded pool. The physics of a run is
// process state (one world at a time), so each pool thread drives a worker
// process of its own, velto-hub started again with --verify-worker: rides
// then run in parallel, a ride that costs too much is ended by killing its
// worker, and a worker that dies is replaced without disturbing the hub.
//
// What a ride may cost is counted in the worker's CPU time, which a loaded
// machine does not inflate: a ride over its budget is ended for good
// (TooCostly), whenever it is sent again. The wall clock only guards
// against a worker that hangs, well above the budget. Tracks are probed
// before they are taken: a few short rides from the start tell what a step
// costs on them.
#pragma once

#include <atomic>
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
    // Overtime: the wall-clock safety net; TooCostly: over the CPU budget;
    // Stopping: the hub stopped before the ride could end.
    enum Kind { Holds, EndsOtherwise, Unreadable, Overtime, Failed, TooCostly, Stopping } kind = Failed;
    int32_t result = 0;
    int32_t steps = 0;
    std::string reason;
    double cpuSeconds = 0.0;  // the worker's CPU time for this ride
};

struct VerifyJob {
    std::string trackPath;
    std::string replay;   // the replay's text; empty for a probe
    int32_t maxSteps = 0;
    // A probe instead of a ride: kProbeRides rides of at most maxSteps steps
    // from the track's start, each holding one set of keys. The worker ends
    // it once its steps took more than this many CPU microseconds; the
    // outcome's steps and cpuSeconds are then those of the steps ridden.
    int64_t probeMicros = 0;
    std::function<void(const VerifyOutcome&)> done;  // called on a pool thread, or by stop()
};

inline constexpr int kProbeRides = 3;

struct VerifierOptions {
    int workers = 1;
    size_t queueLimit = 64;
    double rideCpuSeconds = 20.0;   // a ride's budget of the worker's CPU time
    double wallSeconds = 120.0;     // the safety net for a worker that hangs
};

class Verifier {
public:
    // `program` is the hub's own executable.
    Verifier(std::string program, const VerifierOptions& options);
    ~Verifier();
    Verifier(const Verifier&) = delete;
    Verifier& operator=(const Verifier&) = delete;

    // False, and `job` untouched, when the queue is full or the verifier
    // is stopping.
    bool submit(VerifyJob&& job);
    // Stops taking jobs, ends every queued one at once as Stopping, gives
    // the rides in progress up to `graceSeconds` to end (then ends them as
    // Stopping too) and waits for the pool. Every job's done has been called
    // when it returns. The destructor does the same with no grace.
    void stop(double graceSeconds);

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
    void end(Worker& w, bool kill);
    VerifyOutcome ride(Worker& w, const VerifyJob& job);

    std::string program_;
    VerifierOptions options_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<VerifyJob> queue_;
    bool stopping_ = false;
    // While stopping: when rides in progress are ended (steady clock ns).
    std::atomic<int64_t> stopBy_{0};
    uint64_t rides_ = 0;
    uint64_t steps_ = 0;
    double cpuSeconds_ = 0.0;
    std::vector<std::thread> threads_;
};

// The worker's side: reads jobs on stdin, answers on stdout, until stdin
// ends. Returns the process's exit status.
int runVerifyWorker();

}  // namespace hub
