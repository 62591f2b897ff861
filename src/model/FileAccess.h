// Reading files that come from anywhere without ever waiting on them: a name
// may stand for a FIFO with no writer, a device or a folder, and opening or
// reading such a thing can block for good or never end. Only regular files
// are read; the check is made on the opened file (no race with a rename).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#ifndef _WIN32
// Opens `path` for reading when it is a regular file: the descriptor, or -1
// with errno set (ENOENT for a missing file, EINVAL for anything that is not
// a regular file).
int openRegularFile(const std::string& path);
#endif

// The same as a stream ("rb"), or null.
std::FILE* openRegularStream(const std::string& path);

enum class FileReadError { None, Missing, Unreadable, TooLarge };

// Reads the whole regular file at `path` into `text`, at most `maxBytes` of
// it: memory follows the bytes actually read, never the size the file
// claims. On failure `error` says why in a few words ("no such file", "not a
// regular file", "larger than N bytes", ...).
FileReadError readBoundedFile(const std::string& path, size_t maxBytes, std::string& text, std::string& error);
