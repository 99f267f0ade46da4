#include "xyz.h"

#include <cmath>

namespace ramulon {

Turn::Turn(double angle) : t(angle), s(std::sin(-angle)), c(std::cos(-angle)) {}

Cxyz &Cxyz::rotate_X(double t)
{
    if (t == 0.0)
        return *this;
    return rotate_X(Turn(t));
}

Cxyz &Cxyz::rotate_Y(double t) { return rotate_Y(Turn(t)); }

Cxyz &Cxyz::rotate_Z(double t)
{
    if (t == 0.0)
        return *this;
    return rotate_Z(Turn(t));
}

double Cxyz::calc_angle(const Cxyz &b) const
{
    const double la = len(), lb = b.len();
    if (la == 0.0 || lb == 0.0)
        return 0.0;
    double k = (z * b.z + (y * b.y + x * b.x)) / (la * lb);
    if (k >= 1.0)
        return 0.0;
    // Nearly opposite vectors can round just below -1; acos would give NaN there.
    if (k < -1.0)
        k = -1.0;
    return std::acos(k);
}

} // namespace ramulon
