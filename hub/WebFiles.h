// The track pages' player: the physics module and the page's scripts
// (make web), read once from a folder when the hub starts and served from
// memory under /web/, with their types and caching headers.
//
// A file is asked for by name alone; no path from a request ever reaches
// the file system. Pages name the files with ?v=VERSION, a digest of all of
// them: such an answer may be kept for a day, any other must be checked
// again (ETag, If-None-Match) before it is used.
#pragma once

#include "HttpServer.h"

#include <cstddef>
#include <map>
#include <string>

namespace hub {

class WebFiles {
public:
    // The largest file read.
    static constexpr size_t kMaxFileBytes = size_t{8} << 20;

    // Reads the player's files from `dir`; false, with `error` saying which
    // and why, when one is missing, not a regular file or too large.
    bool load(const std::string& dir, std::string& error);
    bool present() const { return !files_.empty(); }
    // 16 hex digits that change whenever a file does; empty when none.
    const std::string& version() const { return version_; }
    // The answer to GET /web/NAME with the request's query and If-None-Match
    // (null when absent); 404 for a name that is not one of the files.
    HttpResponse answer(const std::string& name, const std::string& query, const std::string* ifNoneMatch) const;

private:
    struct File {
        std::string type;
        std::string body;
        std::string etag;
    };
    std::map<std::string, File> files_;
    std::string version_;
};

}  // namespace hub
