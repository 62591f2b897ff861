#include "platform/WindowArt.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr int iconSize = 32;

struct Rgba {
    double r, g, b, a;
};

// Lays `top` with coverage `cover` (0..1) over `base`.
Rgba over(Rgba base, Rgba top, double cover)
{
    const double a = top.a * std::clamp(cover, 0.0, 1.0);
    const double outA = a + base.a * (1.0 - a);
    if (outA <= 0.0) {
        return {0, 0, 0, 0};
    }
    auto mix = [&](double t, double b) { return (t * a + b * base.a * (1.0 - a)) / outA; };
    return {mix(top.r, base.r), mix(top.g, base.g), mix(top.b, base.b), outA};
}

// Coverage of a band between radii r0 and r1 at distance d, smoothed over a pixel.
double ring(double d, double r0, double r1)
{
    return std::clamp(d - r0 + 0.5, 0.0, 1.0) * std::clamp(r1 - d + 0.5, 0.0, 1.0);
}

// Distance from (x, y) to the segment from the centre along angle `a` to radius `len`.
double spokeDistance(double x, double y, double a, double len)
{
    const double dx = std::cos(a), dy = std::sin(a);
    const double t = std::clamp(x * dx + y * dy, 0.0, len);
    return std::hypot(x - t * dx, y - t * dy);
}

Rgba iconPixel(int px, int py)
{
    const double x = px + 0.5 - iconSize / 2.0;
    const double y = py + 0.5 - iconSize / 2.0;
    const double d = std::hypot(x, y);
    const double pi = std::acos(-1.0);

    Rgba c{0, 0, 0, 0};
    // Tyre with a lighter tread line, then the rim.
    c = over(c, {0.12, 0.12, 0.14, 1}, ring(d, 12.0, 15.5));
    c = over(c, {0.30, 0.30, 0.34, 1}, ring(d, 13.6, 14.2) * 0.8);
    c = over(c, {0.20, 0.21, 0.24, 1}, ring(d, 0.0, 10.6));
    c = over(c, {0.78, 0.80, 0.84, 1}, ring(d, 10.2, 12.0));
    // Eight spokes.
    for (int i = 0; i < 8; ++i) {
        const double a = i * pi / 4.0 + pi / 16.0;
        const double s = spokeDistance(x, y, a, 10.5);
        c = over(c, {0.90, 0.91, 0.94, 1}, std::clamp(1.4 - s, 0.0, 1.0) * (d < 11.0 ? 1.0 : 0.0));
    }
    // Hub in the orange of the game's bike, with a dark axle.
    c = over(c, {0.95, 0.55, 0.10, 1}, ring(d, 0.0, 3.6));
    c = over(c, {0.20, 0.12, 0.05, 1}, ring(d, 0.0, 1.2));
    return c;
}

} // namespace

SDL_Surface* createWindowIcon()
{
    SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormat(0, iconSize, iconSize, 32, SDL_PIXELFORMAT_RGBA32);
    if (!icon) {
        return nullptr;
    }
    SDL_LockSurface(icon);
    for (int y = 0; y < iconSize; ++y) {
        auto* row = static_cast<uint8_t*>(icon->pixels) + y * icon->pitch;
        for (int x = 0; x < iconSize; ++x) {
            const Rgba c = iconPixel(x, y);
            row[4 * x + 0] = static_cast<uint8_t>(std::lround(c.r * 255.0));
            row[4 * x + 1] = static_cast<uint8_t>(std::lround(c.g * 255.0));
            row[4 * x + 2] = static_cast<uint8_t>(std::lround(c.b * 255.0));
            row[4 * x + 3] = static_cast<uint8_t>(std::lround(c.a * 255.0));
        }
    }
    SDL_UnlockSurface(icon);
    return icon;
}

SDL_Cursor* createCrossCursor()
{
    // One bit per pixel, most significant bit first, four bytes a row.
    // White is data 0 with mask 1; transparent is data 0 with mask 0.
    Uint8 data[iconSize * iconSize / 8] = {};
    Uint8 mask[iconSize * iconSize / 8] = {};
    auto setWhite = [&](int x, int y) { mask[y * 4 + x / 8] |= static_cast<Uint8>(0x80 >> (x % 8)); };
    for (int x = 7; x <= 23; ++x) {
        setWhite(x, 16);
    }
    for (int y = 8; y <= 24; ++y) {
        setWhite(15, y);
    }
    return SDL_CreateCursor(data, mask, iconSize, iconSize, 15, 16);
}
