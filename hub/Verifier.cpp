#include "Verifier.h"

#include "model/Replay.h"
#include "physics/ReplayRide.h"
#include "model/Globals.h"
#include "model/KeyScript.h"
#include "physics/World.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace hub {
namespace {

// Messages on the pipes: a line "N M K\n" of decimal numbers, then the
// bytes it announces. A job: path length, replay length, step limit, probe
// allowance (0 for a ride), then the path and the replay. An answer:
// verdict, result, steps, CPU microseconds, reason length, then the reason.
constexpr size_t kMaxMessage = size_t{64} << 20;

using steady = std::chrono::steady_clock;

// What a wait on a worker watches besides its pipe: a wall-clock deadline,
// the worker's CPU clock against its budget, and the verifier's stop.
struct Watch {
    steady::time_point deadline{};   // none when zero
    bool cpu = false;
    clockid_t cpuClock{};
    double cpuLimit = 0.0;           // in the clock's seconds
    const std::atomic<int64_t>* stopBy = nullptr;
};

// Results of a wait besides 0 (done) and -1 (end or error).
constexpr int kPastDeadline = -2;
constexpr int kOverBudget = -3;
constexpr int kStopped = -4;

double secondsOf(clockid_t clock)
{
    timespec t{};
    if (clock_gettime(clock, &t) != 0) {
        return 0.0;
    }
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

int64_t steadyNanos()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(steady::now().time_since_epoch()).count();
}

// 0 once `fd` is readable, or why the wait ended. The worker's CPU clock is
// looked at every 20 ms, so a ride overruns its budget by no more.
int waitReadable(int fd, const Watch& watch)
{
    for (;;) {
        long long slice = 20;
        if (watch.deadline != steady::time_point{}) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(watch.deadline - steady::now()).count();
            if (left <= 0) {
                return kPastDeadline;
            }
            slice = std::min<long long>(slice, left);
        }
        if (watch.cpu && secondsOf(watch.cpuClock) > watch.cpuLimit) {
            return kOverBudget;
        }
        if (watch.stopBy != nullptr) {
            const int64_t by = watch.stopBy->load();
            if (by != 0 && steadyNanos() >= by) {
                return kStopped;
            }
        }
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(slice));
        if (r < 0 && errno != EINTR) {
            return -1;
        }
        if (r > 0) {
            return 0;
        }
    }
}

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads exactly `size` bytes, watching `watch` while it waits (nothing
// when it is null). 0 ok, -1 end or error, or what ended the wait.
int readAll(int fd, char* data, size_t size, const Watch* watch)
{
    while (size > 0) {
        if (watch != nullptr) {
            const int w = waitReadable(fd, *watch);
            if (w != 0) {
                return w;
            }
        }
        const ssize_t n = ::read(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return -1;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

// The header line of a message: up to five numbers.
int readHeader(int fd, std::vector<long long>& numbers, const Watch* watch)
{
    std::string line;
    for (;;) {
        char c = 0;
        const int r = readAll(fd, &c, 1, watch);
        if (r != 0) {
            return r;
        }
        if (c == '\n') {
            break;
        }
        if (line.size() > 120) {
            return -1;
        }
        line.push_back(c);
    }
    numbers.clear();
    const char* p = line.c_str();
    while (*p != '\0') {
        char* end = nullptr;
        errno = 0;
        const long long v = std::strtoll(p, &end, 10);
        if (end == p || errno != 0) {
            return -1;
        }
        numbers.push_back(v);
        p = end;
        while (*p == ' ') {
            ++p;
        }
    }
    return 0;
}

// The keys held through each of a probe's rides: none, the throttle, the
// throttle leaning back.
constexpr uint8_t kProbeKeys[kProbeRides] = {0, KeyUp, KeyUp | KeyLeft};

// A probe on the world of the track at `path`: the steps ridden and their
// CPU microseconds (this thread's clock, the building of the worlds left
// out), stopping once they took more than `allowance`. False when the track
// cannot be read.
bool probeTrack(const std::string& path, int32_t maxSteps, int64_t allowance, int32_t& steps, long long& micros)
{
    steps = 0;
    double cpu = 0.0;
    // The clock is read after 1, 2, 4 ... steps, then every 64: reading it
    // costs about a step, and a costly track is found out after a few.
    constexpr int32_t kChunk = 64;
    for (int k = 0; k < kProbeRides && cpu * 1e6 <= static_cast<double>(allowance); ++k) {
        clearKeys();
        if (!buildWorld(path)) {
            freeWorld();
            return false;
        }
        const std::vector<KeyChange> script{KeyChange{0, kProbeKeys[k]}};
        RideEnd end;
        int32_t chunk = 1;
        for (int32_t limit = 0; limit < maxSteps && cpu * 1e6 <= static_cast<double>(allowance);) {
            limit = std::min(limit + chunk, maxSteps);
            chunk = std::min(chunk * 2, kChunk);
            const double before = secondsOf(CLOCK_THREAD_CPUTIME_ID);
            end = rideKeys(script, limit);
            cpu += secondsOf(CLOCK_THREAD_CPUTIME_ID) - before;
            if (end.result != StepRunning) {
                break;
            }
        }
        steps += end.steps;
        freeWorld();
    }
    clearKeys();
    micros = static_cast<long long>(cpu * 1e6);
    return true;
}

}  // namespace

Verifier::Verifier(std::string program, const VerifierOptions& options)
    : program_(std::move(program)), options_(options)
{
    for (int i = 0; i < options_.workers; ++i) {
        threads_.emplace_back([this, i] { run(i); });
    }
}

Verifier::~Verifier()
{
    stop(0.0);
}

void Verifier::stop(double graceSeconds)
{
    std::deque<VerifyJob> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stopping_) {
            stopping_ = true;
            stopBy_ = steadyNanos() + static_cast<int64_t>(std::max(graceSeconds, 0.0) * 1e9) + 1;
        }
        dropped.swap(queue_);
    }
    wake_.notify_all();
    VerifyOutcome stopped;
    stopped.kind = VerifyOutcome::Stopping;
    stopped.reason = "the hub is stopping";
    for (VerifyJob& job : dropped) {
        job.done(stopped);
    }
    for (auto& t : threads_) {
        if (t.joinable()) {
            t.join();
        }
    }
}

bool Verifier::submit(VerifyJob&& job)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || queue_.size() >= options_.queueLimit) {
            return false;
        }
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
    return true;
}

