#include "net/HubService.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kMaxRetrySeconds = 600;

// Everything below is guarded by `lock`, except `files` and `account`,
// which are set before the thread starts and not changed while it runs.
std::mutex lock;
// Held while a run goes into the outbox with its "sending" line, and while
// the answer for a run is set and the run taken out: never across a network
// exchange.
std::mutex sendLock;
std::condition_variable wake;
std::thread worker;
std::atomic<bool> stopping{false};
bool running = false;
HubFiles files;
HubAccount account;
HubTimeouts timeouts;
long retryDelay = 60;

// Best runs handed over by the main thread, put into the outbox here so
// that no frame waits for the disk either.
struct Handed {
    Replay replay;
    std::string trackPath;
};
std::vector<Handed> handed;

bool flushWanted = false;
Clock::time_point flushAt;      // the earliest time of the next flush
long nextRetry = 60;            // the wait after the next failure
std::map<uint64_t, std::string> submitLines;
std::deque<uint64_t> recordQueue;
std::map<uint64_t, HubRecord> records;
bool tableWanted = false;
HubRecordState tableState = HubRecordState::None;
std::string tableWhy;
std::map<uint64_t, RecordTop> table;

// After an exchange that failed: try again later, waiting longer each time.
void retryLater(long seconds)
{
    std::lock_guard<std::mutex> guard(lock);
    flushWanted = true;
    flushAt = Clock::now() + std::chrono::seconds(seconds);
}

HubTimeouts currentTimeouts()
{
    std::lock_guard<std::mutex> guard(lock);
    return timeouts;
}

void setSubmitLine(uint64_t digest, const std::string& line)
{
    std::lock_guard<std::mutex> guard(lock);
    submitLines[digest] = line;
}

void flushOutbox()
{
    for (const OutboxEntry& entry : listOutbox(files)) {
        if (stopping.load()) {
            return;
        }
        std::string replay;
        if (!readSmallFile(entry.replayPath, replay, kMaxReplayBytes)) {
            continue;
        }
        std::string track;
        readSmallFile(entry.trackPath, track, size_t{16} << 20);
        Replay parsed;
        std::string error;
        const std::string trackName = parseReplay(replay, parsed, error) ? parsed.trackName : std::string("track.vlt");
        const SubmitResult result =
            submitRun(account, replay, entry.digest, track, trackName, currentTimeouts(), &stopping);
        if (result.outcome == HubOutcome::Cancelled) {
            return;   // sent at the next start
        }
        const bool settled = result.outcome == HubOutcome::Done || result.outcome == HubOutcome::Refused ||
                           result.outcome == HubOutcome::NoRecord;
        {
            // The answer is this track's line only while the run sent is the
            // one waiting: a newer best put in meanwhile goes next.
            std::lock_guard<std::mutex> sending(sendLock);
            std::string now;
            if (readSmallFile(entry.replayPath, now, kMaxReplayBytes) && now == replay) {
                setSubmitLine(entry.digest, submitLine(result));
                if (settled) {
                    dropOutbox(files, entry, replay);
                }
            }
        }
        switch (result.outcome) {
        case HubOutcome::Done:
        case HubOutcome::Refused:
        case HubOutcome::NoRecord: {
            std::lock_guard<std::mutex> guard(lock);
            nextRetry = retryDelay;
            break;
        }
        case HubOutcome::Busy:
            retryLater(std::clamp(result.retryAfter, 0L, kMaxRetrySeconds));
            return;
        case HubOutcome::TokenRefused:
            return;   // kept until the player registers again
        default: {
            long wait;
            {
                std::lock_guard<std::mutex> guard(lock);
                wait = nextRetry;
                nextRetry = std::min(nextRetry * 2, kMaxRetrySeconds);
            }
            retryLater(wait);
            return;
        }
        }
    }
}

void fetchRecord(uint64_t digest)
{
    HubRecord record;
    const std::string base = files.records() + "/" + digestHex(digest);
    std::string cachedText;
    std::string cachedHolder;
    Replay cached;
    std::string error;
    const bool haveCache = readSmallFile(base + ".replay", cachedText, kMaxReplayBytes) &&
                           readSmallFile(base + ".holder", cachedHolder, 64) &&
                           parseReplay(cachedText, cached, error);

    const HubTimeouts timeouts = currentTimeouts();
    const RecordTop top = fetchRecordTop(account, digest, timeouts, &stopping);
    if (top.outcome == HubOutcome::Done) {
        if (haveCache && cached.steps == top.steps && cachedHolder == top.holder) {
            record.state = HubRecordState::Ready;
            record.replayText = cachedText;
            record.holder = cachedHolder;
        } else {
            const RecordReplay fetched = fetchRunReplay(account, digest, 1, timeouts, &stopping);
            if (fetched.outcome == HubOutcome::Done) {
                std::error_code ignored;
                std::filesystem::create_directories(files.records(), ignored);
                writeFileWhole(base + ".replay", fetched.text);
                writeFileWhole(base + ".holder", top.holder);
                record.state = HubRecordState::Ready;
                record.replayText = fetched.text;
                record.holder = top.holder;
            } else {
                record.state = HubRecordState::Failed;
                record.line = recordProblemLine(fetched.outcome, fetched.retryAfter, fetched.message);
            }
        }
    } else if (haveCache && (top.outcome == HubOutcome::Unreachable || top.outcome == HubOutcome::TimedOut ||
                             top.outcome == HubOutcome::Busy)) {
        // Offline: the record as last seen.
        record.state = HubRecordState::Ready;
        record.replayText = cachedText;
        record.holder = cachedHolder;
    } else {
        record.state = HubRecordState::Failed;
        record.line = recordProblemLine(top.outcome, top.retryAfter, top.message);
    }
    std::lock_guard<std::mutex> guard(lock);
    records[digest] = record;
}

