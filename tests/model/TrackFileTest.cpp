#include "model/TrackFile.h"

#include "model/Globals.h"

#include "ModelTestSupport.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Little-endian byte builder for hand-made track files.
struct Bytes {
    std::vector<unsigned char> data;
    Bytes& d(double v)
    {
        uint64_t bits = std::bit_cast<uint64_t>(v);
        for (int i = 0; i < 8; ++i, bits >>= 8) {
            data.push_back(static_cast<unsigned char>(bits & 0xFF));
        }
        return *this;
    }
    Bytes& i(int32_t v)
    {
        uint32_t bits = static_cast<uint32_t>(v);
        for (int k = 0; k < 4; ++k, bits >>= 8) {
            data.push_back(static_cast<unsigned char>(bits & 0xFF));
        }
        return *this;
    }
    // Header: best time, start, finish.
    Bytes& header(double best, double sx, double sy, double fx, double fy)
    {
        return d(best).d(sx).d(sy).d(fx).d(fy);
    }
};

std::vector<unsigned char> readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::vector<unsigned char>& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// Everything loadTrack hands back, freed on destruction.
struct Loaded {
    Cvector* start = nullptr;
    Cvector* finish = nullptr;
    int32_t polygonCount = -99;
    Cpolygons* polygons = nullptr;
    int32_t appleCount = -99;
    Capples* apples = nullptr;
    double bestTime = 0.0;
    bool ok = false;

    Loaded(const fs::path& path, bool game)
    {
        const bool saved = gameMode;
        gameMode = game;
        ok = loadTrack(path.string(), start, finish, polygonCount, polygons, appleCount, apples,
                       bestTime);
        gameMode = saved;
    }
    ~Loaded()
    {
        delete start;
        delete finish;
        delete polygons;
        delete apples;
    }
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;

    std::vector<Cpolygons*> nodes() const
    {
        std::vector<Cpolygons*> all;
        for (Cpolygons* n = polygons; n != nullptr; n = n->next) {
            all.push_back(n);
        }
        return all;
    }
};

std::vector<Cvector> verticesOf(const Cpolygon* p)
{
    std::vector<Cvector> all;
    for (const Cvertex* v = p->first; v != nullptr; v = v->next) {
        all.emplace_back(v->x, v->y);
    }
    return all;
}

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The ordinary user ("nobody") whom the permission checks run as when the
// tests run as root, which permissions do not stop.
constexpr uid_t kUserId = 65534;
constexpr gid_t kUserGroup = 65534;

// Makes `path` the user's own, as a player's tracks are, when the tests run
// as root; otherwise it is the runner's own already.
void giveToUser(const fs::path& path)
{
    if (geteuid() == 0) {
        ASSERT_EQ(lchown(path.c_str(), kUserId, kUserGroup), 0) << path;
    }
}

// Runs `checks` in a forked child and returns its report, empty when every
// check held. With `asUser` a child of root first becomes the ordinary user.
std::string inChild(bool asUser, const std::function<std::string()>& checks)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return "no pipe";
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeEnds[0]);
        std::string report;
        if (asUser && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kUserGroup) != 0 || setuid(kUserId) != 0)) {
            report = "cannot become the ordinary user";
        } else {
            report = checks();
        }
        const ssize_t written = write(pipeEnds[1], report.data(), report.size());
        _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
    }
    close(pipeEnds[1]);
    std::string report;
    char chunk[256];
    for (ssize_t n; (n = read(pipeEnds[0], chunk, sizeof chunk)) > 0;) {
        report.append(chunk, static_cast<size_t>(n));
    }
    close(pipeEnds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        report += " (the child failed)";
    }
    return report;
}

class TrackFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/velto-trackfile-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }
    fs::path file(const char* name) const { return dir / name; }
    size_t entriesInDir() const
    {
        return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }

    fs::path dir;
};

Cpolygon* polygonOf(const std::vector<Cvector>& points)
{
    auto* p = new Cpolygon();
    for (const Cvector& v : points) {
        p->addVertex(v.x, v.y);
    }
    return p;
}

// An editor-shaped list: the polygons, then one empty node.
Cpolygons* editorList(const std::vector<Cpolygon*>& polygons)
{
    auto* head = new Cpolygons();
    Cpolygons* node = head;
    for (Cpolygon* p : polygons) {
        node->polygon = p;
        auto* following = new Cpolygons();
        node->next = following;
        following->prev = node;
        node = following;
    }
    return head;
}

