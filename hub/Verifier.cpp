#include "Verifier.h"

#include "model/Replay.h"
#include "physics/ReplayRide.h"
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
// bytes it announces. A job: path length, replay length, step limit, then
// the path and the replay. An answer: verdict, result, steps, CPU
// microseconds, reason length, then the reason.
constexpr size_t kMaxMessage = size_t{64} << 20;

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

// Reads exactly `size` bytes, waiting at most until `deadline` (none when
// the deadline is zero). 0 ok, -1 end or error, -2 deadline passed.
int readAll(int fd, char* data, size_t size, std::chrono::steady_clock::time_point deadline)
{
    using clock = std::chrono::steady_clock;
    while (size > 0) {
        if (deadline != clock::time_point{}) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
            if (left <= 0) {
                return -2;
            }
            pollfd p{fd, POLLIN, 0};
            const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
            if (r < 0 && errno != EINTR) {
                return -1;
            }
            if (r <= 0) {
                continue;
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
int readHeader(int fd, std::vector<long long>& numbers, std::chrono::steady_clock::time_point deadline)
{
    std::string line;
    for (;;) {
        char c = 0;
        const int r = readAll(fd, &c, 1, deadline);
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

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

Verifier::Verifier(std::string program, int workers, size_t queueLimit, double timeoutSeconds)
    : program_(std::move(program)), queueLimit_(queueLimit), timeoutSeconds_(timeoutSeconds)
{
    for (int i = 0; i < workers; ++i) {
        threads_.emplace_back([this, i] { run(i); });
    }
}

Verifier::~Verifier()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) {
        t.join();
    }
}

bool Verifier::submit(VerifyJob&& job)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || queue_.size() >= queueLimit_) {
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
    if (readAll(w.out, ready, sizeof ready, std::chrono::steady_clock::now() + std::chrono::seconds(30)) != 0 ||
        std::memcmp(ready, "ready\n", sizeof ready) != 0) {
        std::fprintf(stderr, "velto-hub: a verifier did not start\n");
        stop(w, true);
        return false;
    }
    return true;
}

void Verifier::stop(Worker& w, bool kill)
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
    const std::string header = std::to_string(job.trackPath.size()) + " " + std::to_string(job.replay.size()) + " " +
                               std::to_string(job.maxSteps) + "\n";
    if (!writeAll(w.in, header.data(), header.size()) || !writeAll(w.in, job.trackPath.data(), job.trackPath.size()) ||
        !writeAll(w.in, job.replay.data(), job.replay.size())) {
        stop(w, true);
        out.reason = "the verifier stopped";
        return out;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long long>(timeoutSeconds_ * 1000));
    std::vector<long long> n;
    int r = readHeader(w.out, n, deadline);
    if (r == 0 && (n.size() != 5 || n[4] < 0 || static_cast<size_t>(n[4]) > 4096)) {
        r = -1;
    }
    std::string reason;
    if (r == 0) {
        reason.resize(static_cast<size_t>(n[4]));
        r = readAll(w.out, reason.data(), reason.size(), deadline);
    }
    if (r != 0) {
        // Killed and replaced at once, so that the next ride finds it ready.
        stop(w, true);
        spawn(w);
        out.kind = r == -2 ? VerifyOutcome::Overtime : VerifyOutcome::Failed;
        out.reason = r == -2 ? "checking the ride took too long" : "the verifier stopped";
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
    stop(w, false);
}

int runVerifyWorker()
{
    std::signal(SIGPIPE, SIG_IGN);
    if (!writeAll(1, "ready\n", 6)) {
        return 0;
    }
    for (;;) {
        std::vector<long long> n;
        if (readHeader(0, n, {}) != 0) {
            return 0;
        }
        if (n.size() != 3 || n[0] < 0 || n[1] < 0 || static_cast<size_t>(n[0]) > 4096 ||
            static_cast<size_t>(n[1]) > kMaxMessage) {
            return 2;
        }
        std::string path(static_cast<size_t>(n[0]), '\0');
        std::string text(static_cast<size_t>(n[1]), '\0');
        if (readAll(0, path.data(), path.size(), {}) != 0 || readAll(0, text.data(), text.size(), {}) != 0) {
            return 2;
        }
        const double cpuBefore = processCpuSeconds();
        VerifyOutcome::Kind kind = VerifyOutcome::Unreadable;
        ReplayCheck check;
        Replay replay;
        std::string reason;
        if (!parseReplay(text, replay, reason)) {
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
        const long long cpu = static_cast<long long>((processCpuSeconds() - cpuBefore) * 1e6);
        const std::string header = std::to_string(static_cast<int>(kind)) + " " + std::to_string(check.end.result) +
                                   " " + std::to_string(check.end.steps) + " " + std::to_string(cpu) + " " +
                                   std::to_string(reason.size()) + "\n";
        if (!writeAll(1, header.data(), header.size()) || !writeAll(1, reason.data(), reason.size())) {
            return 0;
        }
    }
}

}  // namespace hub
