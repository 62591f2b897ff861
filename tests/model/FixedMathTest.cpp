// The core's own sin, cos, atan2 and log against a 113-bit reference, over
// the arguments the physics meets and the edges of the double range.
#include "model/ArcTangent.h"
#include "model/Logarithm.h"
#include "model/SinCos.h"

#include <gtest/gtest.h>

#include <quadmath.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace {

// The bound each function is held to, in units in the last place of the
// exact result, as measured and stated in the headers.
constexpr double kSinCosBound = 0.54;
constexpr double kLogBound = 0.53;
constexpr double kAtan2Bound = 0.51;
constexpr int kPoints = 1 << 20;

// |got - exact| in units of the last place of the exact value.
double ulpError(double got, __float128 exact)
{
    if (std::isnan(got) || std::isinf(got)) {
        return (std::isinf(got) && static_cast<double>(exact) == got) ? 0.0 : 1e300;
    }
    int e = 0;
    frexpq(exact, &e);   // exact = m * 2^e, 0.5 <= |m| < 1
    const __float128 ulp = ldexpq(static_cast<__float128>(1.0), std::max(e - 53, -1074));
    return static_cast<double>(fabsq(static_cast<__float128>(got) - exact) / ulp);
}

struct Worst {
    double ulps = 0.0;
    double at = 0.0;
    double at2 = 0.0;
    void take(double u, double x, double y = 0.0)
    {
        if (u > ulps) {
            ulps = u;
            at = x;
            at2 = y;
        }
    }
};

double randomBits(std::mt19937_64& rng, uint64_t lowest, uint64_t highest)
{
    return std::bit_cast<double>(std::uniform_int_distribution<uint64_t>(lowest, highest)(rng));
}

uint64_t bitsOf(double x) { return std::bit_cast<uint64_t>(x); }

} // namespace

TEST(FixedMath, SinAndCosStayWithinTheirBound)
{
    std::mt19937_64 rng(18);
    std::uniform_real_distribution<double> turns(-4.0 * M_PI, 4.0 * M_PI);   // frame angles
    Worst sinWorst;
    Worst cosWorst;
    for (int i = 0; i < kPoints; ++i) {
        double x = 0.0;
        switch (i % 4) {
        case 0: case 1: x = turns(rng); break;
        case 2: x = randomBits(rng, bitsOf(0x1p-30), bitsOf(1e6)); break;          // any scale up to 1e6
        default: x = randomBits(rng, bitsOf(1e6), bitsOf(0x1.fffffffffffffp1023)); break; // huge
        }
        if (i % 2 == 1) {
            x = -x;
        }
        double s = 0.0;
        double c = 0.0;
        vmath::sinCos(x, s, c);
        ASSERT_EQ(bitsOf(s), bitsOf(vmath::sine(x))) << x;
        ASSERT_EQ(bitsOf(c), bitsOf(vmath::cosine(x))) << x;
        sinWorst.take(ulpError(s, sinq(x)), x);
        cosWorst.take(ulpError(c, cosq(x)), x);
    }
    // Close to multiples of pi/2 the reduced argument loses the most.
    for (int k = -2000; k <= 2000; ++k) {
        const double x = k * (M_PI / 2.0);
        for (double y : {x, std::nextafter(x, 1e300), std::nextafter(x, -1e300)}) {
            sinWorst.take(ulpError(vmath::sine(y), sinq(y)), y);
            cosWorst.take(ulpError(vmath::cosine(y), cosq(y)), y);
        }
    }
    // A double famously close to a multiple of pi/2.
    const double close = 0x1.6ac5b262ca1ffp+849;
    sinWorst.take(ulpError(vmath::sine(close), sinq(close)), close);
    cosWorst.take(ulpError(vmath::cosine(close), cosq(close)), close);
    std::printf("sin: %.3f ulp at %a, cos: %.3f ulp at %a\n", sinWorst.ulps, sinWorst.at, cosWorst.ulps,
                cosWorst.at);
    EXPECT_LE(sinWorst.ulps, kSinCosBound) << std::hexfloat << sinWorst.at;
    EXPECT_LE(cosWorst.ulps, kSinCosBound) << std::hexfloat << cosWorst.at;
}

