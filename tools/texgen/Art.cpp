// The game's pictures, painted procedurally. Every random choice comes from
// fixed seeds, so the output is the same on every build.
#include "Art.h"

#include <cmath>

namespace texgen {

namespace {

constexpr float kPi = 3.14159265f;
const Col kInk = rgb(0.10f, 0.09f, 0.11f);

P polar(float cx, float cy, float r, float deg)
{
    float a = deg * kPi / 180.0f;
    return {cx + r * std::cos(a), cy + r * std::sin(a)};
}

} // namespace

// Wheel: knobbly tyre, polished rim, crossed spokes, hub with a brake disc.
// The picture spans the ball's square from -1 to 1.
Canvas paintWheel()
{
    Canvas c(128, 128, -1, 1, -1, 1);
    const float R = 0.985f;
    // Tyre with tread blocks.
    Shape tread = {[=](float x, float y) {
                       float r = std::sqrt(x * x + y * y);
                       float a = std::atan2(y, x);
                       float k = std::cos(a * 18.0f);
                       float out = k > 0.15f ? R : R - 0.055f;
                       return r - out;
                   },
                   -1, -1, 1, 1};
    c.paint(tread, rgb(0.07f, 0.07f, 0.08f));
    c.paint(circle(0, 0, R - 0.07f), rgb(0.16f, 0.16f, 0.18f));
    c.paint(ring(0, 0, R - 0.17f, R - 0.11f), rgb(0.22f, 0.22f, 0.24f));
    // Inside the rim: see-through between the spokes.
    c.erase(circle(0, 0, 0.725f));
    // Rim.
    c.paint(ring(0, 0, 0.70f, 0.80f), rgb(0.30f, 0.31f, 0.34f));
    c.paint(ring(0, 0, 0.715f, 0.785f), [](float x, float y) {
        float l = 0.5f + 0.5f * (x * -0.6f + y * 0.8f) / std::max(0.01f, std::sqrt(x * x + y * y));
        return mix(rgb(0.55f, 0.57f, 0.60f), rgb(0.93f, 0.94f, 0.96f), l);
    });
    // Spokes, laced tangentially so that they cross.
    for (int i = 0; i < 16; ++i) {
        float a = float(i) * 22.5f;
        float off = (i % 2) ? 28.0f : -28.0f;
        P hub = polar(0, 0, 0.15f, a + off);
        P rim = polar(0, 0, 0.72f, a);
        c.paint(capsule(hub, rim, 0.022f), rgb(0.20f, 0.20f, 0.22f));
        c.paint(capsule(hub, rim, 0.011f), rgb(0.80f, 0.81f, 0.84f));
    }
    // Brake disc and hub.
    c.paint(ring(0, 0, 0.17f, 0.33f), rgb(0.25f, 0.25f, 0.27f));
    c.paint(ring(0, 0, 0.185f, 0.315f), rgb(0.66f, 0.67f, 0.70f));
    for (int i = 0; i < 8; ++i) {
        P h = polar(0, 0, 0.25f, float(i) * 45.0f + 22.5f);
        c.paint(circle(h.x, h.y, 0.028f), rgb(0.30f, 0.30f, 0.33f));
    }
    c.paint(circle(0, 0, 0.17f), rgb(0.18f, 0.18f, 0.20f));
    c.paint(circle(0, 0, 0.14f), vgrad(rgb(0.72f, 0.73f, 0.76f), rgb(0.42f, 0.43f, 0.46f), 0.14f, -0.14f));
    for (int i = 0; i < 5; ++i) {
        P b = polar(0, 0, 0.085f, float(i) * 72.0f + 90.0f);
        c.paint(circle(b.x, b.y, 0.022f), rgb(0.25f, 0.25f, 0.28f));
    }
    c.paint(circle(0, 0, 0.04f), rgb(0.20f, 0.20f, 0.22f));
    return c;
}

// Apple: a glossy red apple with a stem and a leaf, filling the 40-unit
// square of the game's apple.
Canvas paintApple()
{
    Canvas c(64, 64, -20, 20, -20, 20);
    Shape body = smoothPolygon({{0, 11.5f},
                                {6, 14.5f},
                                {13, 12},
                                {16.5f, 4},
                                {15, -7},
                                {9, -15.5f},
                                {3, -16},
                                {0, -14.5f},
                                {-3, -16},
                                {-9, -15.5f},
                                {-15, -7},
                                {-16.5f, 4},
                                {-13, 12},
                                {-6, 14.5f}},
                               10);
    c.paint(body, rgb(0.35f, 0.03f, 0.04f));
    c.paint(grow(body, -1.3f), [](float x, float y) {
        float d = std::sqrt((x + 5) * (x + 5) + (y - 5) * (y - 5)) / 24.0f;
        Col light = rgb(0.98f, 0.22f, 0.18f), dark = rgb(0.62f, 0.05f, 0.07f);
        Col col = mix(light, dark, clamp01(d));
        // A touch of yellow-green near the top.
        float top = clamp01((y - 6) / 8.0f) * clamp01(1 - std::fabs(x) / 10.0f);
        return mix(col, rgb(0.85f, 0.55f, 0.15f), top * 0.35f);
    });
    // Dimple at the top.
    c.paint(ellipse(0, 11.0f, 4.0f, 1.6f), rgb(0.45f, 0.05f, 0.05f), 0.6f);
    // Highlights.
    c.paint(ellipse(-8.0f, 4.0f, 2.6f, 5.0f), rgb(1, 1, 1), 0.55f);
    c.paint(circle(-7.0f, -3.5f, 1.2f), rgb(1, 1, 1), 0.45f);
    // Stem.
    c.paint(path({{0, 10}, {0.6f, 14}, {2.2f, 18.5f}}, 1.4f), rgb(0.20f, 0.12f, 0.05f));
    c.paint(path({{0, 10.5f}, {0.6f, 14}, {2.0f, 18.0f}}, 0.6f), rgb(0.50f, 0.33f, 0.15f));
    // Leaf.
    Shape leaf = smoothPolygon({{1.8f, 14.2f}, {6.5f, 18.8f}, {12.8f, 18.2f}, {8.5f, 14.3f}}, 8);
    c.paint(leaf, rgb(0.08f, 0.28f, 0.06f));
    c.paint(grow(leaf, -0.9f), vgrad(rgb(0.50f, 0.82f, 0.22f), rgb(0.22f, 0.55f, 0.12f), 18.5f, 14.5f));
    c.paint(capsule({3.0f, 15.0f}, {11.0f, 17.6f}, 0.35f), rgb(0.15f, 0.40f, 0.08f), 0.8f);
    return c;
}

// Ground: packed earth with pebbles and stones, seamless in both directions.
Canvas paintGround()
{
    const int N = 256;
    Canvas c(N, N, 0, float(N), 0, float(N));
    c.each([&](int i, int j) {
        float x = float(i) / float(N), y = float(j) / float(N);
        float n1 = fbm(x * 8, y * 8, 8, 8, 5, 11);
        float n2 = fbm(x * 4, y * 4, 4, 4, 3, 23);
        float grain = noise(x * 128, y * 128, 128, 128, 37);
        Col dark = rgb(0.33f, 0.22f, 0.13f), mid = rgb(0.50f, 0.35f, 0.21f), light = rgb(0.62f, 0.47f, 0.30f);
        float t = clamp01((n1 - 0.25f) * 2.0f);
        Col col = t < 0.5f ? mix(dark, mid, t * 2) : mix(mid, light, (t - 0.5f) * 2);
        col = mix(col, rgb(0.42f, 0.32f, 0.24f), clamp01((n2 - 0.45f) * 3.0f) * 0.5f);
        return scaled(col, 0.90f + 0.18f * grain);
    });
    // Stones, drawn in all wrapped positions so the tile stays seamless.
    uint32_t s = 4711;
    auto wrapped = [&](const std::function<void(float, float)>& drawAt, float x, float y, float r) {
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy) {
                float cx = x + float(dx * N), cy = y + float(dy * N);
                if (cx + r < 0 || cx - r > float(N) || cy + r < 0 || cy - r > float(N))
                    continue;
                drawAt(cx, cy);
            }
    };
    for (int k = 0; k < 150; ++k) {
        float x = rand01(s) * float(N), y = rand01(s) * float(N);
        float r = 0.8f + rand01(s) * 1.6f;
        float shade = 0.25f + rand01(s) * 0.55f;
        wrapped([&](float cx, float cy) { c.paint(circle(cx, cy, r), rgb(shade, shade * 0.85f, shade * 0.7f), 0.7f); },
                x, y, r);
    }
    for (int k = 0; k < 26; ++k) {
        float x = rand01(s) * float(N), y = rand01(s) * float(N);
        float r = 4.0f + rand01(s) * 9.0f;
        float tone = rand01(s);
        std::vector<P> pts;
        int m = 9;
        for (int q = 0; q < m; ++q) {
            float a = float(q) / float(m) * 2 * kPi;
            float rr = r * (0.72f + 0.28f * rand01(s));
            pts.push_back({std::cos(a) * rr * 1.25f, std::sin(a) * rr * 0.85f});
        }
        Col base = mix(rgb(0.52f, 0.50f, 0.47f), rgb(0.66f, 0.58f, 0.48f), tone);
        wrapped(
            [&](float cx, float cy) {
                std::vector<P> q;
                for (P p : pts)
                    q.push_back({p.x + cx, p.y + cy});
                Shape stone = smoothPolygon(q, 6);
                Shape shadow = smoothPolygon(q, 6);
                c.paint({[shadow](float x, float y) { return shadow.f(x - 1.2f, y + 1.6f); }, shadow.x0,
                         shadow.y0 - 2, shadow.x1 + 2, shadow.y1},
                        rgb(0.15f, 0.10f, 0.06f), 0.55f);
                c.paint(stone, rgb(0.25f, 0.22f, 0.20f));
                float top = cy + r, bottom = cy - r;
                c.paint(grow(stone, -1.0f), vgrad(scaled(base, 1.18f), scaled(base, 0.72f), top, bottom));
                c.paint(ellipse(cx - r * 0.35f, cy + r * 0.35f, r * 0.35f, r * 0.18f), rgb(1, 1, 1), 0.22f);
            },
            x, y, r * 1.4f + 2);
    }
    return c;
}

