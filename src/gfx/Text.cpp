// Outline text: the glyphs of a bold monospaced font, flattened and filled
// with the GLU tessellator into one display list per character code.
//
// The font is the system's match for bold "Courier New" (on Debian, its
// metric-compatible substitute Liberation Mono Bold). Glyph outlines are read
// unscaled in font units and divided by the em size, so the em square is 1.0
// high; each list ends by moving on by the glyph's advance.
//
// Opening the font reads every advance (a table look-up each) but no
// outline: a glyph's list is compiled the first time a text uses it, so a
// window that shows a clock and a few words pays for those characters only.
// The face stays open for that until the font is freed.

#include "gfx/Text.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_ADVANCES_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

unsigned int fontListBase = 0;
float glyphAdvance[256] = {};

namespace {

constexpr int kListCount = 256;
constexpr int kGlyphCount = 255;   // code 255 gets no list

// Windows-1252 bytes 0x80..0x9F; the undefined ones keep their C1 value.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t codePoint(int code)
{
    if (code >= 0x80 && code <= 0x9F) {
        return kCp1252High[code - 0x80];
    }
    return static_cast<char32_t>(code);
}

// The length of the UTF-8 sequence at `i` and its code point; 0 when the
// byte there begins none (a stray byte, an overlong or cut sequence).
size_t utf8At(const std::string& text, size_t i, char32_t& code)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char first = byte(i);
    if (first < 0x80) {
        code = first;
        return 1;
    }
    size_t length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if ((first & 0xE0) == 0xC0) {
        length = 2;
        value = first & 0x1F;
        least = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3;
        value = first & 0x0F;
        least = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4;
        value = first & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    code = value;
    return length;
}

// The font's code for a character, '?' when it has none.
char fontCodeOf(char32_t code)
{
    if (code < 0x80 || (code >= 0xA0 && code < 0xFF)) {
        return static_cast<char>(code);
    }
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == code && (code < 0x80 || code > 0x9F)) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

using Point = std::array<GLdouble, 3>;

// One glyph's outline as closed contours of points in em units.
struct Outline {
    std::vector<std::vector<Point>> contours;
    double unitsPerEm = 2048.0;
    Point last{};

    void addPoint(double fx, double fy)
    {
        Point p{fx / unitsPerEm, fy / unitsPerEm, 0.0};
        std::vector<Point>& c = contours.back();
        if (!c.empty() && c.back()[0] == p[0] && c.back()[1] == p[1]) {
            return;
        }
        c.push_back(p);
    }
};

// Curves are cut into pieces no longer than about 1/64 em of control
// polygon, at least 2 and at most 16 per curve.
int segmentsFor(double controlLength, double unitsPerEm)
{
    const double n = std::ceil(controlLength / (unitsPerEm / 64.0));
    return static_cast<int>(std::clamp(n, 2.0, 16.0));
}

int moveTo(const FT_Vector* to, void* user)
{
    Outline* o = static_cast<Outline*>(user);
    o->contours.emplace_back();
    o->last = {static_cast<double>(to->x), static_cast<double>(to->y), 0.0};
    o->addPoint(o->last[0], o->last[1]);
    return 0;
}

int lineTo(const FT_Vector* to, void* user)
{
    Outline* o = static_cast<Outline*>(user);
    o->last = {static_cast<double>(to->x), static_cast<double>(to->y), 0.0};
    o->addPoint(o->last[0], o->last[1]);
    return 0;
}

int conicTo(const FT_Vector* control, const FT_Vector* to, void* user)
{
    Outline* o = static_cast<Outline*>(user);
    const double x0 = o->last[0];
    const double y0 = o->last[1];
    const double x1 = static_cast<double>(control->x);
    const double y1 = static_cast<double>(control->y);
    const double x2 = static_cast<double>(to->x);
    const double y2 = static_cast<double>(to->y);
    const double len = std::hypot(x1 - x0, y1 - y0) + std::hypot(x2 - x1, y2 - y1);
    const int n = segmentsFor(len, o->unitsPerEm);
    for (int i = 1; i <= n; ++i) {
        const double t = static_cast<double>(i) / n;
        const double u = 1.0 - t;
        o->addPoint(u * u * x0 + 2.0 * u * t * x1 + t * t * x2,
                    u * u * y0 + 2.0 * u * t * y1 + t * t * y2);
    }
    o->last = {x2, y2, 0.0};
    return 0;
}

int cubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user)
{
    Outline* o = static_cast<Outline*>(user);
    const double x0 = o->last[0];
    const double y0 = o->last[1];
    const double x1 = static_cast<double>(c1->x);
    const double y1 = static_cast<double>(c1->y);
    const double x2 = static_cast<double>(c2->x);
    const double y2 = static_cast<double>(c2->y);
    const double x3 = static_cast<double>(to->x);
    const double y3 = static_cast<double>(to->y);
    const double len = std::hypot(x1 - x0, y1 - y0) + std::hypot(x2 - x1, y2 - y1)
                       + std::hypot(x3 - x2, y3 - y2);
    const int n = segmentsFor(len, o->unitsPerEm);
    for (int i = 1; i <= n; ++i) {
        const double t = static_cast<double>(i) / n;
        const double u = 1.0 - t;
        const double a = u * u * u;
        const double b = 3.0 * u * u * t;
        const double c = 3.0 * u * t * t;
        const double d = t * t * t;
        o->addPoint(a * x0 + b * x1 + c * x2 + d * x3, a * y0 + b * y1 + c * y2 + d * y3);
    }
    o->last = {x3, y3, 0.0};
    return 0;
}

