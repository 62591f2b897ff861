#include "Canvas.h"

#include <cstdio>
#include <jpeglib.h>

namespace texgen {

namespace {

float len(float x, float y) { return std::sqrt(x * x + y * y); }

float segDist(float x, float y, P a, P b, float* tOut = nullptr)
{
    float ex = b.x - a.x, ey = b.y - a.y;
    float wx = x - a.x, wy = y - a.y;
    float ee = ex * ex + ey * ey;
    float t = ee > 0 ? clamp01((wx * ex + wy * ey) / ee) : 0;
    if (tOut)
        *tOut = t;
    return len(wx - ex * t, wy - ey * t);
}

} // namespace

Shape circle(float cx, float cy, float r)
{
    return {[=](float x, float y) { return len(x - cx, y - cy) - r; }, cx - r, cy - r, cx + r, cy + r};
}

Shape ellipse(float cx, float cy, float rx, float ry)
{
    // Scaled-circle distance: exact enough for anti-aliasing of mild ellipses.
    float k = std::min(rx, ry);
    return {[=](float x, float y) {
                float u = (x - cx) / rx, v = (y - cy) / ry;
                return (len(u, v) - 1) * k;
            },
            cx - rx, cy - ry, cx + rx, cy + ry};
}

Shape capsule(P a, P b, float r)
{
    return {[=](float x, float y) { return segDist(x, y, a, b) - r; }, std::min(a.x, b.x) - r,
            std::min(a.y, b.y) - r, std::max(a.x, b.x) + r, std::max(a.y, b.y) + r};
}

Shape taper(P a, P b, float ra, float rb)
{
    float r = std::max(ra, rb);
    return {[=](float x, float y) {
                float t;
                float d = segDist(x, y, a, b, &t);
                return d - (ra + (rb - ra) * t);
            },
            std::min(a.x, b.x) - r, std::min(a.y, b.y) - r, std::max(a.x, b.x) + r, std::max(a.y, b.y) + r};
}

Shape polygon(std::vector<P> v)
{
    float x0 = 1e9f, y0 = 1e9f, x1 = -1e9f, y1 = -1e9f;
    for (P p : v) {
        x0 = std::min(x0, p.x);
        y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x);
        y1 = std::max(y1, p.y);
    }
    return {[v](float x, float y) {
                size_t n = v.size();
                float d = 1e30f, s = 1;
                for (size_t i = 0, j = n - 1; i < n; j = i, ++i) {
                    float ex = v[j].x - v[i].x, ey = v[j].y - v[i].y;
                    float wx = x - v[i].x, wy = y - v[i].y;
                    float ee = ex * ex + ey * ey;
                    float t = ee > 0 ? clamp01((wx * ex + wy * ey) / ee) : 0;
                    float bx = wx - ex * t, by = wy - ey * t;
                    d = std::min(d, bx * bx + by * by);
                    bool c1 = y >= v[i].y, c2 = y < v[j].y, c3 = ex * wy > ey * wx;
                    if ((c1 && c2 && c3) || (!c1 && !c2 && !c3))
                        s = -s;
                }
                return s * std::sqrt(d);
            },
            x0, y0, x1, y1};
}

Shape smoothPolygon(const std::vector<P>& pts, int steps)
{
    std::vector<P> out;
    size_t n = pts.size();
    for (size_t i = 0; i < n; ++i) {
        P p0 = pts[(i + n - 1) % n], p1 = pts[i], p2 = pts[(i + 1) % n], p3 = pts[(i + 2) % n];
        for (int k = 0; k < steps; ++k) {
            float t = float(k) / float(steps), t2 = t * t, t3 = t2 * t;
            auto cr = [&](float a, float b, float c, float d) {
                return 0.5f * (2 * b + (-a + c) * t + (2 * a - 5 * b + 4 * c - d) * t2 + (-a + 3 * b - 3 * c + d) * t3);
            };
            out.push_back({cr(p0.x, p1.x, p2.x, p3.x), cr(p0.y, p1.y, p2.y, p3.y)});
        }
    }
    return polygon(out);
}

Shape path(const std::vector<P>& pts, float r)
{
    Shape s = capsule(pts[0], pts[1], r);
    for (size_t i = 1; i + 1 < pts.size(); ++i)
        s = unite(s, capsule(pts[i], pts[i + 1], r));
    return s;
}

Shape ring(float cx, float cy, float r0, float r1)
{
    float mid = (r0 + r1) / 2, half = (r1 - r0) / 2;
    return {[=](float x, float y) { return std::fabs(len(x - cx, y - cy) - mid) - half; }, cx - r1, cy - r1, cx + r1,
            cy + r1};
}

