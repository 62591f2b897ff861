#include "HubTestSupport.h"

#include "model/Replay.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace hubtest {

std::unique_ptr<hub::ThrowawayPostgres> BackendTest::cluster_;

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string tempDir()
{
    std::string pattern = "/tmp/velto-hubtest-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    ::chmod(pattern.c_str(), 0755);
    return pattern;
}

Hub::Hub(const std::string& db, const std::vector<std::string>& options)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    errFile_ = "/tmp/velto-hubtest-err-" + std::to_string(::getpid()) + "-" + std::to_string(reinterpret_cast<uintptr_t>(this));
    cacheDir_ = tempDir();
    // The quotas are off unless a test sets them: tests register many
    // players and tracks from one address. Metrics on a free port of their
    // own: tests run side by side.
    std::vector<std::string> args = {VELTO_BINARY_DIR "/velto-hub", "--listen", "127.0.0.1:0", "--db", db,
                                     "--cache", cacheDir_, "--registrations-per-hour", "0", "--tracks-per-day", "0",
                                     "--track-mib-per-day", "0", "--metrics-listen", "127.0.0.1:0"};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        return;
    }
    pid_ = pid;
    // The first line names the port; a hub that has not said it within
    // 30 seconds has failed.
    std::string line;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        char c[256];
        const ssize_t n = ::read(out[0], c, sizeof c);
        if (n <= 0) {
            break;
        }
        line.append(c, static_cast<size_t>(n));
    }
    ::close(out[0]);
    const size_t colon = line.rfind(':');
    if (line.rfind("velto-hub: listening on ", 0) != 0 || colon == std::string::npos) {
        kill9();
        return;
    }
    port_ = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
    client_ = std::make_unique<hub::HttpClient>("127.0.0.1", port_, 30.0);
}

Hub::~Hub()
{
    if (pid_ > 0) {
        stop();
    }
    if (!errFile_.empty()) {
        ::unlink(errFile_.c_str());
    }
    if (!cacheDir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(cacheDir_, ec);
    }
}

void Hub::kill9()
{
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

int Hub::stop()
{
    if (pid_ <= 0) {
        return -1;
    }
    ::kill(pid_, SIGTERM);
    int status = 0;
    // A hub that does not stop within 20 seconds is a failure, and killed.
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill9();
    return -2;
}

hub::ClientResponse Hub::request(const std::string& method, const std::string& target, const Headers& headers,
                                 const std::string& body)
{
    hub::ClientResponse response;
    std::string error;
    if (!client_ || !client_->request(method, target, headers, body, response, error)) {
        ADD_FAILURE() << method << " " << target << ": " << error;
    }
    return response;
}

std::string Hub::errors() const
{
    return readFile(errFile_);
}

double Hub::cpuSeconds() const
{
    // Fields 14 and 15 of /proc/PID/stat, after the name in parentheses.
    const std::string stat = readFile("/proc/" + std::to_string(pid_) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1.0;
    }
    std::istringstream in(stat.substr(close + 2));
    std::string field;
    unsigned long long user = 0;
    unsigned long long system = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) {
            user = std::stoull(field);
        } else if (i == 15) {
            system = std::stoull(field);
        }
    }
    return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

size_t Hub::residentBytes() const
{
    const std::string status = readFile("/proc/" + std::to_string(pid_) + "/status");
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? 0 : std::stoull(status.substr(at + 6)) * 1024;
}

uint16_t Hub::metricsPort() const
{
    const std::string text = errors();
    const std::string said = "velto-hub: metrics on ";
    const size_t at = text.find(said);
    if (at == std::string::npos) {
        return 0;
    }
    const size_t colon = text.find(':', at + said.size());
    return colon == std::string::npos ? 0 : static_cast<uint16_t>(std::atoi(text.c_str() + colon + 1));
}

std::string backendName(const testing::TestParamInfo<Backend>& info)
{
    return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
}

