#include "app/Settings.h"

#include "model/FileAccess.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const unsigned char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = write(fd, data + done, size - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

} // namespace

bool readSettings(const std::string& path, MenuSettings& settings)
{
    // A regular file only (a FIFO or a device in its place is no settings
    // file), of which the first seven bytes are read; one that cannot be
    // saved counts as missing.
    if (access(path.c_str(), W_OK) != 0) {
        return false;
    }
    std::FILE* file = openRegularStream(path);
    if (file == nullptr) {
        return false;
    }
    unsigned char bytes[7];
    const bool ok = std::fread(bytes, 1, sizeof bytes, file) == sizeof bytes;
    std::fclose(file);
    if (!ok) {
        return false;
    }
    settings.width = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
    settings.height = static_cast<uint16_t>(bytes[2] | (bytes[3] << 8));
    settings.bits = bytes[4];
    settings.showFPS = bytes[5] != 0;
    settings.fullscreen = bytes[6] != 0;
    return true;
}

bool writeSettings(const std::string& path, const MenuSettings& settings)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const unsigned char bytes[7] = {
        static_cast<unsigned char>(settings.width & 0xFF),
        static_cast<unsigned char>(settings.width >> 8),
        static_cast<unsigned char>(settings.height & 0xFF),
        static_cast<unsigned char>(settings.height >> 8),
        settings.bits,
        static_cast<unsigned char>(settings.showFPS ? 1 : 0),
        static_cast<unsigned char>(settings.fullscreen ? 1 : 0),
    };
    const bool written = writeAll(fd, bytes, sizeof bytes);
    const bool closed = close(fd) == 0;
    return written && closed;
}

bool textToInt(const std::string& text, int32_t& value)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            return false;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > int64_t{INT32_MAX} + 1) {
            return false;
        }
    }
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX || signedValue < INT32_MIN) {
        return false;
    }
    value = static_cast<int32_t>(signedValue);
    return true;
}

std::string notIntegerMessage(const std::string& text)
{
    return "'" + text + "' is not a valid integer value";
}
