#include "game/HubTracksView.h"

#include "game/PanelLines.h"
#include "gfx/Text.h"
#include "model/Globals.h"
#include "model/ParTimes.h"
#include "model/Replay.h"
#include "model/RunTime.h"
#include "net/HubBrowse.h"
#include "net/HubService.h"
#include "net/HubStore.h"
#include "net/HubTracks.h"
#include "platform/RenderWindow.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace fs = std::filesystem;

namespace {

constexpr double kMargin = 20.0;
constexpr double kRowHeight = 19.0;
constexpr double kRowScale = 13.0;
constexpr double kLineScale = 15.0;
// A track is "new" for a week after it reached the hub.
constexpr int64_t kNewSeconds = int64_t{7} * 86400;
constexpr auto kNoticeTime = std::chrono::seconds(4);
constexpr size_t kMaxField = 200;

// What the errands leave, under `shared`: the frame thread copies it out.
std::mutex shared;
struct Answers {
    uint64_t generation = 0;          // of the tab's current question
    bool pageAsking = false;
    bool pageArrived = false;
    HubTrackPage page;
    std::map<uint64_t, int32_t> ranks;                          // -1 asking, 0 none
    std::map<uint64_t, std::shared_ptr<const HubOutline>> outlines;   // null: asking or none
    std::set<uint64_t> outlinesAsked;
    // A download: its bytes, for the frame thread to check and keep.
    bool downloading = false;
    bool downloadArrived = false;
    HubErrand download;
    std::string downloadBytes;
    // Lines for the player from errands that end later.
    std::string reportLine;
    // Joining.
    bool joining = false;
    bool joined = false;
    std::string joinLine;
    int queued = 0;
};
Answers answers;

// The tab as the frame thread keeps it.
struct Tab {
    bool open = false;
    HubSort sort = HubSort::Newest;
    bool unfinished = false;
    int32_t page = 1;
    size_t selected = 0;
    std::vector<HubTrack> rows;
    int64_t total = 0;
    std::string status;
    std::map<uint64_t, std::string> local;   // downloaded tracks by digest
    bool reporting = false;                  // the reasons are shown
    std::string notice;
    std::chrono::steady_clock::time_point noticeUntil;
    std::string chosen;
    // The download under way: what it is, for keeping it.
    uint64_t downloadDigest = 0;
    std::string downloadName;
    int32_t downloadPar = -1;
};
Tab tab;

// The panel.
struct Panel {
    bool open = false;
    int field = 0;               // 0 address, 1 name, 2 Register
    std::string url;
    std::string name;
    std::string line;            // what became of the last Register
    bool lineIsProblem = false;
    std::string justJoined;      // how many best runs went, after a join here
};
Panel panel;

// Likes given in this session, by track digest (under `shared`).
std::set<uint64_t> liked;

void quad(double left, double bottom, double right, double top)
{
    glBegin(GL_QUADS);
    glVertex2d(left, bottom);
    glVertex2d(right, bottom);
    glVertex2d(right, top);
    glVertex2d(left, top);
    glEnd();
}

void showNotice(const std::string& text)
{
    tab.notice = text;
    tab.noticeUntil = std::chrono::steady_clock::now() + kNoticeTime;
}

bool account(HubAccount& out)
{
    return hubCurrentAccount(out);
}

// The downloaded tracks of hub-tracks/, by digest: read when the tab opens
// and after each download, not every frame.
void readLocalTracks()
{
    tab.local.clear();
    std::error_code error;
    size_t looked = 0;
    for (fs::directory_iterator it(hubTracksFolder(), error), end; !error && it != end && looked < 10000;
         it.increment(error), ++looked) {
        std::error_code kind;
        if (it->path().extension() != ".vlt" || !it->is_regular_file(kind)) {
            continue;
        }
        uint64_t digest = 0;
        if (trackDigest(it->path().string(), digest)) {
            tab.local.emplace(digest, it->path().string());
        }
    }
}

// Questions dropped before they were asked are asked again when wanted.
// Under `shared`.
void forgetUnanswered()
{
    std::erase_if(answers.ranks, [](const auto& entry) { return entry.second < 0; });
    std::erase_if(answers.outlinesAsked, [](uint64_t digest) { return answers.outlines.count(digest) == 0; });
}

void askForPage()
{
    HubAccount who;
    if (!account(who)) {
        return;
    }
    browseDropWaiting();
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> guard(shared);
        forgetUnanswered();
        generation = ++answers.generation;
        answers.pageAsking = true;
        answers.pageArrived = false;
    }
    tab.status = "asking the hub...";
    const HubSort sort = tab.sort;
    const std::string unfinishedBy = tab.unfinished ? who.name : std::string();
    const int32_t page = tab.page;
    browsePost([who, sort, unfinishedBy, page, generation](const std::atomic<bool>* cancel) {
        HubTrackPage got = fetchTrackPage(who, sort, unfinishedBy, page, HubTimeouts{}, cancel);
        std::vector<uint64_t> digests;
        {
            std::lock_guard<std::mutex> guard(shared);
            if (answers.generation != generation) {
                return;
            }
            for (const HubTrack& track : got.tracks) {
                if (answers.ranks.find(track.digest) == answers.ranks.end()) {
                    answers.ranks[track.digest] = -1;
                    digests.push_back(track.digest);
                }
            }
            answers.page = std::move(got);
            answers.pageAsking = false;
            answers.pageArrived = true;
        }
        // The player's rank on each track of the page, one question each.
        for (const uint64_t digest : digests) {
            if (cancel->load()) {
                return;
            }
            const int32_t rank = fetchOwnRank(who, digest, HubTimeouts{}, cancel);
            std::lock_guard<std::mutex> guard(shared);
            answers.ranks[digest] = rank;
        }
    }, true);
}