// Sky: blue gradient, puffy clouds and faint far hills; seamless left-right.
Canvas paintSky()
{
    const int W = 1024, H = 512;
    Canvas c(W, H, 0, float(W), 0, float(H));
    // Clouds: clusters of soft round puffs over a flat base, in pixels.
    struct Puff {
        float x, y, r;
    };
    struct Cloud {
        std::vector<Puff> puffs;
        float base, top;
    };
    std::vector<Cloud> clouds;
    uint32_t s = 2024;
    const float cx[7] = {60, 210, 380, 520, 690, 820, 950};
    for (int k = 0; k < 7; ++k) {
        Cloud cl;
        float size = 0.55f + 0.6f * rand01(s);
        float y = 250 + 170 * rand01(s);
        float x = cx[k] + 30 * (rand01(s) - 0.5f);
        // A row of overlapping puffs along the flat base, bigger ones on top.
        int m = 2 + int(rand01(s) * 2);
        float topSpan = 34 * size * float(m);
        for (int q = 0; q < m; ++q) {
            float t = (float(q) + 0.5f) / float(m);
            float r = (22 + 10 * rand01(s)) * size;
            cl.puffs.push_back({x + (t - 0.5f) * topSpan + 6 * (rand01(s) - 0.5f), y + 10 * size + r * 0.75f, r});
        }
        int n = 3 + 2 * m;
        float span = topSpan * 0.55f + 18 * size;
        for (int q = 0; q < n; ++q) {
            float t = float(q) / float(n - 1);
            float edge = 1 - std::fabs(t - 0.5f);
            float r = (10 + 8 * edge + 4 * rand01(s)) * size;
            cl.puffs.push_back({x + (t - 0.5f) * 2 * span, y + r * 0.8f, r});
        }
        cl.base = y;
        cl.top = y + 70 * size;
        clouds.push_back(cl);
    }
    c.each([&](int i, int j) {
        float x = float(i) + 0.5f, yp = float(H - j) - 0.5f;
        float v = yp / float(H);  // 0 at the bottom, 1 at the top
        Col top = rgb(0.22f, 0.47f, 0.82f), horizon = rgb(0.74f, 0.86f, 0.96f);
        Col col = mix(horizon, top, std::pow(v, 0.8f));
        // A thin veil of high haze.
        float haze = fbm(x / float(W) * 4, v * 2, 4, 1000, 5, 77);
        col = mix(col, rgb(0.9f, 0.94f, 1.0f), smoothstep(0.55f, 0.8f, haze) * 0.25f * smoothstep(0.4f, 0.9f, v));
        float fluff = fbm(x / float(W) * 16, yp / float(W) * 16, 16, 1000, 4, 99) - 0.5f;
        for (const Cloud& cl : clouds) {
            float d = 1e9f, lit = 0;
            for (const Puff& p : cl.puffs) {
                float dx = std::fabs(x - p.x);
                dx = std::min(dx, float(W) - dx);
                float dy = yp - p.y;
                float e = std::sqrt(dx * dx + dy * dy) - p.r;
                if (e < d) {
                    d = e;
                    lit = clamp01(0.6f + 0.4f * dy / p.r);
                }
            }
            if (d > 8)
                continue;
            d = std::max(d, cl.base - yp);  // flat bottom
            float a = smoothstep(1.5f, -1.5f, d + fluff * 3);
            float h = clamp01((yp - cl.base) / (cl.top - cl.base));
            Col cloud = mix(rgb(0.74f, 0.80f, 0.90f), rgb(1, 1, 1), clamp01(0.75f * std::sqrt(h) + 0.35f * lit));
            col = mix(col, cloud, a * 0.96f);
        }
        // Two rows of far hills near the bottom.
        float xf = x / float(W);
        float h1 = 0.20f + 0.10f * fbm(xf * 5, 0.5f, 5, 1000, 4, 202);
        float h2 = 0.10f + 0.08f * fbm(xf * 9, 3.5f, 9, 1000, 4, 303);
        float px1 = 1.0f / float(H);
        float a1 = clamp01((h1 - v) / px1 + 0.5f), a2 = clamp01((h2 - v) / px1 + 0.5f);
        col = mix(col, mix(rgb(0.55f, 0.68f, 0.80f), rgb(0.62f, 0.74f, 0.84f), v / 0.3f), a1);
        col = mix(col, mix(rgb(0.40f, 0.56f, 0.60f), rgb(0.47f, 0.62f, 0.66f), v / 0.2f), a2);
        return col;
    });
    return c;
}

