// Image readers of TGLBMP: bitmaps of every depth, JPEG, Targa, alpha
// images, and damaged files. Every test writes its own files.
#include "gfx/GLBMP.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <jpeglib.h>
#include <sys/resource.h>
#include <unistd.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

class GLBMPReader : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("velto-glbmp-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string write(const std::string& name, const Bytes& data)
    {
        std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                     std::streamsize(data.size()));
        return path;
    }

    fs::path dir;
};

void put16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

void put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A bitmap file: headers, then `extra` (masks or palette), then `image`.
struct Bmp {
    int32_t width = 1, height = 1;
    int bits = 24;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    uint32_t clrUsed = 0;
    Bytes extra;
    Bytes image;

    Bytes bytes() const
    {
        Bytes b(54 + extra.size() + image.size(), 0);
        b[0] = 'B';
        b[1] = 'M';
        put32(b, 2, uint32_t(54 + extra.size() + image.size()));
        put32(b, 10, uint32_t(54 + extra.size()));
        put32(b, 14, 40);
        put32(b, 18, uint32_t(width));
        put32(b, 22, uint32_t(height));
        put16(b, 26, 1);
        put16(b, 28, uint32_t(bits));
        put32(b, 30, compression);
        put32(b, 34, sizeImage);
        put32(b, 46, clrUsed);
        std::copy(extra.begin(), extra.end(), b.begin() + 54);
        std::copy(image.begin(), image.end(), b.begin() + 54 + long(extra.size()));
        return b;
    }
};

// Palette entries are blue, green, red, reserved.
Bytes palette(std::initializer_list<uint32_t> rgbs)
{
    Bytes p;
    for (uint32_t c : rgbs) {
        p.push_back(uint8_t(c));
        p.push_back(uint8_t(c >> 8));
        p.push_back(uint8_t(c >> 16));
        p.push_back(0);
    }
    return p;
}

Bytes px(const TGLBMP& img, int x, int y)
{
    const Bytes& p = img.Pixels();
    size_t at = (size_t(y) * size_t(img.Width()) + size_t(x)) * 4;
    return Bytes(p.begin() + long(at), p.begin() + long(at) + 4);
}

Bytes rgba(int r, int g, int b, int a = 255) { return {uint8_t(r), uint8_t(g), uint8_t(b), uint8_t(a)}; }

// The 3 x 2 24-bit bitmap: rows of 9 bytes of pixels plus 3 of padding.
Bmp small24()
{
    Bmp b;
    b.width = 3;
    b.height = 2;
    b.image = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0xEE, 0xEE, 0xEE};
    return b;
}

Bytes targa(int w, int h, int bits, const Bytes& data, int type = 2, int cmap = 0, Bytes id = {})
{
    Bytes b(18 + id.size() + data.size(), 0);
    b[0] = uint8_t(id.size());
    b[1] = uint8_t(cmap);
    b[2] = uint8_t(type);
    put16(b, 12, uint32_t(w));
    put16(b, 14, uint32_t(h));
    b[16] = uint8_t(bits);
    std::copy(id.begin(), id.end(), b.begin() + 18);
    std::copy(data.begin(), data.end(), b.begin() + 18 + long(id.size()));
    return b;
}

// A JPEG of w x h pixels from top-first RGB or grey rows.
Bytes jpeg(int w, int h, int components, const Bytes& rows)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &mem, &size);
    cinfo.image_width = JDIMENSION(w);
    cinfo.image_height = JDIMENSION(h);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    cinfo.comp_info[0].h_samp_factor = 1;
    cinfo.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&rows[size_t(cinfo.next_scanline) * size_t(w * components)]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(mem, mem + size);
    std::free(mem);
    return out;
}

// 16 x 16 colour picture: top half red, bottom half blue.
Bytes redOverBlue()
{
    Bytes rows;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            rows.push_back(y < 8 ? 230 : 10);
            rows.push_back(20);
            rows.push_back(y < 8 ? 10 : 240);
        }
    return jpeg(16, 16, 3, rows);
}

// 64 x 64 pixels of busy colour: most of the file is entropy-coded data.
Bytes noisyJpeg()
{
    Bytes rows;
    uint32_t s = 12345;
    for (int i = 0; i < 64 * 64 * 3; ++i) {
        s = s * 1103515245u + 12345u;
        rows.push_back(uint8_t(s >> 16));
    }
    return jpeg(64, 64, 3, rows);
}

