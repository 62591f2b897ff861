// The hub's own files beside its database (track copies, outlines): written
// beside their place and renamed into it, so that no reader ever sees half
// a file.
#pragma once

#include <string>

namespace hub {

// Puts `bytes` at `path` whole. Throws std::runtime_error when it cannot,
// leaving nothing beside it.
void replaceCacheFile(const std::string& path, const std::string& bytes);

}  // namespace hub
