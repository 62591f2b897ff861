// Track files: the reader, the whole-file writer and the best-time rewrite.
//
// Values are encoded byte by byte as little-endian, independent of the host
// layout. The reader allocates only after the bytes of an object have been
// read (or, for the one object made ahead of its bytes, one at a time), so a
// count in the file can never make it allocate more than the file backs.
#include "model/TrackFile.h"

#include "model/Globals.h"

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TrackBounds trackBounds;
Cpolygons* polygonTail = nullptr;
Cpolygons* activePolygon = nullptr;
Capples* activeApple = nullptr;

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

// Buffered writer over a file descriptor; remembers the first failure.
class TrackWriter {
public:
    explicit TrackWriter(int fd) : fd_(fd) { buffer_.reserve(kChunk); }

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
        size_t done = 0;
        while (ok_ && done < buffer_.size()) {
            const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                ok_ = false;
            } else {
                done += static_cast<size_t>(n);
            }
        }
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

    int fd_;
    std::vector<unsigned char> buffer_;
    bool ok_ = true;
};

// Writes the track body; false when the lists are shorter than the counts say.
bool writeBody(TrackWriter& out, double bestTime, const Cvector& start, const Cvector& finish,
               int32_t polygonCount, const Cpolygons* polygons, int32_t appleCount,
               const Capples* apples)
{
    if (polygonCount < 0 || appleCount < 0) {
        return false;
    }
    out.writeDouble(bestTime);
    out.writeDouble(start.x);
    out.writeDouble(start.y);
    out.writeDouble(finish.x);
    out.writeDouble(finish.y);
    out.writeInt32(polygonCount);
    const Cpolygons* node = polygons;
    for (int32_t i = 0; i < polygonCount; ++i) {
        if (node == nullptr || node->polygon == nullptr) {
            return false;
        }
        const Cpolygon* polygon = node->polygon;
        out.writeInt32(polygon->count);
        const Cvertex* v = polygon->first;
        for (int32_t j = 0; j < polygon->count; ++j) {
            if (v == nullptr) {
                return false;
            }
            out.writeDouble(v->x);
            out.writeDouble(v->y);
            v = v->next;
        }
        if (!out.ok()) {
            return false;
        }
        node = node->next;
    }
    out.writeInt32(appleCount);
    const Capples* apple = apples;
    for (int32_t i = 0; i < appleCount; ++i) {
        if (apple == nullptr) {
            return false;
        }
        out.writeDouble(apple->x);
        out.writeDouble(apple->y);
        apple = apple->next;
    }
    return out.flush();
}

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

// Creates a new file beside `path` under a name nobody else uses; -1 on failure.
int createTemporary(const std::string& path, std::string& tempPath)
{
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        ++counter;
        tempPath = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter);
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    return -1;
}

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
    std::FILE* file = std::fopen(path.c_str(), "rb");
    const bool ok = loadTrackStream(file, start, finish, polygonCount, polygons, appleCount, apples,
                                    bestTime);
    if (file != nullptr) {
        std::fclose(file);
    }
    return ok;
}

bool writeTrack(const std::string& path, double bestTime, const Cvector& start, const Cvector& finish,
                int32_t polygonCount, const Cpolygons* polygons, int32_t appleCount,
                const Capples* apples)
{
    if (path.empty()) {
        return false;
    }
    std::string tempPath;
    const int fd = createTemporary(path, tempPath);
    if (fd < 0) {
        return false;
    }
    // Keep the permissions of a track that is being replaced.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        (void)::fchmod(fd, old.st_mode & 07777);
    }
    TrackWriter out(fd);
    bool ok = writeBody(out, bestTime, start, finish, polygonCount, polygons, appleCount, apples);
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(tempPath.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
        return false;
    }
    // Make the rename itself durable; a failure here does not undo the save.
    const int dir = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return true;
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
