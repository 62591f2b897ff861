#include "net/HubTracks.h"

#include "model/Replay.h"
#include "model/RunTime.h"
#include "model/TrackFile.h"
#include "net/HubStore.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using json = nlohmann::json;

// A page of the list is at most 100 tracks of a few hundred bytes; an
// outline holds at most 200,000 points of two numbers; a times table of
// 1,000 entries about 100 bytes each.
constexpr size_t kMaxPageReply = size_t{1} << 20;
constexpr size_t kMaxOutlineReply = size_t{8} << 20;
constexpr size_t kMaxTimesTable = size_t{256} << 10;
constexpr size_t kMaxSmallAnswer = size_t{4} << 10;
constexpr int kMaxDepth = 4;
constexpr long kBusyWait = 30;

json parseJson(const std::string& text)
{
    if (!jsonDepthWithin(text, kMaxDepth)) {
        return json(json::value_t::discarded);
    }
    return json::parse(text, nullptr, false);
}

bool intOf(const json& object, const char* key, int32_t& out)
{
    if (!object.is_object() || !object.contains(key) || !object[key].is_number_integer()) {
        return false;
    }
    const auto value = object[key].get<int64_t>();
    if (value < 0 || value > INT32_MAX) {
        return false;
    }
    out = static_cast<int32_t>(value);
    return true;
}

std::string textOf(const json& object, const char* key, size_t limit)
{
    if (object.is_object() && object.contains(key) && object[key].is_string()) {
        return printableText(object[key].get<std::string>(), limit);
    }
    return {};
}

std::vector<std::string> playerHeaders(const HubAccount& account)
{
    return {"X-Velto-Player: " + account.name, "X-Velto-Token: " + account.token};
}

// Why an exchange that did not succeed failed, for the player.
std::string failureLine(const HttpReply& reply)
{
    switch (reply.outcome) {
    case HttpReply::Outcome::Cancelled:
        return "cancelled";
    case HttpReply::Outcome::TimedOut:
        return "the hub did not answer in time";
    case HttpReply::Outcome::TooLarge:
        return "the hub answered nonsense";
    case HttpReply::Outcome::Unreachable:
        return "the hub cannot be reached";
    case HttpReply::Outcome::Answered:
        break;
    }
    if (reply.status == 429 || reply.status == 503) {
        return "the hub is busy; try again in " + std::to_string(reply.retryAfter >= 0 ? reply.retryAfter : kBusyWait) +
               " s";
    }
    if (reply.status == 403) {
        return "the hub refused our token: register again";
    }
    const json answer = parseJson(reply.body);
    const std::string error = textOf(answer, "error", 80);
    return error.empty() ? "the hub answered " + std::to_string(reply.status) : error;
}

HubOutcome outcomeOf(const HttpReply& reply)
{
    switch (reply.outcome) {
    case HttpReply::Outcome::Cancelled:
        return HubOutcome::Cancelled;
    case HttpReply::Outcome::TimedOut:
        return HubOutcome::TimedOut;
    case HttpReply::Outcome::TooLarge:
        return HubOutcome::Garbage;
    case HttpReply::Outcome::Unreachable:
        return HubOutcome::Unreachable;
    case HttpReply::Outcome::Answered:
        break;
    }
    if (reply.status == 429 || reply.status == 503) {
        return HubOutcome::Busy;
    }
    if (reply.status == 403) {
        return HubOutcome::TokenRefused;
    }
    return reply.status >= 400 && reply.status < 500 ? HubOutcome::Refused : HubOutcome::Failed;
}

// Seconds since 1970 of "YYYY-MM-DDTHH:MM:SSZ"; -1 for anything else.
int64_t isoSeconds(const std::string& text)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char z = 0;
    if (text.size() != 20 || std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &z) != 7 ||
        z != 'Z' || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || y < 1970) {
        return -1;
    }
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return static_cast<int64_t>(timegm(&tm));
}

HttpRequest getRequest(const std::string& url, size_t maxReply)
{
    HttpRequest request;
    request.url = url;
    request.maxReply = maxReply;
    return request;
}

std::string escapeQuery(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
            out += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", u);
            out += hex;
        }
    }
    return out;
}

} // namespace

