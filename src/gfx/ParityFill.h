// The fill of closed outlines under the odd winding rule without the
// tessellator: triangles that, each inverting a stencil bit, leave the bit
// set exactly where the outlines wind an odd number of times. Their count is
// linear in the outline's length whatever its crossings, so this fills
// outlines that cross themselves or each other, where the tessellator's work
// grows with the square of the edges. GL-free; the drawing is the caller's.
#pragma once

#include "model/Vectors.h"

#include <vector>

// Triangles (x, y of three vertices each, appended to `out` as the floats
// GL would make of them) that cover every point an odd number of times
// exactly where the closed outline winds around it an odd number of times.
// `outline` is used as scratch and left changed.
void parityTriangles(std::vector<Cvector>& outline, std::vector<float>& out);
