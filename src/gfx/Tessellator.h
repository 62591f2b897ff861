// The shared GLU tessellator that fills polygon lists (odd winding rule, so
// a polygon inside another is a hole) and tests polygons for self-crossing.
// Main thread, with the GL context current.
#pragma once

// Creates the tessellator once per game or editor run; the vertex callback
// (textured in the game, plain in the editor) is chosen from gameMode now.
void createTessellator();
void deleteTessellator();

// World units per repetition of the polygon texture (the scene sets it to
// the bound texture's width before each drawPolygons).
extern int textureRepeat;
// Cleared by the combine callback: the outline crossed or touched itself.
extern bool polygonValid;
