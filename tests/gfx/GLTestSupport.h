// A real render window for drawing tests: one per test process, with a
// projection of one world unit per pixel (origin at the bottom left), and
// helpers that read the back buffer or capture vertices in feedback mode.
#pragma once

#include "model/Globals.h"
#include "platform/RenderWindow.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

inline constexpr int kViewW = 400;
inline constexpr int kViewH = 300;

struct Rgba {
    uint8_t r, g, b, a;
};

struct Box {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;   // inclusive pixel bounds
    bool empty() const { return x1 < x0; }
    int width() const { return empty() ? 0 : x1 - x0 + 1; }
    int height() const { return empty() ? 0 : y1 - y0 + 1; }
};

class Frame {
public:
    Frame()
        : pixels(static_cast<size_t>(kViewW) * kViewH * 4)
    {
        glFinish();
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kViewW, kViewH, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    }
    Rgba at(int x, int y) const
    {
        const uint8_t* p = &pixels[(static_cast<size_t>(y) * kViewW + x) * 4];
        return {p[0], p[1], p[2], p[3]};
    }
    // Any colour channel above half.
    bool lit(int x, int y) const
    {
        const Rgba c = at(x, y);
        return c.r > 127 || c.g > 127 || c.b > 127;
    }
    Box litBox() const
    {
        Box b;
        for (int y = 0; y < kViewH; ++y) {
            for (int x = 0; x < kViewW; ++x) {
                if (lit(x, y)) {
                    b.x0 = std::min(b.x0, x);
                    b.y0 = std::min(b.y0, y);
                    b.x1 = std::max(b.x1, x);
                    b.y1 = std::max(b.y1, y);
                }
            }
        }
        return b;
    }
    int litCount() const
    {
        int n = 0;
        for (int y = 0; y < kViewH; ++y) {
            for (int x = 0; x < kViewW; ++x) {
                n += lit(x, y) ? 1 : 0;
            }
        }
        return n;
    }
    bool operator==(const Frame& o) const { return pixels == o.pixels; }

private:
    std::vector<uint8_t> pixels;
};

struct Vertex2 {
    float x, y;
};

// Window coordinates of every vertex `draw` sends down the pipeline, in
// order, captured in feedback mode (nothing is drawn).
inline std::vector<Vertex2> feedbackVertices(const std::function<void()>& draw)
{
    std::vector<GLfloat> buffer(1 << 16);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_2D, buffer.data());
    glRenderMode(GL_FEEDBACK);
    draw();
    const GLint n = glRenderMode(GL_RENDER);
    std::vector<Vertex2> out;
    for (GLint i = 0; i < n;) {
        const GLint token = static_cast<GLint>(buffer[static_cast<size_t>(i++)]);
        int count = 0;
        switch (token) {
        case GL_POINT_TOKEN:
        case GL_BITMAP_TOKEN:
        case GL_DRAW_PIXEL_TOKEN:
        case GL_COPY_PIXEL_TOKEN:
            count = 1;
            break;
        case GL_LINE_TOKEN:
        case GL_LINE_RESET_TOKEN:
            count = 2;
            break;
        case GL_POLYGON_TOKEN:
            count = static_cast<int>(buffer[static_cast<size_t>(i++)]);
            break;
        case GL_PASS_THROUGH_TOKEN:
            ++i;
            continue;
        default:
            ADD_FAILURE() << "unexpected feedback token " << token;
            return out;
        }
        for (int k = 0; k < count; ++k) {
            out.push_back({buffer[static_cast<size_t>(i)], buffer[static_cast<size_t>(i) + 1]});
            i += 2;
        }
    }
    return out;
}

struct Bounds {
    float x0 = 1e30f, y0 = 1e30f, x1 = -1e30f, y1 = -1e30f;
};

inline Bounds boundsOf(const std::vector<Vertex2>& v)
{
    Bounds b;
    for (const Vertex2& p : v) {
        b.x0 = std::min(b.x0, p.x);
        b.y0 = std::min(b.y0, p.y);
        b.x1 = std::max(b.x1, p.x);
        b.y1 = std::max(b.y1, p.y);
    }
    return b;
}

// Opens the window once per test process (ctest runs each case alone).
class GLTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        gameMode = true;
        fullscreen = false;
        modeWidth = kViewW;
        modeHeight = kViewH;
        modeBits = 32;
        opened = openRenderWindow("Velto drawing test", kViewW, kViewH, false);
        if (opened) {
            showRenderWindow();
        }
    }
    static void TearDownTestSuite()
    {
        if (opened) {
            closeRenderWindow();
            opened = false;
        }
    }
    void SetUp() override
    {
        ASSERT_TRUE(opened) << "no render window";
        glViewport(0, 0, kViewW, kViewH);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0.0, kViewW, 0.0, kViewH, -1.0, 1.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glDisable(GL_TEXTURE_2D);
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        clear();
    }
    static void clear()
    {
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    // A nearest-filtered, repeating RGBA texture of w x h texels, bottom row first.
    static GLuint makeTexture(int w, int h, const std::vector<uint32_t>& rgba)
    {
        GLuint id = 0;
        glGenTextures(1, &id);
        glBindTexture(GL_TEXTURE_2D, id);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
        glEnable(GL_TEXTURE_2D);
        return id;
    }

    static inline bool opened = false;
};

// Texel colours as bytes R, G, B, A in memory order (little-endian uint32).
inline constexpr uint32_t kRed = 0xFF0000FFu;
inline constexpr uint32_t kGreen = 0xFF00FF00u;
inline constexpr uint32_t kBlue = 0xFFFF0000u;
inline constexpr uint32_t kWhite = 0xFFFFFFFFu;

inline bool isColour(const Rgba& c, uint32_t texel)
{
    auto near = [](int a, int b) { return a - b < 16 && b - a < 16; };
    return near(c.r, static_cast<int>(texel & 0xFF)) && near(c.g, static_cast<int>((texel >> 8) & 0xFF))
           && near(c.b, static_cast<int>((texel >> 16) & 0xFF));
}