// Motorbike, side view facing right, without wheels. The canvas covers the
// drawn quad: x from -254/3 to 254/3 and y from -89/3 to 93 around the
// frame's reference point. Wheels turn about (221/3, -113/3) and
// (-64, -113/3); the helmet is the head ball at (-2, 233/3), radius 46/3.
Canvas paintBike()
{
    const float hw = 254.0f / 3.0f;
    Canvas c(256, 256, -hw, hw, 95.0f / 3.0f - 184.0f / 3.0f, 95.0f / 3.0f + 184.0f / 3.0f);
    const float ow = 0.9f;
    const Col red = rgb(0.86f, 0.13f, 0.10f), redDark = rgb(0.58f, 0.06f, 0.05f);
    const Col white = rgb(0.96f, 0.96f, 0.94f);
    const Col steel = rgb(0.55f, 0.56f, 0.60f), chrome = rgb(0.86f, 0.87f, 0.90f);
    const Col suit = rgb(0.16f, 0.34f, 0.76f), suitDark = rgb(0.09f, 0.20f, 0.50f);
    const Col black = rgb(0.13f, 0.13f, 0.15f);

    // Rear frame tubes under the seat.
    c.outlined(path({{-9, -14}, {-20, 8}, {-56, 20}}, 2.0f), steel, kInk, ow);
    c.outlined(path({{-6, 14}, {-30, 18}}, 1.8f), steel, kInk, ow);
    // Silencer, high under the tail.
    Shape silencer = capsule({-22, -1}, {-58, 10}, 4.6f);
    c.outlined(silencer, vgrad(chrome, rgb(0.45f, 0.46f, 0.50f), 12, -6), kInk, ow);
    c.outlined(capsule({-54, 8.8f}, {-60, 10.6f}, 3.2f), rgb(0.25f, 0.25f, 0.27f), kInk, ow);
    c.paint(capsule({-26, 2.3f}, {-50, 9.8f}, 0.9f), rgb(1, 1, 1), 0.6f);
    // Front mudguard.
    Shape guard = smoothPolygon(
        {{44, 13}, {58, 12.5f}, {70, 9.5f}, {79, 3.5f}, {83, -2}, {80, -1}, {71, 4.5f}, {59, 8}, {46, 8.5f}}, 6);
    c.outlined(guard, vgrad(white, rgb(0.75f, 0.75f, 0.74f), 13, 5), kInk, ow);
    // Down tube and cradle.
    c.outlined(path({{40, 20}, {22, -8}, {14, -22}, {-8, -22}, {-10, -14}}, 2.3f), steel, kInk, ow);
    // Head tube along the fork axis, with the triple clamps.
    const P axis = {-0.496f, 0.868f};
    const P anchor = {43, 16};
    auto along = [&](float d) { return P{anchor.x + axis.x * d, anchor.y + axis.y * d}; };
    c.outlined(capsule(along(-3), along(16), 3.6f), vgrad(rgb(0.45f, 0.46f, 0.50f), rgb(0.25f, 0.25f, 0.28f), 30, 12),
               kInk, ow);
    c.outlined(capsule({anchor.x - 4.5f, anchor.y + 1.0f}, {anchor.x + 4.5f, anchor.y - 1.0f}, 2.2f), black, kInk, ow);
    P top = along(14);
    c.outlined(capsule({top.x - 4.5f, top.y + 1.0f}, {top.x + 4.5f, top.y - 1.0f}, 2.0f), black, kInk, ow);
    // Engine: crankcase, cylinder with fins, clutch cover.
    Shape crank = smoothPolygon({{-14, -19}, {16, -20}, {22, -10}, {16, -2}, {-8, 0}, {-16, -8}}, 6);
    c.outlined(crank, vgrad(rgb(0.40f, 0.41f, 0.44f), rgb(0.20f, 0.20f, 0.22f), 0, -20), kInk, ow);
    Shape cyl = polygon({{-2, -3}, {16, -5}, {21, 10}, {3, 12}});
    c.outlined(cyl, vgrad(rgb(0.34f, 0.35f, 0.38f), rgb(0.22f, 0.22f, 0.24f), 12, -4), kInk, ow);
    for (int k = 0; k < 4; ++k) {
        float t = 0.5f + 3.2f * float(k);
        c.paint(capsule({0.5f + t * 0.28f, -1.5f + t}, {17.0f + t * 0.28f, -3.4f + t}, 0.7f),
                rgb(0.62f, 0.63f, 0.67f));
    }
    c.outlined(circle(-3, -10, 6.5f), vgrad(rgb(0.80f, 0.81f, 0.84f), rgb(0.48f, 0.49f, 0.52f), -4, -16), kInk, ow);
    c.paint(circle(-3, -10, 3.0f), rgb(0.35f, 0.36f, 0.40f));
    for (int k = 0; k < 5; ++k) {
        P b = polar(-3, -10, 5.0f, float(k) * 72.0f + 18);
        c.paint(circle(b.x, b.y, 0.8f), rgb(0.25f, 0.25f, 0.28f));
    }
    // Exhaust header: from the cylinder forward, down under the engine and up
    // to the silencer.
    std::vector<P> header = {{18, 4}, {25, 1}, {27, -9}, {21, -21}, {4, -26}, {-12, -23}, {-20, -10}, {-23, -1}};
    c.outlined(path(header, 2.3f), vgrad(chrome, rgb(0.50f, 0.50f, 0.54f), 6, -26), kInk, ow);
    // Radiator shroud / side panel joining tank and frame.
    Shape shroud = smoothPolygon({{14, 18}, {36, 22}, {38, 12}, {26, 4}, {16, 8}}, 6);
    c.outlined(shroud, vgrad(red, redDark, 22, 4), kInk, ow);
    // Tail and side panel.
    Shape tail = smoothPolygon({{-6, 24}, {-30, 26}, {-62, 28}, {-84, 33}, {-80, 27}, {-50, 18}, {-24, 12}, {-8, 14}},
                               6);
    c.outlined(tail, vgrad(red, redDark, 30, 12), kInk, ow);
    c.outlined(ellipse(-32, 18, 9, 5.5f), white, kInk, 0.7f);  // number plate on the side panel
    c.paint(capsule({-33.5f, 15.5f}, {-31.5f, 20.5f}, 0.9f), kInk);
    c.paint(capsule({-30.0f, 15.5f}, {-28.0f, 20.5f}, 0.9f), kInk);
    c.outlined(ellipse(-82.5f, 30, 2.4f, 2.0f), rgb(1.0f, 0.35f, 0.2f), kInk, 0.6f);  // tail light
    // Fuel tank.
    Shape tank = smoothPolygon({{0, 24}, {6, 33}, {20, 37}, {33, 33}, {38, 25}, {28, 17}, {6, 17}}, 8);
    c.outlined(tank, vgrad(rgb(0.98f, 0.28f, 0.22f), redDark, 37, 17), kInk, ow);
    c.paint(intersect(tank, capsule({2, 22}, {36, 29}, 2.2f)), white, 0.95f);
    c.paint(ellipse(18, 32.5f, 9, 1.8f), rgb(1, 1, 1), 0.45f);
    // Seat.
    Shape seat = smoothPolygon({{2, 25}, {-6, 31}, {-30, 31.5f}, {-54, 29}, {-54, 25.5f}, {-28, 24}, {-4, 21}}, 8);
    c.outlined(seat, vgrad(rgb(0.26f, 0.26f, 0.29f), black, 31, 23), kInk, ow);
    c.paint(capsule({-10, 29.8f}, {-44, 29.2f}, 0.7f), rgb(1, 1, 1), 0.18f);
    // Headlight and front number plate.
    Shape plate = smoothPolygon({{41, 22}, {49, 26}, {47, 38}, {38, 35}}, 6);
    c.outlined(plate, white, kInk, ow);
    c.outlined(circle(45.5f, 28.5f, 3.4f), vgrad(rgb(1, 1, 0.85f), rgb(0.95f, 0.8f, 0.35f), 31, 25), kInk, 0.7f);
    // Handlebar.
    P bar0 = along(16), bar1 = {bar0.x - 2, bar0.y + 7}, grip = {bar1.x - 7, bar1.y + 3};
    c.outlined(path({bar0, bar1, grip}, 1.4f), steel, kInk, ow);
    c.outlined(capsule({bar1.x + 2, bar1.y + 0.5f}, {bar1.x + 9, bar1.y - 1.5f}, 0.8f), black, kInk, 0.5f);
    // Footpeg.
    c.outlined(capsule({-12, -6}, {-2, -6}, 1.6f), black, kInk, ow);

    // Rider. Joints: hip, knee, ankle, shoulder, elbow, hand.
    const P hip = {-26, 38}, knee = {10, 41}, ankle = {-5, 3};
    const P shoulder = {-9, 60}, elbow = {7, 49}, hand = {grip.x + 2, grip.y};
    // Far arm (behind the body), darker.
    c.outlined(path({{shoulder.x + 2, shoulder.y + 1}, {elbow.x + 3, elbow.y + 1}, {hand.x + 2, hand.y + 1}}, 3.6f),
               suitDark, kInk, ow);
    // Torso.
    Shape torso = smoothPolygon({{-34, 36},
                                 {-33, 48},
                                 {-22, 63},
                                 {-10, 69},
                                 {2, 65},
                                 {2, 56},
                                 {-10, 44},
                                 {-14, 34}},
                                6);
    c.outlined(torso, vgrad(suit, suitDark, 68, 34), kInk, ow);
    c.paint(intersect(torso, capsule({-31, 42}, {-5, 66}, 2.4f)), white, 0.9f);  // stripe
    // Leg: thigh, shin, boot.
    c.outlined(unite(taper(hip, knee, 8.5f, 6.0f), taper(knee, ankle, 6.0f, 4.8f)), vgrad(suit, suitDark, 45, 0),
               kInk, ow);
    c.paint(taper({knee.x - 1.5f, knee.y + 0.5f}, {ankle.x + 2, ankle.y + 12}, 3.0f, 2.5f), rgb(0.95f, 0.95f, 0.95f),
            0.9f);  // knee guard
    Shape boot = smoothPolygon({{-10, 12}, {0, 12}, {1, 0}, {8, -4}, {8, -8.5f}, {-12, -8.5f}, {-12, 0}}, 5);
    c.outlined(boot, vgrad(rgb(0.32f, 0.32f, 0.35f), rgb(0.10f, 0.10f, 0.12f), 12, -9), kInk, ow);
    c.paint(capsule({-11, 6}, {0, 6}, 0.7f), rgb(0.7f, 0.7f, 0.72f));
    c.paint(capsule({-11.5f, 1}, {1, 1}, 0.7f), rgb(0.7f, 0.7f, 0.72f));
    // Near arm and glove.
    c.outlined(unite(taper(shoulder, elbow, 5.0f, 4.0f), taper(elbow, hand, 4.0f, 3.4f)), vgrad(suit, suitDark, 62, 44),
               kInk, ow);
    c.outlined(circle(hand.x, hand.y, 3.6f), black, kInk, ow);
    // Helmet: the head ball.
    const float hx = -2, hy = 233.0f / 3.0f, hr = 46.0f / 3.0f;
    Shape shell = circle(hx, hy, hr - 0.3f);
    Shape chin = smoothPolygon({{hx + 4, hy - 6}, {hx + 16, hy - 9}, {hx + 14, hy - 15}, {hx + 2, hy - 15}}, 6);
    Shape helmet = unite(shell, intersect(chin, circle(hx + 1, hy - 1, hr + 1)));
    c.outlined(helmet, vgrad(white, rgb(0.78f, 0.78f, 0.80f), hy + hr, hy - hr), kInk, ow);
    c.paint(intersect(grow(helmet, -ow), capsule({hx - 16, hy + 7}, {hx + 14, hy + 12}, 3.0f)), red);
    c.paint(intersect(grow(helmet, -ow), capsule({hx - 16, hy + 0.5f}, {hx + 6, hy + 4}, 1.2f)), red);
    // Chin guard with its vent.
    Shape guardBar = intersect(grow(helmet, -ow), smoothPolygon({{hx + 3, hy - 4}, {hx + 17, hy - 7},
                                                                  {hx + 15, hy - 16}, {hx + 1, hy - 16}}, 6));
    c.paint(guardBar, vgrad(red, redDark, hy - 4, hy - 15));
    for (int k = 0; k < 3; ++k)
        c.paint(intersect(grow(guardBar, -0.8f), capsule({hx + 9.5f, hy - 8.0f - 2.2f * float(k)},
                                                         {hx + 16, hy - 9.2f - 2.2f * float(k)}, 0.55f)),
                rgb(0.15f, 0.05f, 0.05f));
    // Peak.
    c.outlined(smoothPolygon({{hx + 3, hy + 12}, {hx + 17, hy + 10}, {hx + 18, hy + 7.5f}, {hx + 5, hy + 8}}, 5), red,
               kInk, ow);
    // Goggles.
    Shape goggles = smoothPolygon({{hx + 4, hy + 6}, {hx + 14, hy + 5.5f}, {hx + 14.5f, hy - 2}, {hx + 5, hy - 1.5f}}, 5);
    c.outlined(goggles, rgb(0.95f, 0.62f, 0.10f), kInk, ow);
    c.paint(grow(goggles, -1.6f), vgrad(rgb(0.45f, 0.65f, 0.85f), rgb(0.10f, 0.18f, 0.32f), hy + 5, hy - 1));
    c.paint(capsule({hx + 7, hy + 3.5f}, {hx + 10, hy + 3.5f}, 0.6f), rgb(1, 1, 1), 0.7f);
    c.paint(capsule({hx - 6, hy + 6}, {hx - 5, hy + 11}, 1.0f), rgb(1, 1, 1), 0.5f);
    return c;
}

