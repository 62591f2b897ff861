// Replays: the driving keys of one run, kept as a key script (model/KeyScript.h)
// with a header of comment lines, so that `velto-sim TRACK --keys FILE` rides
// a replay like any other script:
//
//   # velto replay 2
//   # track: 01-first-ride.vlt
//   # digest: 5f3a0c19e2d4b786
//   # result: finished steps: 856 time: 00:08:56
//   0 U
//   20 R
//   ...
//   # end
//
// The closing line, with its line end, is the last thing in the file, so
// that a file cut short anywhere is refused instead of read as a shorter
// ride.
//
// The physics is deterministic, so the track and the keys of every step give
// the ride bit for bit, on every machine. Version 2 is the first version of
// that physics; a version 1 replay was recorded by an earlier physics (with
// the C library's transcendental functions) and is told apart, never ridden.
//
// The digest names the track's content: a 64-bit XXH3
// hash of the track file without its first 8 bytes (the best time, which
// changes as the track is played). It is identity, not security.
//
// Readers never trust the file: a replay is read only up to kMaxReplayBytes,
// and parsing takes time and memory in proportion to the text.
#pragma once

#include "model/KeyScript.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline constexpr int kReplayVersion = 2;
// The versions written by an earlier physics, which no longer ride as they
// did.
inline constexpr int kEarlierPhysicsReplayVersion = 1;
// A replay of an hour's riding with a key change every step is about 4 MB.
inline constexpr size_t kMaxReplayBytes = size_t{8} << 20;

// How the run ended; the values of the physics step's result.
enum : int32_t { ReplayRunning = 0, ReplayFinished = 1, ReplayCrashed = 2 };

struct Replay {
    std::string trackName;          // the track's file name, without its folder
    uint64_t digest = 0;            // trackDigest of the track ridden
    int32_t result = ReplayRunning;
    int32_t steps = 0;              // steps the run took, the last one included
    std::vector<KeyChange> changes; // strictly increasing steps
};

// The track name as the header line holds it: control characters, and a
// backslash that would otherwise begin such an escape, as "\xHH", so that
// every name reads back as it was written and the line stays one line.
std::string escapedTrackName(const std::string& name);

// "finished", "crashed" or "running".
const char* replayResultName(int32_t result);

// The whole replay as text, header first.
std::string formatReplay(const Replay& replay);

// Why a replay could not be read.
enum class ReplayReadError { None, Missing, Unreadable, TooLarge, Malformed, EarlierPhysics };

// The one-line reason given for ReplayReadError::EarlierPhysics.
inline constexpr const char* kEarlierPhysicsText = "recorded by an earlier physics";

// Parses a replay. Malformed with `error` set when the header is missing or
// malformed (version, track, digest, result line, in this order), a key
// line is bad or the closing line is not the last; key changes beyond
// `steps` are refused as well. EarlierPhysics (with kEarlierPhysicsText as
// the error) for a replay of an earlier physics; its header is still read
// into `replay`, its keys are not.
ReplayReadError parseReplayText(const std::string& text, Replay& replay, std::string& error);

// parseReplayText (...) == ReplayReadError::None.
bool parseReplay(const std::string& text, Replay& replay, std::string& error);

// Reads and parses the file at `path`, at most kMaxReplayBytes of it.
ReplayReadError readReplayFile(const std::string& path, Replay& replay, std::string& error);

// Writes the replay whole or not at all: into a new file (of a short name)
// in the folder of `path`, flushed, then renamed over it. False on any
// failure.
bool writeReplayFile(const std::string& path, const Replay& replay);

// The digest of the track file at `path`; false when it cannot be read or is
// shorter than its best-time field.
bool trackDigest(const std::string& path, uint64_t& digest);
// The same over an open track file, read from its current position (its
// start) to its end.
bool trackDigestOf(std::FILE* file, uint64_t& digest);

// The longest file name the replay files take: the usual limit of Linux
// file systems, in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;

// The best replay's place beside a track: "tracks/a.vlt" -> "tracks/a.replay".
// A track whose name leaves no room for the suffix gets a replay name cut
// to kMaxFileNameBytes, ending in "~" and 16 hex digits of the whole name.
std::string bestReplayPath(const std::string& trackPath);
// The track's demo, a replay shipped beside it ("tracks/a.vlt" ->
// "tracks/a.demo"), named as bestReplayPath names the best run.
std::string demoReplayPath(const std::string& trackPath);

// The file name of a path, without its folder.
std::string fileNameOf(const std::string& path);
