// The core's own natural logarithm, for everything a physics step computes.
//
// Contract: the result depends on the argument's bits alone. Only + - * /
// on doubles, integer operations and fixed constants, in a fixed order, no
// fused multiply-add, no wider format, no library call: bit-identical on
// every machine with IEEE-754 doubles.
//
// Accuracy, measured against a 113-bit reference (tests/model/FixedMathTest):
// at most 0.53 ulp over all positive doubles, subnormals included.
// log(1) = +0, log(±0) = -inf, log(+inf) = +inf; a negative argument or a
// NaN gives the one quiet NaN 0x7ff8000000000000.
//
// Method: x = 2^k * m with sqrt(2)/2 <= m < sqrt(2); log m = 2 atanh(s) with
// s = (m - 1) / (m + 1) carried in two doubles, the odd series of atanh in
// s^2, and k * log 2 added exactly. That series defines every result. Most
// arguments (about 96 % of the suspension's) are settled by a quicker
// estimate from a table of 257 logarithms and a short log1p series, which is
// returned only where an error bound proves that the series would round to
// the same double.
#pragma once

namespace vmath {

double logarithm(double x);

namespace detail {

// For the tests: the series alone, and the quick estimate alone (false
// where it leaves the argument to the series).
double logarithmBySeries(double x);
bool logarithmQuickly(double x, double& result);

} // namespace detail

} // namespace vmath
