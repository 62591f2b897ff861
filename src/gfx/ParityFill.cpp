#include "gfx/ParityFill.h"

#include <algorithm>
#include <cstddef>

namespace {

// Consecutive edges per fan of parityTriangles.
constexpr size_t kChunkEdges = 16;

}  // namespace

// One fan from the first vertex would do, but its triangles reach across
// the whole polygon and a rasteriser pays for every tile each one crosses.
// So the outline is cut into runs of kChunkEdges edges: each run, closed by
// the chord from its end back to its start, is a small fan of its own, and
// the chords, in order, form an outline with one vertex per run that is cut
// the same way, until one fan remains. Each chord is run once each way, so
// the windings add up to the outline's.
void parityTriangles(std::vector<Cvector>& outline, std::vector<float>& out)
{
    const auto put = [&out](const Cvector& a, const Cvector& b, const Cvector& c) {
        out.insert(out.end(), {static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(b.x),
                               static_cast<float>(b.y), static_cast<float>(c.x), static_cast<float>(c.y)});
    };
    while (outline.size() >= 3) {
        const size_t n = outline.size();
        if (n <= kChunkEdges + 1) {
            for (size_t i = 1; i + 1 < n; ++i) {
                put(outline[0], outline[i], outline[i + 1]);
            }
            return;
        }
        size_t kept = 0;
        for (size_t start = 0; start < n; start += kChunkEdges) {
            const size_t end = std::min(start + kChunkEdges, n);   // n stands for 0
            const Cvector apex = outline[start];
            for (size_t i = start + 1; i < end; ++i) {
                put(apex, outline[i], outline[i + 1 < n ? i + 1 : 0]);
            }
            outline[kept++] = apex;   // kept <= start: not read again
        }
        outline.resize(kept);
    }
}

