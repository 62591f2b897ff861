// The core's own sine and cosine, for everything a physics step computes.
//
// Contract: the result depends on the argument's bits alone. The functions
// use only + - * / on doubles, integer operations and fixed constants, in a
// fixed order, with no fused multiply-add, no wider format and no library
// call, so they give bit-identical results on every machine with IEEE-754
// doubles, whatever compiler, flags or C library built them.
//
// Accuracy, measured against a 113-bit reference (tests/model/FixedMathTest):
// at most 0.54 ulp over |x| <= 1e6 and for huge arguments up to 1.8e308.
// sin(±0) = ±0, cos(0) = 1, and a NaN or an infinite argument gives the one
// quiet NaN 0x7ff8000000000000.
//
// Method: x = n * pi/2 + r with |r| <= pi/4 (+ a hair), r carried in two
// doubles: a four-part pi/2 below 2^20, the bits of 2/pi in integer
// arithmetic above; then the Taylor polynomials of sin and cos on r, summed
// so that the rounding of the leading terms is exact.
#pragma once

namespace vmath {

double sine(double x);
double cosine(double x);
// Both at once, sharing the argument reduction; s and c are exactly what
// sin(x) and cos(x) return. The last argument's results are kept per
// thread, since the physics asks for the same angle several times a step.
void sinCos(double x, double& s, double& c);
// The same, computed afresh.
void sinCosOnce(double x, double& s, double& c);

} // namespace vmath