void askForOutline(uint64_t digest)
{
    HubAccount who;
    if (!account(who)) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(shared);
        if (!answers.outlinesAsked.insert(digest).second) {
            return;
        }
    }
    browsePost([who, digest](const std::atomic<bool>* cancel) {
        auto outline = std::make_shared<HubOutline>();
        const bool ok = fetchOutline(who, digest, *outline, HubTimeouts{}, cancel);
        std::lock_guard<std::mutex> guard(shared);
        answers.outlines[digest] = ok ? std::shared_ptr<const HubOutline>(outline) : nullptr;
        if (!ok && cancel->load()) {
            answers.outlinesAsked.erase(digest);   // asked again next time
        }
    }, true);
}

std::string marksOf(const HubTrack& track, int64_t now)
{
    std::string marks;
    const auto add = [&](const char* mark) {
        marks += marks.empty() ? mark : std::string(" ") + mark;
    };
    if (track.createdSeconds >= 0 && now - track.createdSeconds < kNewSeconds) {
        add("new");
    }
    if (track.updated) {
        add("updated");
    }
    if (tab.local.count(track.digest) != 0) {
        add("downloaded");
    }
    return marks;
}

std::string rankText(uint64_t digest)
{
    std::lock_guard<std::mutex> guard(shared);
    const auto it = answers.ranks.find(digest);
    if (it == answers.ranks.end() || it->second < 0) {
        return "...";
    }
    return it->second == 0 ? "-" : ordinal(it->second);
}

// Adds the hub's par for a downloaded track to its folder's par index.
void keepPar(const std::string& path, uint64_t digest, int32_t parSteps)
{
    if (parSteps <= 0) {
        return;
    }
    const std::string folder = fs::path(path).parent_path().string();
    std::vector<ParTime> entries = ParTimes::readFolder(folder).entries();
    const std::string file = fs::path(path).filename().string();
    entries.erase(std::remove_if(entries.begin(), entries.end(), [&](const ParTime& p) { return p.file == file; }),
                  entries.end());
    entries.push_back(ParTime{file, digest, parSteps});
    writeParTimes(folder + "/" + kParFileName, entries);
}

// A download that has arrived is checked and kept, and ridden.
bool takeDownload()
{
    HubErrand got;
    std::string bytes;
    {
        std::lock_guard<std::mutex> guard(shared);
        if (!answers.downloadArrived) {
            return false;
        }
        answers.downloadArrived = false;
        got = answers.download;
        bytes = std::move(answers.downloadBytes);
        answers.downloadBytes.clear();
    }
    if (!got.ok) {
        showNotice(got.line);
        return false;
    }
    std::string path;
    const HubErrand kept = keepDownloadedTrack(bytes, tab.downloadDigest, tab.downloadName, hubTracksFolder(), path);
    if (!kept.ok) {
        showNotice(kept.line);
        return false;
    }
    keepPar(path, tab.downloadDigest, tab.downloadPar);
    tab.local[tab.downloadDigest] = path;
    tab.chosen = path;
    return true;
}

void startDownload(const HubTrack& track)
{
    HubAccount who;
    if (!account(who)) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(shared);
        if (answers.downloading) {
            return;
        }
        answers.downloading = true;
        answers.downloadArrived = false;
    }
    tab.downloadDigest = track.digest;
    tab.downloadName = track.name;
    tab.downloadPar = track.parSteps;
    showNotice("downloading " + track.name + "...");
    const uint64_t digest = track.digest;
    browsePost([who, digest](const std::atomic<bool>* cancel) {
        std::string bytes;
        HubErrand got = fetchHubTrackFile(who, digest, bytes, HubTimeouts{}, cancel);
        std::lock_guard<std::mutex> guard(shared);
        answers.downloading = false;
        answers.downloadArrived = true;
        answers.download = got;
        answers.downloadBytes = std::move(bytes);
    });
}