void expectNear(const Bytes& got, const Bytes& want, int tol)
{
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR(int(got[i]), int(want[i]), tol) << "byte " << i;
}

void expectEmpty(const TGLBMP& img)
{
    EXPECT_TRUE(img.Pixels().empty());
    EXPECT_EQ(img.Width(), 0);
    EXPECT_EQ(img.Height(), 0);
}

} // namespace

TEST_F(GLBMPReader, Bitmap24SkipsRowPaddingAndKeepsBottomRowFirst)
{
    TGLBMP img;
    ASSERT_TRUE(img.LoadImageFile(write("a.bmp", small24().bytes())));
    EXPECT_EQ(img.Width(), 3);
    EXPECT_EQ(img.Height(), 2);
    EXPECT_EQ(img.BitsPerPixel(), 32);
    Bytes want = {3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 13, 12, 11, 255, 16, 15, 14, 255, 19, 18, 17, 255};
    EXPECT_EQ(img.Pixels(), want);
}

TEST_F(GLBMPReader, NegativeHeightKeepsTheRowsInFileOrder)
{
    Bmp b = small24();
    b.height = -2;
    TGLBMP img;
    ASSERT_TRUE(img.LoadImageFile(write("top.bmp", b.bytes())));
    EXPECT_EQ(img.Height(), 2);
    EXPECT_EQ(px(img, 0, 0), rgba(3, 2, 1));
    EXPECT_EQ(px(img, 0, 1), rgba(13, 12, 11));
}

TEST_F(GLBMPReader, Bitmap4ReadsNibblesHighFirstAndRestartsEachRow)
{
    Bmp b;
    b.width = 5;
    b.height = 2;
    b.bits = 4;
    b.clrUsed = 3;
    b.extra = palette({0x000000, 0xFF0000, 0x00FF80});
    // Row stride 4: three bytes of nibbles (the sixth nibble unused) + 1 pad.
    b.image = {0x01, 0x21, 0x2F, 0xEE, 0x12, 0x00, 0x1F, 0xEE};
    TGLBMP img;
    ASSERT_TRUE(img.LoadImageFile(write("n.bmp", b.bytes())));
    ASSERT_EQ(img.Pixels().size(), 40u);
    EXPECT_EQ(px(img, 0, 0), rgba(0, 0, 0));
    EXPECT_EQ(px(img, 1, 0), rgba(255, 0, 0));
    EXPECT_EQ(px(img, 2, 0), rgba(0, 255, 128));
    EXPECT_EQ(px(img, 3, 0), rgba(255, 0, 0));
    EXPECT_EQ(px(img, 4, 0), rgba(0, 255, 128));
    EXPECT_EQ(px(img, 0, 1), rgba(255, 0, 0));
    EXPECT_EQ(px(img, 1, 1), rgba(0, 255, 128));
    EXPECT_EQ(px(img, 4, 1), rgba(255, 0, 0));
}

TEST_F(GLBMPReader, Bitmap8LooksUpThePalette)
{
    Bmp b;
    b.width = 2;
    b.height = 1;
    b.bits = 8;
    b.clrUsed = 2;
    b.extra = palette({0x102030, 0xA0B0C0});
    b.image = {1, 0, 0xEE, 0xEE};
    TGLBMP img;
    ASSERT_TRUE(img.LoadImageFile(write("p.bmp", b.bytes())));
    EXPECT_EQ(px(img, 0, 0), rgba(0xA0, 0xB0, 0xC0));
    EXPECT_EQ(px(img, 1, 0), rgba(0x10, 0x20, 0x30));

    // A colour count of 0 stands for the full table of 2^8 entries.
    b.clrUsed = 0;
    Bytes full(1024, 0);
    Bytes two = palette({0x102030, 0xA0B0C0});
    std::copy(two.begin(), two.end(), full.begin());
    b.extra = full;
    ASSERT_TRUE(img.LoadImageFile(write("p0.bmp", b.bytes())));
    EXPECT_EQ(px(img, 0, 0), rgba(0xA0, 0xB0, 0xC0));

    // With a longer (108-byte) info header the palette follows all of it.
    b.clrUsed = 2;
    b.extra = palette({0x102030, 0xA0B0C0});
    Bytes v4 = b.bytes();
    Bytes longer(v4.size() + 68, 0x55);
    std::copy(v4.begin(), v4.begin() + 54, longer.begin());
    std::copy(v4.begin() + 54, v4.end(), longer.begin() + 54 + 68);
    put32(longer, 10, 54 + 68 + 8);
    put32(longer, 14, 108);
    ASSERT_TRUE(img.LoadImageFile(write("v4.bmp", longer)));
    EXPECT_EQ(px(img, 0, 0), rgba(0xA0, 0xB0, 0xC0));
    EXPECT_EQ(px(img, 1, 0), rgba(0x10, 0x20, 0x30));
}

