#include "Api.h"

#include "CacheFile.h"
#include "Metrics.h"
#include "Pages.h"
#include "Token.h"
#include "TrackShape.h"

#include "model/Replay.h"
#include "model/RunTime.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include <unistd.h>

namespace hub {
namespace {

using json = nlohmann::json;

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

HttpResponse jsonResponse(int status, const json& body)
{
    HttpResponse r;
    r.status = status;
    // ASCII only, and a byte that is not UTF-8 is replaced, never copied
    // or thrown over.
    r.body = body.dump(-1, ' ', true, json::error_handler_t::replace);
    return r;
}

bool isDigest(const std::string& s)
{
    if (s.size() != 16) {
        return false;
    }
    for (char c : s) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

// 1 to 24 letters, digits, spaces, '-' and '_'.
bool validPlayerName(const std::string& name)
{
    if (name.empty() || name.size() > 24) {
        return false;
    }
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
                        c == '-' || c == '_';
        if (!ok) {
            return false;
        }
    }
    return true;
}

// What keeps `name` from being registered, or "": a name is also sent in an
// HTTP header, where blanks at either end are dropped, so such a name could
// never be used; two blanks in a row read as one.
std::string newPlayerNameProblem(const std::string& name)
{
    if (!validPlayerName(name)) {
        return "a name has 1 to 24 letters, digits, spaces, '-' or '_'";
    }
    if (name.front() == ' ' || name.back() == ' ') {
        return "a name may not begin or end with a space";
    }
    if (name.find("  ") != std::string::npos) {
        return "a name may not hold two spaces in a row";
    }
    if (nameKey(name) == nameKey(kPackAuthor)) {
        return "the name is reserved for the game's own tracks";
    }
    return {};
}

}  // namespace

// A track's file name as it travels: no folders, nothing hidden, 1 to 64
// letters, digits, spaces, '.', '-' and '_'.
bool validTrackName(const std::string& name)
{
    if (name.empty() || name.size() > 64 || name[0] == '.') {
        return false;
    }
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
                        c == '-' || c == '_' || c == '.';
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::string hexDigest(uint64_t digest)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(digest));
    return text;
}

namespace {

std::string timeText(int32_t steps)
{
    return formatRunTime(runTimeOfSteps(steps));
}

// Decodes %XX and '+' in a path segment or query value.
std::string unescapeUrl(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else if (s[i] == '+') {
            out.push_back(' ');
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::string queryValue(const std::string& query, const std::string& key)
{
    size_t pos = 0;
    while (pos <= query.size()) {
        size_t end = query.find('&', pos);
        if (end == std::string::npos) {
            end = query.size();
        }
        const std::string pair = query.substr(pos, end - pos);
        const size_t eq = pair.find('=');
        if (pair.substr(0, eq) == key) {
            return eq == std::string::npos ? std::string() : unescapeUrl(pair.substr(eq + 1));
        }
        pos = end + 1;
    }
    return {};
}

bool parseCount(const std::string& s, int64_t& value)
{
    if (s.empty() || s.size() > 9) {
        return false;
    }
    value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return true;
}

std::vector<std::string> split(const std::string& path)
{
    std::vector<std::string> parts;
    size_t pos = 1;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos) {
            end = path.size();
        }
        parts.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return parts;
}

// A replay's track line: the name of the file it was ridden on, a plain
// file name of at most 255 bytes, without folders or control characters.
bool plainFileName(const std::string& name)
{
    if (name.empty() || name.size() > 255 || name == "." || name == ".." || !validUtf8(name)) {
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f || c == '/' || c == '\\') {
            return false;
        }
    }
    return true;
}

// page= and limit= of a list: false for anything but whole numbers from 1.
bool pageOf(const std::string& query, int64_t defaultLimit, int64_t maxLimit, int64_t& page, int64_t& limit)
{
    page = 1;
    limit = defaultLimit;
    const std::string pageText = queryValue(query, "page");
    const std::string limitText = queryValue(query, "limit");
    if ((!pageText.empty() && (!parseCount(pageText, page) || page < 1)) ||
        (!limitText.empty() && (!parseCount(limitText, limit) || limit < 1))) {
        return false;
    }
    limit = std::min(limit, maxLimit);
    return true;
}

constexpr int64_t kDayMs = int64_t{24} * 3600 * 1000;
constexpr size_t kMaxReportReason = 200;

// A refusal that says when to ask again: 429 for a limit, 503 when busy.
HttpResponse comeBackLater(int status, int retryAfter, const std::string& why)
{
    HttpResponse r = errorResponse(status, why);
    r.headers.emplace_back("Retry-After", std::to_string(retryAfter));
    return r;
}

HttpResponse limited(int retryAfter, const std::string& why)
{
    return comeBackLater(429, retryAfter, why);
}

}  // namespace

HttpResponse errorResponse(int status, const std::string& why)
{
    return jsonResponse(status, json{{"error", why}});
}

