// A small vector painter for the game's art: shapes are signed distance
// functions in the picture's own units (y up), painted with anti-aliased
// coverage onto a premultiplied RGBA float canvas.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace texgen {

struct Col {
    float r = 0, g = 0, b = 0, a = 1;
};

inline Col rgb(float r, float g, float b, float a = 1) { return {r, g, b, a}; }
inline Col mix(Col p, Col q, float t)
{
    return {p.r + (q.r - p.r) * t, p.g + (q.g - p.g) * t, p.b + (q.b - p.b) * t, p.a + (q.a - p.a) * t};
}
inline Col scaled(Col c, float k) { return {c.r * k, c.g * k, c.b * k, c.a}; }
inline float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }
inline float smoothstep(float e0, float e1, float x)
{
    float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

struct P {
    float x, y;
};

using Sdf = std::function<float(float, float)>;
using Shade = std::function<Col(float, float)>;

// A shape: its distance function (negative inside) and a bounding box.
struct Shape {
    Sdf f;
    float x0, y0, x1, y1;
};

Shape circle(float cx, float cy, float r);
Shape ellipse(float cx, float cy, float rx, float ry);
Shape capsule(P a, P b, float r);
Shape taper(P a, P b, float ra, float rb);  // capsule whose radius runs from ra to rb
Shape polygon(std::vector<P> pts);
Shape smoothPolygon(const std::vector<P>& pts, int steps = 8);  // closed Catmull-Rom outline
Shape path(const std::vector<P>& pts, float r);                 // thick polyline
Shape ring(float cx, float cy, float r0, float r1);
Shape unite(Shape a, Shape b);
Shape subtract(Shape a, Shape b);
Shape intersect(Shape a, Shape b);
Shape grow(Shape a, float d);  // positive grows, negative shrinks

Shade solid(Col c);
Shade vgrad(Col top, Col bottom, float yTop, float yBottom);
Shade hgrad(Col left, Col right, float xLeft, float xRight);

// Periodic value noise: period px × py lattice cells, result in [0, 1].
float noise(float x, float y, int px, int py, uint32_t seed);
float fbm(float x, float y, int px, int py, int octaves, uint32_t seed);
uint32_t hash(uint32_t a, uint32_t b, uint32_t c);
float rand01(uint32_t& state);

class Canvas {
public:
    // w × h pixels showing the user rectangle [ux0, ux1] × [uy0, uy1].
    Canvas(int w, int h, float ux0, float ux1, float uy0, float uy1);

    int w, h;
    std::vector<float> px;  // premultiplied RGBA, top row first

    void paint(const Shape& s, const Shade& shade, float opacity = 1);
    void paint(const Shape& s, Col c, float opacity = 1) { paint(s, solid(c), opacity); }
    // Fill with a dark outline of width `ow` (user units).
    void outlined(const Shape& s, const Shade& shade, Col outline, float ow);
    void outlined(const Shape& s, Col c, Col outline, float ow) { outlined(s, solid(c), outline, ow); }
    // Makes the shape's area transparent again.
    void erase(const Shape& s);
    // Per-pixel painter for backgrounds: f gets pixel coordinates.
    void each(const std::function<Col(int, int)>& f);

    // Straight RGB (colour bled into transparent parts) and alpha, 8 bit.
    std::vector<uint8_t> rgb8() const;
    std::vector<uint8_t> alpha8() const;

private:
    float ux0, uy1, sx, sy, aa;
};

bool writeJpeg(const std::string& path, int w, int h, int components, const std::vector<uint8_t>& data,
               int quality);
bool writeBmp24(const std::string& path, int w, int h, const std::vector<uint8_t>& rgbTopFirst);

} // namespace texgen
