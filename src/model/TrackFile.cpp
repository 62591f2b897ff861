// Track files: the reader, the whole-file writer and the best-time rewrite.
//
// Values are encoded byte by byte as little-endian, independent of the host
// layout. The reader allocates only after the bytes of an object have been
// read (or, for the one object made ahead of its bytes, one at a time), so a
// count in the file can never make it allocate more than the file backs.
#include "model/TrackFile.h"

#include "model/FileAccess.h"
#include "model/Globals.h"

#include <bit>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include "model/FileSeam.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

TrackBounds trackBounds;
Cpolygons* polygonTail = nullptr;
Cpolygons* activePolygon = nullptr;
Capples* activeApple = nullptr;
bool trackSavesUnnamed = true;

namespace {

// Buffered little-endian reader over a FILE*; a short read is a failure.
class TrackReader {
public:
    explicit TrackReader(std::FILE* file) : file_(file) {}

    bool readBytes(unsigned char* out, size_t n)
    {
        while (n > 0) {
            if (pos_ == end_) {
                if (!refill()) {
                    return false;
                }
            }
            size_t take = end_ - pos_;
            if (take > n) {
                take = n;
            }
            std::memcpy(out, buffer_ + pos_, take);
            pos_ += take;
            out += take;
            n -= take;
        }
        return true;
    }

    bool readDouble(double& value)
    {
        unsigned char b[8];
        if (!readBytes(b, 8)) {
            return false;
        }
        uint64_t bits = 0;
        for (int i = 7; i >= 0; --i) {
            bits = (bits << 8) | b[i];
        }
        value = std::bit_cast<double>(bits);
        return true;
    }

    bool readInt32(int32_t& value)
    {
        unsigned char b[4];
        if (!readBytes(b, 4)) {
            return false;
        }
        const uint32_t bits = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                              (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
        value = static_cast<int32_t>(bits);
        return true;
    }

    bool readPoint(Cvector& point) { return readDouble(point.x) && readDouble(point.y); }

private:
    bool refill()
    {
        pos_ = 0;
        end_ = std::fread(buffer_, 1, sizeof buffer_, file_);
        return end_ > 0;
    }

    std::FILE* file_;
    unsigned char buffer_[16384];
    size_t pos_ = 0;
    size_t end_ = 0;
};

bool readTrack(TrackReader& in, Cvector*& start, Cvector*& finish, int32_t& polygonCount,
               Cpolygons*& polygons, int32_t& appleCount, Capples*& apples, double& bestTime)
{
    start = new Cvector();
    finish = new Cvector();

    if (!in.readDouble(bestTime)) {
        return false;
    }
    if (!in.readPoint(*start)) {
        return false;
    }
    trackBounds.minX = start->x;
    trackBounds.maxX = start->x;
    trackBounds.minY = start->y;
    trackBounds.maxY = start->y;
    if (!in.readPoint(*finish)) {
        return false;
    }
    extendTrackBounds(*finish);

    if (!in.readInt32(polygonCount)) {
        return false;
    }
    Cpolygons* node = new Cpolygons();
    polygons = node;
    for (int32_t i = 1; i <= polygonCount; ++i) {
        Cpolygon* polygon = new Cpolygon();
        node->polygon = polygon;
        int32_t n = 0;
        if (!in.readInt32(n)) {
            return false;
        }
        polygon->count = n;
        Cvertex* vertex = new Cvertex();
        polygon->first = vertex;
        for (int32_t j = 1; j <= n; ++j) {
            if (!in.readPoint(*vertex)) {
                return false;
            }
            extendTrackBounds(*vertex);
            if (j < n) {
                Cvertex* following = new Cvertex();
                vertex->next = following;
                vertex = following;
            }
        }
        if (!(gameMode && i == polygonCount)) {
            Cpolygons* following = new Cpolygons();
            node->next = following;
            following->prev = node;
            node = following;
        }
    }
    polygonTail = node;
    activePolygon = node->prev;
    // A negative count reads as an empty section and becomes 0, the number of
    // polygons read: the editor counts on from it and saves that many.
    if (polygonCount < 0) {
        polygonCount = 0;
    }

    if (!in.readInt32(appleCount)) {
        return false;
    }
    if (appleCount < 1) {
        appleCount = 0;
        apples = nullptr;
        activeApple = nullptr;
        return true;
    }
    Capples* apple = new Capples();
    apples = apple;
    for (int32_t i = 1; i <= appleCount; ++i) {
        if (!in.readPoint(*apple)) {
            return false;
        }
        extendTrackBounds(*apple);
        if (i < appleCount) {
            Capples* following = new Capples();
            apple->next = following;
            following->prev = apple;
            apple = following;
        }
        activeApple = apple;
    }
    return true;
}

// Where TrackWriter's bytes go: false on failure.
using ByteSink = std::function<bool(const unsigned char* bytes, size_t size)>;

#ifndef _WIN32
bool writeToFd(int fd, const unsigned char* bytes, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}
#endif

// Buffered writer into a sink (a file descriptor); remembers the first failure.
class TrackWriter {
public:
    explicit TrackWriter(ByteSink sink) : sink_(std::move(sink)) { buffer_.reserve(kChunk); }