std::string isoDate(int64_t ms)
{
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

Api::Api(Store& store, Verifier& verifier, std::string databaseKind, ApiOptions options)
    : store_(store),
      verifier_(verifier),
      databaseKind_(std::move(databaseKind)),
      options_(std::move(options)),
      byAddress_(options_.addressRate, options_.addressBurst),
      byPlayer_(options_.playerRate, options_.playerBurst),
      registrations_(options_.registrationsPerHour / 3600.0, options_.registrationsPerHour),
      outlines_(options_.cacheDir, [this](const std::string& digest) { return cachedTrack(digest); })
{
}

size_t Api::bodyLimit(const std::string& method, const std::string& path)
{
    if (method == "POST" && path == "/api/tracks") {
        return kMaxTrackBytes;
    }
    if (method == "POST" && path == "/api/runs") {
        return kMaxReplayBody;
    }
    return 4096;
}

HttpResponse Api::refusal(int status, const std::string& why)
{
    return errorResponse(status, why);
}

std::optional<HttpResponse> Api::admit(HttpRequest& request)
{
    if (options_.behindProxy) {
        const std::string* forwarded = request.header("x-forwarded-for");
        if (forwarded != nullptr && !forwarded->empty()) {
            const size_t comma = forwarded->rfind(',');
            std::string last = comma == std::string::npos ? *forwarded : forwarded->substr(comma + 1);
            last.erase(0, last.find_first_not_of(' '));
            last.erase(last.find_last_not_of(' ') + 1);
            request.remote = addressKey(last);
        }
    }
    bool utf8 = validUtf8(request.path) && validUtf8(request.query);
    for (const auto& [name, value] : request.headers) {
        utf8 = utf8 && validUtf8(name) && validUtf8(value);
    }
    if (!utf8) {
        return errorResponse(400, "the request holds bytes that are not UTF-8");
    }
    try {
        if (const int wait = byAddress_.take(request.remote)) {
            return limited(wait, "too many requests from this address");
        }
        // An upload's player is checked before its body is read.
        if (request.method == "POST" && (request.path == "/api/tracks" || request.path == "/api/runs")) {
            PlayerRecord player;
            HttpResponse refused;
            if (!authenticate(request, player, refused, true)) {
                if (request.path == "/api/runs") {
                    refused_ += 1;
                }
                return refused;
            }
        }
    } catch (const DatabaseError& e) {
        std::fprintf(stderr, "velto-hub: %s\n", e.what());
        HttpResponse response = comeBackLater(503, options_.retryAfterBusy, "the database is not available");
        return response;
    }
    return std::nullopt;
}

std::string Api::routeName(const std::string& method, const std::string& path)
{
    const std::string verb =
        method == "GET" || method == "HEAD" || method == "POST" || method == "DELETE" ? method : "OTHER";
    const std::vector<std::string> parts = split(path);
    const size_t n = parts.size();
    std::string route = "other";
    if (n >= 1 && parts[0] == "api") {
        if (n == 2 && (parts[1] == "health" || parts[1] == "players" || parts[1] == "tracks" || parts[1] == "runs")) {
            route = "/api/" + parts[1];
        } else if (n == 3 && parts[1] == "tracks") {
            route = "/api/tracks/{digest}";
        } else if (n == 4 && parts[1] == "tracks" &&
                   (parts[3] == "times" || parts[3] == "report" || parts[3] == "like" || parts[3] == "versions")) {
            route = "/api/tracks/{digest}/" + parts[3];
        } else if (n == 5 && parts[1] == "tracks" && parts[3] == "runs") {
            route = "/api/tracks/{digest}/runs/{rank}.replay";
        }
    } else if (n == 2 && parts[0] == "web") {
        route = "/web/{file}";
    } else if (path == "/") {
        route = "/";
    } else if (n == 2 && parts[0] == "tracks") {
        route = "/tracks/{digest}";
    } else if (n == 3 && parts[0] == "tracks" && parts[2] == "outline.svg") {
        route = "/tracks/{digest}/outline.svg";
    } else if (n == 2 && parts[0] == "players") {
        route = "/players/{name}";
    }
    return verb + " " + route;
}

void Api::stop()
{
    outlines_.stop();
}

void Api::handle(HttpRequest&& request, Respond respond)
{
    bool answered = false;
    HttpResponse response;
    // A track's body is its file; every other body is text.
    if (!(request.method == "POST" && request.path == "/api/tracks") && !validUtf8(request.body)) {
        if (request.path == "/api/runs") {
            refused_ += 1;
        }
        respond(errorResponse(400, "the request holds bytes that are not UTF-8"));
        return;
    }
    try {
        response = route(request, respond, answered);
    } catch (const DatabaseError& e) {
        std::fprintf(stderr, "velto-hub: %s\n", e.what());
        response = comeBackLater(503, options_.retryAfterBusy, "the database is not available");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velto-hub: %s\n", e.what());
        response = errorResponse(500, "an internal error");
    }
    if (!answered) {
        respond(std::move(response));
    }
}

namespace {

// The methods a path answers to, "" when there is nothing there.
std::string allowedMethods(const std::vector<std::string>& parts)
{
    const size_t n = parts.size();
    if (n >= 1 && parts[0] == "api") {
        if (n == 2 && parts[1] == "health") {
            return "GET, HEAD";
        }
        if (n == 2 && (parts[1] == "players" || parts[1] == "runs")) {
            return "POST";
        }
        if (n == 2 && parts[1] == "tracks") {
            return "GET, HEAD, POST";
        }
        if (n == 4 && parts[1] == "tracks" && parts[3] == "report") {
            return "POST";
        }
        if (n == 4 && parts[1] == "tracks" && parts[3] == "like") {
            return "POST, DELETE";
        }
        if (n >= 3 && n <= 5 && parts[1] == "tracks" &&
            (n == 3 || (n == 4 && (parts[3] == "times" || parts[3] == "versions")) || (n == 5 && parts[3] == "runs"))) {
            return "GET, HEAD";
        }
        return {};
    }
    if ((n == 1 && parts[0].empty()) || (n == 2 && (parts[0] == "tracks" || parts[0] == "players" || parts[0] == "web")) ||
        (n == 3 && parts[0] == "tracks" && parts[2] == "outline.svg")) {
        return "GET, HEAD";
    }
    return {};
}

}  // namespace

HttpResponse Api::route(HttpRequest& request, Respond& respond, bool& answered)
{
    const std::vector<std::string> parts = split(request.path);
    const size_t n = parts.size();
    const bool api = n >= 1 && parts[0] == "api";
    const std::string allowed = allowedMethods(parts);
    if (allowed.empty()) {
        return api ? errorResponse(404, "no such resource") : pageNotFound();
    }
    // HEAD is answered as GET is, without the body.
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    if ((", " + allowed + ",").find(", " + method + ",") == std::string::npos) {
        HttpResponse r = errorResponse(405, "method not allowed");
        r.headers.emplace_back("Allow", allowed);
        return r;
    }
    const bool post = method == "POST";
    if (api) {
        if (parts[1] == "health") {
            return health();
        }
        if (parts[1] == "players") {
            return addPlayer(request);
        }
        if (parts[1] == "runs") {
            return submitRun(request, respond, answered);
        }
        if (n == 2) {
            return post ? addTrack(request, respond, answered) : listTracks(request.query);
        }
        if (n == 4 && parts[3] == "report") {
            return isDigest(parts[2]) ? reportTrack(request, parts[2]) : errorResponse(404, "no such track");
        }
        if (!isDigest(parts[2])) {
            return errorResponse(404, "no such track");
        }
        if (n == 3) {
            return trackFile(request, parts[2]);
        }
        if (n == 4 && parts[3] == "like") {
            return like(request, parts[2], post);
        }
        if (n == 4 && parts[3] == "versions") {
            return versions(parts[2]);
        }
        if (n == 4) {
            return times(parts[2], request.query);
        }
        if (parts[4].size() > 7 && parts[4].compare(parts[4].size() - 7, 7, ".replay") == 0) {
            return replay(parts[2], parts[4].substr(0, parts[4].size() - 7));
        }
        return errorResponse(404, "no such run");
    }
    if (n == 1) {
        return indexPage(request.query);
    }
    if (parts[0] == "tracks" && isDigest(parts[1])) {
        return n == 2 ? trackPage(parts[1]) : outline(parts[1], respond, answered);
    }
    if (n == 2 && parts[0] == "players") {
        return playerPage(unescapeUrl(parts[1]), request.query);
    }
    if (n == 2 && parts[0] == "web" && options_.web && options_.web->present()) {
        return options_.web->answer(parts[1], request.query, request.header("if-none-match"));
    }
    return pageNotFound();
}

HttpResponse Api::health()
{
    uint64_t rides = 0;
    uint64_t steps = 0;
    double cpu = 0.0;
    verifier_.totals(rides, steps, cpu);
    json body{{"status", "ok"},
              {"database", databaseKind_},
              {"schema", store_.schemaVersion()},
              {"workers", verifier_.workers()},
              {"queued", verifier_.queued()},
              {"rides", rides},
              {"ridden_steps", steps},
              {"ride_cpu_seconds", cpu},
              {"accepted", accepted_.load()},
              {"refused", refused_.load()}};
    return jsonResponse(200, body);
}

std::optional<PlayerRecord> Api::lookUpPlayer(const std::string& name)
{
    const std::string key = nameKey(name);
    {
        std::lock_guard<std::mutex> lock(playersLock_);
        auto found = players_.find(key);
        if (found != players_.end()) {
            return found->second;
        }
    }
    auto record = store_.findPlayer(name);
    if (record) {
        std::lock_guard<std::mutex> lock(playersLock_);
        if (players_.size() >= 100000) {
            players_.clear();
        }
        players_.emplace(key, *record);
    }
    return record;
}

bool Api::authenticate(const HttpRequest& request, PlayerRecord& player, HttpResponse& refusal, bool takeBudget)
{
    const std::string* name = request.header("x-velto-player");
    const std::string* token = request.header("x-velto-token");
    if (name == nullptr || token == nullptr) {
        refusal = errorResponse(403, "X-Velto-Player and X-Velto-Token are needed");
        return false;
    }
    // The hash is compared whether or not the player exists, so that the
    // answer's time does not tell names apart.
    static const std::string nobody(32, '\0');
    auto found = validPlayerName(*name) ? lookUpPlayer(*name) : std::nullopt;
    const bool match = sameHash(tokenHash(*token), found ? found->tokenHash : nobody);
    if (!found || !match) {
        refusal = errorResponse(403, "unknown player or wrong token");
        return false;
    }
    player = *found;
    if (store_.banned(player.id)) {
        refusal = errorResponse(403, "this player is banned from this hub");
        return false;
    }
    if (!takeBudget) {
        return true;
    }
    if (const int wait = byPlayer_.take(player.name)) {
        refusal = limited(wait, "too many uploads from this player");
        return false;
    }
    return true;
}

HttpResponse Api::addPlayer(const HttpRequest& request)
{
    const json body = json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object() || !body.contains("name") || !body["name"].is_string()) {
        return errorResponse(400, "the body must be a JSON object with a \"name\"");
    }
    const std::string name = body["name"].get<std::string>();
    const std::string problem = newPlayerNameProblem(name);
    if (!problem.empty()) {
        return errorResponse(400, problem);
    }
    if (const int wait = registrations_.take(request.remote)) {
        return limited(wait, "too many players registered from this address; try again later");
    }
    std::string token;
    if (!newToken(token)) {
        return errorResponse(500, "no random numbers");
    }
    int64_t id = 0;
    if (!store_.addPlayer(name, tokenHash(token), nowMs(), id)) {
        return errorResponse(409, "the name is taken");
    }
    return jsonResponse(201, json{{"name", name}, {"token", token}});
}

