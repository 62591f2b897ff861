// Players' tracks through the client: the hub's list in the game's orders
// and filter, downloads checked before they are kept, outlines, likes,
// reports, and publishing with updates, against a real velto-hub on
// loopback (a stand-in where the hub must misbehave).
#include "RealHub.h"
#include "StubHub.h"

#include "model/Replay.h"
#include "model/TrackFile.h"
#include "net/HubApi.h"
#include "net/HubStore.h"
#include "net/HubTracks.h"
#include "physics/RunKeys.h"
#include "physics/World.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path freshDir(const std::string& name)
{
    const fs::path dir = fs::temp_directory_path() / ("velto-tracks-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

void put(std::string& bytes, const void* data, size_t size)
{
    bytes.append(static_cast<const char*>(data), size);
}

// A flat track in the writer's form: ground from x -1000 to 3000, the start
// at x 0 and the finish at `finishX`.
std::string flatTrack(double finishX)
{
    std::string bytes;
    const double head[] = {-1.0, 0.0, 70.0, finishX, 40.0};
    put(bytes, head, sizeof head);
    const int32_t polygons = 1;
    put(bytes, &polygons, 4);
    const double ground[][2] = {{-1000.0, 400.0}, {-900.0, 0.0},    {2900.0, 0.0},
                                {3000.0, 400.0},  {3000.0, -500.0}, {-1000.0, -500.0}};
    const int32_t count = 6;
    put(bytes, &count, 4);
    put(bytes, ground, sizeof ground);
    const int32_t apples = 0;
    put(bytes, &apples, 4);
    return bytes;
}

// Full throttle to the end, as a replay of the track in `path`.
Replay throttleRun(const std::string& path)
{
    Replay replay;
    replay.trackName = fs::path(path).filename().string();
    EXPECT_TRUE(trackDigest(path, replay.digest));
    replay.changes = {KeyChange{0, KeyUp}};
    EXPECT_TRUE(buildWorld(path));
    KeyPlayer keys;
    keys.begin(&replay.changes);
    int32_t result = StepRunning;
    while (result == StepRunning && replay.steps < 5000) {
        result = stepWorldWithKeys(kStepSeconds, keys.keysAt(static_cast<uint64_t>(replay.steps)));
        ++replay.steps;
    }
    replay.result = result == StepFinished ? ReplayFinished : ReplayCrashed;
    freeWorld();
    return replay;
}

std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

HubAccount join(const RealHub& hub, const std::string& name)
{
    const RegisterResult joined = registerPlayer(hub.url(), name, HubTimeouts{});
    EXPECT_TRUE(joined.ok) << joined.message;
    return HubAccount{hub.url(), name, joined.token};
}

std::vector<std::string> names(const HubTrackPage& page)
{
    std::vector<std::string> out;
    for (const HubTrack& track : page.tracks) {
        out.push_back(track.name);
    }
    return out;
}

class HubTracksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = freshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { fs::remove_all(dir); }

    // A pack track and its proof run, published by `author`.
    std::string publishPack(const HubAccount& author, const std::string& name)
    {
        const std::string pack = std::string(VELTO_BINARY_DIR) + "/tracks/" + name + ".vlt";
        Replay proof;
        std::string error;
        EXPECT_EQ(readReplayFile(std::string(VELTO_BINARY_DIR) + "/tracks/" + name + ".demo", proof, error),
                  ReplayReadError::None);
        const HubErrand published =
            publishHubTrack(author, fileBytes(pack), name + ".vlt", formatReplay(proof), 0, HubTimeouts{}, nullptr);
        EXPECT_TRUE(published.ok) << published.line;
        return formatReplay(proof);
    }

    fs::path dir;
};

} // namespace

