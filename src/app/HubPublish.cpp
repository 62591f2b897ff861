#include "app/HubPublish.h"

#include "model/Replay.h"
#include "net/HubBrowse.h"
#include "net/HubService.h"
#include "net/HubTracks.h"

#include <filesystem>
#include <mutex>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::mutex lock;
std::string answer;   // under `lock`

constexpr size_t kMaxPublishedBytes = size_t{1} << 20;

std::string recordPath(const HubFiles& files)
{
    return files.folder.empty() ? std::string("hub-published.txt") : files.folder + "/hub-published.txt";
}

// One line a file: DIGEST URL PATH (the path last, so that it may hold
// blanks).
struct Entry {
    uint64_t digest = 0;
    std::string url;
    std::string path;
};

std::vector<Entry> readEntries(const HubFiles& files)
{
    std::vector<Entry> entries;
    std::string text;
    if (!readSmallFile(recordPath(files), text, kMaxPublishedBytes)) {
        return entries;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t first = line.find(' ');
        const size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        Entry entry;
        if (second == std::string::npos || !parseDigestHex(line.substr(0, first), entry.digest)) {
            continue;
        }
        entry.url = line.substr(first + 1, second - first - 1);
        entry.path = line.substr(second + 1);
        entries.push_back(entry);
    }
    return entries;
}

std::string absolute(const std::string& path)
{
    std::error_code error;
    const fs::path full = fs::absolute(path, error);
    return error ? path : full.lexically_normal().string();
}

} // namespace

uint64_t publishedDigest(const HubFiles& files, const std::string& url, const std::string& path)
{
    const std::string full = absolute(path);
    uint64_t digest = 0;
    for (const Entry& entry : readEntries(files)) {
        if (entry.url == url && entry.path == full) {
            digest = entry.digest;   // the last line wins
        }
    }
    return digest;
}

bool keepPublishedDigest(const HubFiles& files, const std::string& url, const std::string& path, uint64_t digest)
{
    const std::string full = absolute(path);
    if (full.find('\n') != std::string::npos) {
        return false;
    }
    std::vector<Entry> entries = readEntries(files);
    std::erase_if(entries, [&](const Entry& e) { return e.url == url && e.path == full; });
    entries.push_back(Entry{digest, url, full});
    if (entries.size() > kMaxPublishedEntries) {
        entries.erase(entries.begin(), entries.end() - static_cast<long>(kMaxPublishedEntries));
    }
    std::string text;
    for (const Entry& e : entries) {
        text += digestHex(e.digest) + " " + e.url + " " + e.path + "\n";
    }
    return writeFileWhole(recordPath(files), text);
}

TrackPublisher hubTrackPublisher()
{
    TrackPublisher publisher;
    publisher.ready = [](std::string& why) {
        HubAccount account;
        if (hubCurrentAccount(account)) {
            return true;
        }
        why = "join a hub first (H on the game's track list)";
        return false;
    };
    publisher.start = [](const std::string& path, const std::string& replayText) {
        HubAccount account;
        std::string bytes;
        uint64_t digest = 0;
        const std::string name = fs::path(path).filename().string();
        {
            std::lock_guard<std::mutex> guard(lock);
            answer = "Publishing " + name + "...";
        }
        if (!hubCurrentAccount(account) || !readSmallFile(path, bytes, kMaxHubTrackBytes) ||
            !trackDigest(path, digest)) {
            std::lock_guard<std::mutex> guard(lock);
            answer = "Not published: the track cannot be read";
            return;
        }
        const HubFiles files = hubHome();
        const uint64_t older = publishedDigest(files, account.url, path);
        browsePost([account, bytes, name, replayText, older, files, path, digest](const std::atomic<bool>* cancel) {
            const HubErrand got = publishHubTrack(account, bytes, name, replayText, older, HubTimeouts{}, cancel);
            if (got.ok) {
                keepPublishedDigest(files, account.url, path, digest);
            }
            std::lock_guard<std::mutex> guard(lock);
            answer = got.line;
        });
    };
    publisher.line = [] {
        std::lock_guard<std::mutex> guard(lock);
        return answer;
    };
    return publisher;
}
