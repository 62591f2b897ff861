// Shared body of the image-reader harnesses: TGLBMP reads files, so each
// input is written to a private file with the reader's extension and loaded,
// then the result is checked for consistency.
#pragma once

#include "gfx/GLBMP.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

inline int fuzzImageFile(const uint8_t* data, size_t size, const char* extension)
{
    static const std::string path = [extension] {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/velto-fuzz-" + std::to_string(getpid()) + extension;
    }();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return 0;
    }
    const bool written = std::fwrite(data, 1, size, f) == size;
    std::fclose(f);
    if (!written) {
        return 0;
    }
    TGLBMP image;
    const bool ok = image.LoadImageFile(path);
    if (ok) {
        // A load that succeeds holds exactly width x height RGBA pixels.
        if (image.Width() <= 0 || image.Height() <= 0 ||
            image.Pixels().size() != static_cast<size_t>(image.Width()) * static_cast<size_t>(image.Height()) * 4) {
            std::abort();
        }
        // The picture as its own alpha image always fits.
        if (!image.LoadAlphaImage(path)) {
            std::abort();
        }
    } else if (!image.Pixels().empty()) {
        std::abort();
    }
    return 0;
}
