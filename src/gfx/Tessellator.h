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

// The game's ground: the list tessellated once like drawPolygons, its
// triangles cut into square tiles of the world, one display list each, in
// a block whose first name is kept in `listId`. Each call draws only the
// tiles that reach into the rectangle (world units), so a big track costs a
// frame what the view shows. The fill is the same as drawPolygons draws.
// When outlines of the list cross or touch often, the same region is filled
// from a mask of the view's pixels instead (see Tessellator.cpp), so that no
// track costs the tessellator's sweep over its crossings.
// One tiled list at a time; deletePolygonTiles deletes the block.
class Cpolygons;
void drawPolygonsInView(Cpolygons* list, unsigned int& listId, double left, double right, double bottom,
                        double top);
void deletePolygonTiles(unsigned int& listId);
