#include "WebFiles.h"

#include "model/FileAccess.h"

#include <cstdint>
#include <cstdio>

namespace hub {
namespace {

struct Served {
    const char* name;
    const char* type;
};

constexpr Served kFiles[] = {
    {"velto-core.js", "text/javascript; charset=utf-8"},
    {"velto-core.wasm", "application/wasm"},
    {"ride.js", "text/javascript; charset=utf-8"},
    {"player.js", "text/javascript; charset=utf-8"},
};

// FNV-1a, 64 bits: enough to tell one build of the files from another.
uint64_t fnv(const std::string& bytes, uint64_t hash = 0xcbf29ce484222325ULL)
{
    for (unsigned char c : bytes) {
        hash = (hash ^ c) * 0x100000001b3ULL;
    }
    return hash;
}

std::string hex(uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

bool WebFiles::load(const std::string& dir, std::string& error)
{
    files_.clear();
    version_.clear();
    std::map<std::string, File> files;
    uint64_t all = 0xcbf29ce484222325ULL;
    for (const Served& served : kFiles) {
        const std::string path = dir + "/" + served.name;
        File file;
        std::string why;
        if (readBoundedFile(path, kMaxFileBytes, file.body, why) != FileReadError::None) {
            error = path + ": " + why;
            return false;
        }
        file.type = served.type;
        file.etag = "\"" + hex(fnv(file.body)) + "\"";
        all = fnv(file.etag, fnv(served.name, all));
        files.emplace(served.name, std::move(file));
    }
    files_ = std::move(files);
    version_ = hex(all);
    return true;
}

HttpResponse WebFiles::answer(const std::string& name, const std::string& query, const std::string* ifNoneMatch) const
{
    HttpResponse r;
    const auto found = files_.find(name);
    if (found == files_.end()) {
        r.status = 404;
        r.contentType = "text/plain; charset=utf-8";
        r.body = "no such file\n";
        return r;
    }
    const File& file = found->second;
    r.contentType = file.type;
    r.headers.emplace_back("ETag", file.etag);
    r.headers.emplace_back("Cache-Control", query == "v=" + version_ ? "public, max-age=86400, immutable" : "no-cache");
    // Only the hub's own pages use them.
    r.headers.emplace_back("Cross-Origin-Resource-Policy", "same-origin");
    if (ifNoneMatch != nullptr && *ifNoneMatch == file.etag) {
        r.status = 304;
        return r;
    }
    r.body = file.body;
    return r;
}

}  // namespace hub
