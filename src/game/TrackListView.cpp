#include "game/TrackListView.h"

#include "game/Game.h"
#include "game/HubTracksView.h"
#include "gfx/Tessellator.h"
#include "gfx/Text.h"
#include "model/Globals.h"
#include "model/Replay.h"
#include "model/RunTime.h"
#include "model/TrackFile.h"
#include "model/TrackFolder.h"
#include "net/HubService.h"
#include "physics/Motorbike.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>

namespace {

// The selected track's world record, or why there is none to show.
std::string worldLine(const TrackRow& row)
{
    std::string why;
    const HubRecordState state = hubTrackRecordsState(why);
    int32_t steps = 0;
    std::string holder;
    if (row.state == TrackRow::State::Ready && hubTrackRecord(row.digest, steps, holder)) {
        return "world " + formatRunTime(runTimeOfSteps(steps)) + " by " + holder;
    }
    if (state == HubRecordState::Fetching) {
        return "world: asking the hub...";
    }
    if (state == HubRecordState::Failed) {
        return "world: " + why;
    }
    return "world: no record yet";
}

constexpr double kMargin = 20.0;
constexpr double kRowHeight = 20.0;
constexpr double kRowScale = 15.0;
constexpr size_t kMaxPictures = 16;
// Reading rows costs a frame at most this much, the first frame more.
constexpr auto kReadBudget = std::chrono::milliseconds(6);
constexpr auto kFirstReadBudget = std::chrono::milliseconds(40);
// The key that plays the selected track's demo.
constexpr int kKeyDemo = 'D';
// How long a line about a refused Enter stays.
constexpr auto kNoticeTime = std::chrono::seconds(3);

// A track's picture: its ground compiled once, and what is drawn over it.
struct Picture {
    std::string path;
    bool read = false;
    bool ok = false;
    unsigned int list = 0;
    TrackBounds bounds;
    Cvector start;
    Cvector finish;
    std::vector<Cvector> apples;
    uint64_t used = 0;
};

struct View {
    bool open = false;
    TrackList list;
    size_t firstShown = 0;
    std::string chosen;
    std::vector<Picture> pictures;
    uint64_t clock = 0;
    std::string notice;
    std::chrono::steady_clock::time_point noticeUntil;
    std::chrono::steady_clock::time_point openedAt;
    bool firstFrame = false;
    double openMillis = -1.0;
    double openedAtCpu = 0.0;
    double openCpuMillis = -1.0;
    ListFrameCost cost;
    std::unique_ptr<Cmoto> bike;     // the start's mark
    std::unique_ptr<Cball> flag;     // the finish's mark
};

View view;

double threadCpuMillis()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void quad(double left, double bottom, double right, double top)
{
    glBegin(GL_QUADS);
    glVertex2d(left, bottom);
    glVertex2d(right, bottom);
    glVertex2d(right, top);
    glVertex2d(left, top);
    glEnd();
}

void texturedQuad(double left, double bottom, double right, double top)
{
    glBegin(GL_QUADS);
    glTexCoord2d(0.0, 0.0);
    glVertex2d(left, bottom);
    glTexCoord2d(1.0, 0.0);
    glVertex2d(right, bottom);
    glTexCoord2d(1.0, 1.0);
    glVertex2d(right, top);
    glTexCoord2d(0.0, 1.0);
    glVertex2d(left, top);
    glEnd();
}

void bind(TGLBMP* texture)
{
    if (texture != nullptr) {
        texture->Bind();
    }
}

void deletePicture(Picture& picture)
{
    if (picture.list != 0) {
        glDeleteLists(picture.list, 1);
        picture.list = 0;
    }
}

// The picture of `path`, read now if it is not kept; the oldest kept one
// makes room.
Picture& pictureOf(const std::string& path)
{
    ++view.clock;
    for (Picture& picture : view.pictures) {
        if (picture.path == path) {
            picture.used = view.clock;
            return picture;
        }
    }
    if (view.pictures.size() >= kMaxPictures) {
        auto oldest = std::min_element(view.pictures.begin(), view.pictures.end(),
                                       [](const Picture& a, const Picture& b) { return a.used < b.used; });
        deletePicture(*oldest);
        view.pictures.erase(oldest);
    }
    view.pictures.emplace_back();
    Picture& picture = view.pictures.back();
    picture.path = path;
    picture.used = view.clock;
    return picture;
}

// The track's ground, start, finish and apples; the ground stays in
// `polygons` for the caller to compile and free.
Cpolygons* readPicture(Picture& picture)
{
    Cvector* start = nullptr;
    Cvector* finish = nullptr;
    Cpolygons* polygons = nullptr;
    Capples* apples = nullptr;
    int32_t polygonCount = 0;
    int32_t appleCount = 0;
    double best = -1.0;
    picture.read = true;
    picture.ok = loadTrack(picture.path, start, finish, polygonCount, polygons, appleCount, apples, best);
    if (picture.ok) {
        picture.bounds = trackBounds;
        picture.start.setXY(start->x, start->y);
        picture.finish.setXY(finish->x, finish->y);
        for (const Capples* a = apples; a != nullptr; a = a->next) {
            picture.apples.emplace_back(a->x, a->y);
        }
    }
    delete start;
    delete finish;
    delete apples;
    if (!picture.ok) {
        delete polygons;
        polygons = nullptr;
    }
    return polygons;
}

// The ground with every vertex closer than `spacing` to the last one kept
// left out, and polygons that shrink below three vertices dropped: a
// picture a few hundred pixels wide needs no more, and a track of many
// thousand edges tessellates at once.
Cpolygons* thinnedGround(const Cpolygons* ground, double spacing)
{
    Cpolygons* head = nullptr;
    Cpolygons* tail = nullptr;
    const double reach = spacing * spacing;
    for (const Cpolygons* node = ground; node != nullptr; node = node->next) {
        if (node->polygon == nullptr || node->polygon->first == nullptr) {
            continue;
        }
        auto* polygon = new Cpolygon();
        Cvertex* last = nullptr;
        for (const Cvertex* v = node->polygon->first; v != nullptr; v = v->next) {
            if (last != nullptr) {
                const double dx = v->x - last->x;
                const double dy = v->y - last->y;
                if (dx * dx + dy * dy < reach) {
                    continue;
                }
            }
            auto* kept = new Cvertex(v->x, v->y);
            if (last == nullptr) {
                polygon->first = kept;
            } else {
                last->next = kept;
            }
            last = kept;
            ++polygon->count;
        }
        if (polygon->count < 3) {
            delete polygon;
            continue;
        }
        auto* added = new Cpolygons();
        added->polygon = polygon;
        if (tail == nullptr) {
            head = added;
        } else {
            tail->next = added;
            added->prev = tail;
        }
        tail = added;
    }
    return head;
}

// The picture of the selected track in the rectangle (window pixels).
void drawPicture(const std::string& path, double left, double bottom, double right, double top)
{
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glEnable(GL_TEXTURE_2D);
    bind(skyTexture);
    texturedQuad(left, bottom, right, top);

    Picture& picture = pictureOf(path);
    Cpolygons* ground = picture.read ? nullptr : readPicture(picture);
    if (!picture.ok) {
        glDisable(GL_TEXTURE_2D);
        return;
    }
    const TrackBounds& bounds = picture.bounds;
    const double spanX = std::max(bounds.maxX - bounds.minX, 100.0);
    const double spanY = std::max(bounds.maxY - bounds.minY, 100.0);
    const double zoom = 0.9 * std::min((right - left) / spanX, (top - bottom) / spanY);
    const double cx = (bounds.minX + bounds.maxX) / 2.0;
    const double cy = (bounds.minY + bounds.maxY) / 2.0;
    const double mx = (left + right) / 2.0;
    const double my = (bottom + top) / 2.0;

    // The ground is tessellated into the picture's list once, then called.
    bind(groundTexture);
    glPushMatrix();
    glTranslated(mx, my, 0.0);
    glScaled(zoom, zoom, 1.0);
    glTranslated(-cx, -cy, 0.0);
    if (ground != nullptr) {
        Cpolygons* thinned = thinnedGround(ground, 1.0 / zoom);
        delete ground;
        textureRepeat = groundTexture != nullptr ? groundTexture->Width() : 1;
        Cpolygons::drawPolygons(thinned, picture.list);
        delete thinned;
    } else if (picture.list != 0) {
        glCallList(picture.list);
    }
    glPopMatrix();
    const auto onScreen = [&](const Cvector& p, double& x, double& y) {
        x = mx + (p.x - cx) * zoom;
        y = my + (p.y - cy) * zoom;
    };
    double x;
    double y;
    // Apples, finish and start keep a readable size at any zoom.
    bind(appleTexture);
    for (const Cvector& apple : picture.apples) {
        onScreen(apple, x, y);
        texturedQuad(x - 5.0, y - 5.0, x + 5.0, y + 5.0);
    }
    bind(finishTexture);
    onScreen(picture.finish, x, y);
    glPushMatrix();
    glTranslated(x, y, 0.0);
    glScaled(0.4, 0.4, 1.0);
    view.flag->drawBall();
    glPopMatrix();
    onScreen(picture.start, x, y);
    glPushMatrix();
    glTranslated(x, y, 0.0);
    glScaled(0.22, 0.22, 1.0);
    bind(wheelTexture);
    view.bike->drawWheels();
    bind(springTexture);
    view.bike->drawSprings(1);
    bind(bikeTexture);
    view.bike->drawFrame(1);
    glPopMatrix();
    glDisable(GL_TEXTURE_2D);
    // Rings round the start (green) and the finish (red).
    glLineWidth(2.0f);
    for (int mark = 0; mark < 2; ++mark) {
        onScreen(mark == 0 ? picture.start : picture.finish, x, y);
        if (mark == 0) {
            glColor4f(0.2f, 0.9f, 0.2f, 0.9f);
        } else {
            glColor4f(0.95f, 0.2f, 0.2f, 0.9f);
        }
        glBegin(GL_LINE_LOOP);
        for (int i = 0; i < 24; ++i) {
            const double a = i * 3.14159265358979 / 12.0;
            glVertex2d(x + 16.0 * std::cos(a), y + 16.0 * std::sin(a));
        }
        glEnd();
    }
    glLineWidth(1.0f);
}

void medalColour(Medal medal, float& r, float& g, float& b)
{
    switch (medal) {
    case Medal::Gold:
        r = 1.0f, g = 0.8f, b = 0.1f;
        return;
    case Medal::Silver:
        r = 0.85f, g = 0.85f, b = 0.9f;
        return;
    case Medal::Bronze:
        r = 0.85f, g = 0.5f, b = 0.2f;
        return;
    case Medal::None:
        break;
    }
    r = 1.0f, g = 1.0f, b = 1.0f;
}

// Rows that fit between the heading and the key line.
size_t rowsShown(double h)
{
    const double room = h - 82.0 - 45.0;
    return static_cast<size_t>(std::max(1.0, std::floor(room / kRowHeight)));
}

void moveSelection(long delta)
{
    TrackList& list = view.list;
    if (list.rows.empty()) {
        return;
    }
    const long last = static_cast<long>(list.rows.size()) - 1;
    list.selected = static_cast<size_t>(std::clamp(static_cast<long>(list.selected) + delta, 0L, last));
}

void showNotice(const std::string& text)
{
    view.notice = text;
    view.noticeUntil = std::chrono::steady_clock::now() + kNoticeTime;
}

ListAction readKeys(size_t shown)
{
    if (keyDown[VK_UP].exchange(false)) {
        moveSelection(-1);
    }
    if (keyDown[VK_DOWN].exchange(false)) {
        moveSelection(1);
    }
    if (keyDown[VK_PRIOR].exchange(false)) {
        moveSelection(-static_cast<long>(shown));
    }
    if (keyDown[VK_NEXT].exchange(false)) {
        moveSelection(static_cast<long>(shown));
    }
    if (keyDown[VK_HOME].exchange(false)) {
        moveSelection(-static_cast<long>(view.list.rows.size()));
    }
    if (keyDown[VK_END].exchange(false)) {
        moveSelection(static_cast<long>(view.list.rows.size()));
    }
    if (keyDown[VK_ESCAPE].exchange(false)) {
        return ListAction::Back;
    }
    if (keyDown[VK_RETURN].exchange(false) && !view.list.rows.empty()) {
        // Read again: the file may have been changed or cut since its row
        // was read, and a track that cannot be read must not end the mode.
        view.list.reread(view.list.selected);
        const TrackRow& row = view.list.rows[view.list.selected];
        if (row.state == TrackRow::State::Ready) {
            view.chosen = row.path;
            return ListAction::Ride;
        }
        showNotice(row.name + " cannot be read");
    }
    if (keyDown[kKeyDemo].exchange(false) && !view.list.rows.empty()) {
        view.list.reread(view.list.selected);
        const TrackRow& row = view.list.rows[view.list.selected];
        Replay demo;
        std::string error;
        if (row.state != TrackRow::State::Ready) {
            showNotice(row.name + " cannot be read");
        } else if (readReplayFile(demoReplayPath(row.path), demo, error) != ReplayReadError::None) {
            showNotice(row.name + " has no demo");
        } else if (demo.digest != row.digest) {
            showNotice("This version of " + row.name + " has no demo");
        } else {
            view.chosen = row.path;
            return ListAction::Demo;
        }
    }
    return ListAction::Stay;
}

} // namespace