// Three tracks by Ann, one finished and liked by Bob: every order the game
// cycles through, the filter, the page's count, and Bob's rank.
TEST_F(HubTracksTest, TheListSortsFiltersAndRanksAsTheGameAsksForIt)
{
    NEEDS_REAL_HUB();
    RealHub hub;
    ASSERT_TRUE(hub.running());
    const HubAccount ann = join(hub, "Ann");
    const HubAccount bob = join(hub, "Bob");
    publishPack(ann, "01-stepping-stones");
    const std::string firstRide = publishPack(ann, "02-first-ride");
    publishPack(ann, "03-valley");
    uint64_t firstRideDigest = 0;
    ASSERT_TRUE(trackDigest(std::string(VELTO_BINARY_DIR) + "/tracks/02-first-ride.vlt", firstRideDigest));
    // Bob rides 02 as Ann did (later, so he ranks second) and likes it.
    ASSERT_TRUE(publishHubTrack(bob, fileBytes(std::string(VELTO_BINARY_DIR) + "/tracks/02-first-ride.vlt"),
                                "02-first-ride.vlt", firstRide, 0, HubTimeouts{}, nullptr)
                    .ok);
    const HubErrand liked = likeHubTrack(bob, firstRideDigest, true, HubTimeouts{}, nullptr);
    EXPECT_TRUE(liked.ok) << liked.line;

    const auto page = [&](HubSort sort, const std::string& unfinishedBy = {}) {
        const HubTrackPage got = fetchTrackPage(bob, sort, unfinishedBy, 1, HubTimeouts{}, nullptr);
        EXPECT_EQ(got.outcome, HubOutcome::Done) << got.message;
        return got;
    };
    const HubTrackPage newest = page(HubSort::Newest);
    EXPECT_EQ(names(newest), (std::vector<std::string>{"03-valley.vlt", "02-first-ride.vlt", "01-stepping-stones.vlt"}));
    EXPECT_EQ(newest.total, 3);
    ASSERT_EQ(newest.tracks.size(), 3u);
    const HubTrack& ride = newest.tracks[1];
    EXPECT_EQ(ride.author, "Ann");
    EXPECT_EQ(ride.finishers, 2);
    EXPECT_EQ(ride.likes, 1);
    EXPECT_EQ(ride.recordHolder, "Ann");
    EXPECT_GT(ride.recordSteps, 0);
    // The par is the author's time rounded up to a whole second.
    EXPECT_EQ(ride.parSteps, (ride.recordSteps + 99) / 100 * 100);
    EXPECT_FALSE(ride.updated);
    EXPECT_GT(ride.createdSeconds, 1700000000);

    EXPECT_EQ(page(HubSort::Finishers).tracks.front().name, "02-first-ride.vlt");
    EXPECT_EQ(page(HubSort::Likes).tracks.front().name, "02-first-ride.vlt");
    const HubTrackPage open = page(HubSort::Newest, "Bob");
    EXPECT_EQ(names(open), (std::vector<std::string>{"03-valley.vlt", "01-stepping-stones.vlt"}));
    EXPECT_EQ(open.total, 2);

    EXPECT_EQ(fetchOwnRank(bob, firstRideDigest, HubTimeouts{}, nullptr), 2);
    EXPECT_EQ(fetchOwnRank(ann, firstRideDigest, HubTimeouts{}, nullptr), 1);
    EXPECT_EQ(fetchOwnRank(bob, newest.tracks[0].digest, HubTimeouts{}, nullptr), 0);
}

// Likes once per player however often, taken back, refused before a finish;
// a report once per player.
TEST_F(HubTracksTest, LikesAndReportsSayWhatTheHubDid)
{
    NEEDS_REAL_HUB();
    RealHub hub;
    ASSERT_TRUE(hub.running());
    const HubAccount ann = join(hub, "Ann");
    const HubAccount bob = join(hub, "Bob");
    publishPack(ann, "02-first-ride");
    uint64_t digest = 0;
    ASSERT_TRUE(trackDigest(std::string(VELTO_BINARY_DIR) + "/tracks/02-first-ride.vlt", digest));

    EXPECT_EQ(likeHubTrack(bob, digest, true, HubTimeouts{}, nullptr).line,
              "not liked: finish the track before liking it");
    EXPECT_EQ(likeHubTrack(ann, digest, true, HubTimeouts{}, nullptr).line,
              "You like this track (1 like)   L - take it back");
    EXPECT_EQ(likeHubTrack(ann, digest, true, HubTimeouts{}, nullptr).line,
              "You like this track (1 like)   L - take it back");
    EXPECT_EQ(likeHubTrack(ann, digest, false, HubTimeouts{}, nullptr).line, "Like taken back (0 likes)   L - like");

    ASSERT_EQ(reportReasons(), (std::vector<std::string>{"broken", "offensive", "copy of another track"}));
    EXPECT_EQ(reportHubTrack(bob, digest, "copy of another track", HubTimeouts{}, nullptr).line,
              "Reported as copy of another track: thank you");
    EXPECT_EQ(reportHubTrack(bob, digest, "broken", HubTimeouts{}, nullptr).line,
              "not reported: you have reported this track already");
    HubAccount forged = bob;
    forged.token += "x";
    EXPECT_EQ(reportHubTrack(forged, digest, "broken", HubTimeouts{}, nullptr).line,
              "not reported: the hub refused our token: register again");
}