// A polygon of n vertices along a wave, x from 0 in steps of 0.5.
Cpolygon* longPolygon(int n)
{
    auto* polygon = new Cpolygon();
    Cvertex* last = nullptr;
    for (int i = 0; i < n; ++i) {
        auto* v = new Cvertex(i * 0.5, std::sin(i * 0.001));
        (last == nullptr ? polygon->first : last->next) = v;
        last = v;
    }
    polygon->count = n;
    return polygon;
}

// Two polygons and two apples, the file every round-trip test uses.
std::vector<unsigned char> sampleTrack()
{
    Bytes b;
    b.header(0.25, -100, 0, 100, 0).i(2);
    b.i(3).d(0).d(-50).d(300).d(-50).d(150).d(-200);
    b.i(4).d(-500).d(-100).d(-400).d(-100).d(-400).d(700).d(-500).d(700);
    b.i(2).d(50).d(40).d(-30).d(-250);
    return b.data;
}

} // namespace

TEST_F(TrackFile, NewTrackIs48Bytes)
{
    Cpolygons empty;
    const fs::path path = file("new.vlt");
    ASSERT_TRUE(writeTrack(path.string(), -1.0, Cvector(-100, 0), Cvector(100, 0), 0, &empty, 0, nullptr));
    EXPECT_EQ(readFile(path), Bytes().header(-1, -100, 0, 100, 0).i(0).i(0).data);
    EXPECT_EQ(entriesInDir(), 1u);
}

