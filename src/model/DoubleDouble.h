// Exact sums and products of doubles, the building blocks of the core's own
// transcendental functions (model/SinCos.h, model/ArcTangent.h,
// model/Logarithm.h).
//
// A value is carried as an unevaluated sum hi + lo with |lo| <= ulp(hi) / 2.
// Every helper uses only + - * on doubles in a fixed order and relies on
// each of them being rounded to nearest double exactly once: the core is
// built without fused multiply-add, without reassociation and without x87
// arithmetic (see the top-level CMakeLists.txt), so these error-free
// transformations hold bit for bit on every IEEE-754 machine.
#pragma once

#include <bit>
#include <cstdint>

namespace vmath {

struct DoubleDouble {
    double hi = 0.0;
    double lo = 0.0;
};

// a + b exactly, for any a and b (no overflow).
inline DoubleDouble twoSum(double a, double b)
{
    const double s = a + b;
    const double bb = s - a;
    const double e = (a - (s - bb)) + (b - bb);
    return {s, e};
}

// a + b exactly, when |a| >= |b| or a is 0.
inline DoubleDouble fastTwoSum(double a, double b)
{
    const double s = a + b;
    const double e = b - (s - a);
    return {s, e};
}

// Veltkamp's split: a = hi + lo with both halves of at most 26 significant
// bits, so that products of halves are exact. |a| must stay below 2^995.
inline DoubleDouble split(double a)
{
    const double c = 134217729.0 * a;   // 2^27 + 1
    const double hi = c - (c - a);
    return {hi, a - hi};
}

// a * b exactly (Dekker), when the product neither overflows nor comes near
// the subnormal range.
inline DoubleDouble twoProduct(double a, double b)
{
    const double p = a * b;
    const DoubleDouble as = split(a);
    const DoubleDouble bs = split(b);
    const double e = ((as.hi * bs.hi - p) + as.hi * bs.lo + as.lo * bs.hi) + as.lo * bs.lo;
    return {p, e};
}

// (a.hi + a.lo) + (b.hi + b.lo) to about 106 bits.
inline DoubleDouble add(DoubleDouble a, DoubleDouble b)
{
    const DoubleDouble s = twoSum(a.hi, b.hi);
    return fastTwoSum(s.hi, s.lo + (a.lo + b.lo));
}

// (a.hi + a.lo) * (b.hi + b.lo) to about 106 bits.
inline DoubleDouble multiply(DoubleDouble a, DoubleDouble b)
{
    const DoubleDouble p = twoProduct(a.hi, b.hi);
    return fastTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

// (a.hi + a.lo) / (b.hi + b.lo) to about 104 bits; b must not be 0.
inline DoubleDouble divide(DoubleDouble a, DoubleDouble b)
{
    const double q = a.hi / b.hi;
    const DoubleDouble p = twoProduct(q, b.hi);
    // a - q * b, exactly in its leading part since q * b.hi is close to a.hi.
    const double r = (((a.hi - p.hi) - p.lo) + a.lo) - q * b.lo;
    return fastTwoSum(q, r / b.hi);
}

// The bits of a double and back.
inline uint64_t bitsOf(double x) { return std::bit_cast<uint64_t>(x); }
inline double doubleOfBits(uint64_t bits) { return std::bit_cast<double>(bits); }

// 2^e as a double, for -1022 <= e <= 1023.
inline double powerOfTwo(int e)
{
    return doubleOfBits(static_cast<uint64_t>(e + 1023) << 52);
}

} // namespace vmath