TEST_F(GLBMPReader, Bitmap16UsesTheBitFieldMasks)
{
    Bmp b;
    b.width = 5;
    b.height = 1;
    b.bits = 16;
    b.compression = 3;
    b.extra = Bytes(12, 0);
    put32(b.extra, 0, 0xF800);
    put32(b.extra, 4, 0x07E0);
    put32(b.extra, 8, 0x001F);
    b.image = Bytes(12, 0xEE);
    const uint16_t words[5] = {0xFFFF, 0x0000, 0xF800, 0x07E0, 0x8410};
    for (int i = 0; i < 5; ++i)
        put16(b.image, size_t(i) * 2, words[i]);
    TGLBMP img;
    ASSERT_TRUE(img.LoadImageFile(write("f.bmp", b.bytes())));
    EXPECT_EQ(px(img, 0, 0), rgba(255, 255, 255));
    EXPECT_EQ(px(img, 1, 0), rgba(0, 0, 0));
    EXPECT_EQ(px(img, 2, 0), rgba(255, 0, 0));
    EXPECT_EQ(px(img, 3, 0), rgba(0, 255, 0));
    EXPECT_EQ(px(img, 4, 0), rgba(0x84, 0x82, 0x84));  // 10000, 100000, 10000 widened

    // Without masks a 16-bit bitmap is read as 5-5-5.
    Bmp plain = b;
    plain.compression = 0;
    plain.extra.clear();
    put16(plain.image, 0, 0x7C00);
    put16(plain.image, 2, 0x03E0);
    ASSERT_TRUE(img.LoadImageFile(write("555.bmp", plain.bytes())));
    EXPECT_EQ(px(img, 0, 0), rgba(255, 0, 0));
    EXPECT_EQ(px(img, 1, 0), rgba(0, 255, 0));
}

TEST_F(GLBMPReader, Bitmap32SwapsRedAndBlueAndMakesItOpaque)
{
    Bmp b;
    b.width = 2;
    b.height = 1;
    b.bits = 32;
    b.image = {1, 2, 3, 4, 5, 6, 7, 8};
    TGLBMP img;
    ASSERT_TRUE(img.LoadImageFile(write("x.bmp", b.bytes())));
    EXPECT_EQ(img.Pixels(), (Bytes{3, 2, 1, 255, 7, 6, 5, 255}));
    EXPECT_EQ(img.BitsPerPixel(), 32);
}

TEST_F(GLBMPReader, TargaKeepsItsDepthAndAlpha)
{
    TGLBMP img;
    ASSERT_TRUE(img.LoadImageFile(write("a.tga", targa(2, 1, 24, {1, 2, 3, 4, 5, 6}))));
    EXPECT_EQ(img.Pixels(), (Bytes{3, 2, 1, 255, 6, 5, 4, 255}));
    EXPECT_EQ(img.BitsPerPixel(), 24);

    ASSERT_TRUE(img.LoadImageFile(write("b.tga", targa(1, 2, 32, {1, 2, 3, 40, 5, 6, 7, 80}))));
    EXPECT_EQ(img.Pixels(), (Bytes{3, 2, 1, 40, 7, 6, 5, 80}));
    EXPECT_EQ(img.BitsPerPixel(), 32);
    EXPECT_EQ(img.Height(), 2);

    // The image-identification field is stepped over.
    ASSERT_TRUE(img.LoadImageFile(write("id.tga", targa(1, 1, 24, {1, 2, 3}, 2, 0, {'h', 'i'}))));
    EXPECT_EQ(img.Pixels(), (Bytes{3, 2, 1, 255}));
}