TEST_F(TrackFile, OneTriangleIs100Bytes)
{
    Cpolygons* list = editorList({polygonOf({{0, 0}, {10, 0}, {0, 10}})});
    // The apple following the editor's mouse is not counted and not written.
    Capples* mouseApple = makeApples({{7, 7}});
    const fs::path path = file("triangle.vlt");
    ASSERT_TRUE(writeTrack(path.string(), -1.0, Cvector(-100, 0), Cvector(100, 0), 1, list, 0, mouseApple));
    const auto bytes = readFile(path);
    ASSERT_EQ(bytes.size(), 100u);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 40, bytes.begin() + 48),
              (std::vector<unsigned char>{1, 0, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ(bytes, Bytes().header(-1, -100, 0, 100, 0).i(1).i(3).d(0).d(0).d(10).d(0).d(0).d(10).i(0).data);
    delete list;
    delete mouseApple;
}

TEST_F(TrackFile, RoundTripInBothListShapes)
{
    const fs::path path = file("sample.vlt");
    writeFile(path, sampleTrack());

    // The editor: every polygon node is followed by an empty one.
    {
        Loaded t(path, false);
        ASSERT_TRUE(t.ok);
        EXPECT_EQ(t.bestTime, 0.25);
        EXPECT_EQ(t.start->x, -100);
        EXPECT_EQ(t.finish->x, 100);
        EXPECT_EQ(t.polygonCount, 2);
        EXPECT_EQ(t.appleCount, 2);
        const auto nodes = t.nodes();
        ASSERT_EQ(nodes.size(), 3u);
        EXPECT_EQ(nodes[2]->polygon, nullptr);
        EXPECT_EQ(nodes[2]->prev, nodes[1]);
        EXPECT_EQ(polygonTail, nodes[2]);
        EXPECT_EQ(activePolygon, nodes[1]);
        EXPECT_EQ(nodes[0]->polygon->count, 3);
        EXPECT_EQ(nodes[1]->polygon->count, 4);
        const auto second = verticesOf(nodes[1]->polygon);
        ASSERT_EQ(second.size(), 4u);
        EXPECT_EQ(second[2].x, -400);
        EXPECT_EQ(second[2].y, 700);
        ASSERT_NE(t.apples, nullptr);
        EXPECT_EQ(t.apples->prev, nullptr);
        EXPECT_EQ(activeApple, t.apples->next);
        EXPECT_EQ(activeApple->prev, t.apples);
        EXPECT_EQ(activeApple->y, -250);
        EXPECT_EQ(trackBounds.minX, -500);
        EXPECT_EQ(trackBounds.maxX, 300);
        EXPECT_EQ(trackBounds.minY, -250);
        EXPECT_EQ(trackBounds.maxY, 700);

        // Saving it from the editor writes the same track with no best time.
        const fs::path copy = file("copy.vlt");
        ASSERT_TRUE(writeTrack(copy.string(), -1.0, *t.start, *t.finish, t.polygonCount, t.polygons,
                               t.appleCount, t.apples));
        auto expected = sampleTrack();
        const auto noTime = Bytes().d(-1).data;
        std::copy(noTime.begin(), noTime.end(), expected.begin());
        EXPECT_EQ(readFile(copy), expected);
    }

    // The game: no empty node.
    {
        Loaded t(path, true);
        ASSERT_TRUE(t.ok);
        const auto nodes = t.nodes();
        ASSERT_EQ(nodes.size(), 2u);
        EXPECT_NE(nodes[1]->polygon, nullptr);
        EXPECT_EQ(polygonTail, nodes[1]);
        EXPECT_EQ(activePolygon, nodes[0]);
    }
}

TEST_F(TrackFile, EmptyTrackGivesOneEmptyNodeInEitherShape)
{
    const fs::path path = file("empty.vlt");
    writeFile(path, Bytes().header(-1, 30, -20, -40, 60).i(0).i(0).data);
    for (bool game : {false, true}) {
        Loaded t(path, game);
        ASSERT_TRUE(t.ok);
        ASSERT_NE(t.polygons, nullptr);
        EXPECT_EQ(t.polygons->polygon, nullptr);
        EXPECT_EQ(t.polygons->next, nullptr);
        EXPECT_EQ(polygonTail, t.polygons);
        EXPECT_EQ(activePolygon, nullptr);
        EXPECT_EQ(t.apples, nullptr);
        EXPECT_EQ(activeApple, nullptr);
        EXPECT_EQ(trackBounds.minX, -40);
        EXPECT_EQ(trackBounds.maxX, 30);
        EXPECT_EQ(trackBounds.minY, -20);
        EXPECT_EQ(trackBounds.maxY, 60);
    }
}

TEST_F(TrackFile, EveryTruncationFailsAndExtraBytesAreIgnored)
{
    const auto whole = sampleTrack();
    const fs::path path = file("cut.vlt");
    for (size_t length = 0; length < whole.size(); ++length) {
        writeFile(path, std::vector<unsigned char>(whole.begin(), whole.begin() + static_cast<long>(length)));
        for (bool game : {false, true}) {
            Loaded t(path, game);
            EXPECT_FALSE(t.ok) << "length " << length;
        }
    }
    auto longer = whole;
    longer.insert(longer.end(), {1, 2, 3, 4, 5, 6, 7, 8, 9});
    writeFile(path, longer);
    Loaded t(path, true);
    EXPECT_TRUE(t.ok);
    EXPECT_EQ(t.appleCount, 2);
}

TEST_F(TrackFile, MissingFileOrDirectoryFailsWithNothingBuilt)
{
    Loaded missing(file("nothing-here.vlt"), false);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.start, nullptr);
    EXPECT_EQ(missing.polygons, nullptr);
    EXPECT_EQ(missing.apples, nullptr);

    Loaded directory(dir, false);
    EXPECT_FALSE(directory.ok);
}

