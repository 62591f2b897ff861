// TGLBMP: an image file (.bmp, .jpg, .tga) turned into a GL texture.
//
// Pixels are RGBA, 4 bytes each, no row padding, rows in file order (bottom
// row first for ordinary bitmaps, Targa files and decoded JPEGs). Loading
// may run on any thread; BuildTexture, Bind and destruction need the GL
// context. Every reader checks sizes against what the file holds: a bad or
// truncated file is a failed load with no pixels kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TGLBMP {
public:
    TGLBMP();
    virtual ~TGLBMP();
    TGLBMP(const TGLBMP&) = delete;
    TGLBMP& operator=(const TGLBMP&) = delete;

    bool LoadImageFile(const std::string& fileName);
    bool LoadAlphaImage(const std::string& fileName);
    void SetWrap(unsigned int s, unsigned int t);
    void BuildTexture();
    void Bind();
    int Width() const { return width; }

    // Read access for tests and tools.
    int Height() const { return height; }
    int BitsPerPixel() const { return bitsPerPixel; }
    unsigned int TextureId() const { return textureId; }
    const std::vector<uint8_t>& Pixels() const { return pixels; }

private:
    bool loadBitmap(const std::string& fileName);
    bool loadJpeg(const std::string& fileName);
    bool loadTarga(const std::string& fileName);
    void clearImage();

    unsigned int textureId = 0;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    std::vector<uint8_t> pixels;
    uint8_t palette[1024] = {};
    unsigned int minFilter;
    unsigned int magFilter;
    unsigned int wrapS;
    unsigned int wrapT;
    int imageSize = 0;
};