void sendReport(const HubTrack& track, const std::string& reason)
{
    HubAccount who;
    if (!account(who)) {
        return;
    }
    showNotice("reporting " + track.name + "...");
    const uint64_t digest = track.digest;
    const std::string name = track.name;
    browsePost([who, digest, reason, name](const std::atomic<bool>* cancel) {
        const HubErrand got = reportHubTrack(who, digest, reason, HubTimeouts{}, cancel);
        std::lock_guard<std::mutex> guard(shared);
        answers.reportLine = got.ok ? name + ": " + got.line : got.line;
    });
}

// Copies a page that has arrived into the tab.
void takePage()
{
    std::lock_guard<std::mutex> guard(shared);
    if (answers.pageAsking) {
        tab.status = "asking the hub...";
        return;
    }
    if (!answers.pageArrived) {
        return;
    }
    answers.pageArrived = false;
    if (answers.page.outcome != HubOutcome::Done) {
        tab.status = answers.page.message.empty() ? "the hub cannot be reached" : answers.page.message;
        tab.rows.clear();
        tab.total = 0;
        return;
    }
    tab.rows = std::move(answers.page.tracks);
    tab.total = answers.page.total;
    tab.selected = std::min(tab.selected, tab.rows.empty() ? size_t{0} : tab.rows.size() - 1);
    tab.status.clear();
    if (!answers.reportLine.empty()) {
        showNotice(answers.reportLine);
        answers.reportLine.clear();
    }
}

int32_t pageCount()
{
    return static_cast<int32_t>(std::max<int64_t>(1, (tab.total + kHubPageTracks - 1) / kHubPageTracks));
}

ListAction tabKeys()
{
    const bool joined = hubActive();
    if (tab.reporting) {
        const auto& reasons = reportReasons();
        for (size_t i = 0; i < reasons.size(); ++i) {
            if (keyDown['1' + static_cast<int>(i)].exchange(false) && tab.selected < tab.rows.size()) {
                tab.reporting = false;
                sendReport(tab.rows[tab.selected], reasons[i]);
            }
        }
        if (keyDown[VK_ESCAPE].exchange(false)) {
            tab.reporting = false;
        }
        return ListAction::Stay;
    }
    if (keyDown[VK_ESCAPE].exchange(false)) {
        return ListAction::Back;
    }
    if (!joined) {
        return ListAction::Stay;
    }
    if (keyDown[VK_UP].exchange(false) && tab.selected > 0) {
        --tab.selected;
    }
    if (keyDown[VK_DOWN].exchange(false) && tab.selected + 1 < tab.rows.size()) {
        ++tab.selected;
    }
    bool ask = false;
    if (keyDown[VK_NEXT].exchange(false) && tab.page < pageCount()) {
        ++tab.page;
        tab.selected = 0;
        ask = true;
    }
    if (keyDown[VK_PRIOR].exchange(false) && tab.page > 1) {
        --tab.page;
        tab.selected = 0;
        ask = true;
    }
    if (keyDown['S'].exchange(false)) {
        tab.sort = static_cast<HubSort>((static_cast<int>(tab.sort) + 1) % kHubSortCount);
        tab.page = 1;
        tab.selected = 0;
        ask = true;
    }
    if (keyDown['F'].exchange(false)) {
        tab.unfinished = !tab.unfinished;
        tab.page = 1;
        tab.selected = 0;
        ask = true;
    }
    if (ask) {
        askForPage();
    }
    if (keyDown['R'].exchange(false) && tab.selected < tab.rows.size()) {
        tab.reporting = true;
    }
    if (keyDown[VK_RETURN].exchange(false) && tab.selected < tab.rows.size()) {
        const HubTrack& track = tab.rows[tab.selected];
        const auto local = tab.local.find(track.digest);
        uint64_t digest = 0;
        if (local != tab.local.end() && trackDigest(local->second, digest) && digest == track.digest) {
            keepPar(local->second, track.digest, track.parSteps);
            tab.chosen = local->second;
            return ListAction::Ride;
        }
        startDownload(track);
    }
    return ListAction::Stay;
}

