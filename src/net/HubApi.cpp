#include "net/HubApi.h"

#include "model/RunTime.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace {

using json = nlohmann::json;

// What each answer may weigh: a registration, a ranking or a refusal is one
// small object; the record's line of the times table a few hundred bytes; a
// replay is at most a megabyte on the hub; the table of tracks a few hundred
// bytes a track.
constexpr size_t kMaxSmallReply = size_t{4} << 10;
constexpr size_t kMaxTimesReply = size_t{16} << 10;
constexpr size_t kMaxReplayReply = size_t{2} << 20;
constexpr size_t kMaxTrackTable = size_t{2} << 20;
// The track list's pages: the hub's largest, and how many are read.
constexpr size_t kTrackPageSize = 100;
constexpr int kMaxTrackPages = 100;
constexpr long kDefaultRetry = 30;
// No answer of the interface nests deeper than a list of objects in an
// object; anything deeper is refused before it is parsed, so that nonsense
// costs a scan of its bytes and no more.
constexpr int kMaxJsonDepth = 4;

json parseAnswer(const std::string& text)
{
    if (!jsonDepthWithin(text, kMaxJsonDepth)) {
        return json(json::value_t::discarded);
    }
    return json::parse(text, nullptr, false);
}

json parseObject(const std::string& text)
{
    json value = parseAnswer(text);
    return value.is_object() ? value : json();
}

bool intField(const json& object, const char* key, int32_t& out)
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

std::string stringField(const json& object, const char* key)
{
    if (object.is_object() && object.contains(key) && object[key].is_string()) {
        return object[key].get<std::string>();
    }
    return {};
}

// The reason of a refusal: its "error", or the status when it has none.
std::string refusalReason(const HttpReply& reply)
{
    const std::string error = printableText(stringField(parseObject(reply.body), "error"));
    return error.empty() ? "hub answered " + std::to_string(reply.status) : error;
}

std::vector<std::string> accountHeaders(const HubAccount& account)
{
    return {"X-Velto-Player: " + account.name, "X-Velto-Token: " + account.token};
}

// What a reply that is not a success means: the outcomes every request
// shares. `notFound` is what 404 means for this request.
HubOutcome failureOutcome(const HttpReply& reply, HubOutcome notFound, long& retryAfter, std::string& message)
{
    switch (reply.outcome) {
    case HttpReply::Outcome::Cancelled:
        return HubOutcome::Cancelled;
    case HttpReply::Outcome::TimedOut:
        return HubOutcome::TimedOut;
    case HttpReply::Outcome::TooLarge:
        return HubOutcome::Garbage;
    case HttpReply::Outcome::Unreachable:
        message = reply.error;
        return HubOutcome::Unreachable;
    case HttpReply::Outcome::Answered:
        break;
    }
    const long status = reply.status;
    if (status == 429 || status == 503) {
        retryAfter = reply.retryAfter >= 0 ? reply.retryAfter : kDefaultRetry;
        return HubOutcome::Busy;
    }
    if (status == 403) {
        return HubOutcome::TokenRefused;
    }
    if (status == 404) {
        message = refusalReason(reply);
        return notFound;
    }
    if (status >= 400 && status < 500) {
        message = refusalReason(reply);
        return HubOutcome::Refused;
    }
    // A failing or confused hub (5xx, redirects, ...): later may be better.
    message = "hub answered " + std::to_string(status);
    return HubOutcome::Failed;
}

HttpRequest get(const std::string& url, size_t maxReply)
{
    HttpRequest request;
    request.url = url;
    request.maxReply = maxReply;
    return request;
}

} // namespace

