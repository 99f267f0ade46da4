#include "export/export_cost.h"

#include <cmath>
#include <vector>

#include "common/index_cast.h"
#include "export/materials/materials.h"

namespace exporter {

namespace {

// The measured costs (bench/export_peaks.cpp: the shipped presets on the round crown at their
// own branches and at 2000, in their own crowns and in the round one, LOD0 from 97 thousand to
// 8 million triangles), in bytes.
//
// Every export: a fixed part (the textures, the serialiser) and a price per triangle of LOD0
// (a line or a point counts as one), whatever the format: at most 96 measured, winter's GLB at
// 2000 branches (its OBJ 93), now that the tangents hold sums only for the vertices still open,
// a woody corner names its normal in four bytes and the OBJ's shared lists hold only places.
constexpr double fixed_bytes = 8.0 * 1024 * 1024;
constexpr double per_triangle = 105.0;
// A subdivided cage: per refined face, beyond its two triangles at the price above, the refined
// layer with its bark coordinates and the subdivision's tables (about 450 to 520 beside two
// triangles at that price, the first level's the most).
constexpr double per_refined_face = 550.0;

// The levels of detail, the far card and compression are written as whole files in memory:
// per triangle of LOD0, beyond the plain price, a price for the first file, more when the tree
// is simplified at all and more for every further level. Flat triangles (leaves, and tubes not
// subdivided, whose corners keep normals of their own) cost far more than those of a
// subdivided surface, which share their vertices. The levels cost the same compressed or not:
// their peak is the simplifying, not the buffers.
struct GameReadyPrice {
    double first, simplified, per_level;
    double at(int levels) const { return first + (levels > 1 ? simplified + per_level * (levels - 1) : 0.0); }
};
// wide and oak at 2000 branches, the costliest, in all per triangle: 469 (the far card alone),
// 703 (2 levels), 1039 (4), 1543 (8). Priced 1.11 to 1.25 times that.
constexpr GameReadyPrice flat_plain{370.0, 210.0, 140.0};
// wide and oak: 416 (compressed alone), 1041 (4 levels), 1544 (8). Priced 1.10 to 1.13 times.
constexpr GameReadyPrice flat_compressed{310.0, 270.0, 140.0};
// bare subdivided twice, beyond its subdivided export: nothing for the far card or the
// compression alone, 181 (2 levels), 361 (4), 664 (8). The totals priced 1.11 to 1.22 times.
constexpr GameReadyPrice smooth_plain{30.0, 60.0, 100.0};
constexpr GameReadyPrice smooth_compressed{30.0, 60.0, 100.0};

// Per surface name number, and last for polygons without a surface: whether its polygons are
// woody. A material is named after its surface, so the price needs no material per polygon.
std::vector<char> woody_surfaces(const host::Layer &layer)
{
    std::vector<char> wood(layer.names.size() + 1);
    for (std::size_t n = 0; n < layer.names.size(); ++n) {
        Material m;
        m.name = layer.names[n];
        m.leaf = m.name == leaf_surface;
        wood[n] = woody(m);
    }
    Material none;
    none.name = default_material;
    wood.back() = woody(none);
    return wood;
}

} // namespace

double layer_bytes(const host::Layer &layer)
{
    double bytes = static_cast<double>(layer.points.size()) * sizeof(host::Vec3) +
                   static_cast<double>(layer.polygon_count()) * 16.0;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p)
        bytes += static_cast<double>(layer.polygon_points(p).size()) * sizeof(int);
    return bytes;
}

ExportCost export_cost(const host::Layer &layer, const WriteOptions &options, Format format)
{
    ExportCost cost;
    cost.subdivision = subdivision_levels(layer, options.look, format);
    const std::vector<char> wood = woody_surfaces(layer);
    double wood_corners = 0.0, wood_faces = 0.0, flat = 0.0;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
        const double n = static_cast<double>(layer.polygon_points(p).size());
        const int surface = layer.polygon_surface[p];
        if (n >= 3 && wood[surface < 0 ? layer.names.size() : ramulon::index_cast<std::size_t>(surface)]) {
            wood_corners += n;
            wood_faces += 1.0;
        } else {
            flat += n >= 3 ? n - 2.0 : 1.0;
        }
    }
    // Each level splits a face of n corners into n quads, then every quad into four.
    const double refined = cost.subdivision > 0 ? wood_corners * std::pow(4.0, cost.subdivision - 1) : 0.0;
    const double smooth = 2.0 * refined;
    if (cost.subdivision == 0)
        flat += wood_corners - 2.0 * wood_faces;
    cost.triangles = flat + smooth;

    cost.bytes = fixed_bytes + cost.triangles * per_triangle + refined * per_refined_face;
    if (format == Format::gltf && !options.plain()) {
        // Quantised views alone are priced as plain ones: they are not smaller in memory by much.
        const bool packed = options.compress == Compression::meshopt;
        const GameReadyPrice &f = packed ? flat_compressed : flat_plain;
        const GameReadyPrice &s = packed ? smooth_compressed : smooth_plain;
        cost.bytes += flat * f.at(options.levels) + smooth * s.at(options.levels);
    }
    return cost;
}

} // namespace exporter