Shape unite(Shape a, Shape b)
{
    return {[a, b](float x, float y) { return std::min(a.f(x, y), b.f(x, y)); }, std::min(a.x0, b.x0),
            std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

Shape subtract(Shape a, Shape b)
{
    return {[a, b](float x, float y) { return std::max(a.f(x, y), -b.f(x, y)); }, a.x0, a.y0, a.x1, a.y1};
}

Shape intersect(Shape a, Shape b)
{
    return {[a, b](float x, float y) { return std::max(a.f(x, y), b.f(x, y)); }, std::max(a.x0, b.x0),
            std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

Shape grow(Shape a, float d)
{
    float g = std::max(d, 0.0f);
    return {[a, d](float x, float y) { return a.f(x, y) - d; }, a.x0 - g, a.y0 - g, a.x1 + g, a.y1 + g};
}

Shade solid(Col c)
{
    return [c](float, float) { return c; };
}

Shade vgrad(Col top, Col bottom, float yTop, float yBottom)
{
    return [=](float, float y) { return mix(bottom, top, clamp01((y - yBottom) / (yTop - yBottom))); };
}

Shade hgrad(Col left, Col right, float xLeft, float xRight)
{
    return [=](float x, float) { return mix(left, right, clamp01((x - xLeft) / (xRight - xLeft))); };
}

uint32_t hash(uint32_t a, uint32_t b, uint32_t c)
{
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

float rand01(uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return float(hash(state, 17, 29) >> 8) / 16777216.0f;
}

float noise(float x, float y, int px, int py, uint32_t seed)
{
    float fx = std::floor(x), fy = std::floor(y);
    int ix = int(fx), iy = int(fy);
    float tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    auto at = [&](int i, int j) {
        uint32_t a = uint32_t(((i % px) + px) % px), b = uint32_t(((j % py) + py) % py);
        return float(hash(a, b, seed) >> 8) / 16777216.0f;
    };
    float v00 = at(ix, iy), v10 = at(ix + 1, iy), v01 = at(ix, iy + 1), v11 = at(ix + 1, iy + 1);
    return (v00 + (v10 - v00) * tx) + ((v01 + (v11 - v01) * tx) - (v00 + (v10 - v00) * tx)) * ty;
}

float fbm(float x, float y, int px, int py, int octaves, uint32_t seed)
{
    float sum = 0, amp = 0.5f, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        float f = float(1 << o);
        sum += amp * noise(x * f, y * f, px << o, py << o, seed + uint32_t(o) * 101u);
        norm += amp;
        amp *= 0.5f;
    }
    return sum / norm;
}

Canvas::Canvas(int w_, int h_, float ux0_, float ux1, float uy0, float uy1_)
    : w(w_), h(h_), px(size_t(w_) * size_t(h_) * 4, 0.0f), ux0(ux0_), uy1(uy1_)
{
    sx = float(w) / (ux1 - ux0);
    sy = float(h) / (uy1 - uy0);
    aa = std::min(sx, sy);
}

void Canvas::paint(const Shape& s, const Shade& shade, float opacity)
{
    int ix0 = std::max(0, int(std::floor((s.x0 - ux0) * sx)) - 2);
    int ix1 = std::min(w - 1, int(std::ceil((s.x1 - ux0) * sx)) + 2);
    int iy0 = std::max(0, int(std::floor((uy1 - s.y1) * sy)) - 2);
    int iy1 = std::min(h - 1, int(std::ceil((uy1 - s.y0) * sy)) + 2);
    for (int j = iy0; j <= iy1; ++j) {
        float y = uy1 - (float(j) + 0.5f) / sy;
        for (int i = ix0; i <= ix1; ++i) {
            float x = ux0 + (float(i) + 0.5f) / sx;
            float cov = clamp01(0.5f - s.f(x, y) * aa);
            if (cov <= 0)
                continue;
            Col c = shade(x, y);
            float a = clamp01(c.a * cov * opacity);
            float* p = &px[(size_t(j) * size_t(w) + size_t(i)) * 4];
            p[0] = c.r * a + p[0] * (1 - a);
            p[1] = c.g * a + p[1] * (1 - a);
            p[2] = c.b * a + p[2] * (1 - a);
            p[3] = a + p[3] * (1 - a);
        }
    }
}

void Canvas::erase(const Shape& s)
{
    for (int j = 0; j < h; ++j) {
        float y = uy1 - (float(j) + 0.5f) / sy;
        for (int i = 0; i < w; ++i) {
            float x = ux0 + (float(i) + 0.5f) / sx;
            float keep = 1 - clamp01(0.5f - s.f(x, y) * aa);
            float* p = &px[(size_t(j) * size_t(w) + size_t(i)) * 4];
            for (int k = 0; k < 4; ++k)
                p[k] *= keep;
        }
    }
}

void Canvas::outlined(const Shape& s, const Shade& shade, Col outline, float ow)
{
    paint(s, outline);
    paint(grow(s, -ow), shade);
}

void Canvas::each(const std::function<Col(int, int)>& f)
{
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            Col c = f(i, j);
            float* p = &px[(size_t(j) * size_t(w) + size_t(i)) * 4];
            p[0] = c.r * c.a;
            p[1] = c.g * c.a;
            p[2] = c.b * c.a;
            p[3] = c.a;
        }
}

std::vector<uint8_t> Canvas::rgb8() const
{
    // Straight colour where the picture has coverage; elsewhere the colour of
    // the nearest covered pixels, spread outwards, so that filtering at the
    // edge of a sprite never pulls in black.
    size_t n = size_t(w) * size_t(h);
    std::vector<float> col(n * 3, 0.0f);
    std::vector<uint8_t> known(n, 0);
    for (size_t k = 0; k < n; ++k) {
        float a = px[k * 4 + 3];
        if (a > 0.004f) {
            for (int c = 0; c < 3; ++c)
                col[k * 3 + c] = std::min(1.0f, px[k * 4 + c] / a);
            known[k] = 1;
        }
    }
    for (int pass = 0; pass < 64; ++pass) {
        std::vector<uint8_t> next = known;
        bool changed = false;
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i) {
                size_t k = size_t(j) * size_t(w) + size_t(i);
                if (known[k])
                    continue;
                float sum[3] = {0, 0, 0};
                int cnt = 0;
                for (int dj = -1; dj <= 1; ++dj)
                    for (int di = -1; di <= 1; ++di) {
                        int ni = i + di, nj = j + dj;
                        if (ni < 0 || nj < 0 || ni >= w || nj >= h)
                            continue;
                        size_t q = size_t(nj) * size_t(w) + size_t(ni);
                        if (!known[q])
                            continue;
                        for (int c = 0; c < 3; ++c)
                            sum[c] += col[q * 3 + c];
                        ++cnt;
                    }
                if (cnt) {
                    for (int c = 0; c < 3; ++c)
                        col[k * 3 + c] = sum[c] / float(cnt);
                    next[k] = 1;
                    changed = true;
                }
            }
        known.swap(next);
        if (!changed)
            break;
    }
    std::vector<uint8_t> out(n * 3);
    for (size_t k = 0; k < n * 3; ++k)
        out[k] = uint8_t(std::lround(clamp01(col[k]) * 255.0f));
    return out;
}

std::vector<uint8_t> Canvas::alpha8() const
{
    size_t n = size_t(w) * size_t(h);
    std::vector<uint8_t> out(n);
    for (size_t k = 0; k < n; ++k)
        out[k] = uint8_t(std::lround(clamp01(px[k * 4 + 3]) * 255.0f));
    return out;
}

bool writeJpeg(const std::string& path, int w, int h, int components, const std::vector<uint8_t>& data,
               int quality)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    // Full-resolution colour: the sprites have sharp coloured edges.
    cinfo.comp_info[0].h_samp_factor = 1;
    cinfo.comp_info[0].v_samp_factor = 1;
    cinfo.optimize_coding = TRUE;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&data[size_t(cinfo.next_scanline) * size_t(w) * size_t(components)]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(f) == 0;
}

bool writeBmp24(const std::string& path, int w, int h, const std::vector<uint8_t>& rgb)
{
    const uint32_t stride = (uint32_t(w) * 3 + 3) & ~3u;
    const uint32_t imageBytes = stride * uint32_t(h);
    std::vector<uint8_t> out(54 + imageBytes, 0);
    auto put16 = [&](size_t at, uint32_t v) {
        out[at] = uint8_t(v);
        out[at + 1] = uint8_t(v >> 8);
    };
    auto put32 = [&](size_t at, uint32_t v) {
        for (int b = 0; b < 4; ++b)
            out[at + size_t(b)] = uint8_t(v >> (8 * b));
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, uint32_t(out.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(w));
    put32(22, uint32_t(h));  // positive: bottom row first
    put16(26, 1);
    put16(28, 24);
    put32(30, 0);
    put32(34, imageBytes);
    put32(38, 2835);
    put32(42, 2835);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = &rgb[size_t(h - 1 - y) * size_t(w) * 3];
        uint8_t* dst = &out[54 + size_t(y) * stride];
        for (int x = 0; x < w; ++x) {
            dst[x * 3] = src[x * 3 + 2];
            dst[x * 3 + 1] = src[x * 3 + 1];
            dst[x * 3 + 2] = src[x * 3];
        }
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace texgen
