#include "export/mesh/bark_repeat.h"

#include <cmath>
#include <span>

#include "export/mesh/layer_view.h"

namespace exporter {

double bark_repeat(const host::Layer &layer, const Materials &materials)
{
    const MapView uv_map(layer, ID_TXUV, branch_texture);
    if (!uv_map.present())
        return 1.0;
    static const float origin[2] = {0.0f, 0.0f};
    // The trunk decides where there is one: it is the bark seen closest and the widest tube, and
    // the thinner tubes, whose u also wraps once around, cannot all keep the aspect at once.
    bool trunk = false;
    for (const Material &m : materials.list)
        trunk = trunk || m.name == trunk_surface;
    double along = 0.0, around = 0.0; // area-weighted metres per unit v and per unit u
    for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
        const std::span<const int> poly = layer.polygon_points(p);
        const Material &material = materials.list[static_cast<std::size_t>(materials.of_polygon[p])];
        if (poly.size() < 3 || !woody(material) || (trunk && material.name != trunk_surface))
            continue;
        auto corner = [&](std::size_t c, host::Vec3 &position, double uv[2]) {
            const int point = poly[c];
            position = layer.points[static_cast<std::size_t>(point)];
            float value[2];
            copy_value(uv_map.at(point, static_cast<int>(p)), origin, 2, value);
            uv[0] = value[0];
            uv[1] = value[1];
        };
        host::Vec3 p0, p1, p2;
        double t0[2], t1[2], t2[2];
        corner(0, p0, t0);
        for (std::size_t i = 1; i + 1 < poly.size(); ++i) {
            corner(i, p1, t1);
            corner(i + 1, p2, t2);
            const double e1[3] = {p1.x - p0.x, p1.y - p0.y, p1.z - p0.z};
            const double e2[3] = {p2.x - p0.x, p2.y - p0.y, p2.z - p0.z};
            const double du1 = t1[0] - t0[0], dv1 = t1[1] - t0[1];
            const double du2 = t2[0] - t0[0], dv2 = t2[1] - t0[1];
            const double det = du1 * dv2 - du2 * dv1;
            // Caps and root collars map a face onto a line of the texture: they say nothing
            // about its aspect.
            if (std::fabs(det) < 1e-9)
                continue;
            double per_u = 0.0, per_v = 0.0, cross = 0.0;
            for (int k = 0; k < 3; ++k) {
                const double du = (e1[k] * dv2 - e2[k] * dv1) / det;
                const double dv = (e2[k] * du1 - e1[k] * du2) / det;
                per_u += du * du;
                per_v += dv * dv;
            }
            const double c[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                                 e1[0] * e2[1] - e1[1] * e2[0]};
            cross = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
            if (!std::isfinite(per_u) || !std::isfinite(per_v) || !std::isfinite(cross))
                continue;
            around += cross * std::sqrt(per_u);
            along += cross * std::sqrt(per_v);
        }
    }
    if (!(around > 0.0) || !(along > 0.0))
        return 1.0;
    const double repeat = std::round(along / around * 100.0) / 100.0;
    return repeat >= 0.01 && repeat <= 10000.0 ? repeat : 1.0;
}

} // namespace exporter