TEST(FixedMath, SinAndCosEdges)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double subnormal = 0x1p-1070;
    EXPECT_EQ(bitsOf(vmath::sine(0.0)), bitsOf(0.0));
    EXPECT_EQ(bitsOf(vmath::sine(-0.0)), bitsOf(-0.0));
    EXPECT_EQ(vmath::cosine(0.0), 1.0);
    EXPECT_EQ(vmath::cosine(-0.0), 1.0);
    EXPECT_EQ(vmath::sine(subnormal), subnormal);
    EXPECT_EQ(vmath::sine(-subnormal), -subnormal);
    EXPECT_EQ(vmath::cosine(subnormal), 1.0);
    for (double x : {nan, -nan, inf, -inf}) {
        EXPECT_EQ(bitsOf(vmath::sine(x)), 0x7ff8000000000000u) << x;
        EXPECT_EQ(bitsOf(vmath::cosine(x)), 0x7ff8000000000000u) << x;
    }
    // The last argument's results, kept per thread, are the same bits.
    double s = 0.0;
    double c = 0.0;
    for (double x : {0.0, 1.0, 1.0, -0.0, 0.0, 1e300, 1.0, std::nextafter(1.0, 2.0)}) {
        double s1 = 0.0;
        double c1 = 0.0;
        vmath::sinCos(x, s, c);
        vmath::sinCosOnce(x, s1, c1);
        EXPECT_EQ(bitsOf(s), bitsOf(s1)) << x;
        EXPECT_EQ(bitsOf(c), bitsOf(c1)) << x;
    }
    // The turns the physics asks for most.
    vmath::sinCos(M_PI / 2.0, s, c);
    EXPECT_EQ(s, 1.0);
    EXPECT_EQ(c, 6.123233995736766e-17);
    vmath::sinCos(M_PI, s, c);
    EXPECT_EQ(s, 1.2246467991473532e-16);
    EXPECT_EQ(c, -1.0);
    EXPECT_EQ(vmath::sine(M_PI / 6.0), 0.49999999999999994);
    EXPECT_EQ(vmath::cosine(M_PI / 3.0), 0.5000000000000001);
    // The largest double and its neighbours of the huge-argument path.
    EXPECT_LE(ulpError(vmath::sine(0x1.fffffffffffffp1023), sinq(0x1.fffffffffffffp1023)), kSinCosBound);
    EXPECT_LE(ulpError(vmath::cosine(0x1p20), cosq(0x1p20)), kSinCosBound);
    EXPECT_LE(ulpError(vmath::sine(std::nextafter(0x1p20, 0.0)), sinq(std::nextafter(0x1p20, 0.0))), kSinCosBound);
}

TEST(FixedMath, LogStaysWithinItsBound)
{
    std::mt19937_64 rng(19);
    std::uniform_real_distribution<double> spring(0.0, 200.0);   // 1 + |d|
    std::uniform_real_distribution<double> nearOne(-0x1p-10, 0x1p-10);
    Worst worst;
    for (int i = 0; i < kPoints; ++i) {
        double x = 0.0;
        switch (i % 4) {
        case 0: x = 1.0 + spring(rng); break;
        case 1: x = 1.0 + nearOne(rng); break;
        case 2: x = randomBits(rng, bitsOf(0x1p-1074), bitsOf(0x1.fffffffffffffp1023)); break;
        default: x = randomBits(rng, bitsOf(0.5), bitsOf(1e5)); break;
        }
        worst.take(ulpError(vmath::logarithm(x), logq(x)), x);
    }
    std::printf("log: %.3f ulp at %a\n", worst.ulps, worst.at);
    EXPECT_LE(worst.ulps, kLogBound) << std::hexfloat << worst.at;
}

// The quick estimate must round as the series does wherever it answers, and
// it must answer most of the suspension's arguments, or it costs time.
TEST(FixedMath, LogQuickEstimateRoundsAsTheSeries)
{
    std::mt19937_64 rng(23);
    std::uniform_real_distribution<double> spring(0.0, 200.0);
    std::uniform_real_distribution<double> bucket(0x1.6a09e667f3bcdp-1, 0x1.6a09e667f3bcdp0);   // every table row
    std::uniform_int_distribution<int> exponent(-4, 14);
    std::uniform_real_distribution<double> nearOne(-0x1p-7, 0x1p-7);
    int settled[4] = {0, 0, 0, 0};
    int differ = 0;
    double firstDiffer = 0.0;
    for (int i = 0; i < kPoints; ++i) {
        double x = 0.0;
        switch (i % 4) {
        case 0: x = 1.0 + spring(rng); break;
        case 1: x = std::ldexp(bucket(rng), exponent(rng)); break;
        case 2: x = 1.0 + nearOne(rng); break;
        default: x = randomBits(rng, bitsOf(0x1p-1074), bitsOf(0x1.fffffffffffffp1023)); break;
        }
        double quick = 0.0;
        const bool answered = vmath::detail::logarithmQuickly(x, quick);
        const double bySeries = vmath::detail::logarithmBySeries(x);
        settled[i % 4] += answered ? 1 : 0;
        if ((answered && bitsOf(quick) != bitsOf(bySeries)) || bitsOf(vmath::logarithm(x)) != bitsOf(bySeries)) {
            firstDiffer = differ++ == 0 ? x : firstDiffer;
        }
    }
    EXPECT_EQ(differ, 0) << "first at " << std::hexfloat << firstDiffer;
    std::printf("log: the quick estimate settles %d, %d, %d, %d of %d\n", settled[0], settled[1], settled[2],
                settled[3], kPoints / 4);
    EXPECT_GT(settled[0], kPoints / 4 * 9 / 10);   // the suspension's arguments
    EXPECT_GT(settled[1], kPoints / 4 * 9 / 10);
}

