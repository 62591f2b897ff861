// Hostile clients: the fuzz corpora as uploads, bodies that lie about their
// length, slow senders, too many connections. The hub answers or hangs up
// within its timeouts, keeps serving others, and stops cleanly afterwards.
#include "HubTestSupport.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace hubtest;

namespace {

using clock_type = std::chrono::steady_clock;

double secondsSince(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// A health check on a connection of its own, timed.
double healthSeconds(uint16_t port, int& status)
{
    const auto start = clock_type::now();
    hub::HttpClient c("127.0.0.1", port, 10.0);
    hub::ClientResponse r;
    std::string error;
    c.request("GET", "/api/health", {}, {}, r, error);
    status = r.status;
    return secondsSince(start);
}

std::vector<std::string> corpus(const std::string& name)
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(VELTO_SOURCE_DIR) + "/tests/fuzz/corpus/" + name)) {
        files.push_back(readFile(entry.path()));
    }
    return files;
}

class HostileTest : public testing::Test {
protected:
    void SetUp() override { dir_ = tempDir(); }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

TEST_F(HostileTest, FuzzCorporaAndForgedCountsAreAnsweredWithoutAServerError)
{
    Hub hub(dir_ + "/hub.sqlite", {"--player-rate", "1000", "--address-rate", "100000"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    Headers h = ann.auth();
    h.emplace_back("X-Velto-Name", "fuzz.vlt");

    std::vector<std::string> tracks = corpus("fuzz_track");
    // Counts that promise far more than the file holds.
    std::string huge = flatTrack().substr(0, 40);
    const int32_t many = 0x7fffffff;
    huge.append(reinterpret_cast<const char*>(&many), 4);
    huge.append(reinterpret_cast<const char*>(&many), 4);
    tracks.push_back(huge);
    for (const std::string& t : tracks) {
        const auto r = hub.request("POST", "/api/tracks", h, t);
        EXPECT_TRUE(r.status == 201 || r.status == 200 || r.status == 422) << r.status << " " << r.body;
    }
    std::vector<std::string> replays = corpus("fuzz_replay");
    replays.push_back(std::string(1 << 19, '\n'));
    for (const std::string& text : replays) {
        const auto r = hub.request("POST", "/api/runs", ann.auth(), text);
        EXPECT_TRUE(r.status == 400 || r.status == 404 || r.status == 422) << r.status << " " << r.body;
    }
    // A claim of a step more than 30 minutes of riding is refused before any riding.
    const auto forever = hub.request("POST", "/api/runs", ann.auth(),
                                     "# velto replay 2\n# track: a\n# digest: 0000000000000000\n"
                                     "# result: finished steps: 180001 time: 30:00:01\n0 U\n# end\n");
    EXPECT_EQ(forever.status, 422) << forever.body;
    int status = 0;
    healthSeconds(hub.port(), status);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(hub.stop(), 0) << hub.errors();
}

TEST_F(HostileTest, ABodyShorterThanItsLengthIsCutOffAtTheRequestTimeout)
{
    Hub hub(dir_ + "/hub.sqlite", {"--request-timeout", "1"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    hub::HttpClient liar("127.0.0.1", hub.port(), 10.0);
    std::string error;
    ASSERT_TRUE(liar.connect(error)) << error;
    ASSERT_TRUE(liar.sendRaw("POST /api/players HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\n{\"name\":"));
    const auto start = clock_type::now();
    int status = 0;
    EXPECT_LT(healthSeconds(hub.port(), status), 0.9);
    EXPECT_EQ(status, 200);
    EXPECT_TRUE(liar.closedByPeer(6.0));
    EXPECT_LT(secondsSince(start), 4.0);
    EXPECT_GT(secondsSince(start), 0.5);

    // A body longer than its length: the rest is a malformed request.
    ASSERT_TRUE(liar.connect(error)) << error;
    ASSERT_TRUE(liar.sendRaw("POST /api/players HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}\x01\x02 garbage\r\n\r\n"));
    hub::ClientResponse r;
    ASSERT_TRUE(liar.readResponse(r, error)) << error;
    EXPECT_EQ(r.status, 400);
    ASSERT_TRUE(liar.readResponse(r, error)) << error;
    EXPECT_EQ(r.status, 400);
    EXPECT_TRUE(liar.closedByPeer(3.0));
}

TEST_F(HostileTest, SlowSendersAndTooManyConnectionsDoNotStopOthersBeingServed)
{
    // A ride over its CPU budget makes the hub replace its verifier while
    // the slow connections are open: the new process must not keep them
    // alive. Thirty minutes of standing cost far more than a millisecond.
    Hub hub(dir_ + "/hub.sqlite", {"--request-timeout", "4", "--idle-timeout", "4", "--connections", "40",
                                   "--workers", "1", "--ride-cpu", "0.001", "--track-step-cpu", "0"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    const std::string trackPath = dir_ + "/flat.vlt";
    writeFile(trackPath, flatTrack());
    addTrack(hub, ann, "flat.vlt", flatTrack());
    std::string standing = recordReplay(trackPath, "0\n", "180000");
    standing.replace(standing.find("running"), 7, "finished");

    const std::string request = "GET /api/health HTTP/1.1\r\nHost: x\r\n\r\n";
    std::vector<std::unique_ptr<hub::HttpClient>> slow;
    std::string error;
    for (int i = 0; i < 30; ++i) {
        slow.push_back(std::make_unique<hub::HttpClient>("127.0.0.1", hub.port(), 10.0));
        ASSERT_TRUE(slow.back()->connect(error)) << error;
    }
    // One byte per connection every 100 ms: each would take seconds to finish.
    const auto start = clock_type::now();
    size_t sent = 0;
    while (secondsSince(start) < 0.6) {
        for (auto& c : slow) {
            c->sendRaw(request.substr(sent % request.size(), 1));
        }
        ++sent;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // A server that waits for a slow sender answers no sooner than it cuts
    // one off (4 s); the bound leaves a busy machine seconds to spare.
    int status = 0;
    EXPECT_LT(healthSeconds(hub.port(), status), 2.5);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(hub.request("POST", "/api/runs", ann.auth(), standing).status, 422);
    // Beyond the cap, connections are closed at once; those admitted wait
    // for the idle timeout, well after this.
    std::vector<std::unique_ptr<hub::HttpClient>> extra;
    for (int i = 0; i < 20; ++i) {
        extra.push_back(std::make_unique<hub::HttpClient>("127.0.0.1", hub.port(), 10.0));
        extra.back()->connect(error);
    }
    int refused = 0;
    const auto refusedBy = clock_type::now() + std::chrono::milliseconds(2000);
    for (auto& c : extra) {
        refused += c->closedByPeer(std::max(0.05, std::chrono::duration<double>(refusedBy - clock_type::now()).count())) ? 1 : 0;
    }
    EXPECT_GE(refused, 10);
    // The trickling requests never completed in time: all cut off, within
    // a bound that leaves room for a loaded machine.
    int closed = 0;
    const auto cutOff = clock_type::now() + std::chrono::seconds(15);
    for (auto& c : slow) {
        closed += c->closedByPeer(std::max(0.1, std::chrono::duration<double>(cutOff - clock_type::now()).count())) ? 1 : 0;
    }
    EXPECT_EQ(closed, 30);
    extra.clear();
    EXPECT_LT(healthSeconds(hub.port(), status), 2.5);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(hub.stop(), 0) << hub.errors();
}

}  // namespace
