#include "model/FileAccess.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include "model/FileSeam.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32
// Windows has no FIFOs to wait on: a regular file is anything that is not a
// folder or a device.
std::FILE* openRegularStream(const std::string& path)
{
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                                      nullptr, 0);
    if (n <= 0) {
        return nullptr;
    }
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()), wide.data(), n);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return nullptr;
    }
    return _wfopen(wide.c_str(), L"rb");
}

FileReadError readBoundedFile(const std::string& path, size_t maxBytes, std::string& text, std::string& error)
{
    switch (fileseam::readFileUpTo(path, maxBytes + 1, text, error)) {
    case fileseam::ReadStatus::Missing: return FileReadError::Missing;
    case fileseam::ReadStatus::Unreadable: return FileReadError::Unreadable;
    case fileseam::ReadStatus::Ok: break;
    }
    if (text.size() > maxBytes) {
        text.clear();
        error = "larger than " + std::to_string(maxBytes) + " bytes";
        return FileReadError::TooLarge;
    }
    return FileReadError::None;
}
#else
int openRegularFile(const std::string& path)
{
    // Without O_NONBLOCK the open of a FIFO waits for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int why = errno;
        ::close(fd);
        errno = why;
        return -1;
    }
    return fd;
}

std::FILE* openRegularStream(const std::string& path)
{
    const int fd = openRegularFile(path);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        ::close(fd);
    }
    return file;
}

FileReadError readBoundedFile(const std::string& path, size_t maxBytes, std::string& text, std::string& error)
{
    text.clear();
    const int fd = openRegularFile(path);
    if (fd < 0) {
        const int why = errno;
        error = why == ENOENT ? "no such file" : why == EINVAL ? "not a regular file" : std::strerror(why);
        return why == ENOENT ? FileReadError::Missing : FileReadError::Unreadable;
    }
    struct stat info {};
    const size_t claimed = ::fstat(fd, &info) == 0 && info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
    // One byte past the limit, so that a file that grew since fstat is still
    // found too large; the buffer grows only as bytes arrive.
    text.resize(std::min(claimed, maxBytes) + 1);
    size_t done = 0;
    bool failed = false;
    for (;;) {
        const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
        if (done > maxBytes) {
            break;
        }
        if (done == text.size()) {
            text.resize(std::min(text.size() * 2, maxBytes + 1));
        }
    }
    ::close(fd);
    if (failed) {
        text.clear();
        error = "read error";
        return FileReadError::Unreadable;
    }
    if (done > maxBytes) {
        text.clear();
        error = "larger than " + std::to_string(maxBytes) + " bytes";
        return FileReadError::TooLarge;
    }
    text.resize(done);
    return FileReadError::None;
}
#endif
