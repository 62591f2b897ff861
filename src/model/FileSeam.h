// What differs on Windows in the core's file code. Track files and replays
// are written whole or not at all and read within a limit on every system;
// on POSIX systems TrackFile.cpp and Replay.cpp do it with their own calls
// (a nameless temporary file, ownership and links kept, pwrite, fsync), and
// on Windows they (and model/FileAccess.cpp) call these instead. Paths are
// UTF-8.
#pragma once

#ifdef _WIN32

#include <cstddef>
#include <string>

namespace fileseam {

// Writes `bytes` into a new file beside `path`, flushes it to the disk and
// puts it in the place of `path` (ReplaceFileW over an existing file, else
// MoveFileExW). On failure `path` is left as it was and the new file is
// removed.
bool replaceFileWith(const std::string& path, const std::string& bytes);

// Overwrites the first `size` bytes of the existing file at `path` and
// flushes them to the disk.
bool overwriteFileStart(const std::string& path, const unsigned char* bytes, size_t size);

enum class ReadStatus { Ok, Missing, Unreadable };

// Reads the regular file at `path`, at most `limit` bytes of it, into
// `text`; `error` says why when it cannot.
ReadStatus readFileUpTo(const std::string& path, size_t limit, std::string& text, std::string& error);

} // namespace fileseam

#endif