bool jsonDepthWithin(const std::string& text, int maxDepth)
{
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth) {
                return false;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

bool normaliseHubUrl(const std::string& text, std::string& url, std::string& why)
{
    std::string value = text;
    while (!value.empty() && value.back() == '/') {
        value.pop_back();
    }
    for (const char* scheme : {"http://", "https://"}) {
        const std::string prefix = scheme;
        if (value.compare(0, prefix.size(), prefix) == 0 && value.size() > prefix.size()) {
            for (const char c : value) {
                if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 127) {
                    why = "the hub's URL holds a blank or a character that is not ASCII";
                    return false;
                }
            }
            url = value;
            return true;
        }
    }
    why = "the hub's URL must begin with http:// or https://";
    return false;
}

std::string playerNameProblem(const std::string& name)
{
    if (name.empty() || name.size() > 24) {
        return "a name has 1 to 24 characters";
    }
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
                        c == '-' || c == '_';
        if (!ok) {
            return "a name has only letters, digits, space, - and _";
        }
    }
    // HTTP drops blanks at either end of the header that carries the name,
    // so such a name could never be used; two in a row read as one.
    if (name.front() == ' ' || name.back() == ' ') {
        return "a name may not begin or end with a space";
    }
    if (name.find("  ") != std::string::npos) {
        return "a name may not hold two spaces in a row";
    }
    return {};
}

bool validPlayerName(const std::string& name)
{
    return playerNameProblem(name).empty();
}

std::string ordinal(int32_t n)
{
    const int32_t tens = n % 100;
    const char* suffix = "th";
    if (tens < 11 || tens > 13) {
        switch (n % 10) {
        case 1: suffix = "st"; break;
        case 2: suffix = "nd"; break;
        case 3: suffix = "rd"; break;
        default: break;
        }
    }
    return std::to_string(n) + suffix;
}

std::string printableText(const std::string& text, size_t limit)
{
    std::string out;
    for (const char c : text) {
        if (out.size() >= limit) {
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        out += u >= 32 && u < 127 ? c : '?';
    }
    return out;
}

bool parseDigestHex(const std::string& text, uint64_t& digest)
{
    if (text.size() != 16) {
        return false;
    }
    uint64_t value = 0;
    for (const char c : text) {
        const int d = c >= '0' && c <= '9' ? c - '0' : (c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1);
        if (d < 0) {
            return false;
        }
        value = value * 16 + static_cast<uint64_t>(d);
    }
    digest = value;
    return true;
}

std::string digestHex(uint64_t digest)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(digest));
    return text;
}

RegisterResult registerPlayer(const std::string& url, const std::string& name, const HubTimeouts& timeouts)
{
    RegisterResult result;
    HttpRequest request;
    request.method = "POST";
    request.url = url + "/api/players";
    request.headers = {"Content-Type: application/json"};
    request.body = json{{"name", name}}.dump();
    request.maxReply = kMaxSmallReply;
    const HttpReply reply = httpExchange(request, timeouts);
    if (reply.outcome != HttpReply::Outcome::Answered) {
        result.message = reply.outcome == HttpReply::Outcome::TimedOut ? "the hub did not answer in time"
                                                                       : "the hub cannot be reached (" + reply.error + ")";
        return result;
    }
    if (reply.status == 201) {
        result.token = stringField(parseObject(reply.body), "token");
        // A token goes into an HTTP header: printable ASCII without blanks.
        const bool usable = !result.token.empty() && result.token.size() <= 512 &&
                            printableText(result.token, 512) == result.token &&
                            result.token.find(' ') == std::string::npos;
        result.ok = usable;
        if (!usable) {
            result.token.clear();
            result.message = "the hub answered without a usable token";
        }
        return result;
    }
    if (reply.status == 409) {
        result.message = "the name is taken on this hub";
    } else if (reply.status == 429 || reply.status == 503) {
        result.message = "the hub is busy; try again in " +
                         std::to_string(std::max(reply.retryAfter, kDefaultRetry)) + " s";
    } else {
        result.message = "the hub refused: " + refusalReason(reply);
    }
    return result;
}