void drawTrackPicture(const std::string& path, double left, double bottom, double right, double top)
{
    if (view.open && view.bike && view.flag) {
        drawPicture(path, left, bottom, right, top);
    }
}

void openTrackListView(const std::string& currentTrack)
{
    closeTrackListView();
    view.openedAt = std::chrono::steady_clock::now();
    view.openedAtCpu = threadCpuMillis();
    view.openMillis = -1.0;
    view.openCpuMillis = -1.0;
    view.open = true;
    view.firstFrame = true;
    view.list.open(currentTrack);
    hubRequestTrackRecords();
    view.firstShown = 0;
    view.chosen.clear();
    view.notice.clear();
    view.cost = ListFrameCost();
    view.bike = std::make_unique<Cmoto>(0.0, 0.0);
    view.bike->setPosition(0.0, 0.0);
    view.flag = std::make_unique<Cball>(80.0 / 3.0);
}

void closeTrackListView()
{
    closeHubTab();
    if (hubPanelOpen()) {
        closeHubPanel();
    }
    for (Picture& picture : view.pictures) {
        deletePicture(picture);
    }
    view.pictures.clear();
    view.list.clear();
    view.bike.reset();
    view.flag.reset();
    view.open = false;
}

bool trackListViewOpen()
{
    return view.open;
}

