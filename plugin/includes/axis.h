// Caxis: a local frame, three axes and the three angles that turn the world axes onto them.
// Rings of a tube, leaf shapes and twig directions are laid out in a frame and placed with it.
#pragma once

#include "xyz.h"

namespace ramulon {

// The tree's value of pi and the angles derived from it.
constexpr double PI = 3.1415926535898;
constexpr double PI2 = 1.5707963267949;     // pi / 2
constexpr double PI3_2 = 4.7123889803847;   // 3 pi / 2
constexpr double PI4 = 0.78539816339745;    // pi / 4
constexpr double PI_2X = 6.2831853071796;   // 2 pi
extern const double PI8;                    // pi / 8

struct Caxis {
    Cxyz x_axis;
    Cxyz y_axis;
    Cxyz z_axis;
    double angle_y = 0.0;
    double angle_z = 0.0;
    double angle_x = 0.0;

    void calc_transf_angles();
    void to_global(Cxyz *points, Cxyz origin, int count) const;
    void to_local(Cxyz *points, Cxyz origin, int count) const;

private:
    // A frame is placed many times (the near and far squares of a fork, a stub, a twig's steps):
    // the turns are kept from calc_transf_angles, each with the angle it was taken for, so that
    // placing takes no sine or cosine again. An angle written afterwards (or a frame never
    // worked out) no longer matches its kept turn, and that turn is taken afresh.
    // to_global turns by Turn(angle_x), Turn(angle_z), Turn(angle_y); for angle 0 those are
    // sin(-0) = -0 and cos(-0) = 1.
    Turn global_x_{0.0, -0.0, 1.0};
    Turn global_z_{0.0, -0.0, 1.0};
    Turn global_y_{0.0, -0.0, 1.0};
    // to_local turns by Turn(-angle_y) and Turn(-angle_z): the sine and cosine of angle_y and
    // angle_z that calc_transf_angles works out anyway. Its turn about x is taken per call,
    // since few frames are ever used the other way.
    Turn local_y_{-0.0, 0.0, 1.0};
    Turn local_z_{-0.0, 0.0, 1.0};
};

// The frame for the next segment of a chain, carried on from the previous one so that it
// does not spin about the chain.
Caxis calc_new_axes(const Caxis *previous, Cxyz direction);

} // namespace ramulon
