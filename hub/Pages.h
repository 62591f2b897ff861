// The hub's web pages: plain HTML and CSS, no script. Every text a player
// supplied (names, track names) goes through escapeHtml.
#pragma once

#include "HttpServer.h"
#include "Store.h"

#include <string>
#include <vector>

namespace hub {

std::string escapeHtml(const std::string& text);
// A path segment with everything but letters, digits, '-', '_' and '.' as %XX.
std::string escapeUrl(const std::string& text);

HttpResponse htmlPage(int status, const std::string& title, const std::string& body);
HttpResponse pageNotFound();

std::string renderIndex(const std::vector<TrackSummary>& tracks);
std::string renderTrack(const TrackSummary& track, const std::string& svg, const std::vector<TimeEntry>& times);
std::string renderPlayer(const PlayerRecord& player, const std::vector<PlayerRun>& runs,
                         const std::vector<TrackSummary>& authored);

}  // namespace hub
