#include "net/HubService.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <functional>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

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
std::function<int64_t()> wallClock;

bool flushWanted = false;
int64_t flushAt = 0;            // wall-clock second of the next flush
int64_t pausedUntil = 0;        // after a busy answer: nothing goes before
std::map<uint64_t, std::string> submitLines;
std::deque<std::string> notices;
std::deque<uint64_t> recordQueue;
std::map<uint64_t, HubRecord> records;
bool tableWanted = false;
HubRecordState tableState = HubRecordState::None;
std::string tableWhy;
std::map<uint64_t, RecordTop> table;

int64_t now()
{
    std::lock_guard<std::mutex> guard(lock);
    return wallClock ? wallClock() : static_cast<int64_t>(std::time(nullptr));
}

// A flush at `at`, unless one is wanted sooner.
void flushBy(int64_t at)
{
    std::lock_guard<std::mutex> guard(lock);
    if (!flushWanted || at < flushAt) {
        flushAt = at;
    }
    flushWanted = true;
}

void pauseUntil(int64_t at)
{
    std::lock_guard<std::mutex> guard(lock);
    pausedUntil = std::max(pausedUntil, at);
    flushWanted = true;
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

// The account the thread started with is still the one in the settings:
// `velto --hub-off` (or a new registration) from outside ends the thread's
// work before its next exchange, and nothing is written for the hub again.
bool stillRegistered()
{
    HubAccount kept;
    if (readHubAccount(files.settings(), kept) && kept.url == account.url && kept.name == account.name &&
        kept.token == account.token) {
        return true;
    }
    std::lock_guard<std::mutex> guard(lock);
    running = false;
    stopping = true;
    flushWanted = false;
    recordQueue.clear();
    for (auto& [digest, record] : records) {
        if (record.state == HubRecordState::Fetching) {
            record = HubRecord{HubRecordState::Failed, {}, {}, "the hub is forgotten"};
        }
    }
    if (tableState == HubRecordState::Fetching) {
        tableState = HubRecordState::Failed;
        tableWhy = "the hub is forgotten";
    }
    return false;
}

// A failure that says the hub as a whole is busy or out of reach: the pass
// ends, and no run goes for the run's wait.
bool hubWide(HubOutcome outcome)
{
    return outcome == HubOutcome::Busy || outcome == HubOutcome::TimedOut ||
           (outcome == HubOutcome::Unreachable);
}

void flushOutbox()
{
    const int64_t start = now();
    int64_t earliest = INT64_MAX;
    for (const OutboxEntry& entry : listOutbox(files)) {
        if (stopping.load()) {
            return;
        }
        OutboxTries tries = readOutboxTries(entry);
        if (tries.next > start) {
            earliest = std::min(earliest, tries.next);   // its own wait: the others go on
            continue;
        }
        std::string replay;
        if (!readSmallFile(entry.replayPath, replay, kMaxReplayBytes)) {
            continue;
        }
        std::string track;
        readSmallFile(entry.trackPath, track, kMaxHubTrackBytes);
        Replay parsed;
        std::string error;
        const std::string trackName = parseReplay(replay, parsed, error) ? parsed.trackName : std::string("track.vlt");
        if (!stillRegistered()) {
            return;
        }
        SubmitResult result = submitRun(account, replay, entry.digest, track, trackName, currentTimeouts(), &stopping);
        if (result.outcome == HubOutcome::Cancelled) {
            return;   // sent at the next start
        }
        const bool settled = result.outcome == HubOutcome::Done || result.outcome == HubOutcome::Refused ||
                             result.outcome == HubOutcome::NoRecord;
        const bool failed = !settled && result.outcome != HubOutcome::TokenRefused;
        const int64_t at = now();
        std::string notice;
        long asked = -1;
        if (failed) {
            if (tries.tries == 0) {
                tries.first = at;
            }
            ++tries.tries;
            asked = result.outcome == HubOutcome::Busy ? result.retryAfter : -1;
            const long wait = retryWait(tries.tries, asked);
            tries.next = at + wait;
            result.retryAfter = wait;   // the line tells the wait that holds
            if (tries.tries >= kMaxSendTries || at - tries.first >= kMaxSendSeconds) {
                notice = "World: run on " + printableText(trackName, 40) + " not sent: the hub did not take it in " +
                         std::to_string(tries.tries) + " tries";
            }
        }
        {
            // The answer is this track's line only while the run sent is the
            // one waiting: a newer best put in meanwhile goes next.
            std::lock_guard<std::mutex> sending(sendLock);
            std::string current;
            if (readSmallFile(entry.replayPath, current, kMaxReplayBytes) && current == replay) {
                // The files go before the line changes: whoever sees the
                // answer sees the outbox as the answer left it.
                if (!notice.empty()) {
                    dropOutbox(files, entry, replay);
                    setSubmitLine(entry.digest, notice);
                    std::lock_guard<std::mutex> guard(lock);
                    notices.push_back(notice);
                } else {
                    if (settled) {
                        dropOutbox(files, entry, replay);
                    } else if (failed) {
                        writeOutboxTries(entry, tries);
                        earliest = std::min(earliest, tries.next);
                    }
                    setSubmitLine(entry.digest, submitLine(result));
                }
            }
        }
        if (result.outcome == HubOutcome::TokenRefused) {
            return;   // kept until the player registers again
        }
        if (failed && hubWide(result.outcome)) {
            // The hub is busy or away: nothing more for now, and nothing
            // before the floor, or what the hub asked for. The run's own
            // wait grows, so that the next pass goes on past it.
            pauseUntil(at + retryWait(1, asked));
            flushBy(std::min(earliest, tries.next));
            return;
        }
    }
    if (earliest != INT64_MAX) {
        flushBy(earliest);
    }
}

void fetchRecord(uint64_t digest)
{
    HubRecord record;
    if (!stillRegistered()) {
        return;
    }
    const std::string folder = files.recordsOf(account.url);
    const std::string base = folder + "/" + digestHex(digest);
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
            if (fetched.outcome == HubOutcome::Done && !stillRegistered()) {
                return;
            }
            if (fetched.outcome == HubOutcome::Done) {
                std::error_code ignored;
                std::filesystem::create_directories(folder, ignored);
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
    } else if (haveCache && (top.outcome == HubOutcome::Unreachable || top.outcome == HubOutcome::Failed ||
                             top.outcome == HubOutcome::TimedOut ||
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
    if (!stillRegistered()) {
        return;
    }
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

int64_t nowLocked()
{
    return wallClock ? wallClock() : static_cast<int64_t>(std::time(nullptr));
}

void workerLoop()
{
    for (;;) {
        uint64_t recordDigest = 0;
        bool haveRecord = false;
        bool flush = false;
        bool fetchTheTable = false;
        {
            std::unique_lock<std::mutex> guard(lock);
            for (;;) {
                if (stopping.load()) {
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
                const int64_t due = std::max(flushAt, pausedUntil);
                const int64_t at = nowLocked();
                if (flushWanted && at >= due) {
                    flushWanted = false;
                    flush = true;
                    break;
                }
                if (flushWanted) {
                    // Whole seconds of the clock; a test's clock wakes it.
                    wake.wait_for(guard, std::chrono::seconds(std::min<int64_t>(due - at, 3600)));
                } else {
                    wake.wait(guard);
                }
            }
        }
        if (stopping.load()) {
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

long retryWait(int32_t tries, long retryAfter)
{
    long wait = kFirstRetrySeconds;
    for (int32_t i = 1; i < tries && wait < kLastRetrySeconds; ++i) {
        wait *= 2;
    }
    wait = std::min(wait, kLastRetrySeconds);
    // Retry-After only ever lengthens the wait, and by a day at most.
    return std::max(wait, std::min(retryAfter, kMaxRetryAfterSeconds));
}

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
    flushAt = 0;
    pausedUntil = 0;
    submitLines.clear();
    notices.clear();
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

namespace {

std::mutex homeLock;
HubFiles home;

} // namespace

void hubSetHome(const HubFiles& where)
{
    std::lock_guard<std::mutex> guard(homeLock);
    home = where;
}

HubFiles hubHome()
{
    std::lock_guard<std::mutex> guard(homeLock);
    return home;
}

std::string hubTracksFolder()
{
    const HubFiles where = hubHome();
    return where.folder.empty() ? std::string("hub-tracks") : where.folder + "/hub-tracks";
}

bool hubCurrentAccount(HubAccount& out)
{
    std::lock_guard<std::mutex> guard(lock);
    if (!running) {
        return false;
    }
    out = account;
    return true;
}

void hubStop()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
        running = false;
    }
    wake.notify_all();
    if (worker.joinable()) {
        worker.join();
    }
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
    }
    // Into the outbox before anything else: a crash from here on loses
    // nothing. A hub forgotten meanwhile gets nothing written.
    if (!stillRegistered()) {
        return false;
    }
    {
        std::lock_guard<std::mutex> sending(sendLock);
        const bool kept = putOutbox(files, replay, trackPath);
        std::lock_guard<std::mutex> guard(lock);
        submitLines[replay.digest] = kept ? "World: sending..." : "run not kept for the hub: its folder cannot be written";
        if (kept) {
            flushWanted = true;
            flushAt = 0;
        }
    }
    wake.notify_all();
    return true;
}

std::string hubTakeNotice()
{
    std::lock_guard<std::mutex> guard(lock);
    if (notices.empty()) {
        return {};
    }
    std::string notice = notices.front();
    notices.pop_front();
    return notice;
}

void hubSetClock(std::function<int64_t()> clock)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        wallClock = std::move(clock);
    }
    wake.notify_all();
}

void hubWake()
{
    // Under the lock, so that a thread between reading the clock and
    // waiting cannot miss it.
    {
        std::lock_guard<std::mutex> guard(lock);
    }
    wake.notify_all();
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
