// The tracks of a folder, in file-name order: what the game's next-track key
// and track list go through.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A folder holds at most this many tracks as far as the game is concerned.
inline constexpr size_t kMaxFolderTracks = 100000;

// The folder of a track path ("." for a bare file name).
std::string folderOf(const std::string& trackPath);

// Every entry of `folder` whose name ends in ".vlt" (any case) and that is
// not a folder itself, as paths folder/name, sorted by name byte for byte.
// Entries that cannot be read are listed all the same: the list tells the
// player about them. Empty when the folder cannot be read.
std::vector<std::string> trackFilesIn(const std::string& folder);

// The path in `files` (sorted as above) that follows `current` by file
// name; `current` itself need not be in the list. Empty after the last.
std::string trackAfter(const std::string& current, const std::vector<std::string>& files);
