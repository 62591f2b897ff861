// The editor's F6 through the program: the track and its author's run go to
// the hub the player joined, on the hub's errand thread, and the answer is
// read by the editor's frames. Which file was published as which track is
// kept in hub-published.txt in the settings folder, so that publishing the
// same file again after a save sends the new version as an update.
#pragma once

#include "editor/Publish.h"
#include "net/HubStore.h"

#include <cstdint>
#include <string>

TrackPublisher hubTrackPublisher();

// The digest last published from the track file `path` on the hub at
// `url`, or 0; and keeping a new one (the file holds at most
// kMaxPublishedEntries lines, the oldest dropped).
inline constexpr size_t kMaxPublishedEntries = 1000;
uint64_t publishedDigest(const HubFiles& files, const std::string& url, const std::string& path);
bool keepPublishedDigest(const HubFiles& files, const std::string& url, const std::string& path, uint64_t digest);