    void writeDouble(double value)
    {
        uint64_t bits = std::bit_cast<uint64_t>(value);
        for (int i = 0; i < 8; ++i) {
            put(static_cast<unsigned char>(bits & 0xFF));
            bits >>= 8;
        }
    }

    void writeInt32(int32_t value)
    {
        uint32_t bits = static_cast<uint32_t>(value);
        for (int i = 0; i < 4; ++i) {
            put(static_cast<unsigned char>(bits & 0xFF));
            bits >>= 8;
        }
    }

    bool flush()
    {
        ok_ = ok_ && sink_(buffer_.data(), buffer_.size());
        buffer_.clear();
        return ok_;
    }

    bool ok() const { return ok_; }

private:
    static constexpr size_t kChunk = 65536;

    void put(unsigned char byte)
    {
        buffer_.push_back(byte);
        if (buffer_.size() >= kChunk) {
            flush();
        }
    }

    ByteSink sink_;
    std::vector<unsigned char> buffer_;
    bool ok_ = true;
};

// True when the lists hold at least as many items as the counts say, so the
// body can be written whole.
bool listsHoldCounts(int32_t polygonCount, const Cpolygons* polygons, int32_t appleCount, const Capples* apples)
{
    if (polygonCount < 0 || appleCount < 0) {
        return false;
    }
    const Cpolygons* node = polygons;
    for (int32_t i = 0; i < polygonCount; ++i, node = node->next) {
        if (node == nullptr || node->polygon == nullptr) {
            return false;
        }
        const Cvertex* v = node->polygon->first;
        for (int32_t j = 0; j < node->polygon->count; ++j, v = v->next) {
            if (v == nullptr) {
                return false;
            }
        }
    }
    const Capples* apple = apples;
    for (int32_t i = 0; i < appleCount; ++i, apple = apple->next) {
        if (apple == nullptr) {
            return false;
        }
    }
    return true;
}

// Writes the track body from the file's current offset; the lists passed
// listsHoldCounts. False on any write failure.
bool writeBody(TrackWriter& out, double bestTime, const Cvector& start, const Cvector& finish,
               int32_t polygonCount, const Cpolygons* polygons, int32_t appleCount,
               const Capples* apples)
{
    out.writeDouble(bestTime);
    out.writeDouble(start.x);
    out.writeDouble(start.y);
    out.writeDouble(finish.x);
    out.writeDouble(finish.y);
    out.writeInt32(polygonCount);
    const Cpolygons* node = polygons;
    for (int32_t i = 0; i < polygonCount && out.ok(); ++i, node = node->next) {
        out.writeInt32(node->polygon->count);
        const Cvertex* v = node->polygon->first;
        for (int32_t j = 0; j < node->polygon->count; ++j, v = v->next) {
            out.writeDouble(v->x);
            out.writeDouble(v->y);
        }
    }
    out.writeInt32(appleCount);
    const Capples* apple = apples;
    for (int32_t i = 0; i < appleCount; ++i, apple = apple->next) {
        out.writeDouble(apple->x);
        out.writeDouble(apple->y);
    }
    return out.flush();
}

#ifndef _WIN32
// Writes a whole body to an open file and makes it durable.
using BodyWriter = std::function<bool(int fd)>;

std::string directoryOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

// The file that `path` finally names, symbolic links followed, including a
// link to a file that does not exist yet. False for a loop of links or a
// link that cannot be read.
bool finalTarget(const std::string& path, std::string& target)
{
    target = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0) {
            return errno == ENOENT;   // a new file; a missing folder fails when it is made
        }
        if (!S_ISLNK(st.st_mode)) {
            return true;
        }
        std::vector<char> link(PATH_MAX);
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n <= 0 || static_cast<size_t>(n) >= link.size()) {
            return false;
        }
        const std::string to(link.data(), static_cast<size_t>(n));
        target = to[0] == '/' ? to : directoryOf(target) + "/" + to;
    }
    return false;
}

