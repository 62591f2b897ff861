// TGLBMP: bitmap, JPEG and Targa readers and the GL texture upload.
//
// Every reader reads and checks the header first, then reads only what the
// header describes, after checking each size it takes from it against the
// bytes the file really holds and against one cap on the pixels. A damaged
// or hostile file is a failed load, never an out-of-bounds read or a huge
// allocation, and its size does not matter beyond what its header describes.
#include "gfx/GLBMP.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include <jpeglib.h>
#include <jerror.h>

namespace {

// Largest pixel buffer we build (RGBA bytes).
constexpr uint64_t kMaxPixelBytes = 256ull << 20;
// A decoded JPEG's buffer is reserved up front only as far as this many
// bytes per byte of file; past that it grows with the rows decoded.
constexpr uint64_t kJpegReserveRatio = 1024;

// An image file open for reading: its size, and reads that either deliver
// every byte asked for or fail.
class ImageFile {
public:
    explicit ImageFile(const std::string& fileName) : file(std::fopen(fileName.c_str(), "rb"))
    {
        struct stat st {};
        if (file != nullptr && fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode)) {
            bytes = uint64_t(st.st_size);
        } else if (file != nullptr) {
            std::fclose(file);
            file = nullptr;
        }
    }
    ~ImageFile()
    {
        if (file != nullptr)
            std::fclose(file);
    }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    bool isOpen() const { return file != nullptr; }
    uint64_t size() const { return bytes; }
    std::FILE* stream() const { return file; }

    bool seek(uint64_t offset)
    {
        return file != nullptr && offset <= bytes && fseeko(file, off_t(offset), SEEK_SET) == 0;
    }
    // The next n bytes.
    bool read(void* to, uint64_t n) { return file != nullptr && std::fread(to, 1, size_t(n), file) == n; }
    bool readAt(uint64_t offset, void* to, uint64_t n) { return seek(offset) && read(to, n); }

private:
    std::FILE* file;
    uint64_t bytes = 0;
};

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Widens a channel of `bits` bits to 8 bits by repeating its bit pattern.
uint8_t expand(uint32_t value, int bits)
{
    switch (bits) {
    case 1: return value ? 255 : 0;
    case 2: return uint8_t(value * 64 | value * 16 | value * 4 | value);
    case 3: return uint8_t((value << 5) | (value << 2) | (value >> 1));
    case 4: return uint8_t((value << 4) | value);
    case 5: return uint8_t((value << 3) | (value >> 2));
    case 6: return uint8_t((value << 2) | (value >> 4));
    case 7: return uint8_t((value << 1) | (value >> 6));
    default: return uint8_t(value);
    }
}

int lowestBit(uint32_t mask)
{
    if (mask == 0)
        return 0;
    int n = 0;
    while (!(mask & 1u)) {
        mask >>= 1;
        ++n;
    }
    return n;
}

int bitCount(uint32_t mask)
{
    int n = 0;
    for (; mask; mask &= mask - 1)
        ++n;
    return n;
}

std::string lowerExtension(const std::string& fileName)
{
    size_t slash = fileName.find_last_of("/\\");
    size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = fileName.substr(dot);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// libjpeg reports fatal errors through error_exit, which must not return:
// we jump back into the reader. A truncated stream is only a warning to
// libjpeg (it pads the picture with grey); we treat it as fatal too.
struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

[[noreturn]] void jpegErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

void jpegEmitMessage(j_common_ptr cinfo, int msgLevel)
{
    if (msgLevel < 0) {
        int code = cinfo->err->msg_code;
        if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER)
            jpegErrorExit(cinfo);
        cinfo->err->num_warnings++;
    }
}

void jpegOutputMessage(j_common_ptr) {}

// Progressive streams can carry any number of scans; a real picture needs
// a handful. Stops pathological files from decoding for minutes.
void jpegProgress(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor) {
        auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (d->input_scan_number > 500)
            jpegErrorExit(cinfo);
    }
}

} // namespace

TGLBMP::TGLBMP()
    : minFilter(GL_LINEAR), magFilter(GL_LINEAR), wrapS(GL_REPEAT), wrapT(GL_REPEAT)
{
}

