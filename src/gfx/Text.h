// Text in the GL window: filled outline glyphs of a bold monospaced font
// ("Courier New" or its metric-compatible substitute), one display list per
// character code 0..254 at fontListBase + code, in glyph units (the em
// square is 1.0 high); each list ends by moving on by the glyph's cell
// increment. A list is compiled by the first printText whose text holds
// its character, so printText must not be called while another list is
// being compiled. Main thread, with the GL context current.
#pragma once

#include <string>

extern unsigned int fontListBase;

// Per character code: the cell increment in glyph units (0 for code 255).
extern float glyphAdvance[256];

// buildTextFont finds and opens the font and reads every cell increment;
// freeTextFont deletes the lists and closes the font.
void buildTextFont();
void freeTextFont();

// Texts are UTF-8. The font holds the Windows-1252 characters: fontCodes
// gives, per character of `text`, the code of its glyph, '?' for a
// character the font lacks; a byte that is not part of valid UTF-8 stands
// for itself (the program's own texts use the byte 0x97 for a dash).
std::string fontCodes(const std::string& text);
// The first `count` characters of UTF-8 `text`, never part of one.
std::string firstCharacters(const std::string& text, size_t count);
// `text` cut (by whole characters, ending in "…", U+2026, which the font
// draws as its Windows-1252 code 0x85) to at most `width` at `scale`; as it
// is when it fits or no font is built; empty when not even "…" fits.
std::string fitText(const std::string& text, double width, double scale);

// The summed cell increments of `text`, in glyph units (added up in float),
// and the width that gives at `scale`. 0 while no font is built.
float glyphUnitsWidth(const std::string& text);
double textWidth(const std::string& text, double scale);

// Draws `text` starting at (x, y), or centred horizontally on x, with
// glyphs `scale` world units high per em. Uses the current colour; leaves
// the model-view matrix and the list base as they were.
void printText(const std::string& text, bool centred, double x, double y, double scale);