std::string Api::cachedTrack(const std::string& digest)
{
    const std::string path = options_.cacheDir + "/" + digest + ".vlt";
    if (::access(path.c_str(), R_OK) == 0) {
        return path;
    }
    // One copy at a time: many asking for a track not yet copied wait for
    // the first instead of each holding the whole track.
    std::lock_guard<std::mutex> lock(copyLock_);
    if (::access(path.c_str(), R_OK) == 0) {
        return path;
    }
    auto data = store_.trackData(digest);
    if (!data) {
        return {};
    }
    replaceCacheFile(path, *data);
    return path;
}

HttpResponse Api::addTrack(const HttpRequest& request, Respond& respond, bool& answered)
{
    PlayerRecord player;
    HttpResponse refused;
    if (!authenticate(request, player, refused)) {
        return refused;
    }
    const std::string* name = request.header("x-velto-name");
    if (name == nullptr || !validTrackName(*name)) {
        return errorResponse(400, "X-Velto-Name must be the track's file name: 1 to 64 letters, digits, spaces, "
                                  "'.', '-' or '_'");
    }
    const int64_t now = nowMs();
    if (options_.tracksPerDay > 0 || options_.trackBytesPerDay > 0) {
        int64_t tracks = 0;
        int64_t bytes = 0;
        store_.uploadsSince(player.id, now - kDayMs, tracks, bytes);
        if (options_.tracksPerDay > 0 && tracks >= options_.tracksPerDay) {
            return limited(3600, "a player may store " + std::to_string(options_.tracksPerDay) +
                                     " tracks a day; try again later");
        }
        if (options_.trackBytesPerDay > 0 &&
            bytes + static_cast<int64_t>(request.body.size()) > options_.trackBytesPerDay) {
            return limited(3600, "a player may store " + std::to_string(options_.trackBytesPerDay >> 20) +
                                     " MiB of tracks a day; try again later");
        }
    }
    // The game's own reader decides, from a file as the game would have it,
    // and only the bytes its own writer makes of what it read are taken, so
    // that no two stored tracks differ only in bytes the game ignores. The
    // same file is then probed.
    const std::string temp = options_.cacheDir + "/upload." + std::to_string(probes_++) + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(request.body.data(), static_cast<std::streamsize>(request.body.size()));
        if (!out) {
            ::unlink(temp.c_str());
            throw std::runtime_error("cannot write " + temp);
        }
    }
    std::string canonical;
    std::string why;
    const TrackCheck check = checkTrackFile(temp, canonical, why);
    uint64_t digest = 0;
    const bool digested = check == TrackCheck::Canonical && trackDigest(temp, digest);
    if (check != TrackCheck::Canonical || !digested) {
        ::unlink(temp.c_str());
    }
    if (check == TrackCheck::Unreadable) {
        return errorResponse(422, "Cant't load the track. " + why);
    }
    if (check == TrackCheck::Refused) {
        return errorResponse(422, "the track is refused: " + why);
    }
    if (!digested) {
        throw std::runtime_error("cannot read back " + temp);
    }
    // The hub's copy keeps no best time: times come from verified runs.
    auto data = std::make_shared<std::string>(std::move(canonical));
    const std::string hex = hexDigest(digest);
    const int64_t author = player.id;
    const std::string trackName = *name;
    // An upload may be a new version of the author's own track of the same
    // file name.
    std::string older;
    if (const std::string* header = request.header("x-velto-update-of")) {
        if (!isDigest(*header)) {
            ::unlink(temp.c_str());
            return errorResponse(400, "X-Velto-Update-Of must be the digest of the version it updates");
        }
        older = *header;
    }
    auto store = [this, hex, trackName, author, data, now, older]() {
        bool added = false;
        if (older.empty()) {
            added = store_.addTrack(hex, trackName, author, *data, now);
        } else {
            switch (store_.addVersion(hex, trackName, author, *data, older, now)) {
            case VersionOutcome::Added: added = true; break;
            case VersionOutcome::Same: break;
            case VersionOutcome::NoOlder: return errorResponse(404, "no track " + older + " to update");
            case VersionOutcome::NotTheAuthor: return errorResponse(403, "only its author may update a track");
            case VersionOutcome::OtherName: return errorResponse(409, "an update keeps the track's file name");
            case VersionOutcome::NotTheNewest:
                return errorResponse(409, "the track has a newer version: update that one");
            case VersionOutcome::AlreadyHeld:
                return errorResponse(409, "this track is stored already, so it cannot be an update");
            }
        }
        auto summary = store_.track(hex);
        if (!summary) {
            throw DatabaseError("a track just stored is missing");
        }
        return jsonResponse(added ? 201 : 200,
                            json{{"digest", hex}, {"name", summary->name}, {"author", summary->author}});
    };
    if (options_.stepCpuMicros <= 0 || store_.track(hex)) {
        ::unlink(temp.c_str());
        return store();
    }

    // A few short rides from the start tell what a step costs on the track.
    VerifyJob job;
    job.trackPath = temp;
    job.maxSteps = options_.probeSteps;
    const double limit = options_.stepCpuMicros;
    job.probeMicros = std::max<int64_t>(1, static_cast<int64_t>(limit * kProbeRides * options_.probeSteps));
    const int retry = options_.retryAfterBusy;
    job.done = [respond, temp, limit, retry, store](const VerifyOutcome& outcome) {
        ::unlink(temp.c_str());
        HttpResponse r;
        try {
            const double perStep = outcome.steps > 0 ? outcome.cpuSeconds * 1e6 / outcome.steps : 0.0;
            if (outcome.kind == VerifyOutcome::Holds && perStep <= limit) {
                r = store();
            } else if (outcome.kind == VerifyOutcome::Holds || outcome.kind == VerifyOutcome::TooCostly) {
                char why[200];
                std::snprintf(why, sizeof why,
                              "too costly to verify: a step near the start takes %.0f microseconds of the hub's "
                              "CPU time, over its limit of %.0f",
                              perStep, limit);
                r = errorResponse(422, outcome.kind == VerifyOutcome::Holds ? why : outcome.reason);
            } else if (outcome.kind == VerifyOutcome::Failed && outcome.reason == "Cant't load the track.") {
                r = errorResponse(422, "Cant't load the track.");
            } else {
                r = comeBackLater(503, retry, outcome.reason);
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "velto-hub: %s\n", e.what());
            r = comeBackLater(503, retry, "the database is not available");
        }
        respond(std::move(r));
    };
    if (!verifier_.submit(std::move(job))) {
        ::unlink(temp.c_str());
        HttpResponse r = comeBackLater(503, retry, "the hub is busy checking other runs");
        return r;
    }
    answered = true;
    return {};
}