SubmitResult submitRun(const HubAccount& account, const std::string& replayText, uint64_t digest,
                       const std::string& trackFile, const std::string& trackName, const HubTimeouts& timeouts,
                       const std::atomic<bool>* cancel)
{
    SubmitResult result;
    HttpRequest run;
    run.method = "POST";
    run.url = account.url + "/api/runs";
    run.headers = accountHeaders(account);
    run.headers.push_back("Content-Type: text/plain");
    run.body = replayText;
    run.maxReply = kMaxSmallReply;

    HttpReply reply = httpExchange(run, timeouts, cancel);
    if (reply.outcome == HttpReply::Outcome::Answered && reply.status == 404 && !trackFile.empty()) {
        // The hub does not hold the track yet: it goes first, then the run.
        HttpRequest track;
        track.method = "POST";
        track.url = account.url + "/api/tracks";
        track.headers = accountHeaders(account);
        track.headers.push_back("X-Velto-Name: " + printableText(trackName, 255));
        track.headers.push_back("Content-Type: application/octet-stream");
        track.body = trackFile;
        track.maxReply = kMaxSmallReply;
        const HttpReply stored = httpExchange(track, timeouts, cancel);
        if (stored.outcome != HttpReply::Outcome::Answered || (stored.status != 200 && stored.status != 201)) {
            result.outcome = failureOutcome(stored, HubOutcome::Refused, result.retryAfter, result.message);
            if (result.outcome == HubOutcome::Refused) {
                result.message = "track " + result.message;
            }
            return result;
        }
        reply = httpExchange(run, timeouts, cancel);
    }
    if (reply.outcome != HttpReply::Outcome::Answered || (reply.status != 200 && reply.status != 201)) {
        result.outcome = failureOutcome(reply, HubOutcome::Refused, result.retryAfter, result.message);
        return result;
    }
    const json answer = parseObject(reply.body);
    if (!intField(answer, "rank", result.rank) || !intField(answer, "of", result.of) ||
        !intField(answer, "steps", result.steps) || result.rank < 1 || result.of < result.rank) {
        result.outcome = HubOutcome::Garbage;
        return result;
    }
    result.outcome = HubOutcome::Done;
    const RecordTop top = fetchRecordTop(account, digest, timeouts, cancel);
    if (top.outcome == HubOutcome::Done) {
        result.recordKnown = true;
        result.recordSteps = top.steps;
        result.recordHolder = top.holder;
    }
    return result;
}

RecordTop fetchRecordTop(const HubAccount& account, uint64_t digest, const HubTimeouts& timeouts,
                         const std::atomic<bool>* cancel)
{
    RecordTop top;
    const HttpReply reply =
        httpExchange(get(account.url + "/api/tracks/" + digestHex(digest) + "/times?limit=1", kMaxTimesReply),
                     timeouts, cancel);
    if (reply.outcome != HttpReply::Outcome::Answered || reply.status != 200) {
        top.outcome = failureOutcome(reply, HubOutcome::NoRecord, top.retryAfter, top.message);
        return top;
    }
    // A list of runs, best first; or an object that holds it as "times".
    json value = parseAnswer(reply.body);
    if (value.is_object() && value.contains("times")) {
        value = value["times"];
    }
    if (!value.is_array()) {
        top.outcome = HubOutcome::Garbage;
        return top;
    }
    if (value.empty()) {
        top.outcome = HubOutcome::NoRecord;
        return top;
    }
    const json& first = value[0];
    top.holder = printableText(stringField(first, "player"), 24);
    if (!intField(first, "steps", top.steps) || top.steps < 1 || top.holder.empty()) {
        top.outcome = HubOutcome::Garbage;
        return top;
    }
    top.outcome = HubOutcome::Done;
    return top;
}

