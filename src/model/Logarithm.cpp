// Natural logarithm: exponent split and the atanh series.
#include "model/Logarithm.h"

#include "model/DoubleDouble.h"

#include <bit>
#include <cstdint>
#include <limits>

namespace vmath {
namespace {

constexpr double kQuietNaN = std::bit_cast<double>(uint64_t{0x7ff8000000000000});
// log 2 with 40 significant bits, so that k times it is exact, and the rest.
constexpr double kLn2Hi = 0x1.62e42fefa4p-1;
constexpr double kLn2Lo = -0x1.8432a1b0e2634p-43;
constexpr uint64_t kSqrt2Mantissa = 0x6a09e667f3bcd;   // the fraction bits of sqrt(2)

// 2 / (2i + 1): atanh s = s + s^3/3 + s^5/5 + ..., doubled.
constexpr double kA3 = 2.0 / 3.0;
constexpr double kA5 = 2.0 / 5.0;
constexpr double kA7 = 2.0 / 7.0;
constexpr double kA9 = 2.0 / 9.0;
constexpr double kA11 = 2.0 / 11.0;
constexpr double kA13 = 2.0 / 13.0;
constexpr double kA15 = 2.0 / 15.0;
constexpr double kA17 = 2.0 / 17.0;
constexpr double kA19 = 2.0 / 19.0;
constexpr double kA21 = 2.0 / 21.0;
constexpr double kA23 = 2.0 / 23.0;

} // namespace

double logarithm(double x)
{
    uint64_t bits = bitsOf(x);
    if (x != x || (bits >> 63) != 0) {
        return x == 0.0 ? -std::numeric_limits<double>::infinity() : kQuietNaN;
    }
    if (x == 0.0) {
        return -std::numeric_limits<double>::infinity();
    }
    if (bits == 0x7ff0000000000000) {
        return x;
    }
    int k = 0;
    if (bits < 0x0010000000000000) {   // subnormal: make it normal, exactly
        bits = bitsOf(x * 0x1p54);
        k = -54;
    }
    k += static_cast<int>(bits >> 52) - 1023;
    uint64_t mantissa = bits & 0x000fffffffffffff;
    uint64_t mBits = mantissa | 0x3ff0000000000000;   // m in [1, 2)
    if (mantissa > kSqrt2Mantissa) {
        mBits -= uint64_t{1} << 52;   // m / 2
        k += 1;
    }
    const double f = doubleOfBits(mBits) - 1.0;   // exact
    // s = f / (2 + f) to about 104 bits.
    const DoubleDouble s = divide(DoubleDouble{f, 0.0}, fastTwoSum(2.0, f));
    const double z = s.hi * s.hi;
    const double series =
        kA3 + z * (kA5 + z * (kA7 + z * (kA9 + z * (kA11 + z * (kA13 + z * (kA15 + z * (kA17 + z * (kA19 +
        z * (kA21 + z * kA23)))))))));
    const double tail = (s.hi * z) * series;
    const double dk = k;
    const DoubleDouble lead = twoSum(dk * kLn2Hi, 2.0 * s.hi);
    return lead.hi + (lead.lo + (dk * kLn2Lo + (2.0 * s.lo + tail)));
}

} // namespace vmath