// The hub's outline of a track not downloaded: its ground as lines, its
// start and finish ringed, its apples as dots.
void drawOutline(const HubOutline& outline, double left, double bottom, double right, double top)
{
    double minX = outline.start.first;
    double maxX = minX;
    double minY = outline.start.second;
    double maxY = minY;
    const auto widen = [&](const std::pair<double, double>& p) {
        minX = std::min(minX, p.first);
        maxX = std::max(maxX, p.first);
        minY = std::min(minY, p.second);
        maxY = std::max(maxY, p.second);
    };
    widen(outline.finish);
    for (const auto& polygon : outline.polygons) {
        for (const auto& p : polygon) {
            widen(p);
        }
    }
    const double zoom =
        0.9 * std::min((right - left) / std::max(maxX - minX, 100.0), (top - bottom) / std::max(maxY - minY, 100.0));
    const double cx = (minX + maxX) / 2.0;
    const double cy = (minY + maxY) / 2.0;
    const double mx = (left + right) / 2.0;
    const double my = (bottom + top) / 2.0;
    const auto at = [&](const std::pair<double, double>& p) {
        glVertex2d(mx + (p.first - cx) * zoom, my + (p.second - cy) * zoom);
    };
    glColor4f(0.55f, 0.42f, 0.27f, 1.0f);
    glLineWidth(2.0f);
    for (const auto& polygon : outline.polygons) {
        glBegin(GL_LINE_LOOP);
        for (const auto& p : polygon) {
            at(p);
        }
        glEnd();
    }
    glColor4f(0.85f, 0.15f, 0.15f, 1.0f);
    glPointSize(5.0f);
    glBegin(GL_POINTS);
    for (const auto& apple : outline.apples) {
        at(apple);
    }
    glEnd();
    glPointSize(1.0f);
    for (int mark = 0; mark < 2; ++mark) {
        const auto& p = mark == 0 ? outline.start : outline.finish;
        const double x = mx + (p.first - cx) * zoom;
        const double y = my + (p.second - cy) * zoom;
        if (mark == 0) {
            glColor4f(0.2f, 0.9f, 0.2f, 0.9f);
        } else {
            glColor4f(0.95f, 0.2f, 0.2f, 0.9f);
        }
        glBegin(GL_LINE_LOOP);
        for (int i = 0; i < 24; ++i) {
            const double a = i * 3.14159265358979 / 12.0;
            glVertex2d(x + 12.0 * std::cos(a), y + 12.0 * std::sin(a));
        }
        glEnd();
    }
    glLineWidth(1.0f);
}

struct Column {
    const char* heading;
    int width;
};
const Column kColumns[] = {{"Track", 18}, {"Author", 11}, {"Fin.", 4}, {"Record", 8}, {"Holder", 11},
                           {"Likes", 5},  {"Rank", 5},    {"", 22}};

void drawTabs(double w, double h, ListTextDrawer text, bool hubSide)
{
    const double left = -w / 2.0 + kMargin;
    const double y = h / 2.0 - 30.0;
    const double mine = textWidth("My tracks", 20.0);
    text("My tracks", 1.0f, 1.0f, 1.0f, hubSide ? 0.45f : 0.95f, left, y, 20.0, false);
    text("Hub tracks", 1.0f, 1.0f, 1.0f, hubSide ? 0.95f : 0.45f, left + mine + 30.0, y, 20.0, false);
}

} // namespace

void openHubTab()
{
    tab.open = true;
    tab.reporting = false;
    tab.chosen.clear();
    tab.rows.clear();
    tab.status.clear();
    readLocalTracks();
    {
        // Ranks change with the player's runs: asked again each time.
        std::lock_guard<std::mutex> guard(shared);
        answers.ranks.clear();
    }
    askForPage();
}

void closeHubTab()
{
    if (!tab.open) {
        return;
    }
    tab.open = false;
    browseDropWaiting();
    std::lock_guard<std::mutex> guard(shared);
    ++answers.generation;
    answers.pageAsking = false;
    answers.pageArrived = false;
    forgetUnanswered();
}

bool hubTabOpen()
{
    return tab.open;
}

const std::string& hubChosenTrack()
{
    return tab.chosen;
}

