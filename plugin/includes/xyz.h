// Cxyz: a point or vector of three doubles, the value every geometric step of the tree uses.
#pragma once

#include <bit>
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

struct Cxyz {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    Cxyz() = default;
    Cxyz(double ax, double ay, double az) : x(ax), y(ay), z(az) {}

    Cxyz &operator=(double v);
    // The host's point calls take positions as three consecutive doubles.
    explicit operator double *() { return &x; }
    explicit operator const double *() const { return &x; }

    double len() const;
    double calc_distance(const Cxyz &b) const;
    Cxyz operator~() const; // unit vector; the zero vector stays zero
    Cxyz operator!() const; // negation
    Cxyz operator-(const Cxyz &b) const;
    Cxyz operator+(const Cxyz &b) const;
    Cxyz &operator+=(const Cxyz &b);
    Cxyz move(const Cxyz &b) const;
    Cxyz operator*(double k) const;
    Cxyz operator/(double k) const; // the zero vector when k is exactly 0
    Cxyz operator*(const Cxyz &b) const; // cross product
    bool operator!=(double v) const;

    // Rotations about the world axes through the origin, in place, by -t.
    Cxyz &rotate_X(double t);
    Cxyz &rotate_Y(double t);
    Cxyz &rotate_Z(double t);
    // The same turns with the sine and cosine worked out beforehand.
    Cxyz &rotate_X(const Turn &t);
    Cxyz &rotate_Y(const Turn &t);
    Cxyz &rotate_Z(const Turn &t);

    // Unsigned angle to b in [0, pi]; 0 when either vector has length 0.
    double calc_angle(const Cxyz &b) const;
};

static_assert(sizeof(Cxyz) == 3 * sizeof(double), "Cxyz is handed to the host as double[3]");

} // namespace ramulon
