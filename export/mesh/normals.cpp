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

// The cosine below which a corner normal counts as leaning away from its face: about 84 degrees,
// so that the normal stays on the face's side once written as bytes (a step of 1/127) and the
// face's corners are moved onto a compressed file's position grid.
constexpr double lean_margin = 0.1;

// A quad between two rings of a tube: the v of "RM_branch" at its two ends, lower first.
struct TubeSide {
    bool tube = false;
    float low = 0.0f, high = 0.0f;
};

// Whether four v values lie two and two on two rings, corners of one ring next to each other.
bool two_rings(const float v[4], TubeSide &side)
{
    const bool first = v[0] == v[1] && v[2] == v[3] && v[1] != v[2];
    const bool second = v[1] == v[2] && v[3] == v[0] && v[0] != v[1];
    if (!first && !second)
        return false;
    side = {true, std::min(v[0], v[2]), std::max(v[0], v[2])};
    return true;
}

// The sides of the layer's smooth polygons, read from the corners' "RM_branch" v (a seam's own
// value first) or, where those do not lie on two rings, from the points' own values (the first
// quad of a side branch sees its parent's v at the seam).
std::vector<TubeSide> tube_sides(const host::Layer &layer, const std::vector<char> &smooth)
{
    std::vector<TubeSide> sides(layer.polygon_count());
    const MapView uv(layer, ID_TXUV, branch_texture);
    if (!uv.present())
        return sides;
    for (std::size_t p = 0; p < sides.size(); ++p) {
        const std::span<const int> poly = layer.polygon_points(p);
        if (!smooth[p] || poly.size() != 4)
            continue;
        for (const int polygon : {static_cast<int>(p), -1}) {
            float v[4];
            bool all = true;
            for (std::size_t c = 0; c < 4; ++c) {
                const auto value = uv.at(poly[c], polygon);
                all = all && value && value->size() >= 2;
                v[c] = all ? (*value)[1] : 0.0f;
            }
            if (all && two_rings(v, sides[p]))
                break;
        }
    }
    return sides;
}

// Whether faces f and g at point run along one tube: both sides between the same two rings,
// sharing an edge from the point.
bool one_run(const host::Layer &layer, const std::vector<TubeSide> &sides, int f, int g, int point)
{
    const TubeSide &a = sides[static_cast<std::size_t>(f)], &b = sides[static_cast<std::size_t>(g)];
    if (!a.tube || !b.tube || a.low != b.low || a.high != b.high)
        return false;
    const std::span<const int> pf = layer.polygon_points(static_cast<std::size_t>(f));
    const std::span<const int> pg = layer.polygon_points(static_cast<std::size_t>(g));
    for (std::size_t i = 0; i < pf.size(); ++i) {
        if (pf[i] != point)
            continue;
        for (const int y : {pf[(i + 1) % pf.size()], pf[(i + pf.size() - 1) % pf.size()]})
            for (std::size_t j = 0; j < pg.size(); ++j)
                if (pg[j] == point && y != point &&
                    (pg[(j + 1) % pg.size()] == y || pg[(j + pg.size() - 1) % pg.size()] == y))
                    return true;
    }
    return false;
}

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

    // The sides of a tube between two rings: quads whose two ends each lie on one ring of
    // "RM_branch" v. Two such sides between the same pair of rings that share an edge run along
    // one tube, and that edge is smooth whatever its angle: a square tube shades round.
    const std::vector<TubeSide> sides = tube_sides(layer, smooth);

    CornerNormals out;
    out.first = std::span<const std::size_t>(layer.corner_offset.data(), polygons);
    out.normal.assign(layer.corners.size(), {0.0f, 1.0f, 0.0f});
    for (std::size_t p = 0; p < polygons; ++p) {
        const std::size_t n = layer.polygon_points(p).size();
        if (n >= 3 && !smooth[p])
            std::fill_n(out.normal.begin() + static_cast<std::ptrdiff_t>(out.first[p]), n, unit_or_up(unit[p]));
    }
    // Per point: its faces (once each), joined into runs of tube sides, and each run's summed
    // area-weighted normal.
    std::vector<int> faces, run;
    std::vector<host::Vec3> run_sum, run_unit;
    for (std::size_t point = 0; point + 1 < start.size(); ++point) {
        faces.clear();
        for (int k = start[point]; k < start[point + 1]; ++k)
            if (faces.empty() || faces.back() != around[static_cast<std::size_t>(k)]) // a face that names the point twice counts once
                faces.push_back(around[static_cast<std::size_t>(k)]);
        if (faces.empty())
            continue;
        const std::size_t k = faces.size();
        run.resize(k);
        for (std::size_t i = 0; i < k; ++i)
            run[i] = static_cast<int>(i);
        const auto find = [&](int i) {
            while (run[static_cast<std::size_t>(i)] != i)
                i = run[static_cast<std::size_t>(i)];
            return i;
        };
        for (std::size_t i = 0; i < k; ++i)
            for (std::size_t j = i + 1; j < k; ++j)
                if (one_run(layer, sides, faces[i], faces[j], static_cast<int>(point))) {
                    const int a = find(static_cast<int>(i)), b = find(static_cast<int>(j));
                    run[static_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
                }
        run_sum.assign(k, host::Vec3{});
        for (std::size_t i = 0; i < k; ++i) {
            run[i] = find(static_cast<int>(i));
            const host::Vec3 &w = area[static_cast<std::size_t>(faces[i])];
            host::Vec3 &sum = run_sum[static_cast<std::size_t>(run[i])];
            sum.x += w.x;
            sum.y += w.y;
            sum.z += w.z;
        }
        run_unit.resize(k);
        for (std::size_t i = 0; i < k; ++i) {
            const host::Vec3 &sum = run_sum[i];
            const double l = length(sum);
            run_unit[i] = l > 1e-30 && std::isfinite(l) ? host::Vec3{sum.x / l, sum.y / l, sum.z / l} : host::Vec3{};
        }
        for (std::size_t i = 0; i < k; ++i) {
            // Every run at this point within the crease angle of this face's run (its own
            // included): each leans less than the angle away, so their sum leans less than a
            // right angle away for any angle below 90 degrees.
            const auto f = static_cast<std::size_t>(faces[i]);
            const host::Vec3 &own = unit[f];
            const host::Vec3 &mine = run_unit[static_cast<std::size_t>(run[i])];
            host::Vec3 sum;
            for (std::size_t g = 0; g < k; ++g) {
                if (run[g] != static_cast<int>(g))
                    continue; // not a run's first face
                const host::Vec3 &other = run_unit[g];
                if (static_cast<int>(g) != run[i] && mine.x * other.x + mine.y * other.y + mine.z * other.z < min_cos)
                    continue;
                sum.x += run_sum[g].x;
                sum.y += run_sum[g].y;
                sum.z += run_sum[g].z;
            }
            // Near or past a right angle the sum may turn away from the face (a run can bend
            // round further than the crease angle): keep the face's own.
            if (sum.x * own.x + sum.y * own.y + sum.z * own.z <= lean_margin * length(sum))
                sum = own;
            const std::array<float, 3> normal = unit_or_up(sum);
            const std::span<const int> poly = layer.polygon_points(f);
            for (std::size_t c = 0; c < poly.size(); ++c)
                if (poly[c] == static_cast<int>(point))
                    out.normal[out.first[f] + c] = normal;
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
    // A corner normal that leans back this little or less still counts as leaning away: the
    // normals are written as floats, or as bytes in a compressed file, and positions on a grid.
    const double margin = lean_margin;
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
