// Attacks on the hub's HTTP layer from loopback, each bounded in count and
// time: memory a client can make the hub hold, pages that cost, connection
// slots and descriptors, unsafe answers, slow uploads, and the operator's
// metrics. Where a bound is on time, the case it guards is far slower or
// is measured in CPU time.
#include "HubTestSupport.h"

#include "HttpServer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <set>
#include <thread>

#include <sys/resource.h>

using namespace hubtest;

namespace {

using clock_type = std::chrono::steady_clock;

double secondsSince(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

size_t peakResident(const Hub& hub)
{
    const std::string status = readFile("/proc/" + std::to_string(hub.pid()) + "/status");
    const size_t at = status.find("VmHWM:");
    return at == std::string::npos ? 0 : std::stoull(status.substr(at + 6)) * 1024;
}

constexpr size_t kMiB = size_t{1} << 20;

// A sanitizer's allocator keeps freed blocks aside for a while: memory
// given back cannot be seen under it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// AddressSanitizer keeps freed blocks aside (256 MB of them by default) and
// so raises a hub's peak by what it merely passed through: a hub started
// while this lives keeps a small quarantine, so that its peak is its own.
class SmallQuarantine {
public:
    SmallQuarantine()
    {
        const char* now = std::getenv("ASAN_OPTIONS");
        had_ = now != nullptr;
        saved_ = had_ ? now : "";
        ::setenv("ASAN_OPTIONS", (saved_ + (saved_.empty() ? "" : ":") + "quarantine_size_mb=4").c_str(), 1);
    }
    ~SmallQuarantine()
    {
        if (had_) {
            ::setenv("ASAN_OPTIONS", saved_.c_str(), 1);
        } else {
            ::unsetenv("ASAN_OPTIONS");
        }
    }
    SmallQuarantine(const SmallQuarantine&) = delete;
    SmallQuarantine& operator=(const SmallQuarantine&) = delete;

private:
    bool had_ = false;
    std::string saved_;
};

// A valid track of about `bytes` bytes: the flat ground, its bottom edge cut
// into as many vertices as it takes, far below the ride.
std::string bigTrack(size_t bytes)
{
    std::string t;
    auto put = [&](const void* data, size_t size) { t.append(static_cast<const char*>(data), size); };
    const double head[5] = {-1.0, 0.0, 100.0, 300.0, 60.0};
    put(head, sizeof head);
    const int32_t one = 1;
    const auto count = static_cast<int32_t>((bytes - sizeof head - 12) / 16);
    put(&one, 4);
    put(&count, 4);
    const double top[4] = {-1000.0, 0.0, 2000.0, 0.0};
    put(top, sizeof top);
    for (int32_t i = 0; i < count - 2; ++i) {
        const double p[2] = {2000.0 - 3000.0 * i / (count - 3), -200.0};
        put(p, sizeof p);
    }
    const int32_t none = 0;
    put(&none, 4);
    return t;
}

// A flat track whose finish is at `x`: a track of its own.
std::string flatTrackTo(double x)
{
    std::string t = flatTrack();
    std::memcpy(t.data() + 24, &x, sizeof x);
    return t;
}

std::string uploadHead(const Headers& headers, size_t length)
{
    std::string text = "POST /api/tracks HTTP/1.1\r\nHost: x\r\n";
    for (const auto& [name, value] : headers) {
        text += name + ": " + value + "\r\n";
    }
    return text + "Content-Length: " + std::to_string(length) + "\r\n\r\n";
}

bool asciiJsonError(const hub::ClientResponse& r)
{
    for (unsigned char c : r.body) {
        if (c >= 0x80 || c < 0x20) {
            return false;
        }
    }
    const json body = json::parse(r.body, nullptr, false);
    return body.is_object() && body.contains("error");
}

class AttackTest : public testing::Test {
protected:
    void SetUp() override { dir_ = tempDir(); }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string dir_;
};

TEST_F(AttackTest, UploadsAreCheckedFromTheirHeadersAndBodiesInFlightAreCapped)
{
    const SmallQuarantine quarantine;
    Hub hub(dir_ + "/hub.sqlite", {"--body-memory", "40", "--address-rate", "0", "--player-rate", "1000"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    Headers named = ann.auth();
    named.emplace_back("X-Velto-Name", "junk.vlt");
    std::string error;

    // Nobody, or a wrong token: refused before a byte of the body is sent.
    for (const Headers& who : {Headers{{"X-Velto-Name", "a.vlt"}},
                               Headers{{"X-Velto-Player", "Ann"}, {"X-Velto-Token", std::string(64, '0')}}}) {
        hub::HttpClient c("127.0.0.1", hub.port(), 5.0);
        ASSERT_TRUE(c.connect(error)) << error;
        ASSERT_TRUE(c.sendRaw(uploadHead(who, 16 * kMiB)));
        hub::ClientResponse r;
        ASSERT_TRUE(c.readResponse(r, error)) << "no answer before the body: " << error;
        EXPECT_EQ(r.status, 403);
    }

    // 24 anonymous uploads of 16 MiB at once: the hub holds none of them.
    const size_t before = peakResident(hub);
    const std::string body(16 * kMiB, 'x');
    std::vector<std::future<void>> senders;
    for (int t = 0; t < 4; ++t) {
        senders.push_back(std::async(std::launch::async, [&] {
            for (int i = 0; i < 6; ++i) {
                hub::HttpClient c("127.0.0.1", hub.port(), 5.0);
                std::string e;
                if (c.connect(e) && c.sendRaw(uploadHead({{"X-Velto-Name", "a.vlt"}}, body.size()))) {
                    c.sendRaw(body);
                }
            }
        }));
    }
    for (auto& s : senders) {
        s.get();
    }
    EXPECT_LT(peakResident(hub), before + 48 * kMiB) << "peak before " << before / kMiB << " MiB";

    // Two uploads in flight hold 32 of the 40 MiB: a third is told to come
    // back, before its body.
    std::vector<std::unique_ptr<hub::HttpClient>> holding;
    for (int i = 0; i < 2; ++i) {
        holding.push_back(std::make_unique<hub::HttpClient>("127.0.0.1", hub.port(), 5.0));
        ASSERT_TRUE(holding.back()->connect(error)) << error;
        ASSERT_TRUE(holding.back()->sendRaw(uploadHead(named, 16 * kMiB) + std::string(1024, 'x')));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    hub::HttpClient third("127.0.0.1", hub.port(), 5.0);
    ASSERT_TRUE(third.connect(error)) << error;
    ASSERT_TRUE(third.sendRaw(uploadHead(named, 16 * kMiB)));
    hub::ClientResponse busy;
    ASSERT_TRUE(third.readResponse(busy, error)) << "no answer before the body: " << error;
    EXPECT_EQ(busy.status, 503);
    EXPECT_TRUE(busy.headers.count("retry-after"));
    holding.clear();

    // Uploads read whole are given back once answered.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const size_t settled = hub.residentBytes();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(hub.request("POST", "/api/tracks", named, body).status, 422);
    }
    // The hub may still be finishing the last answer.
    size_t after = 0;
    for (int i = 0; i < 20 && (after = hub.residentBytes()) >= settled + 24 * kMiB; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!kSanitized) {
        EXPECT_LT(after, settled + 24 * kMiB);
    }
    EXPECT_EQ(hub.stop(), 0) << hub.errors();
}

TEST_F(AttackTest, DownloadsAreSentFromDiskToReadersThatDoNotRead)
{
    Hub hub(dir_ + "/hub.sqlite", {"--address-rate", "0"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    const std::string big = bigTrack(15 * kMiB);
    const std::string digest = addTrack(hub, ann, "big.vlt", big);
    ASSERT_FALSE(digest.empty());
    const auto whole = hub.request("GET", "/api/tracks/" + digest);
    EXPECT_EQ(whole.body.substr(8), big.substr(8));
    EXPECT_EQ(hub.request("HEAD", "/api/tracks/" + digest).headers.at("content-length"), std::to_string(big.size()));

    const size_t before = peakResident(hub);
    std::vector<std::unique_ptr<hub::HttpClient>> readers;
    std::string error;
    for (int i = 0; i < 40; ++i) {
        readers.push_back(std::make_unique<hub::HttpClient>("127.0.0.1", hub.port(), 5.0));
        ASSERT_TRUE(readers.back()->connect(error)) << error;
        ASSERT_TRUE(readers.back()->sendRaw("GET /api/tracks/" + digest + " HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    // Time for the hub to write what the sockets take.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    int status = 0;
    hub::HttpClient other("127.0.0.1", hub.port(), 10.0);
    hub::ClientResponse health;
    EXPECT_TRUE(other.request("GET", "/api/health", {}, {}, health, error)) << error;
    status = health.status;
    EXPECT_EQ(status, 200);
    EXPECT_LT(peakResident(hub), before + 64 * kMiB) << "peak before " << before / kMiB << " MiB";
    readers.clear();
    EXPECT_EQ(hub.stop(), 0) << hub.errors();
}

TEST_F(AttackTest, AReaderThatTakesNothingIsCutOffAfterTheRequestTimeout)
{
    Hub hub(dir_ + "/hub.sqlite", {"--address-rate", "0", "--request-timeout", "1"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    ASSERT_NE(hub.metricsPort(), 0) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    const std::string digest = addTrack(hub, ann, "big.vlt", bigTrack(15 * kMiB));
    ASSERT_FALSE(digest.empty());
    std::vector<std::unique_ptr<hub::HttpClient>> readers;
    std::string error;
    for (int i = 0; i < 4; ++i) {
        readers.push_back(std::make_unique<hub::HttpClient>("127.0.0.1", hub.port(), 5.0));
        ASSERT_TRUE(readers.back()->connect(error)) << error;
        ASSERT_TRUE(readers.back()->sendRaw("GET /api/tracks/" + digest + " HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    // A whole answer may take 1 s plus 15 MB at 64 KB/s, about four minutes;
    // a stalled one ends after a second of taking nothing.
    hub::HttpClient metrics("127.0.0.1", hub.metricsPort(), 10.0);
    hub::ClientResponse r;
    bool gone = false;
    const auto start = clock_type::now();
    while (!gone && secondsSince(start) < 20.0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ASSERT_TRUE(metrics.request("GET", "/metrics", {}, {}, r, error)) << error;
        // The hub's own client is the one left.
        gone = r.body.find("\nvelto_hub_connections 1\n") != std::string::npos;
    }
    EXPECT_TRUE(gone) << r.body.substr(0, 300);
    EXPECT_EQ(hub.stop(), 0) << hub.errors();
}

TEST_F(AttackTest, ATrackPageIsDrawnOnceAndNeverHoldsTheApi)
{
    Hub hub(dir_ + "/hub.sqlite", {"--address-rate", "0"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    const std::string digest = addTrack(hub, ann, "big.vlt", bigTrack(15 * kMiB));
    ASSERT_FALSE(digest.empty());
    auto fetch = [&](hub::HttpClient& c) {
        hub::ClientResponse page;
        hub::ClientResponse picture;
        std::string e;
        c.request("GET", "/tracks/" + digest, {}, {}, page, e);
        c.request("GET", "/tracks/" + digest + "/outline.svg", {}, {}, picture, e);
        return std::make_pair(page, picture);
    };
    // The first fetch draws the outline: what drawing costs.
    const double cpu0 = hub.cpuSeconds();
    hub::HttpClient first("127.0.0.1", hub.port(), 60.0);
    const auto [page, picture] = fetch(first);
    const double drawing = hub.cpuSeconds() - cpu0;
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("/tracks/" + digest + "/outline.svg"), std::string::npos);
    EXPECT_EQ(picture.status, 200);
    EXPECT_EQ(picture.headers.at("content-type"), "image/svg+xml");
    EXPECT_NE(picture.body.find("<svg"), std::string::npos);

    // 60 more while the API is asked: they cost a fraction of one drawing.
    const double cpu1 = hub.cpuSeconds();
    std::atomic<bool> done{false};
    std::vector<std::future<void>> clients;
    for (int t = 0; t < 12; ++t) {
        clients.push_back(std::async(std::launch::async, [&] {
            hub::HttpClient c("127.0.0.1", hub.port(), 60.0);
            for (int i = 0; i < 5; ++i) {
                EXPECT_EQ(fetch(c).second.status, 200);
            }
        }));
    }
    double slowest = 0.0;
    std::string error;
    while (!done) {
        const auto start = clock_type::now();
        hub::HttpClient c("127.0.0.1", hub.port(), 30.0);
        hub::ClientResponse r;
        EXPECT_TRUE(c.request("GET", "/api/health", {}, {}, r, error)) << error;
        slowest = std::max(slowest, secondsSince(start));
        done = std::all_of(clients.begin(), clients.end(), [](auto& f) {
            return f.wait_for(std::chrono::milliseconds(50)) == std::future_status::ready;
        });
    }
    const double sixty = hub.cpuSeconds() - cpu1;
    EXPECT_LT(sixty, std::max(0.5, 5.0 * drawing)) << "drawing took " << drawing << " s of CPU";
    // Each page of a hub that draws per request waits for a whole drawing.
    EXPECT_LT(slowest, 2.0);
    EXPECT_EQ(hub.stop(), 0) << hub.errors();
}

TEST_F(AttackTest, APageCostsTheSameWhateverTheSizeOfItsTrack)
{
    Hub hub(dir_ + "/hub.sqlite", {"--address-rate", "0", "--player-rate", "1000"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    const std::string small = addTrack(hub, ann, "small.vlt", flatTrack());
    const std::string big = addTrack(hub, ann, "big.vlt", bigTrack(15 * kMiB));
    ASSERT_FALSE(big.empty());
    // CPU time of 200 fetches of each track's page and of the index.
    auto cost = [&](const std::string& digest) {
        const double start = hub.cpuSeconds();
        for (int i = 0; i < 100; ++i) {
            EXPECT_EQ(hub.request("GET", "/tracks/" + digest).status, 200);
            EXPECT_EQ(hub.request("GET", "/api/tracks/" + digest + "/times").status, 200);
        }
        return hub.cpuSeconds() - start;
    };
    const double smallCost = cost(small);
    const double bigCost = cost(big);
    // A database that reads the whole row to reach a column stored after the
    // track's file pays for its 15 MB on every page.
    EXPECT_LT(bigCost, 3.0 * smallCost + 0.1) << "small " << smallCost << " s";
}

TEST_F(AttackTest, TheIndexAndTheTrackListComeInPages)
{
    Hub hub(dir_ + "/hub.sqlite", {"--address-rate", "0", "--player-rate", "1000"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    for (int i = 0; i < 51; ++i) {
        addTrack(hub, ann, "t" + std::to_string(i) + ".vlt", flatTrackTo(300.0 + i));
    }
    auto rows = [](const std::string& html) {
        size_t n = 0;
        for (size_t at = html.find("<tr><td><a href=\"/tracks/"); at != std::string::npos;
             at = html.find("<tr><td><a href=\"/tracks/", at + 1)) {
            ++n;
        }
        return n;
    };
    const auto one = hub.request("GET", "/");
    EXPECT_EQ(rows(one.body), 50u);
    EXPECT_NE(one.body.find("href=\"/?page=2\""), std::string::npos);
    EXPECT_EQ(rows(hub.request("GET", "/?page=2").body), 1u);
    // The author's page too.
    const auto made = hub.request("GET", "/players/Ann");
    EXPECT_EQ(rows(made.body), 50u);
    EXPECT_NE(made.body.find("href=\"/players/Ann?page=2\""), std::string::npos);
    EXPECT_EQ(rows(hub.request("GET", "/players/Ann?page=2").body), 1u);

    const auto all = hub.request("GET", "/api/tracks?limit=1000");
    EXPECT_EQ(json::parse(all.body).size(), 51u);
    EXPECT_EQ(all.headers.at("x-total-count"), "51");
    // Three pages of 20 hold every track once; each but the last links the next.
    std::set<std::string> seen;
    for (int page = 1; page <= 3; ++page) {
        auto r = hub.request("GET", "/api/tracks?page=" + std::to_string(page) + "&limit=20");
        const json list = json::parse(r.body);
        EXPECT_EQ(list.size(), page < 3 ? 20u : 11u);
        for (const json& t : list) {
            seen.insert(t["name"].get<std::string>());
        }
        EXPECT_EQ(r.headers["link"], page < 3 ? "</api/tracks?page=" + std::to_string(page + 1) +
                                                    "&limit=20>; rel=\"next\""
                                              : std::string());
    }
    EXPECT_EQ(seen.size(), 51u);
    EXPECT_EQ(hub.request("GET", "/api/tracks?page=0").status, 400);
    EXPECT_EQ(hub.request("GET", "/api/tracks?limit=x").status, 400);
}

TEST_F(AttackTest, WhenEverySlotIsTakenTheLongestIdleConnectionMakesRoom)
{
    Hub hub(dir_ + "/hub.sqlite", {"--connections", "12", "--address-rate", "0"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    std::vector<std::unique_ptr<hub::HttpClient>> idle;
    std::string error;
    for (int i = 0; i < 12; ++i) {
        idle.push_back(std::make_unique<hub::HttpClient>("127.0.0.1", hub.port(), 5.0));
        ASSERT_TRUE(idle.back()->connect(error)) << error;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // A hub that refuses the newcomer closes it at once; one that makes room
    // answers it and closes the first idle connection.
    std::vector<std::unique_ptr<hub::HttpClient>> newcomers;
    for (int i = 0; i < 3; ++i) {
        newcomers.push_back(std::make_unique<hub::HttpClient>("127.0.0.1", hub.port(), 5.0));
        hub::ClientResponse r;
        EXPECT_TRUE(newcomers.back()->request("GET", "/api/health", {}, {}, r, error)) << error;
        EXPECT_EQ(r.status, 200);
        EXPECT_TRUE(idle[static_cast<size_t>(i)]->closedByPeer(3.0)) << i;
    }
    EXPECT_FALSE(idle.back()->closedByPeer(0.1));
}

TEST_F(AttackTest, AnIpv6NetworkCountsAsOneAddress)
{
    EXPECT_EQ(hub::addressKey("2001:db8:1:2:3:4:5:6"), "2001:db8:1:2::/64");
    EXPECT_EQ(hub::addressKey("2001:db8:1:2:ffff::1"), "2001:db8:1:2::/64");
    EXPECT_NE(hub::addressKey("2001:db8:1:3::1"), hub::addressKey("2001:db8:1:2::1"));
    EXPECT_EQ(hub::addressKey("::ffff:192.0.2.1"), "192.0.2.1");
    EXPECT_EQ(hub::addressKey("192.0.2.1"), "192.0.2.1");

    // Behind a proxy, the rate limit of one address is the whole /64's.
    Hub hub(dir_ + "/hub.sqlite", {"--behind-proxy", "--address-rate", "1"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    int limited = 0;
    for (int i = 0; i < 8; ++i) {
        const std::string from = "2001:db8:7:7::" + std::to_string(i + 1);
        limited += hub.request("GET", "/api/health", {{"X-Forwarded-For", from}}).status == 429;
    }
    EXPECT_GE(limited, 4);
    EXPECT_EQ(hub.request("GET", "/api/health", {{"X-Forwarded-For", "2001:db8:7:8::1"}}).status, 200);
}

TEST_F(AttackTest, OutOfDescriptorsTheAcceptLoopPausesInsteadOfSpinning)
{
    if (kSanitized) {
        // The sanitizers' runtime proves an object's type (and reads memory
        // for its reports) through a pipe: in a process with no descriptor
        // left, the first check of each type fails and is reported as a
        // destroyed object, wherever it falls (seen in Boost's error
        // category, std::thread's state and shared_ptr's count).
        GTEST_SKIP() << "a sanitizer runtime cannot check types in a process with no descriptor left";
    }
    Hub hub(dir_ + "/hub.sqlite", {"--address-rate", "0"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    // An answer shows the hub has started all it starts: the sanitizers
    // check a new thread's type through a pipe, which needs descriptors.
    ASSERT_EQ(hub.request("GET", "/api/health").status, 200);
    size_t open = 0;
    for ([[maybe_unused]] const auto& fd :
         std::filesystem::directory_iterator("/proc/" + std::to_string(hub.pid()) + "/fd")) {
        ++open;
    }
    rlimit saved{};
    ASSERT_EQ(::prlimit(hub.pid(), RLIMIT_NOFILE, nullptr, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = open + 8;
    ASSERT_EQ(::prlimit(hub.pid(), RLIMIT_NOFILE, &tight, nullptr), 0);

    std::vector<std::unique_ptr<hub::HttpClient>> many;
    std::string error;
    for (int i = 0; i < 40; ++i) {
        many.push_back(std::make_unique<hub::HttpClient>("127.0.0.1", hub.port(), 5.0));
        many.back()->connect(error);
    }
    // A loop that spins takes a core for as long as this lasts.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double cpu0 = hub.cpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_LT(hub.cpuSeconds() - cpu0, 0.3);
    // Descriptors come back before the clients go: the sanitizers prove an
    // object's type through a pipe, and a hub with no descriptor to spare
    // would have its answers to those closes reported as type errors.
    ASSERT_EQ(::prlimit(hub.pid(), RLIMIT_NOFILE, &saved, nullptr), 0);
    many.clear();
    hub::HttpClient c("127.0.0.1", hub.port(), 10.0);
    hub::ClientResponse r;
    EXPECT_TRUE(c.request("GET", "/api/health", {}, {}, r, error)) << error;
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(hub.stop(), 0) << hub.errors();
}

TEST_F(AttackTest, EveryAnswerIsSafeForBrowsersAndBadBytesAreRefused)
{
    Hub hub(dir_ + "/hub.sqlite", {"--address-rate", "0", "--player-rate", "1000"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    const std::string trackPath = dir_ + "/flat.vlt";
    writeFile(trackPath, flatTrack());
    const std::string digest = addTrack(hub, ann, "flat.vlt", flatTrack());
    const std::string run = recordReplay(trackPath, "0 U\n");
    ASSERT_EQ(hub.request("POST", "/api/runs", ann.auth(), run).status, 201);

    // Every GET answers HEAD alike, without the body; every answer says
    // its type is the one given.
    for (const std::string& target :
         {std::string("/"), "/tracks/" + digest, "/tracks/" + digest + "/outline.svg", std::string("/players/Ann"),
          std::string("/api/health"), std::string("/api/tracks"), "/api/tracks/" + digest,
          "/api/tracks/" + digest + "/times", "/api/tracks/" + digest + "/runs/1.replay",
          std::string("/nothing"), std::string("/api/nothing")}) {
        auto get = hub.request("GET", target);
        auto head = hub.request("HEAD", target);
        EXPECT_EQ(head.status, get.status) << target;
        EXPECT_TRUE(head.body.empty()) << target;
        if (get.headers.count("content-length") != 0 && target != "/api/health") {
            EXPECT_EQ(head.headers["content-length"], get.headers["content-length"]) << target;
        }
        EXPECT_EQ(get.headers["x-content-type-options"], "nosniff") << target;
        if (get.headers["content-type"].rfind("text/html", 0) == 0) {
            EXPECT_NE(get.headers["content-security-policy"].find("frame-ancestors 'none'"), std::string::npos)
                << target;
        }
    }
    for (const auto& [method, target, allow] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"POST", "/api/health", "GET, HEAD"},
             {"DELETE", "/api/tracks", "GET, HEAD, POST"},
             {"GET", "/api/runs", "POST"},
             {"POST", "/", "GET, HEAD"}}) {
        auto r = hub.request(method, target, {}, method == "POST" ? "{}" : "");
        EXPECT_EQ(r.status, 405) << method << " " << target;
        EXPECT_EQ(r.headers["allow"], allow) << method << " " << target;
        EXPECT_EQ(r.headers["x-content-type-options"], "nosniff");
    }

    // Bytes that are not UTF-8, anywhere: 400, and the answer copies none.
    std::string keyLine = run;
    keyLine.insert(keyLine.find("\n0 ") + 1, "\xff");
    std::string trackLine = run;
    trackLine.replace(trackLine.find("flat.vlt"), 8, "fl\xe9t.vlt");
    Headers badHeader = ann.auth();
    badHeader.emplace_back("X-Anything", "caf\xe9");
    for (const auto& [target, headers, body] : std::vector<std::tuple<std::string, Headers, std::string>>{
             {"/api/runs", ann.auth(), keyLine},
             {"/api/runs", ann.auth(), trackLine},
             {"/api/runs", badHeader, run},
             {"/api/players", {}, "{\"name\": \"B\xc3\x28\"}"},
             {"/api/players?x=\xfe", {}, "{\"name\": \"Bo\"}"}}) {
        const auto r = hub.request("POST", target, headers, body);
        EXPECT_EQ(r.status, 400) << target << " " << r.body;
        EXPECT_TRUE(asciiJsonError(r)) << r.body;
    }
    // A replay's track line is a plain file name of bounded length.
    for (const std::string& name : {std::string(600 * 1024, 'a') + "<script>", std::string("../../etc/passwd"),
                                    std::string("a\\b")}) {
        std::string forged = run;
        forged.replace(forged.find("flat.vlt"), 8, name);
        const auto r = hub.request("POST", "/api/runs", ann.auth(), forged);
        EXPECT_EQ(r.status, 400) << name.substr(0, 40) << " " << r.body.substr(0, 200);
        EXPECT_TRUE(asciiJsonError(r)) << r.body.substr(0, 200);
    }
    EXPECT_EQ(hub.stop(), 0) << hub.errors();
}

TEST_F(AttackTest, AnUploadMayTakeItsTimeButAStalledOneIsCut)
{
    Hub hub(dir_ + "/hub.sqlite", {"--request-timeout", "1", "--address-rate", "0", "--player-rate", "1000"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    Headers named = ann.auth();
    named.emplace_back("X-Velto-Name", "slow.vlt");
    std::string error;

    // 200 KB at 100 KB/s: twice the request timeout, half what its size
    // allows (1 s and 3 s at 64 KB/s).
    hub::HttpClient slow("127.0.0.1", hub.port(), 10.0);
    ASSERT_TRUE(slow.connect(error)) << error;
    ASSERT_TRUE(slow.sendRaw(uploadHead(named, 20 * 10240)));
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(slow.sendRaw(std::string(10240, 'x'))) << "cut off after " << i << " pieces";
    }
    hub::ClientResponse r;
    ASSERT_TRUE(slow.readResponse(r, error)) << error;
    EXPECT_EQ(r.status, 422);

    // A sender that stops is cut off after the request timeout of silence.
    hub::HttpClient stalled("127.0.0.1", hub.port(), 10.0);
    ASSERT_TRUE(stalled.connect(error)) << error;
    ASSERT_TRUE(stalled.sendRaw(uploadHead(named, 20 * 10240) + std::string(10240, 'x')));
    const auto start = clock_type::now();
    EXPECT_TRUE(stalled.closedByPeer(8.0));
    EXPECT_GT(secondsSince(start), 0.7);
    EXPECT_EQ(hub.stop(), 0) << hub.errors();
}

TEST_F(AttackTest, MetricsAreServedOnTheirOwnAddress)
{
    Hub hub(dir_ + "/hub.sqlite", {"--address-rate", "0"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    ASSERT_NE(hub.metricsPort(), 0) << hub.errors();
    EXPECT_EQ(hub.request("GET", "/api/health").status, 200);
    EXPECT_EQ(hub.request("GET", "/api/nothing").status, 404);
    EXPECT_EQ(hub.request("GET", "/metrics").status, 404);
    hub::HttpClient held("127.0.0.1", hub.port(), 5.0);
    std::string error;
    ASSERT_TRUE(held.connect(error)) << error;

    hub::HttpClient c("127.0.0.1", hub.metricsPort(), 10.0);
    hub::ClientResponse r;
    // Until the hub has taken the held connection in.
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(c.request("GET", "/metrics", {}, {}, r, error)) << error;
        if (r.body.find("\nvelto_hub_connections 2\n") != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.headers["content-type"].rfind("text/plain; version=0.0.4", 0), 0u);
    for (const std::string& line : {std::string("velto_hub_requests_total{route=\"GET /api/health\",status=\"200\"} 1\n"),
                                    std::string("velto_hub_requests_total{route=\"GET other\",status=\"404\"} 2\n"),
                                    std::string("velto_hub_verify_queue 0\n"),
                                    std::string("velto_hub_body_bytes_in_flight 0\n"),
                                    std::string("\nvelto_hub_database_seconds_count "),
                                    std::string("\nvelto_hub_ride_cpu_seconds_count 0\n"),
                                    std::string("\nvelto_hub_rides_total 0\n")}) {
        EXPECT_NE(r.body.find(line), std::string::npos) << line << " in\n" << r.body;
    }
    // The connection of the hub's own client and the one held open.
    EXPECT_NE(r.body.find("\nvelto_hub_connections 2\n"), std::string::npos) << r.body;
    EXPECT_EQ(hub.stop(), 0) << hub.errors();
}

}  // namespace