enum class Outcome { Saved, Failed, NoTemporary };

// Writes the track into a new file beside `target` and renames it over the
// target, so the old track stays whole until the new one is. The new file
// has no name while it is written (O_TMPFILE); where the file system cannot
// make such a file, it is written under the name that the link step uses.
// A save killed between naming and renaming leaves that one name behind,
// and the next save of the track clears it. `old` is the file being
// replaced, whose permission bits the new one takes, or null. NoTemporary
// when no new file can stand beside the target as the same file again: the
// folder is not writable, the name with its suffix is too long, or the new
// file would not have the old one's owner.
Outcome saveBeside(const std::string& target, const struct stat* old, const BodyWriter& body)
{
    const std::string dir = directoryOf(target);
    const size_t slash = target.find_last_of('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string suffix = ".velto-save";
    const long nameMax = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    if (1 + base.size() + suffix.size() > static_cast<size_t>(nameMax > 0 ? nameMax : NAME_MAX)) {
        return Outcome::NoTemporary;
    }
    const std::string temp = dir + "/." + base + suffix;
    (void)::unlink(temp.c_str());

    for (const bool unnamed : {true, false}) {
        if (unnamed && !trackSavesUnnamed) {
            continue;
        }
        const int fd = unnamed ? ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)
                               : ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            continue;
        }
        bool named = !unnamed;
        struct stat made {};
        if (old != nullptr && (::fstat(fd, &made) != 0 || made.st_uid != old->st_uid ||
                               made.st_gid != old->st_gid || ::fchmod(fd, old->st_mode & 07777) != 0)) {
            ::close(fd);
            if (named) {
                ::unlink(temp.c_str());
            }
            return Outcome::NoTemporary;
        }
        bool ok = body(fd);
        if (ok && unnamed) {
            const std::string self = "/proc/self/fd/" + std::to_string(fd);
            named = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0;
            if (!named) {
                ::close(fd);   // no /proc: write it again under the name
                continue;
            }
        }
        ok = (::close(fd) == 0) && ok;
        ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
        if (!ok) {
            if (named) {
                ::unlink(temp.c_str());
            }
            return Outcome::Failed;
        }
        // Make the rename itself durable; a failure here does not undo the save.
        const int folder = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            (void)::fsync(folder);
            ::close(folder);
        }
        return Outcome::Saved;
    }
    return Outcome::NoTemporary;
}

// Writes the track over the file itself: `fd` is the existing file opened
// for writing, or -1 to create a new one. A failure midway leaves what was
// written in the file.
bool saveInPlace(const std::string& target, int fd, const BodyWriter& body)
{
    const bool created = fd < 0;
    if (created) {
        fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            return false;
        }
    }
    bool ok = body(fd);
    const off_t length = ::lseek(fd, 0, SEEK_CUR);
    ok = ok && length >= 0 && ::ftruncate(fd, length) == 0 && ::fsync(fd) == 0;
    if (created) {
        ok = (::close(fd) == 0) && ok;
    }
    return ok;
}
#endif

} // namespace

void extendTrackBounds(const Cvector& point)
{
    if (point.x > trackBounds.maxX) {
        trackBounds.maxX = point.x;
    }
    if (point.x < trackBounds.minX) {
        trackBounds.minX = point.x;
    }
    if (point.y > trackBounds.maxY) {
        trackBounds.maxY = point.y;
    }
    if (point.y < trackBounds.minY) {
        trackBounds.minY = point.y;
    }
}

bool loadTrackStream(std::FILE* file, Cvector*& start, Cvector*& finish, int32_t& polygonCount,
                     Cpolygons*& polygons, int32_t& appleCount, Capples*& apples, double& bestTime)
{
    start = nullptr;
    finish = nullptr;
    polygons = nullptr;
    apples = nullptr;
    polygonCount = 0;
    appleCount = 0;
    polygonTail = nullptr;
    activePolygon = nullptr;
    activeApple = nullptr;
    if (file == nullptr) {
        return false;
    }
    TrackReader in(file);
    return readTrack(in, start, finish, polygonCount, polygons, appleCount, apples, bestTime);
}