const std::string& chosenTrack()
{
    return view.chosen;
}

TrackList& trackListRows()
{
    return view.list;
}

double lastListOpenMillis()
{
    return view.openMillis;
}

double lastListOpenCpuMillis()
{
    return view.openCpuMillis;
}

ListFrameCost listFrameCost()
{
    return view.cost;
}

namespace {

ListAction listFrame(double w, double h, ListTextDrawer text, bool drawing);

} // namespace

ListAction trackListFrame(double w, double h, ListTextDrawer text, bool drawing)
{
    const bool first = view.firstFrame;
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = threadCpuMillis();
    const ListAction action = listFrame(w, h, text, drawing);
    if (!first) {
        const double wall =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart).count();
        view.cost.maxWallMs = std::max(view.cost.maxWallMs, wall);
        view.cost.maxCpuMs = std::max(view.cost.maxCpuMs, threadCpuMillis() - cpuStart);
        ++view.cost.frames;
    }
    return action;
}

namespace {

ListAction listFrame(double w, double h, ListTextDrawer text, bool drawing)
{
    TrackList& list = view.list;
    // The hub's panel (H) and tab (Tab) stand in the list's place.
    if (hubPanelOpen()) {
        hubPanelFrame(w, h, text, drawing);
        return ListAction::Stay;
    }
    if (keyDown['H'].exchange(false)) {
        openHubPanel();
        hubPanelFrame(w, h, text, drawing);
        return ListAction::Stay;
    }
    if (keyDown[VK_TAB].exchange(false)) {
        if (hubTabOpen()) {
            closeHubTab();
        } else {
            openHubTab();
        }
    }
    if (hubTabOpen()) {
        const ListAction hubAction = hubTabFrame(w, h, text, drawing);
        if (hubAction == ListAction::Ride) {
            view.chosen = hubChosenTrack();
        }
        view.firstFrame = false;
        return hubAction;
    }
    const size_t shown = rowsShown(h);
    const ListAction action = readKeys(shown);
    if (action != ListAction::Stay) {
        return action;
    }
    if (list.selected < view.firstShown) {
        view.firstShown = list.selected;
    } else if (list.selected >= view.firstShown + shown) {
        view.firstShown = list.selected + 1 - shown;
    }
    // The first frame reads the rows it shows, the later ones the rest too.
    list.readSome(view.firstShown, view.firstShown + shown, view.firstFrame ? kFirstReadBudget : kReadBudget,
                  view.firstFrame);

    // With a hub set, its records stand beside the best times.
    const bool world = hubActive();
    const std::vector<TrackColumn>& columns = trackColumns(world);
    if (world) {
        for (size_t i = view.firstShown; i < list.rows.size() && i < view.firstShown + shown; ++i) {
            TrackRow& row = list.rows[i];
            std::string holder;
            if (row.state != TrackRow::State::Ready || !hubTrackRecord(row.digest, row.worldSteps, holder)) {
                row.worldSteps = -1;
            }
        }
    }

    const double left = -w / 2.0 + kMargin;
    const double charWidth = std::max(1.0, textWidth("0", kRowScale));
    double listWidth = 0.0;
    for (const TrackColumn& column : columns) {
        listWidth += (column.width + 1) * charWidth;
    }
    const double pictureLeft = left + listWidth + kMargin;
    const double pictureRight = w / 2.0 - kMargin;
    const double pictureTop = h / 2.0 - 55.0;
    const double pictureBottom = pictureTop - std::max(60.0, (pictureRight - pictureLeft) * 0.62);

    if (drawing) {
        glColor4f(0.05f, 0.06f, 0.09f, 1.0f);
        quad(-w / 2.0, -h / 2.0, w / 2.0, h / 2.0);
    }
    // Everything stays inside the window: a text is cut where it would pass
    // the right edge (or the picture's left edge, beside the list).
    const double rightEdge = w / 2.0 - kMargin;
    const double listRight = std::min(rightEdge, left + listWidth);
    const auto fitted = [&](const std::string& line, double x0, double right, double scale) {
        return fitText(line, std::max(0.0, right - x0), scale);
    };
    const MedalCount medals = list.medals();
    std::string title = "Tracks: " + std::to_string(list.rows.size()) + "   gold " + std::to_string(medals.gold) +
                        "   silver " + std::to_string(medals.silver) + "   bronze " + std::to_string(medals.bronze);
    if (!list.allRead()) {
        title += "   ...";
    }
    text(fitted(title, left, rightEdge, 20.0), 1.0f, 1.0f, 1.0f, 0.95f, left, h / 2.0 - 30.0, 20.0, false);

    double x = left;
    for (const TrackColumn& column : columns) {
        if (x < listRight) {
            text(fitted(column.heading, x, listRight, kRowScale), 0.7f, 0.7f, 0.7f, 0.9f, x, h / 2.0 - 60.0, kRowScale,
                 false);
        }
        x += (column.width + 1) * charWidth;
    }
    if (list.rows.empty()) {
        text("No tracks in this folder", 1.0f, 0.6f, 0.6f, 0.95f, left, h / 2.0 - 82.0, kRowScale, false);
    }
    for (size_t i = view.firstShown; i < list.rows.size() && i < view.firstShown + shown; ++i) {
        const TrackRow& row = list.rows[i];
        const double y = h / 2.0 - 82.0 - static_cast<double>(i - view.firstShown) * kRowHeight;
        if (i == list.selected && drawing) {
            glColor4f(1.0f, 1.0f, 1.0f, 0.22f);
            quad(left - 4.0, y - 5.0, left + listWidth, y + kRowHeight - 5.0);
        }
        float r;
        float g;
        float b;
        medalColour(row.medal, r, g, b);
        x = left;
        for (size_t c = 0; c < columns.size(); ++c) {
            const TrackColumn& column = columns[c];
            std::string cell;
            if (c == 0) {
                cell = column.text(row);
            } else if (row.state == TrackRow::State::Broken) {
                cell = c == 1 ? "cannot be read" : "";
            } else if (row.state == TrackRow::State::Unread) {
                cell = c == 1 ? "..." : "";
            } else {
                cell = column.text(row);
            }
            if (c == 0) {
                cell = fitText(cell, column.width * charWidth, kRowScale);
            } else if (c != 1 || row.state != TrackRow::State::Broken) {
                cell = firstCharacters(cell, static_cast<size_t>(column.width));
            }
            cell = x < listRight ? fitted(cell, x, listRight, kRowScale) : std::string();
            if (!cell.empty()) {
                const bool broken = row.state == TrackRow::State::Broken && c > 0;
                text(cell, broken ? 1.0f : r, broken ? 0.45f : g, broken ? 0.45f : b, 0.95f, x, y, kRowScale,
                     false);
            }
            x += (column.width + 1) * charWidth;
        }
    }

    // The selected track: its picture and what the row says of it.
    if (!list.rows.empty()) {
        const TrackRow& row = list.rows[list.selected];
        if (drawing && row.state != TrackRow::State::Broken && pictureRight - pictureLeft > 60.0) {
            drawPicture(row.path, pictureLeft, pictureBottom, pictureRight, pictureTop);
        }
        double y = pictureBottom - 25.0;
        // What stands beside the list never runs past the window's edge.
        const double room = std::max(0.0, pictureRight - pictureLeft);
        text(fitText(row.name, room, 18.0), 1.0f, 1.0f, 1.0f, 0.95f, pictureLeft, y, 18.0, false);
        y -= 22.0;
        if (row.state == TrackRow::State::Broken) {
            text("This file cannot be read as a track", 1.0f, 0.45f, 0.45f, 0.95f, pictureLeft, y, kRowScale, false);
        } else if (row.state == TrackRow::State::Ready) {
            text(fitText(row.bestTime == -1.0 ? "no best time yet" : "best " + formatRunTime(row.bestTime), room,
                         kRowScale),
                 1.0f, 1.0f, 1.0f, 0.9f, pictureLeft, y, kRowScale, false);
            if (row.parSteps >= 0) {
                y -= 20.0;
                std::string parLine = "par " + formatRunTime(runTimeOfSteps(row.parSteps));
                if (row.medal != Medal::None) {
                    parLine += "   " + std::string(medalName(row.medal));
                }
                float r;
                float g;
                float b;
                medalColour(row.medal, r, g, b);
                text(fitText(parLine, room, kRowScale), r, g, b, 0.95f, pictureLeft, y, kRowScale, false);
            }
            if (world) {
                y -= 20.0;
                text(fitText(worldLine(row), room, kRowScale), 1.0f, 0.85f, 0.3f, 0.95f, pictureLeft, y, kRowScale,
                     false);
            }
        }
    }
    if (!view.notice.empty() && std::chrono::steady_clock::now() < view.noticeUntil) {
        text(fitted(view.notice, left, rightEdge, kRowScale), 1.0f, 0.45f, 0.45f, 0.95f, left, -h / 2.0 + 40.0,
             kRowScale, false);
    }
    text(fitted("Up/Down - choose   Enter - ride   D - demo   Tab - hub tracks   H - hub   Esc - back", left,
                rightEdge, kRowScale),
         0.8f, 0.8f, 0.8f, 0.9f, left, -h / 2.0 + 15.0, kRowScale, false);

    if (view.firstFrame) {
        view.firstFrame = false;
        if (drawing) {
            glFinish();
        }
        view.openMillis =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - view.openedAt).count();
        view.openCpuMillis = threadCpuMillis() - view.openedAtCpu;
    }
    return ListAction::Stay;
}

} // namespace
