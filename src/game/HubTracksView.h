// The hub inside the track list: the "Hub tracks" tab (Tab switches to it
// from "My tracks") and the hub panel (H).
//
// The tab shows the hub's list a page at a time in one of the hub's orders,
// with each track's author, finishers, record and holder, likes, the
// player's rank and marks for new, updated and downloaded tracks, and the
// selected track's picture: drawn from the file once downloaded, from the
// hub's outline until then. Enter downloads the track into hub-tracks/
// beside the tracks folder (checked by the game's reader and against its
// digest first) and rides it; the hub's par goes with it into that folder's
// par index, so medals work there as on the pack.
//
// The panel joins a hub (its address and a name typed in the game's own
// drawing), says who the player is and where once joined, and leaves it.
//
// Nothing is asked of a hub before the player joins one, and the list asks
// only while the tab is open. Every exchange runs on the hub's errand thread
// (net/HubBrowse.h). Main thread only, with the game's GL context current
// when drawing.
#pragma once

#include "game/TrackListView.h"

#include <cstdint>
#include <string>

// The tab opens: the hub's list is asked for (when a hub is set).
void openHubTab();
// The tab closes (or the list): errands waiting are dropped, answers still
// coming are ignored.
void closeHubTab();
bool hubTabOpen();
// One frame of the tab: its keys, and its drawing when `drawing`.
ListAction hubTabFrame(double w, double h, ListTextDrawer text, bool drawing);
// The downloaded track Enter chose.
const std::string& hubChosenTrack();

void openHubPanel();
void closeHubPanel();
bool hubPanelOpen();
// One frame of the panel over the list: Esc closes it.
void hubPanelFrame(double w, double h, ListTextDrawer text, bool drawing);

// Every frame of the game: a join that has come through starts the hub's
// thread.
void hubViewsTick();

// The end panel's L on a hub track: likes it, or takes the like back.
// False when the track is not one of the hub's.
bool hubLikeKey();
// The current track came from the hub (it lies in hub-tracks/).
bool currentTrackIsHubTrack();