TGLBMP::~TGLBMP()
{
    if (textureId != 0) {
        GLuint id = textureId;
        glDeleteTextures(1, &id);
        textureId = 0;
    }
}

void TGLBMP::clearImage()
{
    std::vector<uint8_t>().swap(pixels);
    width = 0;
    height = 0;
}

bool TGLBMP::LoadImageFile(const std::string& fileName)
{
    clearImage();
    std::string ext = lowerExtension(fileName);
    bool ok = false;
    if (ext == ".bmp")
        ok = loadBitmap(fileName);
    else if (ext == ".jpg")
        ok = loadJpeg(fileName);
    else if (ext == ".tga")
        ok = loadTarga(fileName);
    if (!ok)
        clearImage();
    return ok;
}

bool TGLBMP::loadBitmap(const std::string& fileName)
{
    ImageFile file(fileName);
    uint8_t header[14 + 40];
    if (!file.readAt(0, header, sizeof header))
        return false;
    const uint64_t fileSize = file.size();
    const uint8_t* fh = header;
    if (le16(fh) != 0x4D42)
        return false;
    const uint32_t offBits = le32(fh + 10);
    const uint8_t* ih = fh + 14;
    const uint32_t biSize = le32(ih);
    if (biSize == 12)
        return false;
    const int32_t biWidth = int32_t(le32(ih + 4));
    const int32_t biHeight = int32_t(le32(ih + 8));
    const int bits = le16(ih + 14);
    const uint32_t compression = le32(ih + 16);
    const uint32_t sizeImage = le32(ih + 20);
    const uint32_t clrUsed = le32(ih + 32);

    if (biWidth <= 0 || biHeight == 0 || biHeight == INT32_MIN)
        return false;
    const int w = biWidth;
    const int h = biHeight < 0 ? -biHeight : biHeight;
    if (uint64_t(w) * uint64_t(h) * 4 > kMaxPixelBytes)
        return false;
    bitsPerPixel = bits;

    // Masks and palette follow the info header; a longer header (V4, V5)
    // comes before them in full.
    const uint64_t pos = 14 + uint64_t(std::max<uint32_t>(biSize, 40));
    std::memset(palette, 0, sizeof palette);
    if (compression == 3) {
        // Bit-field masks sit right after the first 40 header bytes,
        // inside a longer header or as three words after a short one.
        if (bits == 16 && !file.readAt(14 + 40, palette, 12))
            return false;
    } else if (compression != 0) {
        return false;
    } else if (bits == 16) {
        // No masks given: the usual 5-5-5 layout.
        const uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
        for (int i = 0; i < 3; ++i)
            for (int b = 0; b < 4; ++b)
                palette[i * 4 + b] = uint8_t(masks[i] >> (8 * b));
    }

    if (bits < 16) {
        if (clrUsed > 256)
            return false;
        if (clrUsed > 0) {
            if (!file.readAt(pos, palette, uint64_t(clrUsed) * 4))
                return false;
        } else if (bits == 4 || bits == 8) {
            // A count of 0 means the full table of 2^bits entries; take as
            // many as lie between the header and the pixel data.
            const uint64_t room = offBits > pos ? (uint64_t(offBits) - pos) / 4 : 0;
            const uint64_t inFile = pos < fileSize ? (fileSize - pos) / 4 : 0;
            const uint64_t n = std::min<uint64_t>({uint64_t(1) << bits, room, inFile});
            if (n > 0 && !file.readAt(pos, palette, n * 4))
                return false;
        }
    }

    if (offBits > fileSize)
        return false;
    const uint64_t avail = fileSize - offBits;

    if (bits != 32 && bits != 24 && bits != 16 && bits != 8 && bits != 4)
        return false;
    const uint64_t stride = ((uint64_t(w) * uint64_t(bits) + 31) & ~uint64_t(31)) / 8;
    const uint64_t need = stride * uint64_t(h);
    const uint64_t size = sizeImage != 0 ? sizeImage : need;
    if (size < need || size > avail)
        return false;
    imageSize = int(std::min<uint64_t>(size, INT32_MAX));

    // The rows the header describes, and nothing after them.
    pixels.assign(size_t(w) * size_t(h) * 4, 0);
    uint8_t* out = pixels.data();
    const size_t pixelCount = size_t(w) * size_t(h);
    if (!file.seek(offBits))
        return false;

    if (bits == 32) {
        if (!file.read(out, pixelCount * 4))
            return false;
        for (size_t i = 0; i < pixelCount; ++i)
            std::swap(out[i * 4], out[i * 4 + 2]);
    } else {
        const uint32_t rMask = le32(palette), gMask = le32(palette + 4), bMask = le32(palette + 8);
        const int rShift = lowestBit(rMask), gShift = lowestBit(gMask);
        const int rBits = bitCount(rMask), gBits = bitCount(gMask), bBits = bitCount(bMask);
        std::vector<uint8_t> rowBuffer(static_cast<size_t>(stride));
        const uint8_t* row = rowBuffer.data();
        for (int y = 0; y < h; ++y) {
            if (!file.read(rowBuffer.data(), stride))
                return false;
            uint8_t* o = out + size_t(y) * size_t(w) * 4;
            for (int x = 0; x < w; ++x, o += 4) {
                switch (bits) {
                case 24:
                    o[0] = row[x * 3 + 2];
                    o[1] = row[x * 3 + 1];
                    o[2] = row[x * 3];
                    break;
                case 16: {
                    uint32_t v = le16(row + x * 2);
                    o[0] = expand((v & rMask) >> rShift, rBits);
                    o[1] = expand((v & gMask) >> gShift, gBits);
                    o[2] = expand(v & bMask, bBits);
                    break;
                }
                case 8: {
                    const uint8_t* e = palette + row[x] * 4;
                    o[0] = e[2];
                    o[1] = e[1];
                    o[2] = e[0];
                    break;
                }
                default: { // 4
                    uint8_t byte = row[x / 2];
                    int index = (x & 1) ? (byte & 0x0F) : (byte >> 4);
                    const uint8_t* e = palette + index * 4;
                    o[0] = e[2];
                    o[1] = e[1];
                    o[2] = e[0];
                    break;
                }
                }
            }
        }
        bitsPerPixel = 32;
    }
    for (size_t i = 0; i < pixelCount; ++i)
        out[i * 4 + 3] = 255;
    width = w;
    height = h;
    return true;
}

