// The core's own two-argument arc tangent, for everything a physics step
// computes.
//
// Contract: the result depends on the arguments' bits alone. Only + - * /
// on doubles, integer operations and fixed constants, in a fixed order, no
// fused multiply-add, no wider format, no library call: bit-identical on
// every machine with IEEE-754 doubles.
//
// atan2(y, x) is the angle of the point (x, y) in radians, in [-pi, pi],
// with the usual signed zeros and infinities (atan2(±0, -0) = ±pi,
// atan2(±inf, -inf) = ±3pi/4, ...); a NaN argument gives the one quiet NaN
// 0x7ff8000000000000.
//
// Accuracy, measured against a 113-bit reference (tests/model/FixedMathTest):
// at most 0.51 ulp over the whole plane.
//
// Method: t = min(|x|, |y|) / max(|x|, |y|) in two doubles; atan t =
// atan(i/8) + atan((t - i/8) / (1 + t i/8)) with the nearest eighth i/8 and
// the Taylor series on the rest (at most 1/16); then the octant.
#pragma once

namespace vmath {

double arcTangent2(double y, double x);

} // namespace vmath
