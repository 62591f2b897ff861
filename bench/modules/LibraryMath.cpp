// The C library's sine, cosine, arc tangent and logarithm under the names of
// the core's own: the physics as it was computed before it had its own, for
// the side-by-side cost measure in velto-bench. Never part of the core.
#include "model/ArcTangent.h"
#include "model/Logarithm.h"
#include "model/SinCos.h"

#include <cmath>

namespace vmath {

double sine(double x) { return std::sin(x); }
double cosine(double x) { return std::cos(x); }
void sinCos(double x, double& s, double& c)
{
    s = std::sin(x);
    c = std::cos(x);
}
double arcTangent2(double y, double x) { return std::atan2(y, x); }
double logarithm(double x) { return std::log(x); }

} // namespace vmath