TEST_F(TrackFile, HugeCountsFailFastWithLittleMemory)
{
    const fs::path polygons = file("polygons.vlt");
    writeFile(polygons, Bytes().header(-1, 0, 0, 0, 0).i(2000000000).i(2000000000).data);
    const fs::path apples = file("apples.vlt");
    writeFile(apples, Bytes().header(-1, 0, 0, 0, 0).i(0).i(2000000000).data);
    const fs::path emptyPolygons = file("empty-polygons.vlt");
    writeFile(emptyPolygons, Bytes().header(-1, 0, 0, 0, 0).i(2000000000).i(0).i(0).data);

    // Measured in a child, whose peak starts at what it holds now, not at
    // what earlier tests once held.
    const std::string report = inChild(false, [&] {
        std::string failures;
        const long rssBefore = peakRssKb();
        const auto begin = std::chrono::steady_clock::now();
        for (const fs::path& path : {polygons, apples, emptyPolygons}) {
            for (bool game : {false, true}) {
                if (Loaded(path, game).ok) {
                    failures += path.string() + " loaded; ";
                }
            }
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (seconds >= 0.5) {
            failures += "took " + std::to_string(seconds) + " s; ";
        }
        const long grownKb = peakRssKb() - rssBefore;
        if (grownKb >= 16 * 1024) {
            failures += "peak grew by " + std::to_string(grownKb) + " kB";
        }
        return failures;
    });
    EXPECT_EQ(report, "");
}

TEST_F(TrackFile, NegativeAndZeroCountsReadNothing)
{
    const fs::path path = file("negative.vlt");
    writeFile(path, Bytes().header(-1, 0, 0, 0, 0).i(-5).i(-3).data);
    for (bool game : {false, true}) {
        Loaded t(path, game);
        ASSERT_TRUE(t.ok);
        // Counted as read: the editor counts on from them and saves that many.
        EXPECT_EQ(t.polygonCount, 0);
        EXPECT_EQ(t.appleCount, 0);
        EXPECT_EQ(t.nodes().size(), 1u);
        EXPECT_EQ(t.polygons->polygon, nullptr);
        EXPECT_EQ(t.apples, nullptr);
    }

    // Polygon records with N <= 0 keep one zero vertex and read no bytes.
    const fs::path records = file("records.vlt");
    writeFile(records, Bytes().header(-1, 0, 0, 0, 0).i(3).i(0).i(-7).i(3).d(1).d(2).d(3).d(4).d(5).d(6)
                           .i(1).d(9).d(9).data);
    Loaded t(records, true);
    ASSERT_TRUE(t.ok);
    const auto nodes = t.nodes();
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0]->polygon->count, 0);
    EXPECT_EQ(nodes[1]->polygon->count, -7);
    for (int k = 0; k < 2; ++k) {
        const auto v = verticesOf(nodes[k]->polygon);
        ASSERT_EQ(v.size(), 1u);
        EXPECT_EQ(v[0].x, 0.0);
        EXPECT_EQ(v[0].y, 0.0);
    }
    EXPECT_EQ(verticesOf(nodes[2]->polygon).size(), 3u);
    EXPECT_EQ(t.appleCount, 1);
    EXPECT_EQ(t.apples->x, 9);
}

TEST_F(TrackFile, NonFiniteCoordinatesLoad)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const fs::path path = file("nan.vlt");
    writeFile(path, Bytes().header(nan, nan, -inf, inf, nan).i(1).i(3).d(nan).d(inf).d(-inf).d(0).d(1).d(nan)
                        .i(1).d(inf).d(nan).data);
    Loaded t(path, false);
    ASSERT_TRUE(t.ok);
    EXPECT_TRUE(std::isnan(t.bestTime));
    EXPECT_TRUE(std::isnan(t.start->x));
    EXPECT_EQ(t.finish->x, inf);
    EXPECT_EQ(t.polygons->polygon->count, 3);
}

