// SIGKILL in the middle of a load: every run answered 201 is there after a
// restart, and nothing half-written is.
#include "HubTestSupport.h"

#include "model/Replay.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

using namespace hubtest;

namespace {

class KillTest : public BackendTest {};

TEST_P(KillTest, EveryRunAnswered201SurvivesAKillInTheMiddleOfALoad)
{
    const std::vector<std::string> fast = {"--player-rate", "100000", "--address-rate", "100000", "--workers", "2"};
    auto hub = std::make_unique<Hub>(db_, fast);
    ASSERT_TRUE(hub->running()) << hub->errors();
    const std::string trackPath = dir_ + "/flat.vlt";
    writeFile(trackPath, flatTrack());
    const Player author = addPlayer(*hub, "Author");
    const std::string digest = addTrack(*hub, author, "flat.vlt", flatTrack());
    // Slowest first, so that each player's entry is replaced twice.
    const std::vector<std::pair<int, std::string>> replays = {{831, recordReplay(trackPath, "0 U\n60\n")},
                                                              {335, recordReplay(trackPath, "0\n100 U\n160\n")},
                                                              {226, recordReplay(trackPath, "0 U\n")}};
    constexpr int kClients = 8;
    constexpr int kPlayersEach = 40;
    std::vector<std::vector<Player>> players(kClients);
    for (int c = 0; c < kClients; ++c) {
        for (int p = 0; p < kPlayersEach; ++p) {
            players[c].push_back(addPlayer(*hub, "p" + std::to_string(c) + "_" + std::to_string(p)));
        }
    }

    // The best time each player was told was stored.
    std::mutex mutex;
    std::map<std::string, int> promised;
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    const uint16_t port = hub->port();
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            hub::HttpClient client("127.0.0.1", port, 5.0);
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            for (const Player& p : players[c]) {
                for (const auto& [steps, text] : replays) {
                    hub::ClientResponse r;
                    std::string error;
                    if (std::chrono::steady_clock::now() > end || !client.request("POST", "/api/runs", p.auth(), text, r, error)) {
                        return;
                    }
                    answered += 1;
                    if (r.status == 201) {
                        std::lock_guard<std::mutex> lock(mutex);
                        promised[p.name] = steps;
                    }
                }
            }
        });
    }
    // Kill once a good part of the load has been answered, well before its end.
    const auto start = std::chrono::steady_clock::now();
    while (answered < kClients * kPlayersEach && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    hub->kill9();
    for (auto& t : clients) {
        t.join();
    }
    ASSERT_GT(promised.size(), 0u);
    ASSERT_LT(answered.load(), kClients * kPlayersEach * 3) << "the load ended before the kill";

    if (GetParam() == Backend::Sqlite) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(db_.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* st = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
        sqlite3_finalize(st);
        sqlite3_close(db);
    }

    hub = std::make_unique<Hub>(db_, fast);
    ASSERT_TRUE(hub->running()) << hub->errors();
    const json times = json::parse(hub->request("GET", "/api/tracks/" + digest + "/times?limit=1000").body);
    std::map<std::string, int> kept;
    for (const json& t : times) {
        kept[t["player"].get<std::string>()] = t["steps"].get<int>();
    }
    for (const auto& [name, steps] : promised) {
        ASSERT_TRUE(kept.count(name)) << name << " was answered 201 and is gone";
        // A faster run may have been committed without its answer getting out.
        EXPECT_LE(kept[name], steps) << name;
    }
    // Every stored run is whole: its replay reads and says what the table says.
    for (size_t rank = 1; rank <= times.size(); ++rank) {
        const auto r = hub->request("GET", "/api/tracks/" + digest + "/runs/" + std::to_string(rank) + ".replay");
        Replay replay;
        std::string error;
        ASSERT_TRUE(parseReplay(r.body, replay, error)) << error;
        EXPECT_EQ(replay.steps, times[rank - 1]["steps"].get<int>());
    }
    std::printf("kill test: %d answers before the kill, %zu players promised a stored run, all %zu kept\n",
                answered.load(), promised.size(), promised.size());
}

TEST_P(KillTest, SigtermAnswersTheQueueEndsTheRideInProgressAndExits)
{
    // Six rides of 30 minutes on a pile, each a minute of CPU time or more:
    // one in progress, five queued, when SIGTERM comes.
    Hub hub(db_, {"--workers", "1", "--queue", "8", "--ride-cpu", "3600", "--track-step-cpu", "0", "--stop-grace",
                  "1"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    const std::string replay = standingReplay(addTrack(hub, ann, "pile.vlt", pileTrack(20)));
    constexpr int kRuns = 6;
    std::vector<hub::ClientResponse> answers(kRuns);
    std::vector<std::thread> senders;
    const uint16_t port = hub.port();
    for (int i = 0; i < kRuns; ++i) {
        senders.emplace_back([&, i] {
            hub::HttpClient client("127.0.0.1", port, 60.0);
            std::string error;
            client.request("POST", "/api/runs", ann.auth(), replay, answers[static_cast<size_t>(i)], error);
        });
    }
    int queued = 0;
    for (int tries = 0; tries < 600 && queued < kRuns - 1; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        queued = json::parse(hub.request("GET", "/api/health").body)["queued"].get<int>();
    }
    ASSERT_EQ(queued, kRuns - 1);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(hub.stop(), 0) << hub.errors();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (auto& t : senders) {
        t.join();
    }
    int stopping = 0;
    for (const auto& r : answers) {
        EXPECT_EQ(r.status, 503) << r.body;
        EXPECT_TRUE(r.headers.count("retry-after"));
        stopping += r.body.find("the hub is stopping") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(stopping, kRuns);
    // The grace is a second; the goal with a full queue is under 15.
    EXPECT_LT(seconds, 15.0);
}

INSTANTIATE_TEST_SUITE_P(Databases, KillTest, testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

}  // namespace
