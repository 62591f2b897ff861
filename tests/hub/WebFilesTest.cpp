// The track pages' player as the hub serves it (--web): the files with their
// types and caching headers, nothing else from the folder, and pages whose
// policy lets only the hub's own scripts run.
#include "HubTestSupport.h"

#include <filesystem>

using namespace hubtest;

namespace {

const char* const kFiles[] = {"velto-core.js", "velto-core.wasm", "ride.js", "player.js"};

// A folder holding stand-ins for the player's files, and one more file the
// hub must never send.
std::string webFolder()
{
    const std::string dir = tempDir();
    for (const char* name : kFiles) {
        writeFile(dir + "/" + name, std::string("// ") + name + "\n");
    }
    writeFile(dir + "/secret.txt", "not served\n");
    return dir;
}

std::string between(const std::string& text, const std::string& from, const std::string& to)
{
    const size_t a = text.find(from);
    if (a == std::string::npos) {
        return {};
    }
    const size_t b = text.find(to, a + from.size());
    return b == std::string::npos ? std::string() : text.substr(a + from.size(), b - a - from.size());
}

TEST(WebFilesTest, TheFilesComeWithTheirTypesAndCachingAndNothingElseFromTheFolder)
{
    const std::string dir = tempDir();
    const std::string web = webFolder();
    {
        Hub hub(dir + "/hub.sqlite", {"--web", web});
        ASSERT_TRUE(hub.running()) << hub.errors();
        const auto wasm = hub.request("GET", "/web/velto-core.wasm");
        EXPECT_EQ(wasm.status, 200);
        EXPECT_EQ(wasm.headers.at("content-type"), "application/wasm");
        EXPECT_EQ(wasm.headers.at("x-content-type-options"), "nosniff");
        EXPECT_EQ(wasm.body, "// velto-core.wasm\n");
        const auto script = hub.request("GET", "/web/player.js");
        EXPECT_EQ(script.headers.at("content-type"), "text/javascript; charset=utf-8");
        // Unversioned: checked again before every use.
        EXPECT_EQ(script.headers.at("cache-control"), "no-cache");
        const std::string etag = script.headers.at("etag");
        ASSERT_FALSE(etag.empty());
        const auto again = hub.request("GET", "/web/player.js", {{"If-None-Match", etag}});
        EXPECT_EQ(again.status, 304);
        EXPECT_TRUE(again.body.empty());
        EXPECT_EQ(hub.request("GET", "/web/player.js", {{"If-None-Match", "\"other\""}}).status, 200);
        const auto head = hub.request("HEAD", "/web/ride.js");
        EXPECT_EQ(head.status, 200);
        EXPECT_TRUE(head.body.empty());
        EXPECT_EQ(head.headers.at("content-type"), "text/javascript; charset=utf-8");

        // The version the pages name: such answers keep for a day; an old
        // version's name is checked again.
        const Player ann = addPlayer(hub, "Ann");
        const std::string digest = addTrack(hub, ann, "02-first-ride.vlt", readFile(packTrack("02-first-ride")));
        const std::string page = hub.request("GET", "/tracks/" + digest).body;
        const std::string version = between(page, "/web/player.js?v=", "\"");
        ASSERT_EQ(version.size(), 16u) << page;
        EXPECT_EQ(hub.request("GET", "/web/player.js?v=" + version).headers.at("cache-control"),
                  "public, max-age=86400, immutable");
        EXPECT_EQ(hub.request("GET", "/web/player.js?v=0000000000000000").headers.at("cache-control"), "no-cache");

        for (const std::string& path : {std::string("/web/secret.txt"), std::string("/web/..%2Fhub.sqlite"),
                                        std::string("/web/../hub.sqlite"), std::string("/web/"),
                                        std::string("/web/ride.js/x")}) {
            const auto r = hub.request("GET", path);
            EXPECT_EQ(r.status, 404) << path;
            EXPECT_EQ(r.body.find("not served"), std::string::npos) << path;
        }
        EXPECT_EQ(hub.request("POST", "/web/ride.js", {}, "x").status, 405);
    }
    std::filesystem::remove_all(dir);
    std::filesystem::remove_all(web);
}

TEST(WebFilesTest, ThePagesLetOnlyTheHubsOwnScriptsRunAndKeepTheirOutlineAndTable)
{
    const std::string dir = tempDir();
    const std::string web = webFolder();
    {
        Hub hub(dir + "/hub.sqlite", {"--web", web});
        ASSERT_TRUE(hub.running()) << hub.errors();
        const Player ann = addPlayer(hub, "Ann");
        const std::string digest = addTrack(hub, ann, "02-first-ride.vlt", readFile(packTrack("02-first-ride")));
        EXPECT_EQ(hub.request("POST", "/api/runs", ann.auth(), readFile(packReplay("02-first-ride"))).status, 201);
        for (const std::string& path : {std::string("/"), "/tracks/" + digest, std::string("/players/Ann")}) {
            const auto r = hub.request("GET", path);
            const std::string policy = r.headers.at("content-security-policy");
            EXPECT_NE(policy.find("default-src 'none'"), std::string::npos) << policy;
            EXPECT_EQ(between(policy + ";", "script-src ", ";"), "'self' 'wasm-unsafe-eval'") << policy;
            EXPECT_NE(policy.find("frame-ancestors 'none'"), std::string::npos) << policy;
            EXPECT_EQ(policy.find("http"), std::string::npos) << policy;
            EXPECT_EQ(policy.find('*'), std::string::npos) << policy;
        }
        const std::string page = hub.request("GET", "/tracks/" + digest).body;
        // Every script is a file of the hub's own; none is inline.
        size_t scripts = 0;
        for (size_t at = page.find("<script"); at != std::string::npos; at = page.find("<script", at + 1)) {
            EXPECT_EQ(page.compare(at, 18, "<script src=\"/web/"), 0) << page.substr(at, 60);
            EXPECT_EQ(page.compare(page.find('>', at), 10, "></script>"), 0) << page.substr(at, 60);
            ++scripts;
        }
        EXPECT_EQ(scripts, 3u);
        EXPECT_EQ(page.find(" on"), std::string::npos);  // no event handler attributes
        // Without the scripts the page reads as before: the outline, the
        // table with its replay links; the player is hidden.
        EXPECT_NE(page.find("<section id=\"player\" class=\"player\" hidden"), std::string::npos);
        EXPECT_NE(page.find("<img class=\"outline\""), std::string::npos);
        EXPECT_NE(page.find("<tr data-rank=\"1\" data-steps=\""), std::string::npos);
        EXPECT_NE(page.find("/api/tracks/" + digest + "/runs/1.replay"), std::string::npos);
    }
    std::filesystem::remove_all(dir);
    std::filesystem::remove_all(web);
}

TEST(WebFilesTest, AHubToldToServeAnIncompletePlayerDoesNotStart)
{
    const std::string dir = tempDir();
    const std::string web = webFolder();
    std::filesystem::remove(web + "/velto-core.wasm");
    {
        Hub hub(dir + "/hub.sqlite", {"--web", web});
        EXPECT_FALSE(hub.running());
        EXPECT_NE(hub.errors().find("velto-core.wasm"), std::string::npos) << hub.errors();
    }
    std::filesystem::remove_all(dir);
    std::filesystem::remove_all(web);
}

}  // namespace