TEST_F(GLBMPReader, JpegDecodesBottomRowFirstAndGreyAsEqualChannels)
{
    TGLBMP img;
    ASSERT_TRUE(img.LoadImageFile(write("c.jpg", redOverBlue())));
    EXPECT_EQ(img.Width(), 16);
    EXPECT_EQ(img.Height(), 16);
    EXPECT_EQ(img.BitsPerPixel(), 32);
    expectNear(px(img, 3, 1), rgba(10, 20, 240), 4);    // bottom of the picture
    expectNear(px(img, 12, 14), rgba(230, 20, 10), 4);  // top

    Bytes grey;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            grey.push_back(uint8_t(y < 4 ? 200 : 60));
    ASSERT_TRUE(img.LoadImageFile(write("g.jpg", jpeg(8, 8, 1, grey))));
    for (int y : {0, 7}) {
        Bytes p = px(img, 2, y);
        EXPECT_EQ(p[0], p[1]);
        EXPECT_EQ(p[1], p[2]);
        EXPECT_EQ(p[3], 255);
        EXPECT_NEAR(int(p[0]), y == 0 ? 60 : 200, 3);
    }
}

TEST_F(GLBMPReader, ExtensionsMatchInAnyCaseAndOthersFail)
{
    Bytes bmp = small24().bytes();
    TGLBMP img;
    EXPECT_TRUE(img.LoadImageFile(write("UP.BMP", bmp)));
    EXPECT_TRUE(img.LoadImageFile(write("mixed.Jpg", redOverBlue())));
    EXPECT_TRUE(img.LoadImageFile(write("t.TgA", targa(1, 1, 24, {1, 2, 3}))));
    EXPECT_FALSE(img.LoadImageFile(write("a.jpeg", redOverBlue())));
    EXPECT_FALSE(img.LoadImageFile(write("a.png", bmp)));
    EXPECT_FALSE(img.LoadImageFile(write("bmp", bmp)));
    EXPECT_FALSE(img.LoadImageFile(write("dot.bmp.txt", bmp)));
    expectEmpty(img);
}

TEST_F(GLBMPReader, AlphaIsTheRoundedMeanOfTheAlphaPicture)
{
    Bmp colour = small24();
    colour.width = 2;
    colour.height = 1;
    colour.image = {1, 2, 3, 4, 5, 6, 0, 0};
    Bmp alpha = colour;
    alpha.image = {31, 20, 10, 32, 20, 10, 0, 0};  // (10, 20, 31) and (10, 20, 32)
    TGLBMP img;
    ASSERT_TRUE(img.LoadImageFile(write("c.bmp", colour.bytes())));
    ASSERT_TRUE(img.LoadAlphaImage(write("a.bmp", alpha.bytes())));
    EXPECT_EQ(img.Pixels(), (Bytes{3, 2, 1, 20, 6, 5, 4, 21}));

    // A greyscale JPEG as the alpha picture of a JPEG.
    Bytes grey(16 * 16, 128);
    ASSERT_TRUE(img.LoadImageFile(write("c.jpg", redOverBlue())));
    ASSERT_TRUE(img.LoadAlphaImage(write("a.jpg", jpeg(16, 16, 1, grey))));
    EXPECT_NEAR(int(px(img, 5, 5)[3]), 128, 2);
}

TEST_F(GLBMPReader, AlphaPictureThatDoesNotFitChangesNothing)
{
    TGLBMP img;
    ASSERT_TRUE(img.LoadImageFile(write("c.bmp", small24().bytes())));
    const Bytes before = img.Pixels();
    Bmp other = small24();
    other.width = 2;
    other.image.resize(16);
    EXPECT_FALSE(img.LoadAlphaImage(write("other.bmp", other.bytes())));
    EXPECT_FALSE(img.LoadAlphaImage((dir / "missing.bmp").string()));
    EXPECT_FALSE(img.LoadAlphaImage(write("bad.png", small24().bytes())));
    EXPECT_EQ(img.Pixels(), before);
    EXPECT_EQ(img.Width(), 3);

    TGLBMP empty;
    EXPECT_FALSE(empty.LoadAlphaImage(write("ok.bmp", small24().bytes())));
    expectEmpty(empty);
}

