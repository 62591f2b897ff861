// The hub's web pages: names escaped, the track drawn from its polygons.
#include "HubTestSupport.h"

#include "Pages.h"
#include "TrackShape.h"

#include <filesystem>

using namespace hubtest;

namespace {

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

TEST(PagesTest, EveryTextAPlayerSuppliedIsEscaped)
{
    hub::TrackSummary t;
    t.digest = "0123456789abcdef";
    t.name = "<script>alert('x')</script>&.vlt";
    t.author = "\"><img src=x onerror=y>";
    t.recordSteps = 100;
    t.recordHolder = "<b>holder</b>";
    const std::string index = hub::renderIndex({t});
    const std::string track = hub::renderTrack(t, {}, {hub::TimeEntry{1, "<i>p</i>", 100, 0}});
    hub::PlayerRecord p{1, "<u>me</u>", "", 0};
    hub::PlayerRun run;
    run.trackName = t.name;
    const std::string player = hub::renderPlayer(p, {run}, {t});
    for (const std::string& page : {index, track, player}) {
        EXPECT_EQ(page.find("<script"), std::string::npos);
        EXPECT_EQ(page.find("<img"), std::string::npos);
        EXPECT_EQ(page.find("<b>"), std::string::npos);
        EXPECT_EQ(page.find("<i>"), std::string::npos);
        EXPECT_EQ(page.find("<u>"), std::string::npos);
    }
    EXPECT_NE(index.find("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&amp;.vlt"), std::string::npos);
    EXPECT_NE(track.find("/players/%22%3E%3Cimg"), std::string::npos);
}

TEST(PagesTest, TheOutlineDrawsEveryPolygonTheStartTheFinishAndEachApple)
{
    const std::string dir = tempDir();
    std::filesystem::copy_file(packTrack("02-first-ride"), dir + "/t.vlt");
    hub::TrackShape shape;
    ASSERT_TRUE(hub::readTrackShape(dir + "/t.vlt", shape));
    ASSERT_FALSE(shape.polygons.empty());
    const std::string svg = hub::trackSvg(shape);
    EXPECT_EQ(count(svg, "class=\"apple\""), shape.apples.size());
    EXPECT_EQ(count(svg, "class=\"start\""), 1u);
    EXPECT_EQ(count(svg, "class=\"finish\""), 1u);
    size_t vertices = 0;
    for (const auto& p : shape.polygons) {
        vertices += p.size();
    }
    // One move and the lines of each polygon, each closed; y turned down.
    const size_t d = svg.find(" d=\"");
    ASSERT_NE(d, std::string::npos);
    const std::string path = svg.substr(d, svg.find('"', d + 4) - d);
    EXPECT_EQ(count(path, "M"), shape.polygons.size());
    EXPECT_EQ(count(path, "L"), vertices - shape.polygons.size());
    EXPECT_EQ(count(path, "Z "), shape.polygons.size());
    char start[64];
    std::snprintf(start, sizeof start, "cx=\"%.1f\" cy=\"%.1f\"", shape.start.first, -shape.start.second);
    EXPECT_NE(svg.find(std::string("class=\"start\" ") + start), std::string::npos) << svg.substr(0, 400);
    std::filesystem::remove_all(dir);
}

TEST(PagesTest, TheHubServesItsPagesAsHtml)
{
    const std::string dir = tempDir();
    {
        Hub hub(dir + "/hub.sqlite");
        ASSERT_TRUE(hub.running()) << hub.errors();
        const Player ann = addPlayer(hub, "Ann");
        const std::string digest = addTrack(hub, ann, "02-first-ride.vlt", readFile(packTrack("02-first-ride")));
        EXPECT_EQ(hub.request("POST", "/api/runs", ann.auth(), readFile(packReplay("02-first-ride"))).status, 201);
        for (const std::string& path : {std::string("/"), "/tracks/" + digest, std::string("/players/Ann")}) {
            const auto r = hub.request("GET", path);
            EXPECT_EQ(r.status, 200) << path;
            EXPECT_EQ(r.headers.at("content-type"), "text/html; charset=utf-8");
            EXPECT_NE(r.body.find("Ann"), std::string::npos) << path;
            EXPECT_EQ(r.body.find("<script"), std::string::npos);
        }
        const auto page = hub.request("GET", "/tracks/" + digest);
        EXPECT_NE(page.body.find("<img class=\"outline\" src=\"/tracks/" + digest + "/outline.svg\""),
                  std::string::npos);
        EXPECT_NE(hub.request("GET", "/tracks/" + digest + "/outline.svg").body.find("<svg"), std::string::npos);
        EXPECT_NE(page.body.find("/api/tracks/" + digest + "/runs/1.replay"), std::string::npos);
        EXPECT_EQ(hub.request("GET", "/players/Nobody").status, 404);
        EXPECT_EQ(hub.request("GET", "/tracks/0123456789abcdef").status, 404);
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