bool TGLBMP::loadJpeg(const std::string& fileName)
{
    // libjpeg reads the stream as far as the picture goes, in small chunks.
    ImageFile file(fileName);
    if (!file.isOpen())
        return false;

    jpeg_decompress_struct cinfo;
    JpegError err;
    jpeg_progress_mgr progress;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegErrorExit;
    err.mgr.emit_message = jpegEmitMessage;
    err.mgr.output_message = jpegOutputMessage;
    progress.progress_monitor = jpegProgress;

    // Objects with destructors exist before setjmp, so that the jump back
    // from a libjpeg error never skips one.
    std::vector<uint8_t>& out = pixels;
    std::vector<uint8_t> swapRow;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    // libjpeg's own buffers (a progressive picture keeps all its
    // coefficients) stay within the same bound as our pixels.
    cinfo.mem->max_memory_to_use = long(kMaxPixelBytes);
    jpeg_stdio_src(&cinfo, file.stream());
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    // Red, green, blue as JCS_RGB gives them, and alpha 255: straight
    // into the pixels.
    cinfo.out_color_space = JCS_EXT_RGBA;
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1;
    if (uint64_t(cinfo.image_width) * uint64_t(cinfo.image_height) * 4 > kMaxPixelBytes ||
        cinfo.image_width == 0 || cinfo.image_height == 0) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    const unsigned w = cinfo.output_width, h = cinfo.output_height;
    if (cinfo.output_components != 4 || w == 0 || h == 0 ||
        uint64_t(w) * uint64_t(h) * 4 > kMaxPixelBytes) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    // The rows are collected top first and turned over at the end; the
    // buffer grows with the rows really decoded (reserved ahead only in
    // proportion to the file), so a short file that claims a large picture
    // fails before much memory is taken.
    const size_t rowBytes = size_t(w) * 4;
    out.clear();
    out.reserve(size_t(std::min(uint64_t(rowBytes) * h, file.size() * kJpegReserveRatio)));
    while (cinfo.output_scanline < h) {
        const size_t at = out.size();
        out.resize(at + rowBytes);
        JSAMPROW row = out.data() + at;
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
            out.resize(at);
            break;
        }
    }
    if (cinfo.output_scanline < h || out.size() != rowBytes * h) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    // Bottom row first.
    swapRow.resize(rowBytes);
    for (unsigned top = 0, bottom = h - 1; top < bottom; ++top, --bottom) {
        uint8_t* a = out.data() + size_t(top) * rowBytes;
        uint8_t* b = out.data() + size_t(bottom) * rowBytes;
        std::memcpy(swapRow.data(), a, rowBytes);
        std::memcpy(a, b, rowBytes);
        std::memcpy(b, swapRow.data(), rowBytes);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    width = int(w);
    height = int(h);
    bitsPerPixel = 32;
    return true;
}