// Each damaged or unsupported file is a failed load that drops the pixels
// loaded before.
TEST_F(GLBMPReader, DamagedBitmapsFailAndKeepNoPixels)
{
    std::vector<std::pair<std::string, Bytes>> cases;
    Bytes good = small24().bytes();
    cases.push_back({"shorter than the headers", Bytes(good.begin(), good.begin() + 40)});
    cases.push_back({"empty", {}});
    {
        Bytes b = good;
        b[0] = 'X';
        cases.push_back({"wrong magic", b});
    }
    {
        Bytes b = good;
        put32(b, 14, 12);
        cases.push_back({"core header", b});
    }
    {
        Bmp b = small24();
        b.compression = 1;
        cases.push_back({"run-length compression", b.bytes()});
    }
    for (int bits : {1, 2, 15, 48}) {
        Bmp b = small24();
        b.bits = bits;
        b.image.resize(64);
        cases.push_back({"depth " + std::to_string(bits), b.bytes()});
    }
    {
        Bmp b = small24();
        b.bits = 8;
        b.clrUsed = 300;
        b.extra = Bytes(1200, 0);
        cases.push_back({"more than 256 colours", b.bytes()});
    }
    {
        Bmp b = small24();
        b.bits = 8;
        b.clrUsed = 200;
        b.extra = Bytes(40, 0);
        b.image.clear();
        cases.push_back({"palette cut short", b.bytes()});
    }
    {
        Bmp b = small24();
        b.sizeImage = 20;  // rows need 24
        cases.push_back({"image size smaller than the rows", b.bytes()});
    }
    {
        Bmp b = small24();
        b.sizeImage = 1000;
        cases.push_back({"image size beyond the file", b.bytes()});
    }
    {
        Bytes b = good;
        b.resize(b.size() - 1);
        cases.push_back({"truncated pixel data", b});
    }
    {
        Bmp b = small24();
        b.bits = 32;
        b.image.resize(23);
        cases.push_back({"truncated 32-bit data", b.bytes()});
    }
    {
        Bytes b = good;
        put32(b, 10, 0xFFFFFFF0u);
        cases.push_back({"pixel offset beyond the file", b});
    }
    for (auto [w, h] : {std::pair<int32_t, int32_t>{100000, 100000}, {0x7FFFFFFF, 2}, {2, INT32_MIN}, {0, 2},
                        {-3, 2}, {3, 0}}) {
        Bmp b = small24();
        b.width = w;
        b.height = h;
        cases.push_back({"size " + std::to_string(w) + " x " + std::to_string(h), b.bytes()});
    }
    {
        Bmp b = small24();
        b.bits = 16;
        b.compression = 3;
        b.image.clear();
        Bytes bytes = b.bytes();
        bytes.resize(60);  // the three masks cut short
        cases.push_back({"bit-field masks cut short", bytes});
    }
    int n = 0;
    for (const auto& [what, data] : cases) {
        TGLBMP img;
        ASSERT_TRUE(img.LoadImageFile(write("ok.bmp", good)));
        EXPECT_FALSE(img.LoadImageFile(write("case" + std::to_string(n++) + ".bmp", data))) << what;
        expectEmpty(img);
    }
}

TEST_F(GLBMPReader, DamagedTargaAndJpegFilesFail)
{
    std::vector<std::pair<std::string, std::pair<std::string, Bytes>>> cases;
    cases.push_back({"targa header cut short", {"a.tga", Bytes(10, 0)}});
    cases.push_back({"run-length targa", {"b.tga", targa(1, 1, 24, {1, 2, 3}, 10)}});
    cases.push_back({"targa with a colour map", {"c.tga", targa(1, 1, 24, {1, 2, 3}, 2, 1)}});
    cases.push_back({"16-bit targa", {"d.tga", targa(1, 1, 16, {1, 2})}});
    cases.push_back({"targa pixels cut short", {"e.tga", targa(2, 2, 32, Bytes(15, 1))}});
    cases.push_back({"huge targa", {"f.tga", targa(65535, 65535, 32, Bytes(64, 1))}});
    cases.push_back({"empty targa", {"g.tga", targa(0, 5, 24, {})}});
    Bytes good = noisyJpeg();
    cases.push_back({"truncated jpeg", {"h.jpg", Bytes(good.begin(), good.begin() + long(good.size() * 2 / 3))}});
    cases.push_back({"jpeg header only", {"i.jpg", Bytes(good.begin(), good.begin() + 20)}});
    {
        Bytes b = good;
        for (size_t i = b.size() / 2; i < b.size() - 2; ++i)
            b[i] = uint8_t(i * 37);
        cases.push_back({"corrupt jpeg", {"j.jpg", b}});
    }
    {
        // The frame header claims 8000 x 8000 pixels; the data holds 64 x 64.
        Bytes b = good;
        for (size_t i = 0; i + 9 < b.size(); ++i)
            if (b[i] == 0xFF && b[i + 1] == 0xC0) {
                b[i + 5] = 8000 >> 8;
                b[i + 6] = 8000 & 0xFF;
                b[i + 7] = 8000 >> 8;
                b[i + 8] = 8000 & 0xFF;
                break;
            }
        cases.push_back({"jpeg larger than its data", {"m.jpg", b}});
    }
    cases.push_back({"not a jpeg", {"k.jpg", small24().bytes()}});
    cases.push_back({"empty jpeg", {"l.jpg", {}}});
    for (const auto& [what, file] : cases) {
        TGLBMP img;
        ASSERT_TRUE(img.LoadImageFile(write("ok.tga", targa(1, 1, 24, {1, 2, 3}))));
        EXPECT_FALSE(img.LoadImageFile(write(file.first, file.second))) << what;
        expectEmpty(img);
    }
    TGLBMP img;
    EXPECT_FALSE(img.LoadImageFile((dir / "missing.jpg").string()));
    fs::create_directories(dir / "folder.bmp");
    EXPECT_FALSE(img.LoadImageFile((dir / "folder.bmp").string()));
}