RecordReplay fetchRunReplay(const HubAccount& account, uint64_t digest, int32_t rank, const HubTimeouts& timeouts,
                            const std::atomic<bool>* cancel)
{
    RecordReplay record;
    const HttpReply reply = httpExchange(
        get(account.url + "/api/tracks/" + digestHex(digest) + "/runs/" + std::to_string(rank) + ".replay",
            kMaxReplayReply),
        timeouts, cancel);
    if (reply.outcome != HttpReply::Outcome::Answered || reply.status != 200) {
        record.outcome = failureOutcome(reply, HubOutcome::NoRecord, record.retryAfter, record.message);
        return record;
    }
    record.outcome = HubOutcome::Done;
    record.text = reply.body;
    return record;
}

TrackRecords fetchTrackRecords(const HubAccount& account, const HubTimeouts& timeouts,
                               const std::atomic<bool>* cancel)
{
    TrackRecords table;
    // The hub gives its list a page at a time, oldest tracks first: pages
    // are asked for until one is not full, up to a bound. A hub that gives
    // the whole list at once gives more than a page and is read once.
    for (int page = 1; page <= kMaxTrackPages; ++page) {
        const HttpReply reply =
            httpExchange(get(account.url + "/api/tracks?page=" + std::to_string(page) + "&limit=" +
                                 std::to_string(kTrackPageSize),
                             kMaxTrackTable),
                         timeouts, cancel);
        if (reply.outcome != HttpReply::Outcome::Answered || reply.status != 200) {
            table.outcome = failureOutcome(reply, HubOutcome::Garbage, table.retryAfter, table.message);
            return table;
        }
        const json value = parseAnswer(reply.body);
        if (!value.is_array()) {
            table.outcome = HubOutcome::Garbage;
            return table;
        }
        for (const json& track : value) {
            uint64_t digest = 0;
            const std::string hex = stringField(track, "digest");
            RecordTop top;
            top.holder = printableText(stringField(track, "record_holder"), 24);
            if (!parseDigestHex(hex, digest) || !intField(track, "record_steps", top.steps) || top.steps < 1 ||
                top.holder.empty()) {
                continue;   // no record yet, or an entry we cannot use
            }
            top.outcome = HubOutcome::Done;
            table.records[digest] = top;
        }
        if (value.size() != kTrackPageSize) {
            break;
        }
    }
    table.outcome = HubOutcome::Done;
    return table;
}

std::string submitLine(const SubmitResult& result)
{
    switch (result.outcome) {
    case HubOutcome::Done: {
        std::string line = "World: " + ordinal(result.rank) + " of " + std::to_string(result.of);
        if (result.recordKnown) {
            line += " \x97 record " + formatRunTime(runTimeOfSteps(result.recordSteps)) + " by " + result.recordHolder;
        }
        return line;
    }
    case HubOutcome::Refused:
    case HubOutcome::NoRecord:
        return "run refused: " + result.message;
    case HubOutcome::TokenRefused:
        return "hub refused our token: register again";
    case HubOutcome::Busy:
        return "hub busy, will retry in " + std::to_string(result.retryAfter) + " s";
    case HubOutcome::TimedOut:
        return "hub did not answer in time, will retry";
    case HubOutcome::Garbage:
        return "hub answered nonsense, will retry";
    case HubOutcome::Failed:
        return result.message + ", will retry";
    case HubOutcome::Unreachable:
    case HubOutcome::Cancelled:
        break;
    }
    return "hub unreachable, will retry";
}

std::string recordProblemLine(HubOutcome outcome, long retryAfter, const std::string& message)
{
    switch (outcome) {
    case HubOutcome::NoRecord:
        return "No record yet";
    case HubOutcome::Refused:
        return "record refused: " + message;
    case HubOutcome::TokenRefused:
        return "hub refused our token: register again";
    case HubOutcome::Busy:
        return "hub busy, try W again in " + std::to_string(retryAfter) + " s";
    case HubOutcome::TimedOut:
        return "hub did not answer in time";
    case HubOutcome::Garbage:
        return "hub answered nonsense";
    case HubOutcome::Failed:
        return message;
    case HubOutcome::Done:
    case HubOutcome::Unreachable:
    case HubOutcome::Cancelled:
        break;
    }
    return "hub unreachable";
}