bool loadTrack(const std::string& path, Cvector*& start, Cvector*& finish, int32_t& polygonCount,
               Cpolygons*& polygons, int32_t& appleCount, Capples*& apples, double& bestTime)
{
    // A FIFO or a device under a track's name is refused before it can block.
    std::FILE* file = openRegularStream(path);
    const bool ok = loadTrackStream(file, start, finish, polygonCount, polygons, appleCount, apples,
                                    bestTime);
    if (file != nullptr) {
        std::fclose(file);
    }
    return ok;
}

bool trackBytes(std::string& bytes, double bestTime, const Cvector& start, const Cvector& finish,
                int32_t polygonCount, const Cpolygons* polygons, int32_t appleCount, const Capples* apples)
{
    bytes.clear();
    if (!listsHoldCounts(polygonCount, polygons, appleCount, apples)) {
        return false;
    }
    TrackWriter out([&bytes](const unsigned char* data, size_t size) {
        bytes.append(reinterpret_cast<const char*>(data), size);
        return true;
    });
    return writeBody(out, bestTime, start, finish, polygonCount, polygons, appleCount, apples);
}

#ifdef _WIN32
bool writeTrack(const std::string& path, double bestTime, const Cvector& start, const Cvector& finish,
                int32_t polygonCount, const Cpolygons* polygons, int32_t appleCount,
                const Capples* apples)
{
    std::string bytes;
    return !path.empty() && trackBytes(bytes, bestTime, start, finish, polygonCount, polygons, appleCount, apples) &&
           fileseam::replaceFileWith(path, bytes);
}

bool rewriteBestTime(const std::string& path, double time)
{
    unsigned char bytes[8];
    uint64_t bits = std::bit_cast<uint64_t>(time);
    for (unsigned char& b : bytes) {
        b = static_cast<unsigned char>(bits & 0xFF);
        bits >>= 8;
    }
    return fileseam::overwriteFileStart(path, bytes, sizeof bytes);
}
#else
bool writeTrack(const std::string& path, double bestTime, const Cvector& start, const Cvector& finish,
                int32_t polygonCount, const Cpolygons* polygons, int32_t appleCount,
                const Capples* apples)
{
    std::string target;
    if (path.empty() || !listsHoldCounts(polygonCount, polygons, appleCount, apples) ||
        !finalTarget(path, target)) {
        return false;
    }
    const BodyWriter body = [&](int fd) {
        TrackWriter out([fd](const unsigned char* data, size_t size) { return writeToFd(fd, data, size); });
        return writeBody(out, bestTime, start, finish, polygonCount, polygons, appleCount, apples) &&
               ::fsync(fd) == 0;
    };

    // An existing file is saved only when the user may write it. Opening it
    // for writing, without truncating, asks exactly that and changes nothing.
    struct stat old {};
    int existing = -1;
    if (::stat(target.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode)) {
            return false;
        }
        existing = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        if (existing < 0) {
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    }
    // A file with a second name is written in place, so every name sees the
    // new track.
    Outcome outcome = Outcome::NoTemporary;
    if (existing < 0 || old.st_nlink == 1) {
        outcome = saveBeside(target, existing < 0 ? nullptr : &old, body);
    }
    if (outcome == Outcome::NoTemporary) {
        outcome = saveInPlace(target, existing, body) ? Outcome::Saved : Outcome::Failed;
    }
    if (existing >= 0) {
        ::close(existing);
    }
    return outcome == Outcome::Saved;
}

bool rewriteBestTime(const std::string& path, double time)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    unsigned char bytes[8];
    uint64_t bits = std::bit_cast<uint64_t>(time);
    for (unsigned char& b : bytes) {
        b = static_cast<unsigned char>(bits & 0xFF);
        bits >>= 8;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < sizeof bytes) {
        const ssize_t n = ::pwrite(fd, bytes + done, sizeof bytes - done, static_cast<off_t>(done));
        if (n < 0) {
            ok = errno == EINTR;
        } else {
            done += static_cast<size_t>(n);
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    return ok;
}
#endif
