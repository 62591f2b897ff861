// Small tracks for the physics and simulator tests, written as track files
// in a temporary folder.
#pragma once

#include "physics/World.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace testtracks {

using Point = std::pair<double, double>;

struct Track {
    double bestTime = -1.0;
    Point start{0.0, 70.0};
    Point finish{5000.0, 40.0};
    std::vector<std::vector<Point>> polygons;
    std::vector<Point> apples;
};

// Flat ground whose top edge is y = 0, from x = left to x = right.
inline std::vector<Point> flatGround(double left = -2000.0, double right = 6000.0)
{
    return {{left, -1000.0}, {right, -1000.0}, {right, 0.0}, {left, 0.0}};
}

inline void putDouble(std::string& out, double value)
{
    unsigned char bytes[8];
    std::memcpy(bytes, &value, 8);
    out.append(reinterpret_cast<const char*>(bytes), 8);   // little-endian host
}

inline void putInt(std::string& out, int32_t value)
{
    unsigned char bytes[4];
    std::memcpy(bytes, &value, 4);
    out.append(reinterpret_cast<const char*>(bytes), 4);
}

inline std::string encode(const Track& track)
{
    std::string out;
    putDouble(out, track.bestTime);
    putDouble(out, track.start.first);
    putDouble(out, track.start.second);
    putDouble(out, track.finish.first);
    putDouble(out, track.finish.second);
    putInt(out, static_cast<int32_t>(track.polygons.size()));
    for (const auto& polygon : track.polygons) {
        putInt(out, static_cast<int32_t>(polygon.size()));
        for (const auto& [x, y] : polygon) {
            putDouble(out, x);
            putDouble(out, y);
        }
    }
    putInt(out, static_cast<int32_t>(track.apples.size()));
    for (const auto& [x, y] : track.apples) {
        putDouble(out, x);
        putDouble(out, y);
    }
    return out;
}

// A folder of its own under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "velto-phys-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~TempDir()
    {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return (std::filesystem::path(path_) / name).string(); }

    std::string write(const std::string& name, const std::string& bytes) const
    {
        const std::string target = file(name);
        std::ofstream out(target, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return target;
    }

    std::string writeTrack(const std::string& name, const Track& track) const
    {
        return write(name, encode(track));
    }

private:
    std::string path_;
};

}  // namespace testtracks

// Hands `put` every body value of the simulated bike (frame, front wheel,
// rear wheel, head: position, velocity, angle, spin), in that order, for
// traces compared bit for bit.
template <class Put>
void putBikeState(Put&& put)
{
    for (const Cball* ball : {static_cast<const Cball*>(simMoto), static_cast<const Cball*>(simMoto->frontWheel),
                              static_cast<const Cball*>(simMoto->rearWheel), static_cast<const Cball*>(simMoto->head)}) {
        put(ball->position.x);
        put(ball->position.y);
        put(ball->velocity.x);
        put(ball->velocity.y);
        put(ball->angle);
        put(ball->angularVelocity);
    }
}