// Publishing sends the track and its author's run; the same file saved with
// a change and published again is a new version of that track.
TEST_F(HubTracksTest, PublishingAChangedTrackAgainIsAnUpdate)
{
    NEEDS_REAL_HUB();
    RealHub hub;
    ASSERT_TRUE(hub.running());
    const HubAccount ann = join(hub, "Ann");
    const std::string path = (dir / "flat.vlt").string();
    std::ofstream(path, std::ios::binary) << flatTrack(400.0);
    const Replay first = throttleRun(path);
    ASSERT_EQ(first.result, ReplayFinished);
    const HubErrand published =
        publishHubTrack(ann, fileBytes(path), "flat.vlt", formatReplay(first), 0, HubTimeouts{}, nullptr);
    ASSERT_TRUE(published.ok) << published.line;
    EXPECT_EQ(published.line.rfind("Published: flat.vlt   par 00:", 0), 0u) << published.line;

    std::ofstream(path, std::ios::binary | std::ios::trunc) << flatTrack(450.0);
    const Replay second = throttleRun(path);
    ASSERT_EQ(second.result, ReplayFinished);
    ASSERT_NE(second.digest, first.digest);
    const HubErrand updated =
        publishHubTrack(ann, fileBytes(path), "flat.vlt", formatReplay(second), first.digest, HubTimeouts{}, nullptr);
    ASSERT_TRUE(updated.ok) << updated.line;
    EXPECT_NE(updated.line.find("(an update)"), std::string::npos) << updated.line;

    const HubTrackPage list = fetchTrackPage(ann, HubSort::Newest, "", 1, HubTimeouts{}, nullptr);
    ASSERT_EQ(list.tracks.size(), 1u) << "the list shows the newest version only";
    EXPECT_EQ(list.tracks[0].digest, second.digest);
    EXPECT_TRUE(list.tracks[0].updated);
    // The old version keeps its times with it.
    EXPECT_EQ(fetchOwnRank(ann, first.digest, HubTimeouts{}, nullptr), 1);

    // The same bytes once more are no new version, and a run that does not
    // hold is refused with the hub's reason.
    EXPECT_TRUE(
        publishHubTrack(ann, fileBytes(path), "flat.vlt", formatReplay(second), second.digest, HubTimeouts{}, nullptr)
            .ok);
    Replay forged = second;
    forged.steps -= 10;
    const HubErrand refused =
        publishHubTrack(ann, fileBytes(path), "flat.vlt", formatReplay(forged), second.digest, HubTimeouts{}, nullptr);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.line.rfind("Not published: your run was refused: the run does not hold", 0), 0u) << refused.line;
}

// A file is kept only when its bytes are the track the hub listed and the
// game's reader takes it, under a safe name that never replaces another.
TEST_F(HubTracksTest, ADownloadIsKeptOnlyWhenItIsTheTrackListedAndTheGameReadsIt)
{
    const std::string good = flatTrack(400.0);
    uint64_t digest = 0;
    ASSERT_TRUE(trackDigestOfBytes(good, digest));
    std::string served = flatTrack(500.0);
    StubHub hub([&](const StubRequest&) {
        StubAnswer answer;
        answer.body = served;
        return answer;
    });
    const HubAccount who{hub.url(), "Bob", "tok"};
    std::string bytes;
    const HubErrand wrong = fetchHubTrackFile(who, digest, bytes, HubTimeouts{}, nullptr);
    EXPECT_FALSE(wrong.ok);
    EXPECT_EQ(wrong.line, "not downloaded: the file the hub sent is not that track");
    EXPECT_TRUE(bytes.empty());
    served = good;
    ASSERT_TRUE(fetchHubTrackFile(who, digest, bytes, HubTimeouts{}, nullptr).ok);
    EXPECT_EQ(bytes, good);
    ASSERT_EQ(hub.requests().size(), 2u);
    EXPECT_EQ(hub.requests()[1].target, "/api/tracks/" + digestHex(digest));
    EXPECT_EQ(hub.requests()[1].headers["x-velto-player"], "Bob") << "the download counts for the player";

    const std::string folder = (dir / "hub-tracks").string();
    // Bytes whose digest matches but that no reader takes: cut short.
    const std::string cut = good.substr(0, good.size() - 10);
    uint64_t cutDigest = 0;
    ASSERT_TRUE(trackDigestOfBytes(cut, cutDigest));
    std::string path;
    const HubErrand unreadable = keepDownloadedTrack(cut, cutDigest, "cut.vlt", folder, path);
    EXPECT_FALSE(unreadable.ok);
    EXPECT_EQ(unreadable.line, "not downloaded: the file the hub sent is not a track the game can read");
    EXPECT_FALSE(keepDownloadedTrack(good, digest + 1, "flat.vlt", folder, path).ok);

    ASSERT_TRUE(keepDownloadedTrack(good, digest, "../.hidden/x y.vlt", folder, path).ok);
    EXPECT_EQ(path, folder + "/hidden-x-y.vlt");
    EXPECT_EQ(fileBytes(path), good);
    // Another track of the same name is numbered; the same track again is
    // the file already there.
    const std::string other = flatTrack(600.0);
    uint64_t otherDigest = 0;
    ASSERT_TRUE(trackDigestOfBytes(other, otherDigest));
    std::string second;
    ASSERT_TRUE(keepDownloadedTrack(other, otherDigest, "../.hidden/x y.vlt", folder, second).ok);
    EXPECT_EQ(second, folder + "/hidden-x-y-2.vlt");
    std::string again;
    ASSERT_TRUE(keepDownloadedTrack(good, digest, "anything.vlt", folder, again).ok);
    EXPECT_EQ(again, path);
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 2u) << "no scratch file is left behind";
    EXPECT_EQ(safeTrackFileName(""), "track.vlt");
    EXPECT_EQ(safeTrackFileName(std::string(300, 'a')), std::string(48, 'a') + ".vlt");
}