size_t Verifier::queued()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

void Verifier::totals(uint64_t& rides, uint64_t& steps, double& cpuSeconds)
{
    std::lock_guard<std::mutex> lock(mutex_);
    rides = rides_;
    steps = steps_;
    cpuSeconds = cpuSeconds_;
}

bool Verifier::spawn(Worker& w)
{
    int toWorker[2];
    int fromWorker[2];
    if (pipe2(toWorker, O_CLOEXEC) != 0) {
        return false;
    }
    if (pipe2(fromWorker, O_CLOEXEC) != 0) {
        ::close(toWorker[0]);
        ::close(toWorker[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toWorker[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromWorker[1], 1);
    // A worker may start while clients are connected: it must not inherit
    // their sockets (nor the listening one), or a connection the hub closes
    // stays open for as long as the worker lives.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::string arg0 = program_;
    std::string arg1 = "--verify-worker";
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toWorker[0]);
    ::close(fromWorker[1]);
    if (rc != 0) {
        ::close(toWorker[1]);
        ::close(fromWorker[0]);
        std::fprintf(stderr, "velto-hub: cannot start a verifier: %s\n", std::strerror(rc));
        return false;
    }
    w.pid = pid;
    w.in = toWorker[1];
    w.out = fromWorker[0];
    // A worker says it is ready once started, so that a ride's time limit
    // never counts the start of its process.
    char ready[6] = {};
    Watch start;
    start.deadline = steady::now() + std::chrono::seconds(30);
    if (readAll(w.out, ready, sizeof ready, &start) != 0 || std::memcmp(ready, "ready\n", sizeof ready) != 0) {
        std::fprintf(stderr, "velto-hub: a verifier did not start\n");
        end(w, true);
        return false;
    }
    return true;
}

void Verifier::end(Worker& w, bool kill)
{
    if (w.pid <= 0) {
        return;
    }
    ::close(w.in);
    ::close(w.out);
    if (kill) {
        ::kill(w.pid, SIGKILL);
    }
    int status = 0;
    while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
    }
    w = Worker{};
}

VerifyOutcome Verifier::ride(Worker& w, const VerifyJob& job)
{
    VerifyOutcome out;
    if (w.pid <= 0 && !spawn(w)) {
        out.reason = "the verifier cannot start";
        return out;
    }
    Watch watch;
    watch.deadline = steady::now() + std::chrono::milliseconds(static_cast<long long>(options_.wallSeconds * 1000));
    watch.stopBy = &stopBy_;
    double cpuStart = 0.0;
    watch.cpu = clock_getcpuclockid(w.pid, &watch.cpuClock) == 0;
    if (watch.cpu) {
        cpuStart = secondsOf(watch.cpuClock);
        watch.cpuLimit = cpuStart + options_.rideCpuSeconds;
    }
    const std::string header = std::to_string(job.trackPath.size()) + " " + std::to_string(job.replay.size()) + " " +
                               std::to_string(job.maxSteps) + " " + std::to_string(job.probeMicros) + "\n";
    if (!writeAll(w.in, header.data(), header.size()) || !writeAll(w.in, job.trackPath.data(), job.trackPath.size()) ||
        !writeAll(w.in, job.replay.data(), job.replay.size())) {
        end(w, true);
        out.reason = "the verifier stopped";
        return out;
    }
    std::vector<long long> n;
    int r = readHeader(w.out, n, &watch);
    if (r == 0 && (n.size() != 5 || n[4] < 0 || static_cast<size_t>(n[4]) > 4096)) {
        r = -1;
    }
    std::string reason;
    if (r == 0) {
        reason.resize(static_cast<size_t>(n[4]));
        r = readAll(w.out, reason.data(), reason.size(), &watch);
    }
    if (r != 0) {
        out.cpuSeconds = watch.cpu ? secondsOf(watch.cpuClock) - cpuStart : 0.0;
        // Killed and replaced at once, so that the next ride finds it ready;
        // not while the hub stops.
        end(w, true);
        if (stopBy_.load() == 0) {
            spawn(w);
        }
        char budget[32];
        std::snprintf(budget, sizeof budget, "%g", options_.rideCpuSeconds);
        switch (r) {
        case kOverBudget:
            out.kind = VerifyOutcome::TooCostly;
            out.reason = "too costly to verify: riding it took more than " + std::string(budget) +
                         " s of the hub's CPU time";
            break;
        case kPastDeadline:
            out.kind = VerifyOutcome::Overtime;
            out.reason = "checking the ride took too long";
            break;
        case kStopped:
            out.kind = VerifyOutcome::Stopping;
            out.reason = "the hub is stopping";
            break;
        default:
            out.kind = VerifyOutcome::Failed;
            out.reason = "the verifier stopped";
        }
        return out;
    }
    out.kind = static_cast<VerifyOutcome::Kind>(std::clamp<long long>(n[0], 0, VerifyOutcome::Failed));
    out.result = static_cast<int32_t>(n[1]);
    out.steps = static_cast<int32_t>(n[2]);
    out.cpuSeconds = static_cast<double>(n[3]) * 1e-6;
    out.reason = std::move(reason);
    return out;
}

void Verifier::run(int /*index*/)
{
    Worker w;
    spawn(w);
    for (;;) {
        VerifyJob job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                break;
            }
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        const VerifyOutcome outcome = ride(w, job);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            rides_ += 1;
            steps_ += static_cast<uint64_t>(std::max(outcome.steps, 0));
            cpuSeconds_ += outcome.cpuSeconds;
        }
        job.done(outcome);
    }
    end(w, false);
}