// Spring: a yellow coil around a chrome damper rod, drawn along +y; the
// picture is stretched over a strip 10 units wide and about 60 long.
Canvas paintSpring()
{
    Canvas c(32, 128, -5, 5, 0, 60);
    // Damper rod and end eyes.
    c.outlined(capsule({0, 2}, {0, 58}, 1.7f), hgrad(rgb(0.55f, 0.56f, 0.6f), rgb(0.95f, 0.95f, 0.97f), -1.7f, 1.7f),
               kInk, 0.5f);
    c.outlined(capsule({0, 0.8f}, {0, 5}, 3.2f), rgb(0.25f, 0.25f, 0.28f), kInk, 0.6f);
    c.outlined(capsule({0, 55}, {0, 59.2f}, 3.2f), rgb(0.25f, 0.25f, 0.28f), kInk, 0.6f);
    const int turns = 7;
    const float y0 = 7, y1 = 53, pitch = (y1 - y0) / float(turns);
    const Col coil = rgb(0.98f, 0.78f, 0.10f), coilBack = rgb(0.62f, 0.45f, 0.05f);
    // Back halves first, then the front halves over the rod.
    for (int k = 0; k < turns; ++k) {
        float y = y0 + pitch * float(k);
        c.outlined(capsule({3.4f, y + pitch * 0.5f}, {-3.4f, y + pitch}, 1.1f), coilBack, kInk, 0.5f);
    }
    for (int k = 0; k < turns; ++k) {
        float y = y0 + pitch * float(k);
        c.outlined(path({{-3.5f, y}, {-1.5f, y + pitch * 0.12f}, {1.5f, y + pitch * 0.38f}, {3.5f, y + pitch * 0.5f}},
                        1.55f),
                   hgrad(scaled(coil, 0.75f), coil, -3, 2), kInk, 0.5f);
    }
    return c;
}

