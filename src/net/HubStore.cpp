#include "net/HubStore.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxSettingsBytes = 4096;
// The hub takes tracks up to 16 MiB.
constexpr size_t kMaxTrackBytes = size_t{16} << 20;

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

bool readSmallFile(const std::string& path, std::string& text, size_t limit)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    text.clear();
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 || text.size() + static_cast<size_t>(got) > limit) {
            ok = got >= 0 && text.size() + static_cast<size_t>(got) <= limit;
            break;
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    return ok;
}

bool writeFileWhole(const std::string& path, const std::string& text, unsigned mode)
{
    const std::string temporary = path + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        return false;
    }
    // The mode asked for, whatever the umask and an older file had.
    bool ok = fchmod(fd, mode) == 0;
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
        readSmallFile(trackPath, track, kMaxTrackBytes)) {
        writeFileWhole(base + ".vlt", track);
    }
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
        OutboxEntry entry{digest, path.string(), files.outbox() + "/" + path.stem().string() + ".vlt"};
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
}

void forgetHub(const HubFiles& files)
{
    std::error_code error;
    fs::remove(files.settings(), error);
    fs::remove_all(files.outbox(), error);
    fs::remove_all(files.records(), error);
}