const char* hubSortKey(HubSort sort)
{
    switch (sort) {
    case HubSort::Newest: return "newest";
    case HubSort::Finishers: return "finishers";
    case HubSort::Likes: return "likes";
    case HubSort::Hardest: return "hardest";
    case HubSort::Author: return "author";
    }
    return "newest";
}

const char* hubSortName(HubSort sort)
{
    switch (sort) {
    case HubSort::Newest: return "newest";
    case HubSort::Finishers: return "most finishers";
    case HubSort::Likes: return "most liked";
    case HubSort::Hardest: return "hardest";
    case HubSort::Author: return "by author";
    }
    return "newest";
}

HubTrackPage fetchTrackPage(const HubAccount& account, HubSort sort, const std::string& unfinishedBy, int32_t page,
                            const HubTimeouts& timeouts, const std::atomic<bool>* cancel)
{
    HubTrackPage result;
    std::string url = account.url + "/api/tracks?sort=" + hubSortKey(sort) + "&page=" +
                      std::to_string(std::max(page, 1)) + "&limit=" + std::to_string(kHubPageTracks);
    if (!unfinishedBy.empty()) {
        url += "&unfinished_by=" + escapeQuery(unfinishedBy);
    }
    HttpRequest request = getRequest(url, kMaxPageReply);
    request.headers = playerHeaders(account);
    const HttpReply reply = httpExchange(request, timeouts, cancel);
    if (reply.outcome != HttpReply::Outcome::Answered || reply.status != 200) {
        result.outcome = outcomeOf(reply);
        result.retryAfter = reply.retryAfter;
        result.message = failureLine(reply);
        return result;
    }
    const json list = parseJson(reply.body);
    if (!list.is_array() || list.size() > static_cast<size_t>(kHubPageTracks)) {
        result.outcome = HubOutcome::Garbage;
        result.message = "the hub answered nonsense";
        return result;
    }
    for (const json& item : list) {
        HubTrack track;
        if (!parseDigestHex(textOf(item, "digest", 16), track.digest)) {
            continue;
        }
        track.name = textOf(item, "name", 64);
        track.author = textOf(item, "author", 24);
        track.created = textOf(item, "created", 20);
        track.createdSeconds = isoSeconds(track.created);
        intOf(item, "finishers", track.finishers);
        intOf(item, "likes", track.likes);
        intOf(item, "downloads", track.downloads);
        if (!intOf(item, "record_steps", track.recordSteps) || track.recordSteps < 1) {
            track.recordSteps = -1;
        } else {
            track.recordHolder = textOf(item, "record_holder", 24);
        }
        if (!intOf(item, "par_steps", track.parSteps) || track.parSteps < 1 || track.parSteps > 360000) {
            track.parSteps = -1;
        }
        track.updated = item.contains("updated") && item["updated"].is_boolean() && item["updated"].get<bool>();
        if (track.name.empty()) {
            track.name = digestHex(track.digest);
        }
        result.tracks.push_back(std::move(track));
    }
    result.total = reply.totalCount >= 0 ? reply.totalCount : static_cast<int64_t>(result.tracks.size());
    result.outcome = HubOutcome::Done;
    return result;
}

bool trackDigestOfBytes(const std::string& bytes, uint64_t& digest)
{
    if (bytes.empty()) {
        return false;
    }
    std::FILE* file = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = trackDigestOf(file, digest);
    std::fclose(file);
    return ok;
}

HubErrand fetchHubTrackFile(const HubAccount& account, uint64_t digest, std::string& bytes,
                            const HubTimeouts& timeouts, const std::atomic<bool>* cancel)
{
    HubErrand result;
    HttpRequest request = getRequest(account.url + "/api/tracks/" + digestHex(digest), kMaxHubTrackBytes);
    request.headers = playerHeaders(account);
    HttpReply reply = httpExchange(request, timeouts, cancel);
    if (reply.outcome != HttpReply::Outcome::Answered || reply.status != 200) {
        result.line = "not downloaded: " + failureLine(reply);
        return result;
    }
    uint64_t got = 0;
    if (!trackDigestOfBytes(reply.body, got) || got != digest) {
        result.line = "not downloaded: the file the hub sent is not that track";
        return result;
    }
    bytes = std::move(reply.body);
    result.ok = true;
    return result;
}