// Finish: a chequered flag on a pole over a soft golden glow that marks the
// ball that must be touched.
Canvas paintFinish()
{
    const float R = 80.0f / 3.0f;
    Canvas c(128, 128, -R, R, -R, R);
    c.paint(circle(0, 0, R - 0.5f), [&](float x, float y) {
        float d = std::sqrt(x * x + y * y) / R;
        return rgb(1.0f, 0.92f, 0.45f, 0.55f * (1 - d * d));
    });
    c.paint(ring(0, 0, R - 2.2f, R - 0.6f), rgb(1.0f, 0.85f, 0.25f), 0.8f);
    // Pole.
    c.outlined(capsule({-14, -22}, {-14, 21}, 1.5f), hgrad(rgb(0.45f, 0.46f, 0.5f), rgb(0.9f, 0.9f, 0.92f), -15.5f, -12.5f),
               kInk, 0.6f);
    c.outlined(circle(-14, 22.5f, 2.6f), vgrad(rgb(1, 0.9f, 0.4f), rgb(0.8f, 0.55f, 0.1f), 25, 20), kInk, 0.6f);
    c.outlined(smoothPolygon({{-20, -24.5f}, {-8, -24.5f}, {-9, -21}, {-19, -21}}, 4), rgb(0.3f, 0.3f, 0.33f), kInk,
               0.6f);
    // Flag: a waving chequered cloth, 6 by 4 squares.
    const float fx0 = -12.5f, fx1 = 21.0f, fy0 = 2.0f, fy1 = 20.0f;
    auto wave = [&](float x) { return 2.2f * std::sin((x - fx0) / (fx1 - fx0) * 1.6f * kPi); };
    Shape flag = {[=](float x, float y) {
                      float w = wave(x);
                      float dy = std::max(fy0 + w - y, y - (fy1 + w));
                      float dx = std::max(fx0 - x, x - fx1);
                      return std::max(dx, dy) * 0.85f;
                  },
                  fx0, fy0 - 3, fx1, fy1 + 3};
    c.paint(grow(flag, 0.7f), kInk);
    c.paint(flag, [=](float x, float y) {
        float u = (x - fx0) / (fx1 - fx0), v = (y - wave(x) - fy0) / (fy1 - fy0);
        int iu = int(std::floor(u * 6)), iv = int(std::floor(v * 4));
        bool dark = ((iu + iv) & 1) != 0;
        float light = 0.82f + 0.18f * std::cos((x - fx0) / (fx1 - fx0) * 1.6f * kPi);
        return dark ? rgb(0.08f, 0.08f, 0.1f) : scaled(rgb(1, 1, 1), light);
    });
    return c;
}

// Border: worn yellow and black hazard stripes, seamless in both directions.
Canvas paintBorder()
{
    const int N = 64;
    Canvas c(N, N, 0, float(N), 0, float(N));
    c.each([&](int i, int j) {
        float x = float(i) + 0.5f, y = float(j) + 0.5f;
        float s = std::fmod(x + y, 32.0f);
        float edge = std::min(std::fabs(s - 16.0f), std::min(s, 32.0f - s));
        float t = smoothstep(-0.7f, 0.7f, (s < 16 ? 1.0f : -1.0f) * edge);
        Col col = mix(rgb(0.10f, 0.10f, 0.11f), rgb(0.98f, 0.78f, 0.08f), t);
        float grime = fbm(float(i) / 8.0f, float(j) / 8.0f, N / 8, N / 8, 4, 77);
        return scaled(col, 0.78f + 0.3f * grime);
    });
    return c;
}

} // namespace texgen
