#include "export/mesh/normals.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace exporter {
namespace {

// The Newell vector of a polygon: normal to it, twice its area long.
host::Vec3 newell(const host::Layer &layer, std::span<const int> poly)
{
    host::Vec3 n;
    const std::size_t count = poly.size();
    for (std::size_t i = 0; i < count; ++i) {
        const host::Vec3 &p = layer.points[static_cast<std::size_t>(poly[i])];
        const host::Vec3 &q = layer.points[static_cast<std::size_t>(poly[(i + 1) % count])];
        n.x += (p.y - q.y) * (p.z + q.z);
        n.y += (p.z - q.z) * (p.x + q.x);
        n.z += (p.x - q.x) * (p.y + q.y);
    }
    return n;
}

double length(const host::Vec3 &v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

std::array<float, 3> unit_or_up(const host::Vec3 &v)
{
    const double l = length(v);
    if (!(l > 1e-30) || !std::isfinite(l))
        return {0.0f, 1.0f, 0.0f};
    return {static_cast<float>(v.x / l), static_cast<float>(v.y / l), static_cast<float>(v.z / l)};
}

} // namespace

CornerNormals corner_normals(const host::Layer &layer, const Materials &materials, double crease_degrees)
{
    const double degrees = std::clamp(std::isfinite(crease_degrees) ? crease_degrees : 60.0, 0.0, 180.0);
    const double min_cos = std::cos(degrees * 3.14159265358979323846 / 180.0);
    const std::size_t polygons = layer.polygon_count();

    // Area-weighted and unit face normals, and the faces around every point (leaves and faces
    // of fewer than three corners take no part in smoothing).
    std::vector<host::Vec3> area(polygons), unit(polygons);
    std::vector<char> smooth(polygons, 0);
    std::vector<int> count(layer.points.size() + 1, 0);
    for (std::size_t p = 0; p < polygons; ++p) {
        const std::span<const int> poly = layer.polygon_points(p);
        if (poly.size() < 3)
            continue;
        area[p] = newell(layer, poly);
        const double l = length(area[p]);
        if (l > 1e-30 && std::isfinite(l))
            unit[p] = {area[p].x / l, area[p].y / l, area[p].z / l};
        smooth[p] = !materials.list[static_cast<std::size_t>(materials.of_polygon[p])].leaf;
        if (smooth[p])
            for (int point : poly)
                count[static_cast<std::size_t>(point) + 1] += 1;
    }
    std::vector<int> start(count.size(), 0);
    for (std::size_t i = 1; i < count.size(); ++i)
        start[i] = start[i - 1] + count[i];
    std::vector<int> around(static_cast<std::size_t>(start.back()));
    std::vector<int> fill(start.begin(), start.end() - 1);
    for (std::size_t p = 0; p < polygons; ++p)
        if (smooth[p])
            for (int point : layer.polygon_points(p))
                around[static_cast<std::size_t>(fill[static_cast<std::size_t>(point)]++)] = static_cast<int>(p);

    CornerNormals out;
    out.first = std::span<const std::size_t>(layer.corner_offset.data(), polygons);
    out.normal.reserve(layer.corners.size());
    for (std::size_t p = 0; p < polygons; ++p) {
        const std::span<const int> poly = layer.polygon_points(p);
        const host::Vec3 &own = unit[p];
        if (!smooth[p]) {
            out.normal.insert(out.normal.end(), poly.size(), unit_or_up(own));
            continue;
        }
        for (std::size_t c = 0; c < poly.size(); ++c) {
            // Every face at this point within the crease angle of this one (itself included):
            // each leans less than the angle away, so their weighted sum leans less than a
            // right angle away for any angle below 90 degrees.
            const auto point = static_cast<std::size_t>(poly[c]);
            host::Vec3 sum;
            int previous = -1;
            for (int k = start[point]; k < start[point + 1]; ++k) {
                const int g = around[static_cast<std::size_t>(k)];
                if (g == previous) // a face that names the point twice counts once
                    continue;
                previous = g;
                const host::Vec3 &other = unit[static_cast<std::size_t>(g)];
                if (static_cast<std::size_t>(g) != p &&
                    own.x * other.x + own.y * other.y + own.z * other.z < min_cos)
                    continue;
                const host::Vec3 &w = area[static_cast<std::size_t>(g)];
                sum.x += w.x;
                sum.y += w.y;
                sum.z += w.z;
            }
            // Past a right angle the sum may turn away from the face: keep the face's own.
            if (sum.x * own.x + sum.y * own.y + sum.z * own.z <= 0.0)
                sum = own;
            out.normal.push_back(unit_or_up(sum));
        }
    }
    return out;
}

namespace {

host::Vec3 triangle_normal(const host::Layer &layer, std::span<const int> poly, std::size_t a,
                           std::size_t b, std::size_t c)
{
    const host::Vec3 &p = layer.points[static_cast<std::size_t>(poly[a])];
    const host::Vec3 &q = layer.points[static_cast<std::size_t>(poly[b])];
    const host::Vec3 &r = layer.points[static_cast<std::size_t>(poly[c])];
    const double e1[3] = {q.x - p.x, q.y - p.y, q.z - p.z}, e2[3] = {r.x - p.x, r.y - p.y, r.z - p.z};
    const host::Vec3 n{e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    const double l = length(n);
    if (!(l > 1e-30) || !std::isfinite(l))
        return {};
    return {n.x / l, n.y / l, n.z / l};
}

double dot(const host::Vec3 &a, const host::Vec3 &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

} // namespace

void triangulate(const host::Layer &layer, std::size_t polygon, const CornerNormals &normals,
                 std::vector<Triangle> &out)
{
    out.clear();
    const std::span<const int> poly = layer.polygon_points(polygon);
    const std::size_t n = poly.size();
    if (n < 3)
        return;
    std::size_t start = 0;
    // A quad's four possible halves: (0 1 2), (0 2 3) and (1 2 3), (1 3 0); the two it is cut
    // into keep their normals for their corners below.
    host::Vec3 halves[4];
    if (n == 4) {
        // The diagonal from corner 1 when it keeps the halves closer to the quad's facing.
        const host::Vec3 face = newell(layer, poly);
        halves[0] = triangle_normal(layer, poly, 0, 1, 2);
        halves[1] = triangle_normal(layer, poly, 0, 2, 3);
        halves[2] = triangle_normal(layer, poly, 1, 2, 3);
        halves[3] = triangle_normal(layer, poly, 1, 3, 0);
        const double from0 = std::min(dot(face, halves[0]), dot(face, halves[1]));
        const double from1 = std::min(dot(face, halves[2]), dot(face, halves[3]));
        if (from1 > from0)
            start = 1;
    }
    // The normals are written as floats: a corner normal that leans back this little or less
    // still counts as leaning away.
    const double margin = 1e-3;
    for (std::size_t i = 1; i + 1 < n; ++i) {
        const std::size_t corners[3] = {start, (start + i) % n, (start + i + 1) % n};
        const host::Vec3 own = n == 4 ? halves[start * 2 + i - 1]
                                      : triangle_normal(layer, poly, corners[0], corners[1], corners[2]);
        const bool flat = length(own) > 0.0;
        Triangle triangle;
        for (int k = 0; k < 3; ++k) {
            TriangleCorner &corner = triangle[static_cast<std::size_t>(k)];
            corner.corner = corners[k];
            corner.normal = normals.at(polygon, corners[k]);
            const host::Vec3 given{corner.normal[0], corner.normal[1], corner.normal[2]};
            if (flat && dot(given, own) <= margin)
                corner.normal = unit_or_up(own);
        }
        out.push_back(triangle);
    }
}

} // namespace exporter
