// The hub's web pages: plain HTML and CSS. The one script is the track
// page's player, from the hub's own /web/ files; without it (no player
// installed, or a browser without JavaScript or WebAssembly) every page reads
// as it is. Every text a player supplied (names, track names) goes through
// escapeHtml.
#pragma once

#include "HttpServer.h"
#include "Store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hub {

std::string escapeHtml(const std::string& text);
// A path segment with everything but letters, digits, '-', '_' and '.' as %XX.
std::string escapeUrl(const std::string& text);

HttpResponse htmlPage(int status, const std::string& title, const std::string& body);
HttpResponse pageNotFound();

// One page of the index (`page` of `pages`, from 1), with links to the others
// and to the other orders; `sort` is the order's name in the query, "" for the
// oldest first.
std::string renderIndex(const std::vector<TrackSummary>& tracks, int64_t page = 1, int64_t pages = 1,
                        const std::string& sort = {});
// `picture`: the outline's markup, empty when the track cannot be drawn;
// `versions` newest first, shown when there is more than one. `player`: the
// version of the player's files (WebFiles), empty for a page without it.
std::string renderTrack(const TrackSummary& track, const std::string& picture, const std::vector<TimeEntry>& times,
                        const std::vector<TrackSummary>& versions = {}, const std::string& player = {});
// The markup that shows a track's outline, drawn and sent apart.
std::string outlineImage(const std::string& digest);
// One page of a player's runs and tracks made (`page` of `pages`, from 1).
std::string renderPlayer(const PlayerRecord& player, const std::vector<PlayerRun>& runs,
                         const std::vector<TrackSummary>& authored, int64_t page = 1, int64_t pages = 1);

}  // namespace hub