namespace {

json trackJson(const TrackSummary& t)
{
    json item{{"digest", t.digest},
              {"name", t.name},
              {"author", t.author},
              {"created", isoDate(t.created)},
              {"finishers", t.finishers},
              {"record_steps", nullptr},
              {"record_time", nullptr},
              {"record_holder", nullptr},
              {"likes", t.likes},
              {"downloads", t.downloads},
              {"finished_per_mille", nullptr},
              {"updated", !t.older.empty()},
              {"older", nullptr},
              {"newer", nullptr},
              {"par_steps", nullptr}};
    if (t.parSteps >= 0) {
        item["par_steps"] = t.parSteps;
    }
    if (t.recordSteps >= 0) {
        item["record_steps"] = t.recordSteps;
        item["record_time"] = timeText(t.recordSteps);
        item["record_holder"] = t.recordHolder;
    }
    if (t.finishedPerMille >= 0) {
        item["finished_per_mille"] = t.finishedPerMille;
    }
    if (!t.older.empty()) {
        item["older"] = t.older;
    }
    if (!t.newer.empty()) {
        item["newer"] = t.newer;
    }
    return item;
}

bool sortOf(const std::string& text, TrackSort& sort)
{
    static const std::pair<const char*, TrackSort> kSorts[] = {
        {"oldest", TrackSort::Oldest},       {"newest", TrackSort::Newest}, {"finishers", TrackSort::Finishers},
        {"likes", TrackSort::Likes},         {"hardest", TrackSort::Hardest}, {"author", TrackSort::Author}};
    if (text.empty()) {
        sort = TrackSort::Oldest;
        return true;
    }
    for (const auto& [name, value] : kSorts) {
        if (text == name) {
            sort = value;
            return true;
        }
    }
    return false;
}

}  // namespace

