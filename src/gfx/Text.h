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

// The summed cell increments of `text`, in glyph units (added up in float),
// and the width that gives at `scale`. 0 while no font is built.
float glyphUnitsWidth(const std::string& text);
double textWidth(const std::string& text, double scale);

// Draws `text` starting at (x, y), or centred horizontally on x, with
// glyphs `scale` world units high per em. Uses the current colour; leaves
// the model-view matrix and the list base as they were.
void printText(const std::string& text, bool centred, double x, double y, double scale);