ListAction hubTabFrame(double w, double h, ListTextDrawer text, bool drawing)
{
    takePage();
    if (takeDownload()) {
        return ListAction::Ride;
    }
    {
        std::lock_guard<std::mutex> guard(shared);
        if (!answers.reportLine.empty()) {
            showNotice(answers.reportLine);
            answers.reportLine.clear();
        }
    }
    const ListAction action = tabKeys();
    if (action != ListAction::Stay) {
        return action;
    }
    if (drawing) {
        glColor4f(0.05f, 0.06f, 0.09f, 1.0f);
        quad(-w / 2.0, -h / 2.0, w / 2.0, h / 2.0);
    }
    drawTabs(w, h, text, true);
    const double left = -w / 2.0 + kMargin;
    const double rightEdge = w / 2.0 - kMargin;
    const double room = rightEdge - left;
    HubAccount who;
    if (!account(who)) {
        text(fitText("You are not on a hub: nothing is asked of one until you join.", room, kLineScale), 1.0f, 0.85f,
             0.3f, 0.95f, left, h / 2.0 - 80.0, kLineScale, false);
        text(fitText("H - join a hub   Tab - my tracks   Esc - back", room, kLineScale), 0.8f, 0.8f, 0.8f, 0.9f, left,
             -h / 2.0 + 15.0, kLineScale, false);
        return ListAction::Stay;
    }
    std::string title = std::string("sorted ") + hubSortName(tab.sort) +
                        (tab.unfinished ? "   not finished by me" : "") + "   page " + std::to_string(tab.page) +
                        " of " + std::to_string(pageCount()) + "   " + std::to_string(tab.total) +
                        (tab.total == 1 ? " track" : " tracks");
    const double tabsRight = left + textWidth("My tracks", 20.0) + 30.0 + textWidth("Hub tracks", 20.0) + 30.0;
    text(fitText(title, std::max(0.0, rightEdge - tabsRight), kLineScale), 0.75f, 0.85f, 1.0f, 0.95f, tabsRight,
         h / 2.0 - 28.0, kLineScale, false);

    const double charWidth = std::max(1.0, textWidth("0", kRowScale));
    double x = left;
    for (const Column& column : kColumns) {
        if (x < rightEdge) {
            text(fitText(column.heading, rightEdge - x, kRowScale), 0.7f, 0.7f, 0.7f, 0.9f, x, h / 2.0 - 60.0,
                 kRowScale, false);
        }
        x += (column.width + 1) * charWidth;
    }
    const double listWidth = std::min(x - left, room);
    if (!tab.status.empty()) {
        text(fitText(tab.status, room, kRowScale), 1.0f, 0.6f, 0.6f, 0.95f, left, h / 2.0 - 80.0, kRowScale, false);
    } else if (tab.rows.empty()) {
        text(tab.unfinished ? "You have finished every track here" : "No tracks on this hub yet", 1.0f, 0.6f, 0.6f,
             0.95f, left, h / 2.0 - 80.0, kRowScale, false);
    }
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    for (size_t i = 0; i < tab.rows.size(); ++i) {
        const HubTrack& track = tab.rows[i];
        const double y = h / 2.0 - 80.0 - static_cast<double>(i) * kRowHeight;
        if (i == tab.selected && drawing) {
            glColor4f(1.0f, 1.0f, 1.0f, 0.22f);
            quad(left - 4.0, y - 5.0, left + listWidth, y + kRowHeight - 5.0);
        }
        const std::string cells[] = {track.name,
                                     track.author,
                                     std::to_string(track.finishers),
                                     track.recordSteps > 0 ? formatRunTime(runTimeOfSteps(track.recordSteps)) : "-",
                                     track.recordSteps > 0 ? track.recordHolder : "",
                                     std::to_string(track.likes),
                                     rankText(track.digest),
                                     marksOf(track, now)};
        x = left;
        for (size_t c = 0; c < std::size(kColumns); ++c) {
            if (x < rightEdge) {
                const double width = std::min(kColumns[c].width * charWidth, rightEdge - x);
                const std::string cell = fitText(cells[c], width, kRowScale);
                if (!cell.empty()) {
                    const bool mark = c + 1 == std::size(kColumns);
                    text(cell, mark ? 0.5f : 1.0f, mark ? 0.9f : 1.0f, mark ? 1.0f : 1.0f, 0.95f, x, y, kRowScale,
                         false);
                }
            }
            x += (kColumns[c].width + 1) * charWidth;
        }
    }

    // The selected track: its picture and what is known of it.
    const double pictureTop = h / 2.0 - 90.0 - kHubPageTracks * kRowHeight;
    const double pictureBottom = -h / 2.0 + 82.0;
    const double pictureLeft = left;
    const double pictureRight = left + std::min(room * 0.5, (pictureTop - pictureBottom) * 1.6);
    if (tab.selected < tab.rows.size() && pictureTop - pictureBottom > 40.0) {
        const HubTrack& track = tab.rows[tab.selected];
        const auto local = tab.local.find(track.digest);
        if (local != tab.local.end()) {
            if (drawing) {
                drawTrackPicture(local->second, pictureLeft, pictureBottom, pictureRight, pictureTop);
            }
        } else {
            askForOutline(track.digest);
            std::shared_ptr<const HubOutline> outline;
            {
                std::lock_guard<std::mutex> guard(shared);
                const auto it = answers.outlines.find(track.digest);
                if (it != answers.outlines.end()) {
                    outline = it->second;
                }
            }
            if (drawing) {
                glColor4f(0.8f, 0.9f, 0.96f, 1.0f);
                quad(pictureLeft, pictureBottom, pictureRight, pictureTop);
                if (outline) {
                    drawOutline(*outline, pictureLeft, pictureBottom, pictureRight, pictureTop);
                }
            }
            if (!outline) {
                text("outline...", 0.2f, 0.2f, 0.3f, 0.9f, pictureLeft + 8.0, pictureTop - 20.0, kRowScale, false);
            }
        }
        const double infoLeft = pictureRight + kMargin;
        const double infoRoom = std::max(0.0, rightEdge - infoLeft);
        double y = pictureTop - 18.0;
        const auto line = [&](const std::string& s, float r, float g, float b) {
            text(fitText(s, infoRoom, kLineScale), r, g, b, 0.95f, infoLeft, y, kLineScale, false);
            y -= 20.0;
        };
        line(track.name, 1.0f, 1.0f, 1.0f);
        line("by " + track.author + (track.created.size() >= 10 ? ", " + track.created.substr(0, 10) : ""), 0.85f,
             0.85f, 0.85f);
        line(track.recordSteps > 0 ? "record " + formatRunTime(runTimeOfSteps(track.recordSteps)) + " by " +
                                         track.recordHolder
                                   : "no record yet",
             1.0f, 0.85f, 0.3f);
        line(std::to_string(track.finishers) + " finished, " + std::to_string(track.downloads) + " downloaded, " +
                 std::to_string(track.likes) + (track.likes == 1 ? " like" : " likes"),
             0.85f, 0.85f, 0.85f);
        if (track.parSteps > 0) {
            line("par " + formatRunTime(runTimeOfSteps(track.parSteps)), 0.85f, 0.85f, 0.85f);
        }
        const std::string rank = rankText(track.digest);
        line(rank == "-" ? "you have no time here yet" : rank == "..." ? "your rank: ..." : "your rank: " + rank,
             0.6f, 1.0f, 0.6f);
        const std::string marks = marksOf(track, now);
        if (!marks.empty()) {
            line(marks, 0.5f, 0.9f, 1.0f);
        }
    }
    if (tab.reporting && tab.selected < tab.rows.size()) {
        std::string reasons = "Report as:";
        const auto& list = reportReasons();
        for (size_t i = 0; i < list.size(); ++i) {
            reasons += "   " + std::to_string(i + 1) + " - " + list[i];
        }
        reasons += "   Esc - cancel";
        if (drawing) {
            glColor4f(0.0f, 0.0f, 0.0f, 0.85f);
            quad(left - 6.0, -h / 2.0 + 49.0, rightEdge + 6.0, -h / 2.0 + 72.0);
        }
        text(fitText(reasons, room, kLineScale), 1.0f, 0.9f, 0.3f, 0.95f, left, -h / 2.0 + 55.0, kLineScale, false);
    } else if (!tab.notice.empty() && std::chrono::steady_clock::now() < tab.noticeUntil) {
        text(fitText(tab.notice, room, kLineScale), 1.0f, 0.6f, 0.45f, 0.95f, left, -h / 2.0 + 55.0, kLineScale,
             false);
    }
    text(fitText("Enter - download and ride   S - sort   F - not finished by me   R - report", room, kLineScale),
         0.8f, 0.8f, 0.8f, 0.9f, left, -h / 2.0 + 32.0, kLineScale, false);
    text(fitText("Up/Down - choose   PgUp/PgDn - page   H - hub   Tab - my tracks   Esc - back", room, kLineScale),
         0.8f, 0.8f, 0.8f, 0.9f, left, -h / 2.0 + 12.0, kLineScale, false);
    return ListAction::Stay;
}