int runVerifyWorker()
{
    std::signal(SIGPIPE, SIG_IGN);
    if (!writeAll(1, "ready\n", 6)) {
        return 0;
    }
    for (;;) {
        std::vector<long long> n;
        if (readHeader(0, n, nullptr) != 0) {
            return 0;
        }
        if (n.size() != 4 || n[0] < 0 || n[1] < 0 || static_cast<size_t>(n[0]) > 4096 ||
            static_cast<size_t>(n[1]) > kMaxMessage || n[3] < 0) {
            return 2;
        }
        std::string path(static_cast<size_t>(n[0]), '\0');
        std::string text(static_cast<size_t>(n[1]), '\0');
        if (readAll(0, path.data(), path.size(), nullptr) != 0 || readAll(0, text.data(), text.size(), nullptr) != 0) {
            return 2;
        }
        const double cpuBefore = secondsOf(CLOCK_PROCESS_CPUTIME_ID);
        VerifyOutcome::Kind kind = VerifyOutcome::Unreadable;
        ReplayCheck check;
        Replay replay;
        std::string reason;
        long long probeMicros = -1;
        if (n[3] > 0) {
            kind = VerifyOutcome::Holds;
            if (!probeTrack(path, static_cast<int32_t>(n[2]), n[3], check.end.steps, probeMicros)) {
                kind = VerifyOutcome::Failed;
                reason = "Cant't load the track.";
            }
        } else if (!parseReplay(text, replay, reason)) {
            kind = VerifyOutcome::Unreadable;
        } else if (!checkReplay(path, replay, static_cast<int32_t>(n[2]), check)) {
            kind = VerifyOutcome::Failed;
            reason = "Cant't load the track.";
        } else {
            kind = check.verdict == ReplayVerdict::Holds ? VerifyOutcome::Holds : VerifyOutcome::EndsOtherwise;
            reason = check.reason;
        }
        if (reason.size() > 4096) {
            reason.resize(4096);
        }
        const long long cpu = probeMicros >= 0 ? probeMicros
                                               : static_cast<long long>((secondsOf(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore) * 1e6);
        const std::string header = std::to_string(static_cast<int>(kind)) + " " + std::to_string(check.end.result) +
                                   " " + std::to_string(check.end.steps) + " " + std::to_string(cpu) + " " +
                                   std::to_string(reason.size()) + "\n";
        if (!writeAll(1, header.data(), header.size()) || !writeAll(1, reason.data(), reason.size())) {
            return 0;
        }
    }
}

}  // namespace hub
