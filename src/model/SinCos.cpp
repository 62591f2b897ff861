// Sine and cosine: argument reduction and Taylor polynomials.
#include "model/SinCos.h"

#include "model/DoubleDouble.h"

#include <bit>
#include <cstdint>

namespace vmath {
namespace {

constexpr double kQuietNaN = std::bit_cast<double>(uint64_t{0x7ff8000000000000});

// pi/2 in four parts; the first three have at most 33 significant bits, so
// that n times them is exact for n < 2^20.
constexpr double kPiOver2Part1 = 0x1.921fb544p+0;
constexpr double kPiOver2Part2 = 0x1.0b4611a6p-34;
constexpr double kPiOver2Part3 = 0x1.3198a2ep-69;
constexpr double kPiOver2Part4 = 0x1.b839a252049c1p-104;
// pi/2 as a double-double, and 2/pi rounded.
constexpr DoubleDouble kPiOver2{0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54};
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;

// The first 1280 bits of 2/pi after the binary point, most significant
// first, after 64 zero bits that stand for the bits before the point.
constexpr uint32_t kTwoOverPiBits[] = {
    0x00000000, 0x00000000,
    0xa2f9836e, 0x4e441529, 0xfc2757d1, 0xf534ddc0, 0xdb629599, 0x3c439041,
    0xfe5163ab, 0xdebbc561, 0xb7246e3a, 0x424dd2e0, 0x06492eea, 0x09d1921c,
    0xfe1deb1c, 0xb129a73e, 0xe88235f5, 0x2ebb4484, 0xe99c7026, 0xb45f7e41,
    0x3991d639, 0x835339f4, 0x9c845f8b, 0xbdf9283b, 0x1ff897ff, 0xde05980f,
    0xef2f118b, 0x5a0a6d1f, 0x6d367ecf, 0x27cb09b7, 0x4f463f66, 0x9e5fea2d,
    0x7527bac7, 0xebe5f17b, 0x3d0739f7, 0x8a5292ea, 0x6bfb5fb1, 0x1f8d5d08,
    0x56033046, 0xfc7b6bab, 0xf0cfbc20, 0x9af4361d,
};

// Taylor coefficients 1/k!, with their signs.
constexpr DoubleDouble kMinusOneSixth{-0x1.5555555555555p-3, -0x1.5555555555555p-57};
constexpr double kSin5 = 1.0 / 120.0;
constexpr double kSin7 = -1.0 / 5040.0;
constexpr double kSin9 = 1.0 / 362880.0;
constexpr double kSin11 = -1.0 / 39916800.0;
constexpr double kSin13 = 1.0 / 6227020800.0;
constexpr double kSin15 = -1.0 / 1307674368000.0;
constexpr double kSin17 = 1.0 / 355687428096000.0;
constexpr DoubleDouble kOneTwentyFourth{0x1.5555555555555p-5, 0x1.5555555555555p-59};
constexpr double kCos6 = -1.0 / 720.0;
constexpr double kCos8 = 1.0 / 40320.0;
constexpr double kCos10 = -1.0 / 3628800.0;
constexpr double kCos12 = 1.0 / 479001600.0;
constexpr double kCos14 = -1.0 / 87178291200.0;
constexpr double kCos16 = 1.0 / 20922789888000.0;
constexpr double kCos18 = -1.0 / 6402373705728000.0;

constexpr uint64_t kAbsMask = 0x7fffffffffffffff;
constexpr uint64_t kExponentAll = 0x7ff0000000000000;
constexpr uint64_t kPiOver4Bits = 0x3fe921fb54442d18;   // pi/4 rounded
constexpr uint64_t kTinyBits = 0x3e40000000000000;      // 2^-27
constexpr uint64_t kMediumBits = 0x4130000000000000;    // 2^20

struct Reduced {
    unsigned quadrant = 0;   // x = (4m + quadrant) * pi/2 + r
    DoubleDouble r;
};

// |x| < 2^20: n = the nearest integer to x * 2/pi (or its neighbour), and
// x - n * pi/2 with the four parts of pi/2. x - n * part1 is exact, and so
// are the products with the next two parts.
Reduced reduceMedium(double x)
{
    const double shifter = 0x1.8p52;   // adding it rounds to an integer
    const double n = (x * kTwoOverPi + shifter) - shifter;
    const double a = x - n * kPiOver2Part1;
    DoubleDouble r = twoSum(a, -(n * kPiOver2Part2));
    r = add(r, DoubleDouble{-(n * kPiOver2Part3), -(n * kPiOver2Part4)});
    const int64_t whole = static_cast<int64_t>(n);
    return {static_cast<unsigned>(whole & 3), r};
}

// |x| >= 2^20, finite: x = M * 2^e with M an integer of 53 bits. The bits of
// 2/pi that would make M * 2^e * 2/pi a multiple of 4 are left out, the next
// 192 are multiplied by M in 32-bit limbs; the product's two bits above the
// point are the quadrant and the 128 below it the fraction.
Reduced reduceHuge(double x)
{
    const uint64_t bits = bitsOf(x) & kAbsMask;
    const int e = static_cast<int>(bits >> 52) - 1075;
    const uint64_t m = (bits & 0x000fffffffffffff) | 0x0010000000000000;

    // Bit j of 2/pi (j >= 1 after the point) sits at index j + 63 of the
    // table; the window starts at j = e - 1.
    const int first = e + 62;
    const int word = first / 32;
    const int shift = first % 32;
    uint64_t window[6];   // least significant limb first
    for (int i = 0; i < 6; ++i) {
        const uint32_t high = kTwoOverPiBits[word + i];
        const uint32_t low = kTwoOverPiBits[word + i + 1];
        const uint32_t w = shift == 0 ? high : (high << shift) | (low >> (32 - shift));
        window[5 - i] = w;
    }
    const uint64_t m0 = m & 0xffffffff;
    const uint64_t m1 = m >> 32;
    uint64_t limb[6];
    uint64_t carry = 0;
    for (int k = 0; k < 6; ++k) {
        // window[k] * m0 + window[k - 1] * m1 + carry, in two halves so that
        // nothing overflows.
        const uint64_t p0 = window[k] * m0;
        const uint64_t p1 = k > 0 ? window[k - 1] * m1 : 0;
        const uint64_t low = (p0 & 0xffffffff) + (p1 & 0xffffffff) + (carry & 0xffffffff);
        limb[k] = low & 0xffffffff;
        carry = (p0 >> 32) + (p1 >> 32) + (carry >> 32) + (low >> 32);
    }
    // The product times 2^-190: bits 191 and 190 are the quadrant.
    unsigned quadrant = static_cast<unsigned>(limb[5] >> 30) & 3;
    uint64_t hi = ((limb[5] & 0x3fffffff) << 34) | (limb[4] << 2) | (limb[3] >> 30);
    uint64_t lo = ((limb[3] & 0x3fffffff) << 34) | (limb[2] << 2) | (limb[1] >> 30);
    bool negative = false;
    if ((hi >> 63) != 0) {
        // A fraction of one half or more: the next quadrant, less 1 - fraction.
        quadrant = (quadrant + 1) & 3;
        negative = true;
        lo = ~lo + 1;
        hi = ~hi + (lo == 0 ? 1 : 0);
    }
    if (hi == 0 && lo == 0) {
        return {quadrant, DoubleDouble{}};
    }
    int scale = 0;
    if (hi == 0) {
        hi = lo;
        lo = 0;
        scale = 64;
    }
    const int lead = std::countl_zero(hi);
    if (lead > 0) {
        hi = (hi << lead) | (lo >> (64 - lead));
        lo = lo << lead;
    }
    scale += lead;
    // fraction = (hi * 2^-64 + lo * 2^-128) * 2^-scale, hi's top bit set.
    const double fHi = static_cast<double>(hi >> 11) * powerOfTwo(-53 - scale);
    const double fLo = (static_cast<double>(hi & 0x7ff) * 0x1p64 + static_cast<double>(lo)) *
                       powerOfTwo(-128 - scale);
    DoubleDouble r = multiply(fastTwoSum(fHi, fLo), kPiOver2);
    if ((bitsOf(x) >> 63) != 0) {
        negative = !negative;
        quadrant = (4 - quadrant) & 3;
    }
    if (negative) {
        r.hi = -r.hi;
        r.lo = -r.lo;
    }
    return {quadrant, r};
}

Reduced reduce(double x)
{
    const uint64_t a = bitsOf(x) & kAbsMask;
    if (a <= kPiOver4Bits) {
        return {0, DoubleDouble{x, 0.0}};
    }
    if (a < kMediumBits) {
        return reduceMedium(x);
    }
    return reduceHuge(x);
}

// sin(r.hi + r.lo) for |r| <= pi/4: r - r^3/6 to about 106 bits, then
// r^5 S(r^2) + r.lo cos r, which are small enough for one double each.
double sinKernel(DoubleDouble r)
{
    const DoubleDouble square = twoProduct(r.hi, r.hi);
    const double z = square.hi;
    const DoubleDouble cube = multiply(square, DoubleDouble{r.hi, 0.0});
    const DoubleDouble third = multiply(cube, kMinusOneSixth);
    const double p = kSin5 + z * (kSin7 + z * (kSin9 + z * (kSin11 + z * (kSin13 + z * (kSin15 + z * kSin17)))));
    const double rest = (cube.hi * z) * p + r.lo * (1.0 - 0.5 * z);
    const DoubleDouble lead = fastTwoSum(r.hi, third.hi);
    return lead.hi + (lead.lo + (third.lo + rest));
}

// cos(r.hi + r.lo) for |r| <= pi/4: 1 - r^2/2 + r^4/24 to about 106 bits,
// then r^6 C(r^2) - r.lo sin r, small enough for one double each.
double cosKernel(DoubleDouble r)
{
    const DoubleDouble square = twoProduct(r.hi, r.hi);
    const double z = square.hi;
    const DoubleDouble w = fastTwoSum(1.0, -0.5 * z);   // exact
    const DoubleDouble fourthPower = multiply(square, square);
    const DoubleDouble fourth = multiply(fourthPower, kOneTwentyFourth);
    const double q = kCos6 + z * (kCos8 + z * (kCos10 + z * (kCos12 + z * (kCos14 + z * (kCos16 + z * kCos18)))));
    const double rest = (fourthPower.hi * z) * q - (0.5 * square.lo + r.hi * r.lo);
    const DoubleDouble lead = fastTwoSum(w.hi, fourth.hi);
    return lead.hi + (lead.lo + ((w.lo + fourth.lo) + rest));
}

bool special(double x)
{
    return (bitsOf(x) & kExponentAll) == kExponentAll;
}

bool tiny(double x)
{
    return (bitsOf(x) & kAbsMask) < kTinyBits;
}

} // namespace

double sine(double x)
{
    if (special(x)) {
        return kQuietNaN;
    }
    if (tiny(x)) {
        return x;   // sin x = x (1 - x^2/6 ...) rounds to x
    }
    const Reduced red = reduce(x);
    switch (red.quadrant) {
    case 0: return sinKernel(red.r);
    case 1: return cosKernel(red.r);
    case 2: return -sinKernel(red.r);
    default: return -cosKernel(red.r);
    }
}

double cosine(double x)
{
    if (special(x)) {
        return kQuietNaN;
    }
    if (tiny(x)) {
        return 1.0;
    }
    const Reduced red = reduce(x);
    switch (red.quadrant) {
    case 0: return cosKernel(red.r);
    case 1: return -sinKernel(red.r);
    case 2: return -cosKernel(red.r);
    default: return sinKernel(red.r);
    }
}

void sinCos(double x, double& s, double& c)
{
    // A physics step turns several vectors by the same frame angle: the
    // last argument and its results are kept, per thread (the bits of +0
    // stand for sin 0 = +0, cos 0 = 1 at the start).
    struct Last {
        uint64_t bits = 0;
        double s = 0.0;
        double c = 1.0;
    };
    thread_local Last last;
    if (bitsOf(x) == last.bits) {
        s = last.s;
        c = last.c;
        return;
    }
    sinCosOnce(x, s, c);
    last = {bitsOf(x), s, c};
}

void sinCosOnce(double x, double& s, double& c)
{
    if (special(x)) {
        s = kQuietNaN;
        c = kQuietNaN;
        return;
    }
    if (tiny(x)) {
        s = x;
        c = 1.0;
        return;
    }
    const Reduced red = reduce(x);
    const double sr = sinKernel(red.r);
    const double cr = cosKernel(red.r);
    switch (red.quadrant) {
    case 0: s = sr; c = cr; break;
    case 1: s = cr; c = -sr; break;
    case 2: s = -sr; c = -cr; break;
    default: s = -cr; c = sr; break;
    }
}

} // namespace vmath