// The panel.

void openHubPanel()
{
    panel.open = true;
    panel.field = 0;
    panel.line.clear();
    panel.justJoined.clear();
    HubAccount who;
    setTextEntry(!account(who));
}

void closeHubPanel()
{
    panel.open = false;
    setTextEntry(false);
    clearKeys();
}

bool hubPanelOpen()
{
    return panel.open;
}

namespace {

void startJoin()
{
    std::string url;
    std::string why;
    if (!normaliseHubUrl(panel.url, url, why)) {
        panel.line = why;
        panel.lineIsProblem = true;
        panel.field = 0;
        return;
    }
    const std::string problem = playerNameProblem(panel.name);
    if (!problem.empty()) {
        panel.line = "\"" + panel.name + "\" cannot be a name: " + problem;
        panel.lineIsProblem = true;
        panel.field = 1;
        return;
    }
    {
        std::lock_guard<std::mutex> guard(shared);
        if (answers.joining) {
            return;
        }
        answers.joining = true;
        answers.joined = false;
        answers.joinLine.clear();
    }
    panel.line = "registering " + panel.name + " on " + url + "...";
    panel.lineIsProblem = false;
    const HubFiles files = hubHome();
    const std::string name = panel.name;
    browsePost([url, name, files](const std::atomic<bool>*) {
        const RegisterResult result = registerPlayer(url, name, HubTimeouts{});
        std::string line;
        int queued = 0;
        bool joined = false;
        if (!result.ok) {
            line = name + " is not registered: " + result.message;
        } else if (!writeHubAccount(files.settings(), HubAccount{url, name, result.token})) {
            line = name + " is registered, but " + files.settings() + " cannot be written";
        } else {
            // The best times set before joining count too.
            queued = queueLocalBests(files, files.folder + (files.folder.empty() ? "tracks" : "/tracks"));
            joined = true;
        }
        std::lock_guard<std::mutex> guard(shared);
        answers.joining = false;
        answers.joined = joined;
        answers.joinLine = line;
        answers.queued = queued;
    });
}

void panelText(ListTextDrawer text, const std::string& s, double x, double y, double room, float r, float g, float b,
               double scale = kLineScale)
{
    text(fitText(s, room, scale), r, g, b, 0.95f, x, y, scale, false);
}

} // namespace