TEST_F(TrackFile, FailedWriteLeavesTheOldFileAlone)
{
    const fs::path path = file("keep.vlt");
    const auto old = sampleTrack();
    writeFile(path, old);

    // The list holds fewer polygons than the count claims.
    Cpolygons* list = editorList({polygonOf({{0, 0}, {10, 0}, {0, 10}})});
    EXPECT_FALSE(writeTrack(path.string(), -1.0, Cvector(), Cvector(), 2, list, 0, nullptr));
    EXPECT_EQ(readFile(path), old);
    // A polygon whose chain is shorter than its count.
    list->polygon->count = 5;
    EXPECT_FALSE(writeTrack(path.string(), -1.0, Cvector(), Cvector(), 1, list, 0, nullptr));
    // Fewer apples than counted, and a negative count.
    list->polygon->count = 3;
    EXPECT_FALSE(writeTrack(path.string(), -1.0, Cvector(), Cvector(), 1, list, 1, nullptr));
    EXPECT_FALSE(writeTrack(path.string(), -1.0, Cvector(), Cvector(), -1, list, 0, nullptr));
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(entriesInDir(), 1u);

    // A folder that does not exist, and a target that is a folder.
    EXPECT_FALSE(writeTrack((dir / "no-such-folder" / "t.vlt").string(), -1.0, Cvector(), Cvector(), 1, list, 0,
                            nullptr));
    fs::create_directory(file("folder.vlt"));
    EXPECT_FALSE(writeTrack(file("folder.vlt").string(), -1.0, Cvector(), Cvector(), 1, list, 0, nullptr));
    EXPECT_EQ(entriesInDir(), 2u);

    // A good write replaces the file and keeps its permissions.
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_TRUE(writeTrack(path.string(), -1.0, Cvector(), Cvector(), 1, list, 0, nullptr));
    EXPECT_EQ(readFile(path).size(), 100u);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(entriesInDir(), 2u);

    // As the user, in the user's folder: a read-only track is refused and
    // left alone. In a folder the user may not write, the user's own
    // writable track is written in place.
    const fs::path readOnly = file("read-only.vlt");
    writeFile(readOnly, old);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const fs::path shut = file("shut");
    fs::create_directory(shut);
    writeFile(shut / "own.vlt", old);
    fs::permissions(shut / "own.vlt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::permissions(shut, fs::perms::owner_all | fs::perms::group_all | fs::perms::others_all,
                    fs::perm_options::remove);
    fs::permissions(shut, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                              fs::perms::others_exec);
    for (const fs::path& p : {dir, readOnly, shut / "own.vlt"}) {
        giveToUser(p);
    }
    fs::permissions(dir, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    const std::string report = inChild(true, [&] {
        std::string failures;
        if (writeTrack(readOnly.string(), -1.0, Cvector(), Cvector(), 1, list, 0, nullptr) ||
            readFile(readOnly) != old || entriesInDir() != 4) {
            failures += "the read-only track was replaced; ";
        }
        if (!writeTrack((shut / "own.vlt").string(), -1.0, Cvector(), Cvector(), 1, list, 0, nullptr) ||
            readFile(shut / "own.vlt").size() != 100u) {
            failures += "the track in a closed folder was not saved; ";
        }
        return failures;
    });
    EXPECT_EQ(report, "");
    EXPECT_EQ(fs::status(readOnly).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(fs::status(shut / "own.vlt").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    delete list;
}

TEST_F(TrackFile, ASaveWritesTheFileTheNameFinallyNames)
{
    Cpolygons* list = editorList({polygonOf({{0, 0}, {10, 0}, {0, 10}})});
    const auto save = [list](const fs::path& path) {
        return writeTrack(path.string(), -1.0, Cvector(), Cvector(), 1, list, 0, nullptr);
    };
    // A link to a link to a track in another folder.
    fs::create_directory(file("real"));
    const fs::path real = file("real") / "track.vlt";
    writeFile(real, sampleTrack());
    fs::create_symlink("real/track.vlt", file("hop.vlt"));
    fs::create_symlink(file("hop.vlt"), file("link.vlt"));
    ASSERT_TRUE(save(file("link.vlt")));
    EXPECT_TRUE(fs::is_symlink(file("link.vlt")));
    EXPECT_TRUE(fs::is_symlink(file("hop.vlt")));
    EXPECT_EQ(readFile(real).size(), 100u);
    // The best time goes to the same file.
    ASSERT_TRUE(rewriteBestTime(file("link.vlt").string(), 0.5));
    EXPECT_TRUE(fs::is_symlink(file("link.vlt")));
    EXPECT_EQ(readFile(real), Bytes().header(0.5, 0, 0, 0, 0).i(1).i(3).d(0).d(0).d(10).d(0).d(0).d(10).i(0).data);

    // A link to a track not yet saved; a second name of a track.
    fs::create_symlink("real/new.vlt", file("to-new.vlt"));
    ASSERT_TRUE(save(file("to-new.vlt")));
    EXPECT_EQ(readFile(file("real") / "new.vlt").size(), 100u);
    writeFile(real, sampleTrack());
    fs::create_hard_link(real, file("second.vlt"));
    ASSERT_TRUE(save(file("second.vlt")));
    EXPECT_EQ(readFile(real).size(), 100u);

    // A name with no room for a suffix, new and then replaced.
    const fs::path longest = dir / (std::string(250, 'n') + ".vlt");
    ASSERT_TRUE(save(longest));
    writeFile(longest, sampleTrack());
    ASSERT_TRUE(save(longest));
    EXPECT_EQ(readFile(longest).size(), 100u);
    EXPECT_EQ(entriesInDir(), 6u);
    delete list;
}

TEST_F(TrackFile, AKilledSaveLeavesNoFileBehind)
{
    constexpr int kVertices = 100000;
    Cpolygons* list = editorList({longPolygon(kVertices)});
    const fs::path path = file("killed.vlt");
    const auto save = [&] { return writeTrack(path.string(), -1.0, Cvector(), Cvector(), 1, list, 0, nullptr); };
    // With an unnamed new file, and with a named one, as on file systems
    // that cannot make unnamed files.
    std::mt19937 random(9);
    for (int round = 0; round < 20; ++round) {
        trackSavesUnnamed = round < 10;
        const pid_t pid = fork();
        if (pid == 0) {
            for (;;) {   // every save moves the polygon: one version, one shift
                list->polygon->translate(1, 0);
                save();
            }
        }
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        if (fs::exists(path)) {
            // Always one whole version.
            Loaded t(path, true);
            ASSERT_TRUE(t.ok);
            ASSERT_EQ(t.polygons->polygon->count, kVertices);
            const auto points = verticesOf(t.polygons->polygon);
            const double shift = points[0].x;
            int mixed = 0;
            for (int i = 0; i < kVertices; ++i) {
                mixed += points[static_cast<size_t>(i)].x == i * 0.5 + shift ? 0 : 1;
            }
            EXPECT_EQ(mixed, 0) << "round " << round;
        }
        if (round == 9 || round == 19) {
            // At most the one file a kill after naming it leaves, which the
            // next save clears.
            EXPECT_LE(entriesInDir(), 2u);
            EXPECT_TRUE(save());
            EXPECT_EQ(entriesInDir(), 1u);
        }
    }
    trackSavesUnnamed = true;
    delete list;
}

TEST_F(TrackFile, BestTimeRewriteTouchesOnlyTheFirstEightBytes)
{
    const fs::path path = file("best.vlt");
    const auto old = sampleTrack();
    writeFile(path, old);
    const double time = 6725 * 0.01 / 86400;
    ASSERT_TRUE(rewriteBestTime(path.string(), time));
    const auto now = readFile(path);
    ASSERT_EQ(now.size(), old.size());
    const auto timeBytes = Bytes().d(time).data;
    EXPECT_TRUE(std::equal(timeBytes.begin(), timeBytes.end(), now.begin()));
    EXPECT_TRUE(std::equal(old.begin() + 8, old.end(), now.begin() + 8));

    Loaded t(path, true);
    EXPECT_EQ(t.bestTime, time);

    EXPECT_FALSE(rewriteBestTime(file("gone.vlt").string(), time));
    EXPECT_FALSE(fs::exists(file("gone.vlt")));
}

TEST_F(TrackFile, MillionVertexTrackRoundTrips)
{
    constexpr int kVertices = 1000000;
    Cpolygons* list = editorList({longPolygon(kVertices)});
    const fs::path path = file("big.vlt");

    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(writeTrack(path.string(), -1.0, Cvector(), Cvector(), 1, list, 0, nullptr));
    const auto written = std::chrono::steady_clock::now();
    {
        Loaded t(path, true);
        ASSERT_TRUE(t.ok);
        EXPECT_EQ(t.polygons->polygon->count, kVertices);
        EXPECT_EQ(trackBounds.maxX, (kVertices - 1) * 0.5);
    }
    const auto loaded = std::chrono::steady_clock::now();
    RecordProperty("write_ms", static_cast<int>(std::chrono::duration<double, std::milli>(written - begin).count()));
    RecordProperty("load_and_free_ms",
                   static_cast<int>(std::chrono::duration<double, std::milli>(loaded - written).count()));
    EXPECT_EQ(fs::file_size(path), 48u + 4u + 16u * kVertices);
    delete list;
}

TEST(TrackStream, NullStreamFails)
{
    Cvector* start = nullptr;
    Cvector* finish = nullptr;
    int32_t polygonCount = 1;
    Cpolygons* polygons = nullptr;
    int32_t appleCount = 1;
    Capples* apples = nullptr;
    double best = 0;
    EXPECT_FALSE(loadTrackStream(nullptr, start, finish, polygonCount, polygons, appleCount, apples, best));
    EXPECT_EQ(start, nullptr);
    EXPECT_EQ(polygonCount, 0);
}
