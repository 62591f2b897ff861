// libFuzzer harness for the track reader: every input is read as a track
// file in both list shapes (editor and game) and everything built is freed.
#include "model/Globals.h"
#include "model/TrackFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

void loadOnce(const uint8_t* data, size_t size, bool game)
{
    // fmemopen refuses a zero-length buffer; an empty input reads from an
    // empty file instead.
    static const uint8_t kNothing = 0;
    std::FILE* file = size > 0 ? fmemopen(const_cast<uint8_t*>(data), size, "rb")
                               : fmemopen(const_cast<uint8_t*>(&kNothing), 1, "rb");
    if (file == nullptr) {
        return;
    }
    if (size == 0) {
        std::fgetc(file);
    }
    gameMode = game;
    Cvector* start = nullptr;
    Cvector* finish = nullptr;
    int32_t polygonCount = 0;
    Cpolygons* polygons = nullptr;
    int32_t appleCount = 0;
    Capples* apples = nullptr;
    double bestTime = 0.0;
    const bool ok = loadTrackStream(file, start, finish, polygonCount, polygons, appleCount, apples,
                                    bestTime);
    std::fclose(file);

    // Walk what was built the way the editor and the game do, so that a
    // broken link shows up here rather than later.
    size_t nodes = 0;
    for (Cpolygons* node = polygons; node != nullptr; node = node->next) {
        if (node->next != nullptr && node->next->prev != node) {
            __builtin_trap();
        }
        if (node->polygon != nullptr) {
            for (Cvertex* v = node->polygon->first; v != nullptr; v = v->next) {
                extendTrackBounds(*v);
            }
        }
        ++nodes;
    }
    if (ok && polygons == nullptr) {
        __builtin_trap();
    }
    if (ok && polygonTail != nullptr && polygonTail->next != nullptr) {
        __builtin_trap();
    }
    for (Capples* a = apples; a != nullptr; a = a->next) {
        if (a->next != nullptr && a->next->prev != a) {
            __builtin_trap();
        }
    }
    (void)nodes;

    delete start;
    delete finish;
    delete polygons;
    delete apples;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    loadOnce(data, size, false);
    loadOnce(data, size, true);
    return 0;
}