// The hub's outline comes back in the track's own coordinates; an outline
// that is not the hub's picture, or too large, is refused.
TEST_F(HubTracksTest, TheOutlineIsTheTracksGroundAndNonsenseIsRefused)
{
    NEEDS_REAL_HUB();
    RealHub hub;
    ASSERT_TRUE(hub.running());
    const HubAccount ann = join(hub, "Ann");
    publishPack(ann, "02-first-ride");
    const std::string pack = std::string(VELTO_BINARY_DIR) + "/tracks/02-first-ride.vlt";
    uint64_t digest = 0;
    ASSERT_TRUE(trackDigest(pack, digest));
    HubOutline outline;
    ASSERT_TRUE(fetchOutline(ann, digest, outline, HubTimeouts{}, nullptr));
    TrackContents track;
    ASSERT_TRUE(track.load(pack));
    EXPECT_EQ(static_cast<int32_t>(outline.polygons.size()), track.polygonCount);
    EXPECT_NEAR(outline.start.first, track.start->x, 0.01);
    EXPECT_NEAR(outline.start.second, track.start->y, 0.01);
    EXPECT_NEAR(outline.finish.first, track.finish->x, 0.01);
    EXPECT_NEAR(outline.finish.second, track.finish->y, 0.01);
    EXPECT_EQ(static_cast<int32_t>(outline.apples.size()), track.appleCount);

    const std::string head = "<svg viewBox=\"0 0 1 1\">\n<path class=\"ground\" d=\"";
    const std::string marks = "\"/>\n<circle class=\"start\" cx=\"1\" cy=\"2\" r=\"3\"/>\n"
                              "<circle class=\"finish\" cx=\"4\" cy=\"5\" r=\"3\"/>\n</svg>\n";
    HubOutline read;
    ASSERT_TRUE(parseOutlineSvg(head + "M0 0 L10 0 L10 -10 Z " + marks, read));
    EXPECT_EQ(read.polygons.size(), 1u);
    EXPECT_EQ(read.polygons[0].back(), (std::pair<double, double>{10.0, 10.0}));
    EXPECT_EQ(read.finish, (std::pair<double, double>{4.0, -5.0}));
    EXPECT_FALSE(parseOutlineSvg("<html>" + head + "M0 0 Z" + marks, read));
    EXPECT_FALSE(parseOutlineSvg(head + "M0 0 L1e999 0 Z " + marks, read));
    EXPECT_FALSE(parseOutlineSvg(head + "M0 0 L10 0 Z", read));
    EXPECT_FALSE(parseOutlineSvg(head + "L0 0 Z " + marks, read));
    std::string many = "M0 0 ";
    for (size_t i = 0; i < kMaxOutlinePoints; ++i) {
        many += "L1 1 ";
    }
    EXPECT_FALSE(parseOutlineSvg(head + many + marks, read));
}
