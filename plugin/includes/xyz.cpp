#include "xyz.h"

#include <cmath>

namespace ramulon {

Cxyz &Cxyz::operator=(double v)
{
    x = v;
    y = v;
    z = v;
    return *this;
}

double Cxyz::len() const { return std::sqrt(z * z + (y * y + x * x)); }

double Cxyz::calc_distance(const Cxyz &b) const
{
    const double dx = x - b.x, dy = y - b.y, dz = z - b.z;
    return std::sqrt(dz * dz + (dy * dy + dx * dx));
}

Cxyz Cxyz::operator~() const
{
    const double l = len();
    if (l == 0.0)
        return Cxyz();
    return Cxyz(x / l, y / l, z / l);
}

Cxyz Cxyz::operator!() const { return Cxyz(-x, -y, -z); }
Cxyz Cxyz::operator-(const Cxyz &b) const { return Cxyz(x - b.x, y - b.y, z - b.z); }
Cxyz Cxyz::operator+(const Cxyz &b) const { return Cxyz(x + b.x, y + b.y, z + b.z); }

Cxyz &Cxyz::operator+=(const Cxyz &b)
{
    x += b.x;
    y += b.y;
    z += b.z;
    return *this;
}

Cxyz Cxyz::move(const Cxyz &b) const { return *this + b; }
Cxyz Cxyz::operator*(double k) const { return Cxyz(x * k, y * k, z * k); }

Cxyz Cxyz::operator/(double k) const
{
    if (k == 0.0)
        return Cxyz();
    return Cxyz(x / k, y / k, z / k);
}

Cxyz Cxyz::operator*(const Cxyz &b) const
{
    return Cxyz(y * b.z - z * b.y, b.x * z - x * b.z, x * b.y - y * b.x);
}

bool Cxyz::operator!=(double v) const { return !(x == v) || !(y == v) || !(z == v); }

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

// X and Z leave a point alone for a zero angle; Y always turns (by sin -0 = -0 and cos 0 = 1),
// which can change the sign of a zero coordinate.
Cxyz &Cxyz::rotate_X(const Turn &t)
{
    if (t.t == 0.0)
        return *this;
    const double ny = y * t.c - z * t.s;
    const double nz = z * t.c + y * t.s;
    y = ny;
    z = nz;
    return *this;
}

Cxyz &Cxyz::rotate_Y(const Turn &t)
{
    const double nx = x * t.c + z * t.s;
    const double nz = z * t.c - x * t.s;
    x = nx;
    z = nz;
    return *this;
}

Cxyz &Cxyz::rotate_Z(const Turn &t)
{
    if (t.t == 0.0)
        return *this;
    const double nx = x * t.c - y * t.s;
    const double ny = y * t.c + x * t.s;
    x = nx;
    y = ny;
    return *this;
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
