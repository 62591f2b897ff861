#include "net/HubStore.h"

#include "model/FileAccess.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxSettingsBytes = 4096;

// The main thread puts runs in while the hub's thread takes them out.
std::mutex outboxLock;

std::string join(const std::string& folder, const char* name)
{
    return folder.empty() ? std::string(name) : folder + "/" + name;
}

} // namespace

std::string HubFiles::settings() const
{
    return join(folder, "Velto.hub");
}

std::string HubFiles::outbox() const
{
    return join(folder, "hub-outbox");
}

std::string HubFiles::records() const
{
    return join(folder, "hub-records");
}

std::string HubFiles::recordsOf(const std::string& url) const
{
    // FNV-1a of the URL as kept.
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : url) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    return records() + "/" + digestHex(hash);
}

bool readSmallFile(const std::string& path, std::string& text, size_t limit)
{
    // Only regular files: a FIFO or a device put in the hub's place must not
    // hold the game.
    std::string error;
    return readBoundedFile(path, limit, text, error) == FileReadError::None;
}

bool writeFileWhole(const std::string& path, const std::string& text, unsigned mode)
{
    // A name of its own that nothing can stand at beforehand: O_EXCL does
    // not follow a link planted there, and another writer never shares it.
    static std::atomic<uint32_t> serial{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 64; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".new-%ld-%u-%08x", static_cast<long>(getpid()), serial++,
                      static_cast<unsigned>(std::random_device{}()));
        temporary = path + suffix;
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777);
        if (fd < 0 && errno != EEXIST) {
            return false;
        }
    }
    if (fd < 0) {
        return false;
    }
    // The mode asked for, whatever the umask.
    bool ok = fchmod(fd, mode & 0777) == 0;
    size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        ok = put > 0;
        if (ok) {
            done += static_cast<size_t>(put);
        }
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself survives a crash only once the folder is on disk.
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

bool readHubAccount(const std::string& path, HubAccount& account)
{
    std::string text;
    if (!readSmallFile(path, text, kMaxSettingsBytes)) {
        return false;
    }
    HubAccount read;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();   // a file saved with CR LF line ends
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "url") {
            read.url = value;
        } else if (key == "name") {
            read.name = value;
        } else if (key == "token") {
            read.token = value;
        }
    }
    std::string url;
    std::string why;
    // Name and token go into HTTP headers: printable ASCII only.
    if (!normaliseHubUrl(read.url, url, why) || read.name.empty() || read.token.empty() ||
        printableText(read.name, 256) != read.name || printableText(read.token, 1024) != read.token) {
        return false;
    }
    read.url = url;
    account = read;
    return true;
}

bool writeHubAccount(const std::string& path, const HubAccount& account)
{
    const std::string text = "# Velto's hub: set by velto --hub URL --register NAME, forgotten by velto --hub-off\n"
                             "url=" + account.url + "\nname=" + account.name + "\ntoken=" + account.token + "\n";
    return writeFileWhole(path, text, 0600);
}

int queueLocalBests(const HubFiles& files, const std::string& folder)
{
    namespace fs = std::filesystem;
    std::vector<std::string> tracks;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end && tracks.size() < static_cast<size_t>(kMaxQueuedBests);
         it.increment(ec)) {
        std::error_code kind;
        if (it->path().extension() == ".vlt" && it->is_regular_file(kind)) {
            tracks.push_back(it->path().string());
        }
    }
    std::sort(tracks.begin(), tracks.end());
    int queued = 0;
    for (const std::string& track : tracks) {
        Replay best;
        std::string error;
        uint64_t digest = 0;
        if (readReplayFile(bestReplayPath(track), best, error) != ReplayReadError::None ||
            best.result != ReplayFinished || !trackDigest(track, digest) || digest != best.digest) {
            continue;
        }
        queued += putOutbox(files, best, track) ? 1 : 0;
    }
    return queued;
}

bool putOutbox(const HubFiles& files, const Replay& replay, const std::string& trackPath)
{
    std::lock_guard<std::mutex> guard(outboxLock);
    std::error_code error;
    fs::create_directories(files.outbox(), error);
    const std::string base = files.outbox() + "/" + digestHex(replay.digest);
    // The track as the run rode it: only a file with the run's digest.
    uint64_t digest = 0;
    std::string track;
    if (trackDigest(trackPath, digest) && digest == replay.digest &&
        readSmallFile(trackPath, track, kMaxHubTrackBytes)) {
        writeFileWhole(base + ".vlt", track);
    }
    unlink((base + ".tries").c_str());   // a new run: no try yet
    return writeFileWhole(base + ".replay", formatReplay(replay));
}

std::vector<OutboxEntry> listOutbox(const HubFiles& files)
{
    struct Found {
        fs::file_time_type time;
        OutboxEntry entry;
    };
    std::vector<Found> found;
    std::error_code error;
    for (fs::directory_iterator it(files.outbox(), error), end; !error && it != end; it.increment(error)) {
        const fs::path path = it->path();
        uint64_t digest = 0;
        if (path.extension() != ".replay" || !parseDigestHex(path.stem().string(), digest)) {
            continue;
        }
        std::error_code timeError;
        const auto time = fs::last_write_time(path, timeError);
        const std::string base = files.outbox() + "/" + path.stem().string();
        OutboxEntry entry{digest, path.string(), base + ".vlt", base + ".tries"};
        found.push_back(Found{time, entry});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.time < b.time; });
    std::vector<OutboxEntry> entries;
    for (const Found& f : found) {
        entries.push_back(f.entry);
    }
    return entries;
}

void dropOutbox(const HubFiles&, const OutboxEntry& entry, const std::string& sentText)
{
    std::lock_guard<std::mutex> guard(outboxLock);
    std::string now;
    if (!readSmallFile(entry.replayPath, now, kMaxReplayBytes) || now != sentText) {
        return;
    }
    unlink(entry.replayPath.c_str());
    unlink(entry.trackPath.c_str());
    unlink(entry.triesPath.c_str());
}

OutboxTries readOutboxTries(const OutboxEntry& entry)
{
    OutboxTries tries;
    std::string text;
    if (!readSmallFile(entry.triesPath, text, 256)) {
        return tries;
    }
    long long count = 0;
    long long first = 0;
    long long next = 0;
    if (std::sscanf(text.c_str(), "tries=%lld first=%lld next=%lld", &count, &first, &next) == 3 && count >= 0 &&
        count < 1000000) {
        tries.tries = static_cast<int32_t>(count);
        tries.first = first;
        tries.next = next;
    }
    return tries;
}

bool writeOutboxTries(const OutboxEntry& entry, const OutboxTries& tries)
{
    char text[128];
    std::snprintf(text, sizeof text, "tries=%d first=%lld next=%lld\n", tries.tries,
                  static_cast<long long>(tries.first), static_cast<long long>(tries.next));
    return writeFileWhole(entry.triesPath, text);
}

void forgetHub(const HubFiles& files)
{
    std::error_code error;
    fs::remove(files.settings(), error);
    fs::remove_all(files.outbox(), error);
    fs::remove_all(files.records(), error);
}