// Vertices the glyph tessellator creates where contours cross; the deque
// keeps their addresses until the polygon has ended.
std::deque<Point>* combined = nullptr;

void GLAPIENTRY glyphVertex(void* data)
{
    glVertex3dv(static_cast<const GLdouble*>(data));
}

void GLAPIENTRY glyphCombine(GLdouble coords[3], void* /*neighbours*/[4], GLfloat /*weights*/[4],
                             void** out)
{
    combined->push_back({coords[0], coords[1], 0.0});
    *out = combined->back().data();
}

template <typename F>
_GLUfuncptr callback(F f)
{
    return reinterpret_cast<_GLUfuncptr>(f);
}

std::string familyOf(FcPattern* pattern)
{
    FcChar8* family = nullptr;
    if (FcPatternGetString(pattern, FC_FAMILY, 0, &family) == FcResultMatch && family != nullptr) {
        return reinterpret_cast<const char*>(family);
    }
    return {};
}

// The file and face index fontconfig picks for `request`, or false.
bool matchFont(const char* request, std::string& file, int& index, std::string& family)
{
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(request));
    if (pattern == nullptr) {
        return false;
    }
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr) {
        return false;
    }
    FcChar8* path = nullptr;
    bool ok = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path != nullptr;
    if (ok) {
        file = reinterpret_cast<const char*>(path);
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) {
            index = 0;
        }
        family = familyOf(match);
    }
    FcPatternDestroy(match);
    return ok;
}

// Bold "Courier New" or a face made to its metrics; any other match (the
// metric-compatible fonts are missing) gives way to the system's bold
// monospaced font.
bool findFont(std::string& file, int& index)
{
    if (!FcInit()) {
        return false;
    }
    std::string family;
    if (matchFont("Courier New:bold", file, index, family)
        && (family == "Courier New" || family == "Liberation Mono" || family == "Cousine")) {
        return true;
    }
    return matchFont("monospace:bold", file, index, family);
}

constexpr FT_Int32 kLoadFlags = FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP;

double unitsPerEmOf(FT_Face face)
{
    return face->units_per_EM > 0 ? face->units_per_EM : 2048.0;
}