TEST(FixedMath, LogEdges)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(bitsOf(vmath::logarithm(1.0)), bitsOf(0.0));
    EXPECT_EQ(vmath::logarithm(0.0), -inf);
    EXPECT_EQ(vmath::logarithm(-0.0), -inf);
    EXPECT_EQ(vmath::logarithm(inf), inf);
    for (double x : {-1.0, -inf, std::numeric_limits<double>::quiet_NaN(), -0x1p-1074}) {
        EXPECT_EQ(bitsOf(vmath::logarithm(x)), 0x7ff8000000000000u) << x;
    }
    EXPECT_EQ(vmath::logarithm(2.0), 0.6931471805599453);
    EXPECT_EQ(vmath::logarithm(0x1p-1074), -744.4400719213812);
    EXPECT_EQ(vmath::logarithm(0x1.fffffffffffffp1023), 709.782712893384);
    EXPECT_EQ(vmath::logarithm(11.0), 2.3978952727983707);   // the suspension's ln 11
}

TEST(FixedMath, Atan2StaysWithinItsBound)
{
    std::mt19937_64 rng(20);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_real_distribution<double> world(-3000.0, 3000.0);   // spring vectors and more
    Worst worst;
    for (int i = 0; i < kPoints; ++i) {
        double y = 0.0;
        double x = 0.0;
        switch (i % 4) {
        case 0: y = world(rng); x = world(rng); break;
        case 1: y = unit(rng); x = unit(rng) * 1e-3; break;   // steep, near the axes
        case 2:
            y = randomBits(rng, 1, bitsOf(0x1.fffffffffffffp1023));
            x = randomBits(rng, 1, bitsOf(0x1.fffffffffffffp1023));
            break;
        default: y = unit(rng); x = y * (1.0 + unit(rng) * 1e-6); break;   // near the diagonal
        }
        if (i % 3 == 0) {
            x = -x;
        }
        if (i % 5 == 0) {
            y = -y;
        }
        worst.take(ulpError(vmath::arcTangent2(y, x), atan2q(y, x)), y, x);
    }
    std::printf("atan2: %.3f ulp at (%a, %a)\n", worst.ulps, worst.at, worst.at2);
    EXPECT_LE(worst.ulps, kAtan2Bound) << std::hexfloat << worst.at << ", " << worst.at2;
}

TEST(FixedMath, Atan2Edges)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double pi = 3.141592653589793;
    EXPECT_EQ(bitsOf(vmath::arcTangent2(0.0, 1.0)), bitsOf(0.0));
    EXPECT_EQ(bitsOf(vmath::arcTangent2(-0.0, 1.0)), bitsOf(-0.0));
    EXPECT_EQ(vmath::arcTangent2(0.0, -0.0), pi);
    EXPECT_EQ(vmath::arcTangent2(-0.0, -1.0), -pi);
    EXPECT_EQ(vmath::arcTangent2(1.0, 0.0), pi / 2.0);
    EXPECT_EQ(vmath::arcTangent2(-1.0, -0.0), -pi / 2.0);
    EXPECT_EQ(vmath::arcTangent2(inf, inf), pi / 4.0);
    EXPECT_EQ(vmath::arcTangent2(-inf, -inf), -2.356194490192345);
    EXPECT_EQ(vmath::arcTangent2(1.0, -inf), pi);
    EXPECT_EQ(bitsOf(vmath::arcTangent2(-1.0, inf)), bitsOf(-0.0));
    EXPECT_EQ(vmath::arcTangent2(inf, -5.0), pi / 2.0);
    EXPECT_EQ(vmath::arcTangent2(1.0, 1.0), pi / 4.0);
    EXPECT_EQ(vmath::arcTangent2(1.0, -1.0), 2.356194490192345);
    EXPECT_EQ(vmath::arcTangent2(0x1p-1074, 1e300), 0.0);
    EXPECT_EQ(vmath::arcTangent2(0x1p-1074, 0x1p-1074), pi / 4.0);
    EXPECT_EQ(vmath::arcTangent2(1e300, 0x1p-1074), pi / 2.0);
    EXPECT_EQ(vmath::arcTangent2(0x1p-1074, 1.0), 0x1p-1074);
    EXPECT_EQ(bitsOf(vmath::arcTangent2(std::numeric_limits<double>::quiet_NaN(), 1.0)), 0x7ff8000000000000u);
    EXPECT_EQ(bitsOf(vmath::arcTangent2(1.0, -std::numeric_limits<double>::quiet_NaN())), 0x7ff8000000000000u);
}