void fetchTable()
{
    TrackRecords fetched = fetchTrackRecords(account, currentTimeouts(), &stopping);
    std::lock_guard<std::mutex> guard(lock);
    if (fetched.outcome == HubOutcome::Done) {
        tableState = HubRecordState::Ready;
        table = std::move(fetched.records);
    } else {
        tableState = HubRecordState::Failed;
        tableWhy = recordProblemLine(fetched.outcome, fetched.retryAfter, fetched.message);
    }
}

// Puts the runs handed over into the outbox, before anything is sent.
void putHanded()
{
    std::vector<Handed> runs;
    {
        std::lock_guard<std::mutex> guard(lock);
        runs.swap(handed);
    }
    for (const Handed& run : runs) {
        std::lock_guard<std::mutex> sending(sendLock);
        if (!putOutbox(files, run.replay, run.trackPath)) {
            setSubmitLine(run.replay.digest, "run not kept for the hub: its folder cannot be written");
        }
    }
}

void workerLoop()
{
    for (;;) {
        putHanded();
        uint64_t recordDigest = 0;
        bool haveRecord = false;
        bool flush = false;
        bool fetchTheTable = false;
        {
            std::unique_lock<std::mutex> guard(lock);
            for (;;) {
                if (stopping.load() || !handed.empty()) {
                    break;
                }
                if (tableWanted) {
                    tableWanted = false;
                    fetchTheTable = true;
                    break;
                }
                if (!recordQueue.empty()) {
                    recordDigest = recordQueue.front();
                    recordQueue.pop_front();
                    haveRecord = true;
                    break;
                }
                if (flushWanted && Clock::now() >= flushAt) {
                    flushWanted = false;
                    flush = true;
                    break;
                }
                if (flushWanted) {
                    wake.wait_until(guard, flushAt);
                } else {
                    wake.wait(guard);
                }
            }
        }
        if (stopping.load()) {
            putHanded();   // a run handed over just before the end is kept
            return;
        }
        if (fetchTheTable) {
            fetchTable();
        }
        if (haveRecord) {
            fetchRecord(recordDigest);
        }
        if (flush) {
            flushOutbox();
        }
    }
}

} // namespace

bool hubStart(const HubFiles& where)
{
    hubStop();
    HubAccount read;
    if (!readHubAccount(where.settings(), read)) {
        return false;
    }
    std::lock_guard<std::mutex> guard(lock);
    files = where;
    account = read;
    flushWanted = true;   // what waits from an earlier session goes first
    flushAt = Clock::now();
    nextRetry = retryDelay;
    submitLines.clear();
    handed.clear();
    recordQueue.clear();
    records.clear();
    tableWanted = false;
    tableState = HubRecordState::None;
    table.clear();
    stopping = false;
    running = true;
    worker = std::thread(workerLoop);
    return true;
}

void hubStop()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!running) {
            return;
        }
        stopping = true;
        running = false;
    }
    wake.notify_all();
    worker.join();
}

bool hubActive()
{
    std::lock_guard<std::mutex> guard(lock);
    return running;
}

bool hubSubmitBest(const Replay& replay, const std::string& trackPath)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!running) {
            return false;
        }
        handed.push_back(Handed{replay, trackPath});
        submitLines[replay.digest] = "World: sending...";
        flushWanted = true;
        flushAt = Clock::now();
    }
    wake.notify_all();
    return true;
}

std::string hubSubmitLine(uint64_t digest)
{
    std::lock_guard<std::mutex> guard(lock);
    const auto it = submitLines.find(digest);
    return it == submitLines.end() ? std::string() : it->second;
}

void hubRequestRecord(uint64_t digest)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!running) {
            return;
        }
        records[digest] = HubRecord{HubRecordState::Fetching, {}, {}, {}};
        if (std::find(recordQueue.begin(), recordQueue.end(), digest) == recordQueue.end()) {
            recordQueue.push_back(digest);
        }
    }
    wake.notify_all();
}

HubRecord hubRecord(uint64_t digest)
{
    std::lock_guard<std::mutex> guard(lock);
    const auto it = records.find(digest);
    return it == records.end() ? HubRecord{} : it->second;
}

void hubRequestTrackRecords()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!running) {
            return;
        }
        tableWanted = true;
        if (tableState != HubRecordState::Ready) {
            tableState = HubRecordState::Fetching;
        }
    }
    wake.notify_all();
}

HubRecordState hubTrackRecordsState(std::string& why)
{
    std::lock_guard<std::mutex> guard(lock);
    why = tableWhy;
    return tableState;
}

bool hubTrackRecord(uint64_t digest, int32_t& steps, std::string& holder)
{
    std::lock_guard<std::mutex> guard(lock);
    const auto it = table.find(digest);
    if (it == table.end()) {
        return false;
    }
    steps = it->second.steps;
    holder = it->second.holder;
    return true;
}

void hubSetTimeouts(const HubTimeouts& value)
{
    std::lock_guard<std::mutex> guard(lock);
    timeouts = value;
}

void hubSetRetryDelay(long seconds)
{
    std::lock_guard<std::mutex> guard(lock);
    retryDelay = seconds;
}