HttpResponse Api::listTracks(const std::string& query)
{
    int64_t page = 1;
    int64_t limit = kMaxListTracks;
    if (!pageOf(query, kMaxListTracks, kMaxListTracks, page, limit)) {
        return errorResponse(400, "page and limit must be whole numbers from 1 (limit at most 100)");
    }
    TrackQuery q;
    if (!sortOf(queryValue(query, "sort"), q.sort)) {
        return errorResponse(400, "sort must be oldest, newest, finishers, likes, hardest or author");
    }
    std::string keep;  // what the next page's link repeats
    for (const char* key : {"sort", "author", "unfinished_by"}) {
        const std::string value = queryValue(query, key);
        if (value.empty()) {
            continue;
        }
        if (std::string(key) != "sort") {
            auto who = validPlayerName(value) ? lookUpPlayer(value) : std::nullopt;
            if (!who) {
                return errorResponse(404, "no such player");
            }
            (std::string(key) == "author" ? q.author : q.unfinishedBy) = who->id;
            keep += std::string("&") + key + "=" + escapeUrl(who->name);
        } else {
            keep += "&sort=" + value;
        }
    }
    q.offset = (page - 1) * limit;
    q.limit = limit;
    int64_t total = 0;
    json list = json::array();
    for (const TrackSummary& t : store_.listTracks(q, total)) {
        list.push_back(trackJson(t));
    }
    HttpResponse r = jsonResponse(200, list);
    r.headers.emplace_back("X-Total-Count", std::to_string(total));
    if (page * limit < total) {
        r.headers.emplace_back("Link", "</api/tracks?page=" + std::to_string(page + 1) +
                                           "&limit=" + std::to_string(limit) + keep + ">; rel=\"next\"");
    }
    return r;
}