void hubViewsTick()
{
    bool joined = false;
    std::string line;
    int queued = 0;
    {
        std::lock_guard<std::mutex> guard(shared);
        if (answers.joining || (!answers.joined && answers.joinLine.empty())) {
            return;
        }
        joined = answers.joined;
        line = answers.joinLine;
        queued = answers.queued;
        answers.joined = false;
        answers.joinLine.clear();
    }
    if (joined) {
        hubStart(hubHome());
        panel.justJoined = std::to_string(queued) + (queued == 1 ? " best time" : " best times") +
                           " from before queued for sending";
        panel.line.clear();
        setTextEntry(false);
        if (tab.open) {
            askForPage();
        }
    } else {
        panel.line = line;
        panel.lineIsProblem = true;
    }
}

void hubPanelFrame(double w, double h, ListTextDrawer text, bool drawing)
{
    hubViewsTick();
    HubAccount who;
    const bool joined = account(who);
    bool joining = false;
    {
        std::lock_guard<std::mutex> guard(shared);
        joining = answers.joining;
    }
    // Keys: the panel's own; every other key pressed goes with the text.
    if (keyDown[VK_ESCAPE].exchange(false)) {
        closeHubPanel();
        return;
    }
    if (joined) {
        if (keyDown['L'].exchange(false)) {
            // The same as velto --hub-off.
            browseStop();
            hubStop();
            forgetHub(hubHome());
            panel.justJoined.clear();
            panel.line = "You left " + who.url + ": nothing is sent any more";
            panel.lineIsProblem = false;
            tab.rows.clear();
            tab.total = 0;
            {
                std::lock_guard<std::mutex> guard(shared);
                answers = Answers{};
                liked.clear();
            }
            setTextEntry(true);
        }
        takeTypedText();
    } else if (!joining) {
        std::string typed = takeTypedText();
        std::string& field = panel.field == 0 ? panel.url : panel.name;
        if (panel.field < 2) {
            for (const char c : typed) {
                if (field.size() < kMaxField) {
                    field += c;
                }
            }
            if (keyDown[VK_BACK].exchange(false) && !field.empty()) {
                field.pop_back();
            }
        }
        if (keyDown[VK_TAB].exchange(false) || keyDown[VK_DOWN].exchange(false)) {
            panel.field = (panel.field + 1) % 3;
        }
        if (keyDown[VK_UP].exchange(false)) {
            panel.field = (panel.field + 2) % 3;
        }
        if (keyDown[VK_RETURN].exchange(false)) {
            startJoin();
        }
    }
    // What was typed must not act on the list when the panel closes.
    for (int vk = 1; vk < 256; ++vk) {
        if (vk != VK_BACK) {
            keyDown[vk] = false;
        }
    }
    keyDown[VK_BACK] = false;

    const double half = std::min(300.0, w / 2.0 - 10.0);
    const double top = 110.0;
    const double bottom = -120.0;
    if (drawing) {
        glColor4f(0.05f, 0.06f, 0.09f, 1.0f);
        quad(-w / 2.0, -h / 2.0, w / 2.0, h / 2.0);
        glColor4f(0.16f, 0.2f, 0.28f, 1.0f);
        quad(-half, bottom, half, top);
    }
    const double left = -half + 16.0;
    const double room = 2.0 * half - 32.0;
    panelText(text, "Hub", left, top - 30.0, room, 1.0f, 1.0f, 1.0f, 20.0);
    double y = top - 62.0;
    if (joined) {
        panelText(text, "You are " + who.name, left, y, room, 0.6f, 1.0f, 0.6f);
        y -= 22.0;
        panelText(text, "on " + who.url, left, y, room, 0.85f, 0.85f, 0.85f);
        y -= 22.0;
        if (!panel.justJoined.empty()) {
            panelText(text, panel.justJoined, left, y, room, 1.0f, 0.85f, 0.3f);
        }
        y -= 22.0;
        panelText(text, "Your best times go to this hub by themselves.", left, y, room, 0.85f, 0.85f, 0.85f);
        panelText(text, "L - leave this hub   Esc - close", left, bottom + 14.0, room, 0.8f, 0.8f, 0.8f);
        return;
    }
    const double labelWidth = textWidth("Hub address ", kLineScale);
    const double boxLeft = left + labelWidth;
    const double boxRight = half - 16.0;
    const char* labels[] = {"Hub address", "Name"};
    for (int i = 0; i < 2; ++i) {
        const std::string& value = i == 0 ? panel.url : panel.name;
        const bool focused = panel.field == i && !joining;
        if (drawing) {
            glColor4f(focused ? 0.95f : 0.75f, focused ? 0.95f : 0.75f, focused ? 1.0f : 0.8f, 1.0f);
            quad(boxLeft - 4.0, y - 6.0, boxRight, y + 17.0);
        }
        panelText(text, labels[i], left, y, labelWidth, 0.85f, 0.85f, 0.85f);
        // The end of a long text stays in sight, with the caret.
        std::string shown = value + (focused ? "_" : "");
        const double fieldRoom = boxRight - boxLeft - 4.0;
        while (!shown.empty() && textWidth(shown, kLineScale) > fieldRoom) {
            shown.erase(shown.begin());
        }
        text(shown, 0.05f, 0.05f, 0.1f, 1.0f, boxLeft, y, kLineScale, false);
        y -= 32.0;
    }
    const bool onButton = panel.field == 2 && !joining;
    const double buttonWidth = textWidth("Register", kLineScale) + 24.0;
    if (drawing) {
        glColor4f(onButton ? 0.3f : 0.22f, onButton ? 0.6f : 0.4f, onButton ? 0.3f : 0.25f, 1.0f);
        quad(boxLeft - 4.0, y - 6.0, boxLeft - 4.0 + buttonWidth, y + 17.0);
    }
    text("Register", 1.0f, 1.0f, 1.0f, onButton ? 1.0f : 0.8f, boxLeft + 8.0, y, kLineScale, false);
    y -= 30.0;
    // The answer, over up to three lines, broken at blanks.
    std::string rest = panel.line;
    for (int lines = 0; !rest.empty() && lines < 3; ++lines) {
        size_t cut = rest.size();
        while (lines < 2 && textWidth(rest.substr(0, cut), kLineScale) > room) {
            const size_t blank = rest.rfind(' ', cut - 1);
            if (blank == std::string::npos || blank == 0) {
                break;
            }
            cut = blank;
        }
        panelText(text, rest.substr(0, cut), left, y, room, panel.lineIsProblem ? 1.0f : 0.85f,
                  panel.lineIsProblem ? 0.5f : 0.85f, panel.lineIsProblem ? 0.45f : 0.85f);
        rest = cut < rest.size() ? rest.substr(cut + 1) : std::string();
        y -= 20.0;
    }
    panelText(text, "Tab - next field   Enter - register   Esc - close", left, bottom + 14.0, room, 0.8f, 0.8f, 0.8f);
}