std::string safeTrackFileName(const std::string& name)
{
    std::string stem = name;
    if (stem.size() >= 4 && stem.compare(stem.size() - 4, 4, ".vlt") == 0) {
        stem.resize(stem.size() - 4);
    }
    std::string out;
    for (const char c : stem) {
        if (out.size() >= 48) {
            break;
        }
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
        out += plain ? c : '-';
    }
    // Nothing hidden, nothing that walks up a folder.
    while (!out.empty() && (out.front() == '.' || out.front() == '-')) {
        out.erase(out.begin());
    }
    while (!out.empty() && out.back() == '.') {
        out.pop_back();
    }
    if (out.empty()) {
        out = "track";
    }
    return out + ".vlt";
}

std::string findTrackByDigest(const std::string& folder, uint64_t digest)
{
    std::error_code error;
    size_t looked = 0;
    for (fs::directory_iterator it(folder, error), end; !error && it != end && looked < 100000;
         it.increment(error), ++looked) {
        std::error_code kind;
        const std::string file = it->path().filename().string();
        if (it->path().extension() != ".vlt" || file.front() == '.' || !it->is_regular_file(kind)) {
            continue;
        }
        uint64_t found = 0;
        if (trackDigest(it->path().string(), found) && found == digest) {
            return it->path().string();
        }
    }
    return {};
}

