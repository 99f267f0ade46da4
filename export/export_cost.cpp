#include "export_cost.h"

#include <cmath>

#include "materials.h"

namespace exporter {

namespace {

// Bytes per triangle of the written mesh, per refined face of a subdivided cage and per
// triangle simplified for the levels of detail (see the header for how they were measured).
constexpr double gltf_per_triangle = 300.0;
constexpr double obj_per_triangle = 300.0;
constexpr double per_refined_face = 600.0;
constexpr double lod_per_triangle = 300.0;
constexpr double far_card_fixed = 32.0 * 1024 * 1024;
constexpr double far_card_per_triangle = 100.0;
constexpr double compress_per_triangle = 100.0;
constexpr double fixed_bytes = 8.0 * 1024 * 1024;

} // namespace

double layer_bytes(const host::Layer &layer)
{
    double bytes = static_cast<double>(layer.points.size()) * sizeof(host::Vec3) +
                   static_cast<double>(layer.polygon_count()) * 16.0;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p)
        bytes += static_cast<double>(layer.polygon_points(p).size()) * sizeof(int);
    return bytes;
}

ExportCost export_cost(const host::Layer &layer, const GltfOptions &options, Format format)
{
    ExportCost cost;
    cost.subdivision = subdivision_levels(layer, options.look, format);
    const Materials materials = collect_materials(layer);
    double wood_corners = 0.0, wood_faces = 0.0, other_triangles = 0.0;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
        const double n = static_cast<double>(layer.polygon_points(p).size());
        if (n < 3)
            continue;
        if (woody(materials.list[static_cast<std::size_t>(materials.of_polygon[p])])) {
            wood_corners += n;
            wood_faces += 1.0;
        } else {
            other_triangles += n - 2.0;
        }
    }
    const double refined = cost.subdivision > 0 ? wood_corners * std::pow(4.0, cost.subdivision - 1) : 0.0;
    cost.triangles = (cost.subdivision > 0 ? 2.0 * refined : wood_corners - 2.0 * wood_faces) + other_triangles;

    double bytes = fixed_bytes + refined * per_refined_face;
    if (format == Format::obj) {
        cost.bytes = bytes + cost.triangles * obj_per_triangle;
        return cost;
    }
    bytes += cost.triangles * gltf_per_triangle;
    if (options.levels > 1)
        bytes += cost.triangles * lod_per_triangle;
    if (options.impostor)
        bytes += far_card_fixed + cost.triangles * far_card_per_triangle;
    if (options.compress)
        bytes += cost.triangles * compress_per_triangle;
    cost.bytes = bytes;
    return cost;
}

} // namespace exporter