// Each reader reads its header first and then only what the header
// describes: junk or padding after a picture is never read, and a Targa
// whose pixels would pass the cap is refused before anything is allocated.
// Measured in a fresh child process, whose peak memory is its own.
TEST_F(GLBMPReader, ReadersReadOnlyWhatTheHeaderDescribes)
{
    constexpr uint64_t padded = 200ull << 20;
    const auto sparse = [&](const std::string& name, const Bytes& start, uint64_t size) {
        const std::string path = write(name, start);
        fs::resize_file(path, size);
        return path;
    };
    Bytes junk(64, 0);
    junk[0] = 'X';
    const std::string junkBmp = sparse("junk.bmp", junk, padded);
    const std::string paddedBmp = sparse("padded.bmp", small24().bytes(), padded);
    const std::string paddedJpg = sparse("padded.jpg", noisyJpeg(), padded);
    const std::string bigTga = sparse("big.tga", targa(8192, 8193, 24, {}), 18 + 8192ull * 8193 * 3);
    const auto peakKiB = [] {
        rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const long before = peakKiB();
            TGLBMP img;
            int wrong = img.LoadImageFile(junkBmp) ? 1 : 0;
            wrong |= img.LoadImageFile(paddedBmp) && img.Width() == 3 ? 0 : 2;
            wrong |= img.LoadImageFile(paddedJpg) && img.Width() == 64 ? 0 : 4;
            wrong |= img.LoadImageFile(bigTga) ? 8 : 0;
            const long grown = peakKiB() - before;
            std::fprintf(stderr, "failed %d, peak grew by %ld KiB\n", wrong, grown);
            fs::remove_all(dir);
            std::_Exit(wrong | (grown > 32 * 1024 ? 16 : 0));
        },
        ::testing::ExitedWithCode(0), "");
}

// The texture set painted by the build loads with the game's reader, and
// every alpha picture fits its picture.
TEST(GLBMPTextureSet, EveryGameTextureLoads)
{
    const fs::path dir = fs::path(VELTO_BINARY_DIR) / "textures";
    if (!fs::exists(dir / "kolo.jpg"))
        GTEST_SKIP() << "textures not built in " << dir;
    for (const char* name : {"kolo", "apple", "bike", "spring", "finish"}) {
        TGLBMP img;
        EXPECT_TRUE(img.LoadImageFile((dir / (std::string(name) + ".jpg")).string())) << name;
        EXPECT_TRUE(img.LoadAlphaImage((dir / (std::string(name) + "_alpha.jpg")).string())) << name;
        // A sprite is see-through in its corner and solid somewhere.
        ASSERT_FALSE(img.Pixels().empty());
        EXPECT_LT(img.Pixels()[3], 40) << name;
        uint8_t most = 0;
        for (size_t k = 3; k < img.Pixels().size(); k += 4)
            most = std::max(most, img.Pixels()[k]);
        EXPECT_GT(most, 240) << name;
    }
    for (const char* name : {"ground.jpg", "sky.jpg", "border.bmp"}) {
        TGLBMP img;
        EXPECT_TRUE(img.LoadImageFile((dir / name).string())) << name;
        EXPECT_GT(img.Width(), 0) << name;
    }
}