void BackendTest::SetUp()
{
    dir_ = tempDir();
    if (GetParam() == Backend::Sqlite) {
        db_ = dir_ + "/hub.sqlite";
        return;
    }
    if (!cluster_) {
        cluster_ = std::make_unique<hub::ThrowawayPostgres>();
    }
    if (!cluster_->available()) {
        GTEST_SKIP() << "PostgreSQL's programs (initdb, pg_ctl) are not installed; the PostgreSQL cases are skipped";
    }
    ASSERT_TRUE(cluster_->started()) << "the throwaway PostgreSQL cluster did not start";
    db_ = cluster_->newDatabase();
    ASSERT_FALSE(db_.empty());
}

void BackendTest::TearDown()
{
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

Player addPlayer(Hub& hub, const std::string& name)
{
    auto r = hub.request("POST", "/api/players", {}, json{{"name", name}}.dump());
    EXPECT_EQ(r.status, 201) << r.body;
    const json body = json::parse(r.body, nullptr, false);
    return Player{name, body.is_object() && body.contains("token") ? body["token"].get<std::string>() : ""};
}

std::string addTrack(Hub& hub, const Player& author, const std::string& name, const std::string& bytes)
{
    Headers h = author.auth();
    h.emplace_back("X-Velto-Name", name);
    auto r = hub.request("POST", "/api/tracks", h, bytes);
    EXPECT_TRUE(r.status == 201 || r.status == 200) << r.body;
    const json body = json::parse(r.body, nullptr, false);
    return body.is_object() && body.contains("digest") ? body["digest"].get<std::string>() : "";
}

namespace {

void put(std::string& out, const void* data, size_t size)
{
    out.append(static_cast<const char*>(data), size);
}

}  // namespace

std::string flatTrack()
{
    std::string t;
    const double head[5] = {-1.0, 0.0, 100.0, 300.0, 60.0};
    put(t, head, sizeof head);
    const int32_t one = 1;
    const int32_t four = 4;
    const int32_t none = 0;
    put(t, &one, 4);
    put(t, &four, 4);
    const double ground[8] = {-1000.0, 0.0, 2000.0, 0.0, 2000.0, -200.0, -1000.0, -200.0};
    put(t, ground, sizeof ground);
    put(t, &none, 4);
    return t;
}

std::string pileTrack(int layers)
{
    std::string t;
    const double head[5] = {-1.0, 0.0, 100.0, 300.0, 60.0};
    put(t, head, sizeof head);
    const int32_t polygons = 1 + 2000 * layers;
    const int32_t four = 4;
    const int32_t none = 0;
    put(t, &polygons, 4);
    put(t, &four, 4);
    const double ground[8] = {-1000.0, 0.0, 2000.0, 0.0, 2000.0, -200.0, -1000.0, -200.0};
    put(t, ground, sizeof ground);
    for (int layer = 0; layer < layers; ++layer) {
        for (int i = 0; i < 2000; ++i) {
            const double x = -100.0 + 2.0 * (i % 100);
            const double y = 2.0 * (i / 100);
            const double square[8] = {x, y, x + 1.0, y, x + 1.0, y + 1.0, x, y + 1.0};
            put(t, &four, 4);
            put(t, square, sizeof square);
        }
    }
    put(t, &none, 4);
    return t;
}

std::string standingReplay(const std::string& digest)
{
    Replay replay;
    replay.trackName = "standing.vlt";
    replay.digest = std::strtoull(digest.c_str(), nullptr, 16);
    replay.result = ReplayFinished;
    replay.steps = 30 * 60 * 100;
    replay.changes = {KeyChange{0, 0}};
    return formatReplay(replay);
}

std::string recordReplay(const std::string& trackPath, const std::string& keys, const std::string& maxSteps)
{
    const std::string dir = tempDir();
    writeFile(dir + "/keys", keys);
    std::string command = std::string(VELTO_BINARY_DIR) + "/velto-sim " + trackPath + " --keys " + dir + "/keys --record " +
                          dir + "/out.replay";
    if (!maxSteps.empty()) {
        command += " --max-steps " + maxSteps;
    }
    command += " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    const std::string replay = readFile(dir + "/out.replay");
    std::filesystem::remove_all(dir);
    return replay;
}

std::string packTrack(const std::string& name)
{
    return std::string(VELTO_BINARY_DIR) + "/tracks/" + name + ".vlt";
}

std::string packReplay(const std::string& name)
{
    return std::string(VELTO_SOURCE_DIR) + "/tests/data/tracks/" + name + ".replay";
}

}  // namespace hubtest
