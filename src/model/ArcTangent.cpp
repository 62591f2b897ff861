// Two-argument arc tangent: an eighths table and a short Taylor series.
#include "model/ArcTangent.h"

#include "model/DoubleDouble.h"

#include <bit>
#include <cstdint>

namespace vmath {
namespace {

constexpr double kQuietNaN = std::bit_cast<double>(uint64_t{0x7ff8000000000000});
constexpr DoubleDouble kPi{0x1.921fb54442d18p+1, 0x1.1a62633145c07p-53};
constexpr DoubleDouble kPiOver2{0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54};
constexpr DoubleDouble kPiOver4{0x1.921fb54442d18p-1, 0x1.1a62633145c07p-55};
constexpr DoubleDouble kThreePiOver4{0x1.2d97c7f3321d2p+1, 0x1.a79394c9e8a0ap-54};

// atan(i/8) for i = 0 .. 8 as double-doubles.
constexpr DoubleDouble kAtanEighths[] = {
    {0.0, 0.0},
    {0x1.fd5ba9aac2f6ep-4, -0x1.cd37686760c17p-59},
    {0x1.f5b75f92c80ddp-3, 0x1.8ab6e3cf7afbdp-57},
    {0x1.6f61941e4def1p-2, -0x1.c63aae6f6e918p-56},
    {0x1.dac670561bb4fp-2, 0x1.a2b7f222f65e2p-56},
    {0x1.1e00babdefeb4p-1, -0x1.928df287a668fp-58},
    {0x1.4978fa3269ee1p-1, 0x1.2419a87f2a458p-56},
    {0x1.700a7c5784634p-1, -0x1.8c34d25aadef6p-56},
    {0x1.921fb54442d18p-1, 0x1.1a62633145c07p-55},
};

// -1/3, 1/5, ...: atan u = u + u^3 (-1/3 + u^2/5 - ...).
constexpr double kT3 = -1.0 / 3.0;
constexpr double kT5 = 1.0 / 5.0;
constexpr double kT7 = -1.0 / 7.0;
constexpr double kT9 = 1.0 / 9.0;
constexpr double kT11 = -1.0 / 11.0;
constexpr double kT13 = 1.0 / 13.0;
constexpr double kT15 = -1.0 / 15.0;
constexpr double kT17 = 1.0 / 17.0;

constexpr uint64_t kAbsMask = 0x7fffffffffffffff;

int exponentOf(double a)   // a > 0, normal
{
    return static_cast<int>(bitsOf(a) >> 52) - 1023;
}

// The exponent of any positive finite a, subnormals included.
int exponentOfAny(double a)
{
    return a < 0x1p-1000 ? exponentOf(a * 0x1p600) - 600 : exponentOf(a);
}

DoubleDouble negate(DoubleDouble a) { return {-a.hi, -a.lo}; }

// atan(n / d) for 0 < n <= d, both finite, as a double-double.
DoubleDouble atanOfRatio(double n, double d)
{
    // Bring d into [1, 2); n follows exactly, as n >= d * 2^-62 here.
    if (d < 0x1p-1000) {
        n = n * 0x1p600;
        d = d * 0x1p600;
    } else if (d > 0x1p1000) {
        n = n * 0x1p-600;
        d = d * 0x1p-600;
    }
    const double scale = powerOfTwo(-exponentOf(d));
    n = n * scale;
    d = d * scale;
    const DoubleDouble t = divide(DoubleDouble{n, 0.0}, DoubleDouble{d, 0.0});

    const double shifter = 0x1.8p52;
    const double eighths = (t.hi * 8.0 + shifter) - shifter;
    const int i = static_cast<int>(eighths);
    DoubleDouble u = t;
    if (i > 0) {
        const double c = eighths * 0.125;
        // (t - c) / (1 + t c): t.hi - c is exact, as c/2 <= t.hi <= 2c.
        const DoubleDouble num = twoSum(t.hi - c, t.lo);
        const DoubleDouble tc = twoProduct(t.hi, c);
        const DoubleDouble den = add(DoubleDouble{1.0, 0.0}, DoubleDouble{tc.hi, tc.lo + t.lo * c});
        u = divide(num, den);
    }
    const double z = u.hi * u.hi;
    const double p = kT3 + z * (kT5 + z * (kT7 + z * (kT9 + z * (kT11 + z * (kT13 + z * (kT15 + z * kT17))))));
    const double tail = (z * u.hi) * p;
    const DoubleDouble base = kAtanEighths[i];
    const DoubleDouble lead = twoSum(base.hi, u.hi);
    return fastTwoSum(lead.hi, lead.lo + (base.lo + (u.lo + tail)));
}

double withSign(double value, bool negative)
{
    return negative ? -value : value;
}

} // namespace

double arcTangent2(double y, double x)
{
    if (x != x || y != y) {
        return kQuietNaN;
    }
    const bool yNegative = (bitsOf(y) >> 63) != 0;
    const bool xNegative = (bitsOf(x) >> 63) != 0;
    const double ax = doubleOfBits(bitsOf(x) & kAbsMask);
    const double ay = doubleOfBits(bitsOf(y) & kAbsMask);
    constexpr double kInf = std::bit_cast<double>(uint64_t{0x7ff0000000000000});

    if (ay == 0.0) {
        return withSign(xNegative ? kPi.hi : 0.0, yNegative);
    }
    if (ax == 0.0) {
        return withSign(kPiOver2.hi, yNegative);
    }
    if (ax == kInf || ay == kInf) {
        double a = 0.0;
        if (ax == kInf && ay == kInf) {
            a = xNegative ? kThreePiOver4.hi : kPiOver4.hi;
        } else if (ay == kInf) {
            a = kPiOver2.hi;
        } else {
            a = xNegative ? kPi.hi : 0.0;
        }
        return withSign(a, yNegative);
    }

    const bool steep = ay > ax;
    const double n = steep ? ax : ay;
    const double d = steep ? ay : ax;
    DoubleDouble a;
    if (exponentOfAny(d) - exponentOfAny(n) > 60) {
        // atan t = t (1 - t^2/3 ...) rounds to t itself.
        a = DoubleDouble{n / d, 0.0};
    } else {
        a = atanOfRatio(n, d);
    }
    // From the first octant to the quadrant of (|x|, |y|), then to (x, y).
    if (steep) {
        a = add(kPiOver2, negate(a));
    }
    if (xNegative) {
        a = add(kPi, negate(a));
    }
    return withSign(a.hi, yNegative);
}

} // namespace vmath