HttpResponse Api::trackFile(const HttpRequest& request, const std::string& digest)
{
    auto summary = store_.track(digest);
    const std::string path = summary ? cachedTrack(digest) : std::string();
    if (path.empty()) {
        return errorResponse(404, "no such track");
    }
    // A download with a player's headers counts once for the player (a
    // HEAD downloads nothing).
    if (request.header("x-velto-player") != nullptr && request.method != "HEAD") {
        PlayerRecord player;
        HttpResponse refused;
        if (!authenticate(request, player, refused)) {
            return refused;
        }
        store_.addDownload(digest, player.id, nowMs());
    }
    // Sent from the hub's copy, a piece at a time.
    HttpResponse r;
    r.contentType = "application/octet-stream";
    r.file = path;
    r.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + summary->name + "\"");
    r.headers.emplace_back("X-Velto-Name", summary->name);
    return r;
}

HttpResponse Api::like(const HttpRequest& request, const std::string& digest, bool like)
{
    PlayerRecord player;
    HttpResponse refused;
    if (!authenticate(request, player, refused)) {
        return refused;
    }
    bool finished = false;
    const int64_t likes = store_.setLike(digest, player.id, like, nowMs(), finished);
    if (likes < 0) {
        return errorResponse(404, "no such track");
    }
    if (like && !finished) {
        return errorResponse(409, "finish the track before liking it");
    }
    return jsonResponse(200, json{{"track", digest}, {"liked", like}, {"likes", likes}});
}

HttpResponse Api::versions(const std::string& digest)
{
    json list = json::array();
    for (const TrackSummary& t : store_.versions(digest, kMaxListTracks)) {
        list.push_back(trackJson(t));
    }
    if (list.empty()) {
        return errorResponse(404, "no such track");
    }
    return jsonResponse(200, list);
}

HttpResponse Api::times(const std::string& digest, const std::string& query)
{
    int64_t limit = 100;
    const std::string text = queryValue(query, "limit");
    if (!text.empty() && (!parseCount(text, limit) || limit < 1)) {
        return errorResponse(400, "limit must be a whole number from 1 to 1000");
    }
    limit = std::min<int64_t>(limit, 1000);
    if (!store_.track(digest)) {
        return errorResponse(404, "no such track");
    }
    json list = json::array();
    for (const TimeEntry& e : store_.times(digest, limit)) {
        list.push_back(json{{"rank", e.rank},
                            {"player", e.player},
                            {"steps", e.steps},
                            {"time", timeText(e.steps)},
                            {"date", isoDate(e.submitted)}});
    }
    return jsonResponse(200, list);
}

HttpResponse Api::replay(const std::string& digest, const std::string& rankText)
{
    int64_t rank = 0;
    if (!parseCount(rankText, rank) || rank < 1) {
        return errorResponse(404, "no such run");
    }
    auto text = store_.replayAt(digest, rank);
    if (!text) {
        return errorResponse(404, "no such run");
    }
    HttpResponse r;
    r.contentType = "text/plain; charset=utf-8";
    r.body = std::move(*text);
    return r;
}

