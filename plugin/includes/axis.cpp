#include "axis.h"

#include <cmath>

namespace ramulon {

const double PI8 = 0.392699081698725;

void Caxis::calc_transf_angles()
{
    angle_y = std::atan2(x_axis.z, x_axis.x);
    const double r = std::sqrt(x_axis.x * x_axis.x + x_axis.z * x_axis.z);
    angle_z = -std::atan2(x_axis.y, r);
    const double cy = std::cos(angle_y), sy = std::sin(angle_y);
    const double cz = std::cos(angle_z), sz = std::sin(angle_z);
    const double n = y_axis.z * cy - y_axis.x * sy;
    const double d = y_axis.y * cz + (y_axis.x * cy * sz + y_axis.z * sy * sz);
    angle_x = -std::atan2(n, d);

    global_x_ = Turn(angle_x);
    global_z_ = Turn(angle_z);
    global_y_ = Turn(angle_y);
    // Turn(-a) takes sin(-(-a)) and cos(-(-a)): the sine and cosine of a itself, as above.
    local_y_ = Turn(-angle_y, sy, cy);
    local_z_ = Turn(-angle_z, sz, cz);
}

namespace {

// The kept turn when it was taken for this angle, else the turn taken now.
Turn turn_by(const Turn &kept, double angle) { return kept.taken_for(angle) ? kept : Turn(angle); }

} // namespace

void Caxis::to_global(Cxyz *points, Cxyz origin, int count) const
{
    if (count <= 0)
        return;
    const Turn tx = turn_by(global_x_, angle_x);
    const Turn tz = turn_by(global_z_, angle_z);
    const Turn ty = turn_by(global_y_, angle_y);
    for (int i = 0; i < count; i++) {
        Cxyz &p = points[i];
        p.rotate_X(tx);
        p.rotate_Z(tz);
        p.rotate_Y(ty);
        p = p + origin;
    }
}

void Caxis::to_local(Cxyz *points, Cxyz origin, int count) const
{
    if (count <= 0)
        return;
    const bool shift = origin != 0.0;
    const Turn ty = turn_by(local_y_, -angle_y);
    const Turn tz = turn_by(local_z_, -angle_z);
    const Turn tx(-angle_x);
    for (int i = 0; i < count; i++) {
        Cxyz &p = points[i];
        if (shift)
            p = p - origin;
        p.rotate_Y(ty);
        p.rotate_Z(tz);
        p.rotate_X(tx);
    }
}

Caxis calc_new_axes(const Caxis *previous, Cxyz direction)
{
    Caxis a;
    a.x_axis = ~direction;
    a.y_axis = previous->z_axis * a.x_axis;
    a.z_axis = a.x_axis * a.y_axis;
    a.calc_transf_angles();
    return a;
}

} // namespace ramulon