bool TGLBMP::loadTarga(const std::string& fileName)
{
    ImageFile file(fileName);
    uint8_t hd[18];
    if (!file.readAt(0, hd, sizeof hd))
        return false;
    if (hd[2] != 2 || hd[1] != 0)
        return false;
    const int w = le16(hd + 12);
    const int h = le16(hd + 14);
    const int bits = hd[16];
    if (bits != 24 && bits != 32)
        return false;
    if (w == 0 || h == 0 || uint64_t(w) * uint64_t(h) * 4 > kMaxPixelBytes)
        return false;
    bitsPerPixel = bits;
    const uint64_t bytesPer = uint64_t(bits) / 8;
    const uint64_t size = uint64_t(w) * uint64_t(h) * bytesPer;
    // The pixel data follows the header and the image-identification field.
    const uint64_t start = 18 + uint64_t(hd[0]);
    if (start > file.size() || size > file.size() - start || !file.seek(start))
        return false;
    imageSize = int(size);
    const size_t count = size_t(w) * size_t(h);
    pixels.assign(count * 4, 255);
    uint8_t* out = pixels.data();
    if (bits == 32) {
        if (!file.read(out, size))
            return false;
        for (size_t i = 0; i < count; ++i)
            std::swap(out[i * 4], out[i * 4 + 2]);
    } else {
        // Row by row into the pixels, alpha staying 255.
        std::vector<uint8_t> rowBuffer(size_t(w) * 3);
        for (int y = 0; y < h; ++y, out += size_t(w) * 4) {
            if (!file.read(rowBuffer.data(), rowBuffer.size()))
                return false;
            for (int x = 0; x < w; ++x) {
                out[x * 4] = rowBuffer[size_t(x) * 3 + 2];
                out[x * 4 + 1] = rowBuffer[size_t(x) * 3 + 1];
                out[x * 4 + 2] = rowBuffer[size_t(x) * 3];
            }
        }
    }
    width = w;
    height = h;
    return true;
}

bool TGLBMP::LoadAlphaImage(const std::string& fileName)
{
    if (pixels.empty())
        return false;
    TGLBMP alpha;
    if (!alpha.LoadImageFile(fileName))
        return false;
    if (alpha.width != width || alpha.height != height)
        return false;
    const size_t count = size_t(width) * size_t(height);
    const uint8_t* a = alpha.pixels.data();
    for (size_t k = 0; k < count; ++k) {
        unsigned sum = unsigned(a[k * 4]) + a[k * 4 + 1] + a[k * 4 + 2];
        pixels[k * 4 + 3] = uint8_t((sum + 1) / 3);
    }
    return true;
}

void TGLBMP::SetWrap(unsigned int s, unsigned int t)
{
    wrapS = s;
    wrapT = t;
}

void TGLBMP::BuildTexture()
{
    if (pixels.empty())
        return;
    if (textureId != 0) {
        GLuint old = textureId;
        glDeleteTextures(1, &old);
        textureId = 0;
    }
    GLuint id = 0;
    glGenTextures(1, &id);
    textureId = id;
    glBindTexture(GL_TEXTURE_2D, id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GLint(wrapS));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GLint(wrapT));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GLint(magFilter));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GLint(minFilter));
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
}

void TGLBMP::Bind()
{
    if (textureId != 0)
        glBindTexture(GL_TEXTURE_2D, textureId);
}