HttpResponse Api::submitRun(HttpRequest& request, Respond& respond, bool& answered)
{
    PlayerRecord player;
    HttpResponse refused;
    if (!authenticate(request, player, refused)) {
        refused_ += 1;
        return refused;
    }
    Replay replay;
    std::string error;
    if (!parseReplay(request.body, replay, error)) {
        refused_ += 1;
        return errorResponse(400, "not a replay: " + error);
    }
    if (!plainFileName(replay.trackName)) {
        refused_ += 1;
        return errorResponse(400, "not a replay: its track line must be a file name of 1 to 255 bytes, "
                                  "without folders or control characters");
    }
    if (replay.result != ReplayFinished) {
        refused_ += 1;
        return errorResponse(422, "the replay does not finish");
    }
    if (replay.steps > kMaxRideSteps) {
        refused_ += 1;
        return errorResponse(422, "the run is longer than 30 minutes of riding");
    }
    const std::string digest = hexDigest(replay.digest);
    const std::string trackPath = store_.holds(digest) ? cachedTrack(digest) : std::string();
    if (trackPath.empty()) {
        refused_ += 1;
        return errorResponse(404, "the hub does not hold the replay's track");
    }
    VerifyJob job;
    job.trackPath = trackPath;
    job.replay = formatReplay(replay);
    job.maxSteps = kMaxRideSteps;
    const int32_t steps = replay.steps;
    const int64_t playerId = player.id;
    const int retry = options_.retryAfterBusy;
    auto stored = std::make_shared<std::string>(job.replay);
    job.done = [this, respond, digest, steps, playerId, retry, stored](const VerifyOutcome& outcome) {
        HttpResponse r;
        try {
            metrics().rideCpu.observe(outcome.cpuSeconds);
            if (outcome.kind == VerifyOutcome::Holds) {
                const Standing s = store_.submitRun(digest, playerId, steps, *stored, nowMs());
                accepted_ += 1;
                r = jsonResponse(s.stored ? 201 : 200, json{{"track", digest},
                                                            {"steps", s.steps},
                                                            {"time", timeText(s.steps)},
                                                            {"rank", s.rank},
                                                            {"of", s.of}});
            } else if (outcome.kind == VerifyOutcome::EndsOtherwise) {
                refused_ += 1;
                r = errorResponse(422, "the run does not hold: " + outcome.reason);
            } else if (outcome.kind == VerifyOutcome::Unreadable) {
                refused_ += 1;
                r = errorResponse(400, "not a replay: " + outcome.reason);
            } else if (outcome.kind == VerifyOutcome::TooCostly) {
                // Final: riding it again would cost as much again.
                refused_ += 1;
                r = errorResponse(422, outcome.reason);
            } else {
                refused_ += 1;
                r = comeBackLater(503, retry, outcome.reason);
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "velto-hub: %s\n", e.what());
            r = comeBackLater(503, retry, "the database is not available");
        }
        respond(std::move(r));
    };
    if (!verifier_.submit(std::move(job))) {
        refused_ += 1;
        HttpResponse r = comeBackLater(503, retry, "the hub is busy checking other runs");
        return r;
    }
    answered = true;
    return {};
}

HttpResponse Api::reportTrack(const HttpRequest& request, const std::string& digest)
{
    PlayerRecord player;
    HttpResponse refused;
    if (!authenticate(request, player, refused)) {
        return refused;
    }
    const json body = json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object() || !body.contains("reason") || !body["reason"].is_string()) {
        return errorResponse(400, "the body must be a JSON object with a \"reason\"");
    }
    const std::string reason = body["reason"].get<std::string>();
    if (reason.empty() || reason.size() > kMaxReportReason) {
        return errorResponse(400, "a reason has 1 to " + std::to_string(kMaxReportReason) + " bytes");
    }
    if (!store_.holds(digest)) {
        return errorResponse(404, "no such track");
    }
    if (!store_.addReport(digest, player.id, reason, nowMs())) {
        return errorResponse(409, "you have reported this track already");
    }
    return jsonResponse(201, json{{"track", digest}, {"reported", true}});
}

HttpResponse Api::indexPage(const std::string& query)
{
    int64_t page = 1;
    int64_t limit = kIndexPageTracks;
    if (!pageOf(query, kIndexPageTracks, kIndexPageTracks, page, limit)) {
        page = 1;
    }
    TrackQuery q;
    std::string sort = queryValue(query, "sort");
    if (!sortOf(sort, q.sort) || sort == "oldest") {
        sort.clear();
        q.sort = TrackSort::Oldest;
    }
    q.offset = (page - 1) * kIndexPageTracks;
    q.limit = kIndexPageTracks;
    int64_t total = 0;
    const auto tracks = store_.listTracks(q, total);
    const int64_t pages = std::max<int64_t>(1, (total + kIndexPageTracks - 1) / kIndexPageTracks);
    return htmlPage(200, "Velto hub", renderIndex(tracks, page, pages, sort));
}

HttpResponse Api::trackPage(const std::string& digest)
{
    auto summary = store_.track(digest);
    if (!summary) {
        return pageNotFound();
    }
    // The outline is drawn once and sent apart: the page itself stays small.
    return htmlPage(200, summary->name,
                    renderTrack(*summary, outlineImage(digest), store_.times(digest, 100),
                                summary->older.empty() && summary->newer.empty() ? std::vector<TrackSummary>()
                                                                                 : store_.versions(digest, 100),
                                options_.web ? options_.web->version() : std::string()));
}

HttpResponse Api::outline(const std::string& digest, Respond& respond, bool& answered)
{
    if (!store_.track(digest)) {
        return pageNotFound();
    }
    const int retry = options_.retryAfterBusy;
    auto ready = [respond, retry](const std::string& path) {
        if (path.empty()) {
            HttpResponse r = comeBackLater(503, retry, "the track cannot be fetched now");
            return respond(std::move(r));
        }
        HttpResponse r;
        r.contentType = "image/svg+xml";
        r.file = path;
        r.headers.emplace_back("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; "
                                                          "frame-ancestors 'none'");
        r.headers.emplace_back("Cache-Control", "public, max-age=86400");
        respond(std::move(r));
    };
    if (!outlines_.get(digest, std::move(ready))) {
        HttpResponse r = comeBackLater(503, retry, "the hub is drawing other tracks");
        return r;
    }
    answered = true;
    return {};
}

