#include "PlatformTestSupport.h"

#include "gfx/Text.h"
#include "platform/EventInjection.h"

#include <GL/gl.h>

#include <cstdlib>

namespace {

struct Pixel {
    int r, g, b;
};

Pixel readPixel(int x, int y)
{
    unsigned char p[4] = {};
    glFinish();
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    return {p[0], p[1], p[2]};
}

// One unit per pixel, origin at the bottom left, as the modes set it up.
void pixelProjection()
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, viewWidth, 0, viewHeight, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// A yellow wheel-like ring with a red square in it and a half-transparent
// blue bar across, on the cleared (black) background.
void drawShapes()
{
    glClear(GL_COLOR_BUFFER_BIT);
    pixelProjection();
    glColor4f(1, 0.85f, 0.1f, 1);
    glBegin(GL_TRIANGLE_STRIP);
    for (int i = 0; i <= 64; ++i) {
        const double a = i * 2 * 3.14159265358979 / 64;
        glVertex2d(400 + 150 * std::cos(a), 300 + 150 * std::sin(a));
        glVertex2d(400 + 120 * std::cos(a), 300 + 120 * std::sin(a));
    }
    glEnd();
    glColor4f(1, 0, 0, 1);
    glRectd(350, 250, 450, 350);
    glColor4f(0, 0, 1, 0.5f);
    glRectd(100, 280, 700, 320);
}

} // namespace

TEST_F(WindowTest, GameWindowHasTheExactClientSizeCentredAndFixed)
{
    ASSERT_TRUE(openShown());
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(fullscreen);
    EXPECT_EQ(viewWidth, 800);
    EXPECT_EQ(viewHeight, 600);

    const Window w = x.find(kTitle);
    ASSERT_NE(w, 0u);
    const auto g = x.geometry(w);
    EXPECT_EQ(g.width, 800);
    EXPECT_EQ(g.height, 600);
    // The client area is centred; the frame's title bar may push it down a little.
    EXPECT_NEAR(g.x, (x.screenWidth() - 800) / 2, 8);
    EXPECT_NEAR(g.y, (x.screenHeight() - 600) / 2, 30);

    // Fixed size: the window manager is told minimum = maximum.
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(x.display, w, &hints, &supplied));
    ASSERT_TRUE(hints.flags & PMinSize);
    ASSERT_TRUE(hints.flags & PMaxSize);
    EXPECT_EQ(hints.min_width, 800);
    EXPECT_EQ(hints.max_width, 800);
    EXPECT_EQ(hints.min_height, 600);
    EXPECT_EQ(hints.max_height, 600);

    // Our own 32 x 32 icon is set.
    const std::vector<long> icon = x.cardinals(w, "_NET_WM_ICON");
    ASSERT_GE(icon.size(), 2u + 32 * 32);
    EXPECT_EQ(icon[0], 32);
    EXPECT_EQ(icon[1], 32);
}

TEST_F(WindowTest, DrawsWithBlendingIntoTheBackBuffer)
{
    ASSERT_TRUE(openShown());
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    GLint source = 0, destination = 0;
    glGetIntegerv(GL_BLEND_SRC, &source);
    glGetIntegerv(GL_BLEND_DST, &destination);
    EXPECT_EQ(source, GL_SRC_ALPHA);
    EXPECT_EQ(destination, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    GLint depthBits = -1, alphaBits = -1;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    glGetIntegerv(GL_ALPHA_BITS, &alphaBits);
    EXPECT_EQ(depthBits, 0);
    EXPECT_EQ(alphaBits, 0);
    GLint doubleBuffered = 0;
    glGetIntegerv(GL_DOUBLEBUFFER, &doubleBuffered);
    EXPECT_TRUE(doubleBuffered);
    // Immediate mode and display lists need the compatibility context.
    EXPECT_NE(fontListBase, 0u);
    EXPECT_TRUE(glIsList(fontListBase + 'A'));

    drawShapes();
    const Pixel background = readPixel(20, 20);
    EXPECT_EQ(background.r + background.g + background.b, 0);
    const Pixel red = readPixel(400, 340);
    EXPECT_GT(red.r, 250);
    EXPECT_LT(red.g, 5);
    const Pixel ring = readPixel(400 + 135, 300 + 40);
    EXPECT_GT(ring.r, 250);
    EXPECT_GT(ring.g, 200);
    // Half blue over red.
    const Pixel mixed = readPixel(400, 300);
    EXPECT_NEAR(mixed.r, 127, 3);
    EXPECT_NEAR(mixed.b, 127, 3);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    if (const char* shot = std::getenv("VELTO_PLATFORM_SCREENSHOT")) {
        presentFrame();
        settle(300);
        run(std::string("import -window root ") + shot);
    }
    presentFrame();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(WindowTest, ResizeViewSetsTheViewportAndTheViewSize)
{
    ASSERT_TRUE(openRenderWindow(kTitle, 800, 600, false));
    resizeView(320, 0);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 320);
    EXPECT_EQ(viewport[3], 0);
    EXPECT_EQ(viewWidth, 320);
    EXPECT_EQ(viewHeight, 0);
    closeRenderWindow();
    // Without a context only the size is stored.
    resizeView(640, 480);
    EXPECT_EQ(viewWidth, 640);
    EXPECT_EQ(viewHeight, 480);
}

TEST_F(WindowTest, EditorWindowOpensMaximisedAndFollowsResizes)
{
    gameMode = false;
    fullscreen = true; // left over from the game: the editor never goes full screen
    ASSERT_TRUE(openRenderWindow(kTitle, 800, 600, false));
    EXPECT_FALSE(fullscreen);
    showRenderWindow();
    ASSERT_TRUE(pumpUntil([] { return windowActive.load(); }));
    const Window w = x.find(kTitle);
    ASSERT_NE(w, 0u);
    // Maximising delivers a size change that replaces modeWidth x modeHeight.
    ASSERT_TRUE(pumpUntil([] { return viewWidth > 800; }));
    settle();
    auto g = x.geometry(w);
    EXPECT_EQ(viewWidth, g.width);
    EXPECT_EQ(viewHeight, g.height);
    EXPECT_GT(g.width, 1000);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], g.width);
    EXPECT_EQ(viewport[3], g.height);

    // A resize by the user (here: by xdotool) reaches the view.
    x.unmaximise(w);
    settle();
    run("xdotool windowsize " + std::to_string(w) + " 500 400");
    ASSERT_TRUE(pumpUntil([] { return viewWidth == 500 && viewHeight == 400; })) << viewWidth << "x" << viewHeight << " " << x.geometry(w).width;
    g = x.geometry(w);
    EXPECT_EQ(g.width, 500);
    EXPECT_EQ(g.height, 400);
}