HubErrand keepDownloadedTrack(const std::string& bytes, uint64_t digest, const std::string& name,
                              const std::string& folder, std::string& path)
{
    HubErrand result;
    std::error_code error;
    fs::create_directories(folder, error);
    // Hidden and not a ".vlt": no list takes the scratch file for a track.
    const std::string scratch = folder + "/.download-" + std::to_string(getpid()) + ".part";
    if (!writeFileWhole(scratch, bytes)) {
        result.line = "not downloaded: " + folder + " cannot be written";
        return result;
    }
    // The game's own reader has the last word, and the digest of what is
    // on disk must be the one the hub listed.
    TrackContents contents;
    uint64_t onDisk = 0;
    const bool readable = contents.load(scratch);
    if (!readable || !trackDigest(scratch, onDisk) || onDisk != digest) {
        fs::remove(scratch, error);
        result.line = readable ? "not downloaded: the file the hub sent is not that track"
                               : "not downloaded: the file the hub sent is not a track the game can read";
        return result;
    }
    const std::string already = findTrackByDigest(folder, digest);
    if (!already.empty()) {
        fs::remove(scratch, error);
        path = already;
        result.ok = true;
        return result;
    }
    const std::string file = safeTrackFileName(name);
    const std::string stem = file.substr(0, file.size() - 4);
    for (int n = 1; n <= 1000; ++n) {
        const std::string candidate = folder + "/" + (n == 1 ? stem : stem + "-" + std::to_string(n)) + ".vlt";
        // link() never replaces a file that stands there already.
        if (link(scratch.c_str(), candidate.c_str()) == 0) {
            fs::remove(scratch, error);
            path = candidate;
            result.ok = true;
            return result;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    fs::remove(scratch, error);
    result.line = "not downloaded: no free file name in " + folder;
    return result;
}

namespace {

// The numbers of an attribute's value, read one after another.
class NumberReader {
public:
    NumberReader(const std::string& text, size_t from, size_t to) : text_(text), at_(from), end_(to) {}
    // The next command letter (M, L, Z) or 0 before a number; -1 at the end.
    int next()
    {
        while (at_ < end_ && (text_[at_] == ' ' || text_[at_] == ',')) {
            ++at_;
        }
        if (at_ >= end_) {
            return -1;
        }
        const char c = text_[at_];
        if (c == 'M' || c == 'L' || c == 'Z') {
            ++at_;
            return c;
        }
        return 0;
    }
    bool number(double& value)
    {
        while (at_ < end_ && (text_[at_] == ' ' || text_[at_] == ',')) {
            ++at_;
        }
        const size_t start = at_;
        while (at_ < end_ && at_ - start < 40 &&
               ((text_[at_] >= '0' && text_[at_] <= '9') || text_[at_] == '-' || text_[at_] == '.' ||
                text_[at_] == 'e' || text_[at_] == '+')) {
            ++at_;
        }
        if (at_ == start) {
            return false;
        }
        const std::string token = text_.substr(start, at_ - start);
        char* stop = nullptr;
        value = std::strtod(token.c_str(), &stop);
        return stop == token.c_str() + token.size() && std::isfinite(value) && std::fabs(value) < 1e9;
    }

private:
    const std::string& text_;
    size_t at_;
    size_t end_;
};

// The number in attribute `name` ("cx") of the element starting at `from`.
bool attributeNumber(const std::string& svg, size_t from, size_t to, const std::string& name, double& value)
{
    const size_t at = svg.find(" " + name + "=\"", from);
    if (at == std::string::npos || at >= to) {
        return false;
    }
    const size_t start = at + name.size() + 3;
    const size_t end = svg.find('"', start);
    if (end == std::string::npos || end > to) {
        return false;
    }
    NumberReader reader(svg, start, end);
    return reader.number(value);
}

} // namespace

bool parseOutlineSvg(const std::string& svg, HubOutline& outline)
{
    HubOutline read;
    if (svg.compare(0, 4, "<svg") != 0) {
        return false;
    }
    const size_t ground = svg.find("<path class=\"ground\"");
    if (ground == std::string::npos) {
        return false;
    }
    const size_t d = svg.find(" d=\"", ground);
    const size_t end = d == std::string::npos ? std::string::npos : svg.find('"', d + 4);
    if (end == std::string::npos) {
        return false;
    }
    NumberReader reader(svg, d + 4, end);
    size_t points = 0;
    for (int command = reader.next(); command != -1; command = reader.next()) {
        if (command == 'Z') {
            continue;
        }
        if (command == 'M') {
            read.polygons.emplace_back();
        } else if (command != 'L' || read.polygons.empty()) {
            return false;
        }
        double x = 0.0;
        double y = 0.0;
        if (!reader.number(x) || !reader.number(y) || ++points > kMaxOutlinePoints) {
            return false;
        }
        read.polygons.back().emplace_back(x, -y);
    }
    // The marks: apples, then the start and the finish.
    bool start = false;
    bool finish = false;
    for (size_t at = svg.find("<circle class=\"", end); at != std::string::npos && read.apples.size() < 10000;
         at = svg.find("<circle class=\"", at + 1)) {
        const size_t close = svg.find('>', at);
        if (close == std::string::npos) {
            return false;
        }
        double x = 0.0;
        double y = 0.0;
        if (!attributeNumber(svg, at, close, "cx", x) || !attributeNumber(svg, at, close, "cy", y)) {
            return false;
        }
        const std::string kind = svg.substr(at + 15, 6);
        if (kind == "apple\"") {
            read.apples.emplace_back(x, -y);
        } else if (kind == "start\"") {
            read.start = {x, -y};
            start = true;
        } else if (kind.compare(0, 6, "finish") == 0) {
            read.finish = {x, -y};
            finish = true;
        }
    }
    if (!start || !finish) {
        return false;
    }
    outline = std::move(read);
    return true;
}

bool fetchOutline(const HubAccount& account, uint64_t digest, HubOutline& outline, const HubTimeouts& timeouts,
                  const std::atomic<bool>* cancel)
{
    const HttpReply reply = httpExchange(
        getRequest(account.url + "/tracks/" + digestHex(digest) + "/outline.svg", kMaxOutlineReply), timeouts, cancel);
    return reply.outcome == HttpReply::Outcome::Answered && reply.status == 200 && parseOutlineSvg(reply.body, outline);
}

int32_t fetchOwnRank(const HubAccount& account, uint64_t digest, const HubTimeouts& timeouts,
                     const std::atomic<bool>* cancel)
{
    const HttpReply reply = httpExchange(
        getRequest(account.url + "/api/tracks/" + digestHex(digest) + "/times?limit=1000", kMaxTimesTable), timeouts,
        cancel);
    if (reply.outcome != HttpReply::Outcome::Answered || reply.status != 200) {
        return 0;
    }
    const json list = parseJson(reply.body);
    if (!list.is_array()) {
        return 0;
    }
    for (const json& entry : list) {
        int32_t rank = 0;
        if (textOf(entry, "player", 24) == account.name && intOf(entry, "rank", rank) && rank > 0) {
            return rank;
        }
    }
    return 0;
}

HubErrand likeHubTrack(const HubAccount& account, uint64_t digest, bool like, const HubTimeouts& timeouts,
                       const std::atomic<bool>* cancel)
{
    HubErrand result;
    HttpRequest request;
    request.method = like ? "POST" : "DELETE";
    request.url = account.url + "/api/tracks/" + digestHex(digest) + "/like";
    request.headers = playerHeaders(account);
    request.maxReply = kMaxSmallAnswer;
    const HttpReply reply = httpExchange(request, timeouts, cancel);
    if (reply.outcome != HttpReply::Outcome::Answered || reply.status != 200) {
        result.line = (like ? "not liked: " : "like not taken back: ") + failureLine(reply);
        return result;
    }
    int32_t likes = 0;
    const json answer = parseJson(reply.body);
    if (!intOf(answer, "likes", likes)) {
        result.line = "the hub answered nonsense";
        return result;
    }
    result.ok = true;
    const std::string count = std::to_string(likes) + (likes == 1 ? " like" : " likes");
    result.line = (like ? "You like this track (" : "Like taken back (") + count + ")   L - " +
                  (like ? "take it back" : "like");
    return result;
}

const std::vector<std::string>& reportReasons()
{
    static const std::vector<std::string> reasons = {"broken", "offensive", "copy of another track"};
    return reasons;
}

HubErrand reportHubTrack(const HubAccount& account, uint64_t digest, const std::string& reason,
                         const HubTimeouts& timeouts, const std::atomic<bool>* cancel)
{
    HubErrand result;
    HttpRequest request;
    request.method = "POST";
    request.url = account.url + "/api/tracks/" + digestHex(digest) + "/report";
    request.headers = playerHeaders(account);
    request.headers.push_back("Content-Type: application/json");
    request.body = json{{"reason", reason}}.dump();
    request.maxReply = kMaxSmallAnswer;
    const HttpReply reply = httpExchange(request, timeouts, cancel);
    if (reply.outcome == HttpReply::Outcome::Answered && (reply.status == 201 || reply.status == 200)) {
        result.ok = true;
        result.line = "Reported as " + reason + ": thank you";
        return result;
    }
    result.line = "not reported: " + failureLine(reply);
    return result;
}

HubErrand publishHubTrack(const HubAccount& account, const std::string& trackBytes, const std::string& fileName,
                          const std::string& replayText, uint64_t updateOf, const HubTimeouts& timeouts,
                          const std::atomic<bool>* cancel)
{
    HubErrand result;
    uint64_t digest = 0;
    if (!trackDigestOfBytes(trackBytes, digest)) {
        result.line = "Not published: the track cannot be read";
        return result;
    }
    HttpRequest track;
    track.method = "POST";
    track.url = account.url + "/api/tracks";
    track.headers = playerHeaders(account);
    track.headers.push_back("X-Velto-Name: " + printableText(fileName, 64));
    track.headers.push_back("Content-Type: application/octet-stream");
    // The same bytes again are no new version: the hub holds them already.
    if (updateOf != 0 && updateOf != digest) {
        track.headers.push_back("X-Velto-Update-Of: " + digestHex(updateOf));
    }
    track.body = trackBytes;
    track.maxReply = kMaxSmallAnswer;
    const HttpReply stored = httpExchange(track, timeouts, cancel);
    if (stored.outcome != HttpReply::Outcome::Answered || (stored.status != 200 && stored.status != 201)) {
        result.line = "Not published: " + failureLine(stored);
        return result;
    }
    HttpRequest run;
    run.method = "POST";
    run.url = account.url + "/api/runs";
    run.headers = playerHeaders(account);
    run.headers.push_back("Content-Type: text/plain");
    run.body = replayText;
    run.maxReply = kMaxSmallAnswer;
    const HttpReply ranked = httpExchange(run, timeouts, cancel);
    if (ranked.outcome != HttpReply::Outcome::Answered || (ranked.status != 200 && ranked.status != 201)) {
        result.line = "Not published: your run was refused: " + failureLine(ranked);
        return result;
    }
    int32_t steps = 0;
    intOf(parseJson(ranked.body), "steps", steps);
    result.ok = true;
    result.line = "Published: " + printableText(fileName, 64);
    if (steps > 0) {
        // The par is the author's time rounded up to a whole second.
        const int32_t par = (steps + 99) / 100 * 100;
        result.line += "   par " + formatRunTime(runTimeOfSteps(par));
    }
    if (updateOf != 0 && updateOf != digest) {
        result.line += "   (an update)";
    }
    return result;
}
