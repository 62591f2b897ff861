// A thread for the player's errands to a hub: a page of its list, a track's
// file or outline, joining, liking, reporting, publishing. The frame thread
// only hands errands over and reads what they left (under the caller's own
// lock); no frame ever waits for the network.
//
// The thread starts with the first errand and runs them one at a time, in
// order. browseStop cancels the exchange under way (it ends at once) and
// drops what waits.
#pragma once

#include <atomic>
#include <functional>

using BrowseErrand = std::function<void(const std::atomic<bool>* cancel)>;

// A `droppable` errand (a question whose answer may no longer be wanted)
// goes with browseDropWaiting; the others (a download, a join, a like) are
// always run.
void browsePost(BrowseErrand errand, bool droppable = false);
// Drops the droppable errands waiting; the one under way goes on.
void browseDropWaiting();
// Cancels and waits for the thread.
void browseStop();
// Errands waiting or under way.
int browsePending();