TEST_F(WindowTest, FullScreenModeTheDisplayLacksIsRefusedAndChangesNothing)
{
    const int screenW = x.screenWidth(), screenH = x.screenHeight();
    const int count = showCursor(true) - 1;
    showCursor(false);

    // The test display has exactly one mode, its own size.
    EXPECT_FALSE(openRenderWindow(kTitle, 800, 600, true));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "This FullScreen Mode Is Not Supported.");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].flags, 0x30u);
    EXPECT_TRUE(fullscreen);
    EXPECT_EQ(x.find(kTitle), 0u);
    EXPECT_EQ(x.screenWidth(), screenW);
    EXPECT_EQ(x.screenHeight(), screenH);
    EXPECT_EQ(showCursor(true), count + 1);
    showCursor(false);

    // The display's own mode works and covers the screen.
    ASSERT_TRUE(openShown(screenW, screenH, true));
    EXPECT_EQ(boxes.size(), 1u);
    const Window w = x.find(kTitle);
    ASSERT_NE(w, 0u);
    settle();
    const auto g = x.geometry(w);
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.width, screenW);
    EXPECT_EQ(g.height, screenH);
    closeRenderWindow();
    EXPECT_EQ(x.screenWidth(), screenW);
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(WindowTest, AFailedGlSetupIsReportedAsThePixelFormat)
{
    // SDL loads GL while it makes the window; without GL no pixel format
    // can be had, whatever SDL's error text says.
    setenv("SDL_OPENGL_LIBRARY", "/nonexistent/libGL.so.1", 1);
    EXPECT_FALSE(openRenderWindow(kTitle, 800, 600, false));
    unsetenv("SDL_OPENGL_LIBRARY");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cant't Find A Suitable PixelFormat.");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].flags, 0x30u);
    EXPECT_EQ(x.find(kTitle), 0u);
    ASSERT_TRUE(openShown());
}

TEST_F(WindowTest, CursorShowCountAndTeardownTwice)
{
    // The count works as the system's: visible while >= 0.
    EXPECT_EQ(showCursor(false), -1);
    EXPECT_EQ(showCursor(false), -2);
    EXPECT_EQ(showCursor(true), -1);
    EXPECT_EQ(showCursor(true), 0);

    // The game hides the cursor while its window is open.
    ASSERT_TRUE(openRenderWindow(kTitle, 800, 600, false));
    EXPECT_EQ(showCursor(true), 0);
    EXPECT_EQ(showCursor(false), -1);
    closeRenderWindow();
    closeRenderWindow();
    EXPECT_EQ(showCursor(true), 1);
    EXPECT_EQ(showCursor(false), 0);
    EXPECT_EQ(fontListBase, 0u);
    EXPECT_EQ(x.find(kTitle), 0u);
    EXPECT_TRUE(boxes.empty());

    // The editor leaves the count alone.
    gameMode = false;
    ASSERT_TRUE(openRenderWindow(kTitle, 800, 600, false));
    EXPECT_EQ(showCursor(true), 1);
    EXPECT_EQ(showCursor(false), 0);
    closeRenderWindow();
    EXPECT_EQ(showCursor(true), 1);
    showCursor(false);
}

