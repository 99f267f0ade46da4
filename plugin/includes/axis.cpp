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
}

void Caxis::to_global(Cxyz *points, Cxyz origin, int count) const
{
    if (count <= 0)
        return;
    const Turn tx(angle_x), tz(angle_z), ty(angle_y);
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
    const Turn ty(-angle_y), tz(-angle_z), tx(-angle_x);
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