// The advance of the glyph of `code` in em units, 0 when it cannot be read.
// A code without a glyph has the advance of the missing-glyph box.
float advanceOf(FT_Face face, int code)
{
    const FT_UInt index = FT_Get_Char_Index(face, static_cast<FT_ULong>(codePoint(code)));
    FT_Fixed advance = 0;
    if (FT_Get_Advance(face, index, kLoadFlags, &advance) != 0) {
        return 0.0f;
    }
    return static_cast<float>(static_cast<double>(advance) / unitsPerEmOf(face));
}

// Compiles list `list` for the glyph of `code`, moving on by `advance`. A
// code without a glyph draws nothing but keeps the cell width.
void buildGlyph(FT_Face face, GLUtesselator* tess, int code, float advance, GLuint list)
{
    Outline outline;
    outline.unitsPerEm = unitsPerEmOf(face);

    const FT_UInt index = FT_Get_Char_Index(face, static_cast<FT_ULong>(codePoint(code)));
    if (FT_Load_Glyph(face, index, kLoadFlags) == 0) {
        if (index != 0 && face->glyph->format == FT_GLYPH_FORMAT_OUTLINE) {
            FT_Outline_Funcs funcs{};
            funcs.move_to = &moveTo;
            funcs.line_to = &lineTo;
            funcs.conic_to = &conicTo;
            funcs.cubic_to = &cubicTo;
            FT_Outline_Decompose(&face->glyph->outline, &funcs, &outline);
        }
    }

    std::deque<Point> extra;
    combined = &extra;
    glNewList(list, GL_COMPILE);
    bool any = false;
    for (std::vector<Point>& c : outline.contours) {
        // The closing point repeats the first.
        while (c.size() > 1 && c.back()[0] == c.front()[0] && c.back()[1] == c.front()[1]) {
            c.pop_back();
        }
        any = any || c.size() >= 3;
    }
    if (any) {
        gluTessBeginPolygon(tess, nullptr);
        for (std::vector<Point>& c : outline.contours) {
            if (c.size() < 3) {
                continue;
            }
            gluTessBeginContour(tess);
            for (Point& p : c) {
                gluTessVertex(tess, p.data(), p.data());
            }
            gluTessEndContour(tess);
        }
        gluTessEndPolygon(tess);
    }
    glTranslatef(advance, 0.0f, 0.0f);
    glEndList();
    combined = nullptr;
}

// What fontconfig chose, looked up once per process: a second window
// opens the same file without asking again.
bool fontLookedUp = false;
bool fontFound = false;
std::string fontFile;
int fontIndex = 0;

// The open font while lists are built from it; glyphBuilt[code] once the
// list of `code` holds its glyph.
FT_Library ftLibrary = nullptr;
FT_Face fontFace = nullptr;
GLUtesselator* glyphTess = nullptr;
bool glyphBuilt[kListCount] = {};

void closeFace()
{
    if (glyphTess != nullptr) {
        gluDeleteTess(glyphTess);
        glyphTess = nullptr;
    }
    if (fontFace != nullptr) {
        FT_Done_Face(fontFace);
        fontFace = nullptr;
    }
    if (ftLibrary != nullptr) {
        FT_Done_FreeType(ftLibrary);
        ftLibrary = nullptr;
    }
}

bool openFace()
{
    if (!fontLookedUp) {
        fontFound = findFont(fontFile, fontIndex);
        fontLookedUp = true;
    }
    if (!fontFound || FT_Init_FreeType(&ftLibrary) != 0
        || FT_New_Face(ftLibrary, fontFile.c_str(), fontIndex, &fontFace) != 0) {
        closeFace();
        return false;
    }
    glyphTess = gluNewTess();
    if (glyphTess == nullptr) {
        closeFace();
        return false;
    }
    // TrueType and CFF outlines fill by the non-zero rule.
    gluTessProperty(glyphTess, GLU_TESS_WINDING_RULE, GLU_TESS_WINDING_NONZERO);
    gluTessNormal(glyphTess, 0.0, 0.0, 1.0);
    gluTessCallback(glyphTess, GLU_TESS_BEGIN, callback(&glBegin));
    gluTessCallback(glyphTess, GLU_TESS_END, callback(&glEnd));
    gluTessCallback(glyphTess, GLU_TESS_VERTEX, callback(&glyphVertex));
    gluTessCallback(glyphTess, GLU_TESS_COMBINE, callback(&glyphCombine));
    return true;
}

