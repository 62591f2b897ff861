// TGLBMP's texture upload and binding in a real GL context.
#include "GLTestSupport.h"

#include "gfx/GLBMP.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

// A 2 x 2 24-bit bitmap, bottom row red, green; top row blue, white.
std::string writeChecker()
{
    const std::string path =
        (std::filesystem::temp_directory_path() / ("velto-glbmp-gl-" + std::to_string(::getpid()) + ".bmp")).string();
    const uint8_t rows[16] = {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0};
    std::vector<uint8_t> b(54 + sizeof rows, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(10, 54);
    put32(14, 40);
    put32(18, 2);
    put32(22, 2);
    b[26] = 1;
    b[28] = 24;
    std::copy(rows, rows + sizeof rows, b.begin() + 54);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return path;
}

class GLBMPTexture : public GLTest {
protected:
    void SetUp() override
    {
        GLTest::SetUp();
        path = writeChecker();
    }
    void TearDown() override { std::filesystem::remove(path); }
    std::string path;
};

GLint boundTexture()
{
    GLint id = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &id);
    return id;
}

} // namespace

TEST_F(GLBMPTexture, BuildTwiceKeepsOneTextureAndDrawsThePicture)
{
    GLuint first = 0, second = 0;
    {
        TGLBMP img;
        ASSERT_TRUE(img.LoadImageFile(path));
        img.SetWrap(GL_CLAMP_TO_EDGE, GL_CLAMP_TO_EDGE);
        img.BuildTexture();
        first = img.TextureId();
        ASSERT_NE(first, 0u);
        EXPECT_TRUE(glIsTexture(first));
        GLint wrap = 0, minf = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minf);
        EXPECT_EQ(wrap, GL_CLAMP_TO_EDGE);
        EXPECT_EQ(minf, GL_LINEAR);

        img.BuildTexture();
        second = img.TextureId();
        ASSERT_NE(second, 0u);
        EXPECT_TRUE(glIsTexture(second));
        if (second != first) {
            EXPECT_FALSE(glIsTexture(first));
        }

        // Draw it over the window: row 0 of the pixels lands at the bottom.
        glBindTexture(GL_TEXTURE_2D, 0);
        img.Bind();
        EXPECT_EQ(boundTexture(), GLint(second));
        glEnable(GL_TEXTURE_2D);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
        glBegin(GL_QUADS);
        glTexCoord2f(0, 0);
        glVertex2f(0, 0);
        glTexCoord2f(1, 0);
        glVertex2f(kViewW, 0);
        glTexCoord2f(1, 1);
        glVertex2f(kViewW, kViewH);
        glTexCoord2f(0, 1);
        glVertex2f(0, kViewH);
        glEnd();
        glDisable(GL_TEXTURE_2D);
        Frame f;
        Rgba bl = f.at(10, 10), br = f.at(kViewW - 10, 10), tl = f.at(10, kViewH - 10), tr = f.at(kViewW - 10, kViewH - 10);
        EXPECT_TRUE(bl.r > 200 && bl.g < 50 && bl.b < 50);
        EXPECT_TRUE(br.g > 200 && br.r < 50 && br.b < 50);
        EXPECT_TRUE(tl.b > 200 && tl.r < 50 && tl.g < 50);
        EXPECT_TRUE(tr.r > 200 && tr.g > 200 && tr.b > 200);
    }
    // The destructor deleted the texture.
    EXPECT_FALSE(glIsTexture(second));
}

TEST_F(GLBMPTexture, AFailedLoadBuildsNothingAndBindKeepsTheBinding)
{
    GLuint other = 0;
    glGenTextures(1, &other);
    glBindTexture(GL_TEXTURE_2D, other);

    TGLBMP img;
    EXPECT_FALSE(img.LoadImageFile(path + ".png"));
    img.BuildTexture();
    EXPECT_EQ(img.TextureId(), 0u);
    img.Bind();
    EXPECT_EQ(boundTexture(), GLint(other));

    // A texture built before a failed reload stays the one Bind uses.
    ASSERT_TRUE(img.LoadImageFile(path));
    img.BuildTexture();
    const GLuint built = img.TextureId();
    EXPECT_FALSE(img.LoadImageFile(path + "-missing.bmp"));
    img.BuildTexture();
    EXPECT_EQ(img.TextureId(), built);
    glBindTexture(GL_TEXTURE_2D, other);
    img.Bind();
    EXPECT_EQ(boundTexture(), GLint(built));
    glDeleteTextures(1, &other);
}