TEST_F(WindowTest, ASecondWindowAfterTheFirstWorks)
{
    static int hidden = 0;
    setStartDialogHider([] { ++hidden; });
    ASSERT_TRUE(openShown());
    EXPECT_EQ(hidden, 1);
    presentFrame();
    // Input still queued for the first window does not reach the second.
    injectMouseMove(5, 6);
    injectMouseButton(1, true, 5, 6);
    injectKey('A', true);
    closeRenderWindow();
    EXPECT_FALSE(windowActive);
    mouseX = 0;
    mouseButtons = 0;
    modeBits = 16; // a minimum: the display may give more
    ASSERT_TRUE(openShown(640, 480));
    GLint greenBits = 0;
    glGetIntegerv(GL_GREEN_BITS, &greenBits);
    EXPECT_GE(greenBits, 6);
    EXPECT_EQ(hidden, 2);
    drainEvents();
    // (The real pointer may move over the new window meanwhile.)
    EXPECT_FALSE(mouseX == 5 && mouseY == 6);
    EXPECT_EQ(mouseButtons & MK_LBUTTON, 0);
    EXPECT_FALSE(keyDown['A']);
    injectMouseButton(1, false, 5, 6);
    injectKey('A', false);
    drainEvents();
    drawShapes();
    EXPECT_GT(readPixel(400, 340).r, 250);
    presentFrame();
    setStartDialogHider(nullptr);
}

TEST(NoDisplayTest, OpeningWithoutADisplayReportsAndFails)
{
    // In a fresh child process, with no display to talk to.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("DISPLAY");
            setenv("SDL_VIDEODRIVER", "x11", 1);
            std::vector<ShownBox> shown;
            setMessageBoxHandler([&](const std::string& text, const std::string& caption, unsigned flags) {
                shown.push_back({text, caption, flags});
                return IDOK;
            });
            gameMode = true;
            const bool opened = openRenderWindow(kTitle, 800, 600, false);
            closeRenderWindow();
            const bool reported = shown.size() == 1 && shown[0].text == "Failed To Register The Window Class." &&
                                  shown[0].caption == "Error" && shown[0].flags == 0x10;
            for (const ShownBox& box : shown) {
                std::fprintf(stderr, "box: %s|%s|%x\n", box.text.c_str(), box.caption.c_str(), box.flags);
            }
            // Nothing was hidden, so the count is back where it started.
            std::_Exit(opened ? 2 : !reported ? 3 : showCursor(true) != 1 ? 4 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

namespace {

// The pointer's image as the X server shows it: ARGB pixels, hot spot.
struct CursorImage {
    int width = 0, height = 0, xhot = 0, yhot = 0;
    std::vector<uint32_t> pixels; // ARGB
    int opaque() const
    {
        int n = 0;
        for (uint32_t p : pixels) {
            n += (p >> 24) > 0 ? 1 : 0;
        }
        return n;
    }
};

CursorImage cursorOver(XView& x, Window w)
{
    run("xdotool mousemove --window " + std::to_string(w) + " 300 200");
    settle(200);
    CursorImage image;
    if (XFixesCursorImage* c = XFixesGetCursorImage(x.display)) {
        image.width = c->width;
        image.height = c->height;
        image.xhot = c->xhot;
        image.yhot = c->yhot;
        for (int i = 0; i < c->width * c->height; ++i) {
            image.pixels.push_back(static_cast<uint32_t>(c->pixels[i] & 0xFFFFFFFFu));
        }
        XFree(c);
    }
    return image;
}

} // namespace

TEST_F(WindowTest, EditorShowsTheCrossHairAndTheGameNoCursor)
{
    gameMode = false;
    ASSERT_TRUE(openShown());
    const CursorImage cross = cursorOver(x, x.find(kTitle));
    ASSERT_EQ(cross.width, 32);
    ASSERT_EQ(cross.height, 32);
    EXPECT_EQ(cross.xhot, 15);
    EXPECT_EQ(cross.yhot, 16);
    // Two white lines of 17 pixels crossing at the hot spot; nothing else.
    EXPECT_EQ(cross.opaque(), 33);
    EXPECT_EQ(cross.pixels[16 * 32 + 7] & 0xFFFFFFu, 0xFFFFFFu);
    EXPECT_EQ(cross.pixels[16 * 32 + 23] >> 24, 0xFFu);
    EXPECT_EQ(cross.pixels[8 * 32 + 15] >> 24, 0xFFu);
    EXPECT_EQ(cross.pixels[24 * 32 + 15] >> 24, 0xFFu);
    EXPECT_EQ(cross.pixels[25 * 32 + 15] >> 24, 0u);
    EXPECT_EQ(cross.pixels[16 * 32 + 6] >> 24, 0u);
    closeRenderWindow();

    gameMode = true;
    ASSERT_TRUE(openShown());
    const CursorImage none = cursorOver(x, x.find(kTitle));
    EXPECT_EQ(none.opaque(), 0);
}
