// The outline font: glyph lists, cell increments, centring, and the GL state
// printText leaves behind.

#include "GLTestSupport.h"

#include "gfx/Text.h"

#include <array>
#include <string>

namespace {

constexpr double kScale = 40.0;

class TextTest : public GLTest {
protected:
    Frame drawn(const std::string& text, bool centred, double x, double y, double scale = kScale)
    {
        clear();
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        printText(text, centred, x, y, scale);
        return Frame();
    }
};

TEST_F(TextTest, FontHasMonospacedCellsForCodesUpTo254)
{
    ASSERT_NE(fontListBase, 0u);
    const float cell = glyphAdvance[static_cast<unsigned char>('M')];
    // Liberation Mono (and Courier New): 1229 / 2048 of the em.
    EXPECT_NEAR(cell, 1229.0 / 2048.0, 1e-6);
    for (int code = 32; code < 255; ++code) {
        EXPECT_EQ(glyphAdvance[code], cell) << "code " << code;
        EXPECT_TRUE(glIsList(fontListBase + static_cast<unsigned int>(code))) << "code " << code;
    }
    EXPECT_EQ(glyphAdvance[255], 0.0f);
    EXPECT_TRUE(feedbackVertices([] { glCallList(fontListBase + 255); }).empty());
}

TEST_F(TextTest, CentredTextIsShiftedByHalfItsWidth)
{
    const std::string text = "Velto 42";
    const Box left = drawn(text, false, 200, 120).litBox();
    const Box centred = drawn(text, true, 200, 120).litBox();
    ASSERT_FALSE(left.empty());
    const double half = text.size() * glyphAdvance['M'] * kScale / 2.0;
    EXPECT_NEAR(left.x0 - centred.x0, half, 1.0);
    EXPECT_NEAR(left.x1 - centred.x1, half, 1.0);
    EXPECT_EQ(left.y0, centred.y0);
    EXPECT_EQ(left.y1, centred.y1);
    EXPECT_EQ(left.width(), centred.width());
}

TEST_F(TextTest, WidthIsCharactersTimesTheCell)
{
    // The ink of the last character starts n - 1 cells after that of the first.
    const Box one = drawn("H", false, 20, 100).litBox();
    const Box last = drawn("       H", false, 20, 100).litBox();
    EXPECT_NEAR(last.x0 - one.x0, 7 * glyphAdvance['H'] * kScale, 1.0);
    // Centred, the whole cell row is centred: a lone glyph of a centred
    // string of n equal glyphs sits at n / 2 cells left of x.
    const Box centred = drawn("HHHHHHHH", true, 200, 100).litBox();
    const Box leftAligned = drawn("HHHHHHHH", false, 200 - 4 * glyphAdvance['H'] * kScale, 100).litBox();
    EXPECT_NEAR(centred.x0, leftAligned.x0, 1.0);
    EXPECT_NEAR(centred.x1, leftAligned.x1, 1.0);
}

TEST_F(TextTest, Byte255IsAZeroWidthGap)
{
    const Frame plain = drawn("AB", false, 50, 100);
    const Frame gap = drawn(std::string("A\xff" "B"), false, 50, 100);
    EXPECT_TRUE(plain == gap);
    const Frame centredPlain = drawn("AB", true, 200, 100);
    const Frame centredGap = drawn(std::string("A\xff" "B"), true, 200, 100);
    EXPECT_TRUE(centredPlain == centredGap);
}

TEST_F(TextTest, DoublingTheScaleDoublesTheGlyphsAroundTheSameBasePoint)
{
    const Box small = drawn("E", false, 100, 50, 50).litBox();
    const Box big = drawn("E", false, 100, 50, 100).litBox();
    // A capital stands on the base line and is well over half an em high.
    EXPECT_GT(small.height(), 30);
    EXPECT_LT(small.height(), 40);
    EXPECT_NEAR(big.height(), 2 * small.height(), 2);
    EXPECT_NEAR(big.width(), 2 * small.width(), 2);
    EXPECT_NEAR(small.y0, 50, 1);
    EXPECT_NEAR(big.y0, 50, 1);
    EXPECT_NEAR(big.x0 - 100, 2 * (small.x0 - 100), 2);

    const Box smallCentred = drawn("EEE", true, 200, 50, 50).litBox();
    const Box bigCentred = drawn("EEE", true, 200, 50, 100).litBox();
    EXPECT_NEAR(200 - bigCentred.x0, 2 * (200 - smallCentred.x0), 2);
}

TEST_F(TextTest, LeavesTheModelViewMatrixAndListBase)
{
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslated(13.0, -7.0, 0.0);
    glRotated(10.0, 0.0, 0.0, 1.0);
    std::array<GLdouble, 16> before{};
    glGetDoublev(GL_MODELVIEW_MATRIX, before.data());
    glListBase(7);
    GLint depthBefore = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthBefore);

    glMatrixMode(GL_PROJECTION);   // the caller's mode does not matter
    printText("Time 0:12.34", true, 200, 150, 30);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    std::array<GLdouble, 16> after{};
    glGetDoublev(GL_MODELVIEW_MATRIX, after.data());
    EXPECT_EQ(before, after);
    GLint depthAfter = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depthAfter);
    EXPECT_EQ(depthBefore, depthAfter);
    GLint base = 0;
    glGetIntegerv(GL_LIST_BASE, &base);
    EXPECT_EQ(base, 7);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glListBase(0);
}

TEST_F(TextTest, EmptyTextAndMissingFontDrawNothing)
{
    EXPECT_EQ(drawn("", false, 100, 100).litCount(), 0);
    EXPECT_EQ(drawn("", true, 100, 100).litCount(), 0);
    EXPECT_EQ(drawn("   ", true, 100, 100).litCount(), 0);

    freeTextFont();
    EXPECT_EQ(fontListBase, 0u);
    EXPECT_EQ(drawn("Gone", false, 100, 100).litCount(), 0);
    EXPECT_EQ(drawn("Gone", true, 100, 100).litCount(), 0);

    // A glyph's list is compiled when a text first needs it: that first
    // picture is already the one every later text gets.
    buildTextFont();
    const Frame back = drawn("Back \xe9t\xe9", false, 100, 100);
    EXPECT_GT(back.litCount(), 100);
    EXPECT_TRUE(back == drawn("Back \xe9t\xe9", false, 100, 100));
}

TEST_F(TextTest, GlyphsOfWindowsLatinCodesKeepTheirHoles)
{
    // The counter of an "O" stays open (outlines fill by the non-zero rule).
    const Frame o = drawn("O", false, 100, 100, 120);
    const Box b = o.litBox();
    ASSERT_FALSE(b.empty());
    EXPECT_FALSE(o.lit((b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2));
    EXPECT_TRUE(o.lit(b.x0 + 3, (b.y0 + b.y1) / 2));

    // Euro sign (0x80), e acute (0xE9), pound (0xA3) have glyphs.
    for (const char* s : {"\x80", "\xe9", "\xa3", "\x8a"}) {
        EXPECT_GT(drawn(s, false, 100, 100).litCount(), 50) << static_cast<int>(static_cast<unsigned char>(s[0]));
    }
    // An undefined code and a control code draw nothing but keep their cell.
    EXPECT_EQ(drawn("\x81\x01", false, 100, 100).litCount(), 0);
    const Box one = drawn("H", false, 20, 100).litBox();
    const Box after = drawn("\x81H", false, 20, 100).litBox();
    EXPECT_NEAR(after.x0 - one.x0, glyphAdvance['H'] * kScale, 1.0);
}

} // namespace
