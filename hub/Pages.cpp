#include "Pages.h"

#include "Api.h"

#include "model/RunTime.h"

#include <cstdio>

namespace hub {
namespace {

const char* const kStyle = R"(
body { font-family: sans-serif; margin: 0; background: #f4f1ea; color: #222; }
header { background: #2d4a3e; color: #fff; padding: 0.6em 1.2em; }
header a { color: #fff; text-decoration: none; font-weight: bold; font-size: 1.3em; }
main { max-width: 60em; margin: 1em auto; padding: 0 1em; }
table { border-collapse: collapse; width: 100%; background: #fff; }
th, td { text-align: left; padding: 0.35em 0.7em; border-bottom: 1px solid #ddd; }
th { background: #e6e0d2; }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums; }
img.outline { display: block; width: 100%; max-height: 28em; background: #fff; border: 1px solid #ccc; }
nav.pages { margin: 0.8em 0; }
nav.pages a { margin-right: 1em; }
.legend span { margin-right: 1.2em; }
.dot { display: inline-block; width: 0.8em; height: 0.8em; border-radius: 50%; vertical-align: middle; }
.muted { color: #777; }
.player canvas { display: block; width: 100%; aspect-ratio: 16 / 9; background: #7fb2e5; border: 1px solid #ccc; }
.player .controls { display: flex; flex-wrap: wrap; gap: 0.5em; align-items: center; margin: 0.4em 0; }
.player input[type=range] { flex: 1 1 12em; }
.player .clock { font-family: monospace; font-size: 1.3em; min-width: 6em; }
.player .keys span { display: inline-block; min-width: 1.6em; text-align: center; border: 1px solid #bbb;
  border-radius: 3px; margin-right: 0.15em; color: #bbb; }
.player .keys span.held { background: #2d4a3e; color: #fff; border-color: #2d4a3e; }
.player .same { color: #2a7d3b; font-weight: bold; }
.player .differs { color: #b3261e; font-weight: bold; }
tr.watching { background: #fff6cc; }
)";

std::string timeText(int32_t steps)
{
    return formatRunTime(runTimeOfSteps(steps));
}

std::string playerLink(const std::string& name)
{
    return "<a href=\"/players/" + escapeHtml(escapeUrl(name)) + "\">" + escapeHtml(name) + "</a>";
}

std::string dateText(int64_t ms)
{
    std::string iso = isoDate(ms);
    return iso.substr(0, 10) + " " + iso.substr(11, 5);
}

}  // namespace

std::string escapeHtml(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

std::string escapeUrl(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.') {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

HttpResponse htmlPage(int status, const std::string& title, const std::string& body)
{
    HttpResponse r;
    r.status = status;
    r.contentType = "text/html; charset=utf-8";
    // Scripts only from the hub's own files (the player, which compiles its
    // WebAssembly module), no inline script, nothing from elsewhere, and no
    // framing by another site.
    r.headers.emplace_back("Content-Security-Policy",
                           "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; connect-src 'self'; "
                           "style-src 'unsafe-inline'; img-src 'self'; frame-ancestors 'none'");
    r.headers.emplace_back("X-Frame-Options", "DENY");
    r.body = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
             "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>" +
             escapeHtml(title) + " - Velto hub</title><style>" + kStyle +
             "</style></head>\n<body><header><a href=\"/\">Velto hub</a></header>\n<main>\n" + body +
             "</main></body></html>\n";
    return r;
}

HttpResponse pageNotFound()
{
    return htmlPage(404, "Not found", "<h1>Not found</h1><p>There is nothing here.</p>\n");
}

namespace {

// Links to the pages before and after `page`: `base` is the address up to
// the page number's "page=".
std::string pageLinks(const std::string& base, int64_t page, int64_t pages)
{
    if (pages <= 1) {
        return {};
    }
    std::string nav = "<nav class=\"pages\">";
    if (page > 1) {
        nav += "<a href=\"" + base + "page=" + std::to_string(page - 1) + "\">&larr; previous</a>";
    }
    nav += "<span>page " + std::to_string(page) + " of " + std::to_string(pages) + "</span>";
    if (page < pages) {
        nav += " <a href=\"" + base + "page=" + std::to_string(page + 1) + "\">next &rarr;</a>";
    }
    return nav + "</nav>\n";
}

}  // namespace

std::string renderIndex(const std::vector<TrackSummary>& tracks, int64_t page, int64_t pages, const std::string& sort)
{
    static const std::pair<const char*, const char*> kOrders[] = {
        {"", "oldest"},      {"newest", "newest"},   {"finishers", "most finished"},
        {"likes", "most liked"}, {"hardest", "hardest"}, {"author", "by author"}};
    std::string b = "<h1>Tracks</h1>\n<nav class=\"pages\">";
    for (const auto& [key, label] : kOrders) {
        b += sort == key ? "<strong>" + std::string(label) + "</strong> "
                         : "<a href=\"/" + (*key ? "?sort=" + std::string(key) : std::string()) + "\">" + label +
                               "</a> ";
    }
    b += "</nav>\n";
    if (tracks.empty()) {
        return b + (page > 1 ? "<p class=\"muted\">No tracks on this page. <a href=\"/\">The first page</a></p>\n"
                             : "<p class=\"muted\">No tracks yet.</p>\n");
    }
    const std::string nav = pageLinks("/?" + (sort.empty() ? std::string() : "sort=" + sort + "&amp;"), page, pages);
    b += nav;
    b += "<table><tr><th>Track</th><th>Author</th><th class=\"num\">Record</th><th>Holder</th><th class=\"num\">Finishers</th>"
         "<th class=\"num\">Likes</th></tr>\n";
    for (const TrackSummary& t : tracks) {
        b += "<tr><td><a href=\"/tracks/" + t.digest + "\">" + escapeHtml(t.name) + "</a>" +
             (t.older.empty() ? "" : " <span class=\"muted\">updated</span>") + "</td><td>" + playerLink(t.author) +
             "</td>";
        if (t.recordSteps >= 0) {
            b += "<td class=\"num\">" + timeText(t.recordSteps) + "</td><td>" + playerLink(t.recordHolder) + "</td>";
        } else {
            b += "<td class=\"muted\">none</td><td></td>";
        }
        b += "<td class=\"num\">" + std::to_string(t.finishers) + "</td><td class=\"num\">" +
             std::to_string(t.likes) + "</td></tr>\n";
    }
    return b + "</table>\n" + nav;
}

std::string outlineImage(const std::string& digest)
{
    return "<img class=\"outline\" src=\"/tracks/" + digest + "/outline.svg\" alt=\"the track's outline\">\n";
}

std::string renderTrack(const TrackSummary& track, const std::string& picture, const std::vector<TimeEntry>& times,
                        const std::vector<TrackSummary>& versions, const std::string& player)
{
    std::string b = "<h1>" + escapeHtml(track.name) + "</h1>\n<p>By " + playerLink(track.author) +
                    " &middot; digest <code>" + track.digest + "</code> &middot; <a href=\"/api/tracks/" +
                    track.digest + "\">download the track</a></p>\n";
    b += "<p class=\"muted\">" + std::to_string(track.likes) + " likes &middot; " + std::to_string(track.downloads) +
         " players downloaded it" +
         (track.finishedPerMille >= 0 ? ", " + std::to_string(track.finishedPerMille / 10) + "% of them finished it"
                                      : std::string()) +
         "</p>\n";
    if (!track.newer.empty()) {
        b += "<p><strong>A newer version:</strong> <a href=\"/tracks/" + track.newer + "\">" + track.newer +
             "</a></p>\n";
    }
    if (versions.size() > 1) {
        b += "<h2>Versions</h2>\n<table><tr><th>Version</th><th>Date</th><th class=\"num\">Record</th>"
             "<th class=\"num\">Finishers</th></tr>\n";
        for (const TrackSummary& v : versions) {
            const std::string code = "<code>" + v.digest + "</code>";
            b += "<tr><td>" + (v.digest == track.digest ? code + " (this one)"
                                                         : "<a href=\"/tracks/" + v.digest + "\">" + code + "</a>") +
                 "</td><td>" + dateText(v.created) + "</td><td class=\"num\">" +
                 (v.recordSteps >= 0 ? timeText(v.recordSteps) : std::string("none")) + "</td><td class=\"num\">" +
                 std::to_string(v.finishers) + "</td></tr>\n";
        }
        b += "</table>\n";
    }
    // The player stays hidden until its script shows it, above the outline.
    if (!player.empty()) {
        b += "<section id=\"player\" class=\"player\" hidden data-digest=\"" + track.digest + "\" data-version=\"" +
             player + "\">\n<canvas id=\"view\" width=\"960\" height=\"540\"></canvas>\n<div class=\"controls\">"
             "<button id=\"play\" type=\"button\">Pause</button><button id=\"restart\" type=\"button\">Restart</button>"
             "<label>Speed <select id=\"speed\"><option value=\"0.25\">0.25&times;</option>"
             "<option value=\"0.5\">0.5&times;</option><option value=\"1\" selected>1&times;</option>"
             "<option value=\"2\">2&times;</option><option value=\"4\">4&times;</option>"
             "<option value=\"8\">8&times;</option></select></label>"
             "<input id=\"seek\" type=\"range\" min=\"0\" max=\"0\" value=\"0\" aria-label=\"moment of the ride\">"
             "<span id=\"clock\" class=\"clock\">00:00:00</span><span id=\"keys\" class=\"keys\"></span></div>\n"
             "<p id=\"watching\"></p>\n<p id=\"verdict\"></p>\n</section>\n";
    }
    b += picture.empty() ? std::string("<p class=\"muted\">The track cannot be drawn.</p>\n") : picture;
    b += "<p class=\"legend\"><span><i class=\"dot\" style=\"background:#2a9d4b\"></i> start</span>"
         "<span><i class=\"dot\" style=\"background:#f2c200\"></i> finish</span>"
         "<span><i class=\"dot\" style=\"background:#d62828\"></i> apple</span></p>\n";
    b += "<h2>Best times</h2>\n";
    std::string scripts;
    if (!player.empty()) {
        for (const char* file : {"velto-core.js", "ride.js", "player.js"}) {
            scripts += "<script src=\"/web/" + std::string(file) + "?v=" + player + "\"></script>\n";
        }
    }
    if (times.empty()) {
        return b + "<p class=\"muted\">Nobody has finished this track yet.</p>\n" + scripts;
    }
    b += "<table id=\"times\"><tr><th class=\"num\">Rank</th><th>Player</th><th class=\"num\">Time</th><th>Date</th><th>Replay</th></tr>\n";
    for (const TimeEntry& e : times) {
        const std::string rank = std::to_string(e.rank);
        b += "<tr data-rank=\"" + rank + "\" data-steps=\"" + std::to_string(e.steps) + "\"><td class=\"num\">" + rank +
             "</td><td>" + playerLink(e.player) + "</td><td class=\"num\">" + timeText(e.steps) + "</td><td>" +
             dateText(e.submitted) + "</td><td><a href=\"/api/tracks/" + track.digest + "/runs/" + rank +
             ".replay\">replay</a></td></tr>\n";
    }
    return b + "</table>\n" + scripts;
}

std::string renderPlayer(const PlayerRecord& player, const std::vector<PlayerRun>& runs,
                         const std::vector<TrackSummary>& authored, int64_t page, int64_t pages)
{
    const std::string nav = pageLinks("/players/" + escapeHtml(escapeUrl(player.name)) + "?", page, pages);
    std::string b = "<h1>" + escapeHtml(player.name) + "</h1>\n<p class=\"muted\">Riding since " +
                    dateText(player.created).substr(0, 10) + "</p>\n" + nav + "<h2>Best runs</h2>\n";
    if (runs.empty()) {
        b += page > 1 ? "<p class=\"muted\">No more runs.</p>\n" : "<p class=\"muted\">No finished runs yet.</p>\n";
    } else {
        b += "<table><tr><th>Track</th><th class=\"num\">Time</th><th class=\"num\">Rank</th><th>Date</th></tr>\n";
        for (const PlayerRun& r : runs) {
            b += "<tr><td><a href=\"/tracks/" + r.digest + "\">" + escapeHtml(r.trackName) +
                 "</a></td><td class=\"num\">" + timeText(r.steps) + "</td><td class=\"num\">" +
                 std::to_string(r.rank) + " of " + std::to_string(r.of) + "</td><td>" + dateText(r.submitted) +
                 "</td></tr>\n";
        }
        b += "</table>\n";
    }
    b += "<h2>Tracks made</h2>\n";
    if (authored.empty()) {
        return b + (page > 1 ? "<p class=\"muted\">No more tracks.</p>\n" : "<p class=\"muted\">None.</p>\n") + nav;
    }
    b += "<table><tr><th>Track</th><th>Date</th><th class=\"num\">Record</th><th class=\"num\">Finishers</th>"
         "<th class=\"num\">Likes</th></tr>\n";
    for (const TrackSummary& t : authored) {
        b += "<tr><td><a href=\"/tracks/" + t.digest + "\">" + escapeHtml(t.name) + "</a>" +
             (t.older.empty() ? "" : " <span class=\"muted\">updated</span>") + "</td><td>" + dateText(t.created) +
             "</td><td class=\"num\">" + (t.recordSteps >= 0 ? timeText(t.recordSteps) : std::string("none")) +
             "</td><td class=\"num\">" + std::to_string(t.finishers) + "</td><td class=\"num\">" +
             std::to_string(t.likes) + "</td></tr>\n";
    }
    return b + "</table>\n" + nav;
}

}  // namespace hub