HttpResponse Api::playerPage(const std::string& name, const std::string& query)
{
    auto player = validPlayerName(name) ? store_.findPlayer(name) : std::nullopt;
    if (!player || player->banned) {
        return pageNotFound();
    }
    // The runs and the tracks made go a page at a time, side by side.
    int64_t page = 1;
    int64_t limit = kIndexPageTracks;
    if (!pageOf(query, kIndexPageTracks, kIndexPageTracks, page, limit)) {
        page = 1;
    }
    int64_t runCount = 0;
    const auto runs = store_.runsOf(player->id, (page - 1) * kIndexPageTracks, kIndexPageTracks, runCount);
    TrackQuery q;
    q.author = player->id;
    q.offset = (page - 1) * kIndexPageTracks;
    q.limit = kIndexPageTracks;
    int64_t trackCount = 0;
    const auto tracks = store_.listTracks(q, trackCount);
    const int64_t pages = std::max<int64_t>(1, (std::max(runCount, trackCount) + kIndexPageTracks - 1) / kIndexPageTracks);
    return htmlPage(200, player->name, renderPlayer(*player, runs, tracks, page, pages));
}

void Api::renderMetrics(std::string& out)
{
    uint64_t rides = 0;
    uint64_t steps = 0;
    double cpu = 0.0;
    verifier_.totals(rides, steps, cpu);
    renderValue(out, "velto_hub_verify_queue", "gauge", "Runs waiting for a verifier.",
                static_cast<double>(verifier_.queued()));
    renderValue(out, "velto_hub_verify_workers", "gauge", "Verifier processes.", verifier_.workers());
    renderValue(out, "velto_hub_rides_total", "counter", "Rides the verifiers finished.", static_cast<double>(rides));
    renderValue(out, "velto_hub_ridden_steps_total", "counter", "Physics steps the verifiers rode.",
                static_cast<double>(steps));
    renderValue(out, "velto_hub_ride_cpu_seconds_total", "counter", "The verifiers' CPU time.", cpu);
    renderValue(out, "velto_hub_runs_accepted_total", "counter", "Runs that held.",
                static_cast<double>(accepted_.load()));
    renderValue(out, "velto_hub_runs_refused_total", "counter", "Runs refused or not checked.",
                static_cast<double>(refused_.load()));
}

void MetricsHandler::handle(HttpRequest&& request, Respond respond)
{
    if (request.path != "/metrics") {
        return respond(errorResponse(404, "no such resource"));
    }
    if (request.method != "GET" && request.method != "HEAD") {
        HttpResponse r = errorResponse(405, "method not allowed");
        r.headers.emplace_back("Allow", "GET, HEAD");
        return respond(std::move(r));
    }
    std::string out;
    const ServerGauges g = server_.gauges();
    renderValue(out, "velto_hub_connections", "gauge", "Open connections.", static_cast<double>(g.connections));
    renderValue(out, "velto_hub_idle_connections", "gauge", "Connections waiting for a request.",
                static_cast<double>(g.idleConnections));
    renderValue(out, "velto_hub_body_bytes_in_flight", "gauge", "Request and answer bodies the hub holds.",
                static_cast<double>(g.bodyBytesInFlight));
    renderValue(out, "velto_hub_idle_closed_total", "counter", "Idle connections closed to make room for new ones.",
                static_cast<double>(g.idleClosedForNew));
    renderValue(out, "velto_hub_connections_refused_total", "counter",
                "Connections refused over a cap with none idle.", static_cast<double>(g.refusedConnections));
    renderValue(out, "velto_hub_accept_pauses_total", "counter", "Pauses of the accept loop out of descriptors.",
                static_cast<double>(g.acceptPauses));
    try {
        api_.renderMetrics(out);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velto-hub: %s\n", e.what());
    }
    metrics().render(out);
    HttpResponse r;
    r.contentType = "text/plain; version=0.0.4; charset=utf-8";
    r.body = std::move(out);
    respond(std::move(r));
}

HttpResponse MetricsHandler::refusal(int status, const std::string& why)
{
    return errorResponse(status, why);
}

bool validUtf8(const std::string& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        size_t n = 0;
        unsigned code = 0;
        unsigned least = 0;
        if ((c & 0xe0) == 0xc0) {
            n = 1, code = c & 0x1f, least = 0x80;
        } else if ((c & 0xf0) == 0xe0) {
            n = 2, code = c & 0x0f, least = 0x800;
        } else if ((c & 0xf8) == 0xf0) {
            n = 3, code = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (static_cast<size_t>(end - p) <= n) {
            return false;
        }
        for (size_t i = 1; i <= n; ++i) {
            if ((p[i] & 0xc0) != 0x80) {
                return false;
            }
            code = (code << 6) | (p[i] & 0x3f);
        }
        if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
            return false;
        }
        p += n + 1;
    }
    return true;
}

}  // namespace hub