// Compiles the lists of the characters of `text` not built yet.
void buildGlyphsOf(const std::string& text)
{
    for (const char c : text) {
        const int code = static_cast<unsigned char>(c);
        if (glyphBuilt[code]) {
            continue;
        }
        glyphBuilt[code] = true;
        if (fontFace != nullptr && code < kGlyphCount) {
            buildGlyph(fontFace, glyphTess, code, glyphAdvance[code], fontListBase + static_cast<GLuint>(code));
        }
    }
}

} // namespace

void buildTextFont()
{
    std::fill(std::begin(glyphAdvance), std::end(glyphAdvance), 0.0f);
    std::fill(std::begin(glyphBuilt), std::end(glyphBuilt), false);
    closeFace();
    fontListBase = glGenLists(kListCount);
    if (fontListBase == 0 || !openFace()) {
        return;
    }
    for (int code = 0; code < kGlyphCount; ++code) {
        glyphAdvance[code] = advanceOf(fontFace, code);
    }
}

void freeTextFont()
{
    if (fontListBase != 0) {
        glDeleteLists(fontListBase, kListCount);
        fontListBase = 0;
    }
    closeFace();
    std::fill(std::begin(glyphAdvance), std::end(glyphAdvance), 0.0f);
    std::fill(std::begin(glyphBuilt), std::end(glyphBuilt), false);
}

std::string fontCodes(const std::string& text)
{
    std::string codes;
    codes.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t code = 0;
        const size_t length = utf8At(text, i, code);
        if (length == 0) {
            codes += text[i];   // a stray byte stands for itself
            ++i;
        } else {
            codes += fontCodeOf(code);
            i += length;
        }
    }
    return codes;
}

std::string firstCharacters(const std::string& text, size_t count)
{
    size_t i = 0;
    for (size_t n = 0; n < count && i < text.size(); ++n) {
        char32_t code = 0;
        const size_t length = utf8At(text, i, code);
        i += length == 0 ? 1 : length;
    }
    return text.substr(0, i);
}

std::string fitText(const std::string& text, double width, double scale)
{
    if (textWidth(text, scale) <= width) {
        return text;
    }
    // Whole characters while they and the ellipsis (one glyph of the
    // font's Windows-1252 set) fit.
    const std::string ellipsis = "\u2026";
    std::string fitted;
    for (size_t n = 1;; ++n) {
        const std::string longer = firstCharacters(text, n);
        if (longer.size() == fitted.size() || textWidth(longer + ellipsis, scale) > width) {
            break;
        }
        fitted = longer;
    }
    return textWidth(fitted + ellipsis, scale) <= width ? fitted + ellipsis : fitted;
}

float glyphUnitsWidth(const std::string& text)
{
    float w = 0.0f;
    for (const char c : fontCodes(text)) {
        w = w + glyphAdvance[static_cast<unsigned char>(c)];
    }
    return w;
}

double textWidth(const std::string& text, double scale)
{
    return glyphUnitsWidth(text) * scale;
}

void printText(const std::string& text, bool centred, double x, double y, double scale)
{
    if (fontListBase == 0) {
        return;
    }
    const std::string codes = fontCodes(text);
    buildGlyphsOf(codes);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glTranslated(x, y, 0.0);
    glScaled(scale, scale, 0.0);
    if (centred) {
        glTranslatef(-glyphUnitsWidth(text) / 2.0f, 0.0f, 0.0f);
    }
    glPushAttrib(GL_LIST_BIT);
    glListBase(fontListBase);
    glCallLists(static_cast<GLsizei>(codes.size()), GL_UNSIGNED_BYTE, codes.data());
    glPopAttrib();
    glPopMatrix();
}
