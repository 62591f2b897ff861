#include "CacheFile.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include <unistd.h>

namespace hub {

void replaceCacheFile(const std::string& path, const std::string& bytes)
{
    // The thread's own name beside it: two threads writing the same file
    // never share a half-written one.
    const std::string temp = path + "." + std::to_string(::gettid()) + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            ::unlink(temp.c_str());
            throw std::runtime_error("cannot write " + temp);
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace hub
