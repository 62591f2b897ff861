// The square root the physics uses: correctly rounded, as IEEE-754 asks of
// every square root. On x86-64 it is the processor's own instruction, also
// in unoptimized builds: there std::sqrt would call the C library, and
// mingw-w64's rounds twice (x87 extended precision, then double), so that a
// Windows debug build rode other rides.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#else
#include <cmath>
#endif

namespace vmath {

inline double sqrt(double x)
{
#if defined(__SSE2__)
    const __m128d v = _mm_set_sd(x);
    return _mm_cvtsd_f64(_mm_sqrt_sd(v, v));
#else
    return std::sqrt(x);
#endif
}

} // namespace vmath