bool currentTrackIsHubTrack()
{
    std::error_code error;
    const fs::path folder = fs::weakly_canonical(hubTracksFolder(), error);
    const fs::path track = fs::weakly_canonical(fs::path(trackPath).parent_path(), error);
    return !error && folder == track;
}

bool hubLikeKey()
{
    HubAccount who;
    uint64_t digest = 0;
    if (!account(who) || !currentTrackIsHubTrack() || !trackDigest(trackPath, digest)) {
        return false;
    }
    bool like = false;
    {
        std::lock_guard<std::mutex> guard(shared);
        like = liked.count(digest) == 0;
        // As the player asked: the answer puts it back if the hub refuses.
        if (like) {
            liked.insert(digest);
        } else {
            liked.erase(digest);
        }
    }
    const uint64_t generation = panelGeneration();
    setPanelLine("like", like ? "liking..." : "taking the like back...");
    browsePost([who, digest, like, generation](const std::atomic<bool>* cancel) {
        const HubErrand got = likeHubTrack(who, digest, like, HubTimeouts{}, cancel);
        if (!got.ok) {
            std::lock_guard<std::mutex> guard(shared);
            if (like) {
                liked.erase(digest);
            } else {
                liked.insert(digest);
            }
        }
        setPanelLineFor(generation, "like", got.line);
    });
    return true;
}
