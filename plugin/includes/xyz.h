// Cxyz: a point or vector of three doubles, the value every geometric step of the tree uses.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace ramulon {

// The sine and cosine of -t, worked out once when many points turn by the same angle (the
// corners of a ring, the points of a leaf): the very values each point's own call would get.
struct Turn {
    double t = 0.0, s = 0.0, c = 1.0;
    Turn() = default;
    explicit Turn(double angle);
    // A turn whose sine and cosine were already worked out elsewhere: they must be the values
    // Turn(angle) gives, sin(-angle) and cos(-angle), to the last bit.
    constexpr Turn(double angle, double sine, double cosine) : t(angle), s(sine), c(cosine) {}
    // True when this turn was taken for exactly this angle (the same bits: -0 is not 0 here,
    // since sin(-0) is -0 and the sign of a zero coordinate may follow it).
    bool taken_for(double angle) const
    {
        return std::bit_cast<std::uint64_t>(t) == std::bit_cast<std::uint64_t>(angle);
    }
};

// The componentwise steps are written in the class, so that the loops over points and nodes
// (every ring, leaf and growth step) take them without a call each.
struct Cxyz {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    Cxyz() = default;
    Cxyz(double ax, double ay, double az) : x(ax), y(ay), z(az) {}

    Cxyz &operator=(double v)
    {
        x = v;
        y = v;
        z = v;
        return *this;
    }
    // The host's point calls take positions as three consecutive doubles.
    explicit operator double *() { return &x; }
    explicit operator const double *() const { return &x; }

    double len() const { return std::sqrt(z * z + (y * y + x * x)); }
    double calc_distance(const Cxyz &b) const
    {
        const double dx = x - b.x, dy = y - b.y, dz = z - b.z;
        return std::sqrt(dz * dz + (dy * dy + dx * dx));
    }
    Cxyz operator~() const // unit vector; the zero vector stays zero
    {
        const double l = len();
        if (l == 0.0)
            return Cxyz();
        return Cxyz(x / l, y / l, z / l);
    }
    Cxyz operator!() const { return Cxyz(-x, -y, -z); } // negation
    Cxyz operator-(const Cxyz &b) const { return Cxyz(x - b.x, y - b.y, z - b.z); }
    Cxyz operator+(const Cxyz &b) const { return Cxyz(x + b.x, y + b.y, z + b.z); }
    Cxyz &operator+=(const Cxyz &b)
    {
        x += b.x;
        y += b.y;
        z += b.z;
        return *this;
    }
    Cxyz move(const Cxyz &b) const { return *this + b; }
    Cxyz operator*(double k) const { return Cxyz(x * k, y * k, z * k); }
    Cxyz operator/(double k) const // the zero vector when k is exactly 0
    {
        if (k == 0.0)
            return Cxyz();
        return Cxyz(x / k, y / k, z / k);
    }
    Cxyz operator*(const Cxyz &b) const // cross product
    {
        return Cxyz(y * b.z - z * b.y, b.x * z - x * b.z, x * b.y - y * b.x);
    }
    bool operator!=(double v) const { return !(x == v) || !(y == v) || !(z == v); }

    // Rotations about the world axes through the origin, in place, by -t.
    Cxyz &rotate_X(double t);
    Cxyz &rotate_Y(double t);
    Cxyz &rotate_Z(double t);
    // The same turns with the sine and cosine worked out beforehand. Defined here so that the
    // loops placing many points turn them without a call per point.
    Cxyz &rotate_X(const Turn &t);
    Cxyz &rotate_Y(const Turn &t);
    Cxyz &rotate_Z(const Turn &t);

    // Unsigned angle to b in [0, pi]; 0 when either vector has length 0.
    double calc_angle(const Cxyz &b) const;
};

static_assert(sizeof(Cxyz) == 3 * sizeof(double), "Cxyz is handed to the host as double[3]");

// X and Z leave a point alone for a zero angle; Y always turns (by sin -0 = -0 and cos 0 = 1),
// which can change the sign of a zero coordinate.
inline Cxyz &Cxyz::rotate_X(const Turn &t)
{
    if (t.t == 0.0)
        return *this;
    const double ny = y * t.c - z * t.s;
    const double nz = z * t.c + y * t.s;
    y = ny;
    z = nz;
    return *this;
}

inline Cxyz &Cxyz::rotate_Y(const Turn &t)
{
    const double nx = x * t.c + z * t.s;
    const double nz = z * t.c - x * t.s;
    x = nx;
    z = nz;
    return *this;
}

inline Cxyz &Cxyz::rotate_Z(const Turn &t)
{
    if (t.t == 0.0)
        return *this;
    const double nx = x * t.c - y * t.s;
    const double ny = y * t.c + x * t.s;
    x = nx;
    y = ny;
    return *this;
}

} // namespace ramulon
