#include "export/mesh/normals.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <span>

namespace exporter {
namespace {

// The Newell vector of a polygon: normal to it, twice its area long.
host::Vec3 newell(const host::Layer &layer, std::span<const int> poly)
{
    host::Vec3 n;
    const host::Vec3 *points = layer.points.data();
    const std::size_t count = poly.size();
    const auto edge = [&n](const host::Vec3 &p, const host::Vec3 &q) {
        n.x += (p.y - q.y) * (p.z + q.z);
        n.y += (p.z - q.z) * (p.x + q.x);
        n.z += (p.x - q.x) * (p.y + q.y);
    };
    if (count == 4) { // nearly every polygon of a tree
        const host::Vec3 &p0 = points[poly[0]], &p1 = points[poly[1]], &p2 = points[poly[2]], &p3 = points[poly[3]];
        edge(p0, p1);
        edge(p1, p2);
        edge(p2, p3);
        edge(p3, p0);
        return n;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const host::Vec3 &p = points[poly[i]];
        edge(p, points[poly[i + 1 == count ? 0 : i + 1]]);
    }
    return n;
}

double length(const host::Vec3 &v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

// The cosine below which a corner normal counts as leaning away from its face: about 84 degrees,
// so that the normal stays on the face's side once written as bytes (a step of 1/127) and the
// face's corners are moved onto a compressed file's position grid.
constexpr double lean_margin = 0.1;

// A quad between two rings of a tube: the v of "RM_branch" at its two ends, lower first; no v
// (not a number, which equals nothing) for any other polygon. A large tree holds one per woody
// polygon, millions.
struct TubeSide {
    float low = std::numeric_limits<float>::quiet_NaN(), high = std::numeric_limits<float>::quiet_NaN();

    bool tube() const { return !std::isnan(low); }
    // Whether both are sides between the same two rings (never where either is no side).
    bool same_rings(const TubeSide &other) const { return low == other.low && high == other.high; }
};

// Whether four v values lie two and two on two rings, corners of one ring next to each other.
bool two_rings(const float v[4], TubeSide &side)
{
    const bool first = v[0] == v[1] && v[2] == v[3] && v[1] != v[2];
    const bool second = v[1] == v[2] && v[3] == v[0] && v[0] != v[1];
    if (!first && !second)
        return false;
    side = {std::min(v[0], v[2]), std::max(v[0], v[2])};
    return true;
}

// The sides of the layer's smooth polygons (all lie before smooth_polygons), read from the
// corners' "RM_branch" v (a seam's own value first) or, where those do not lie on two rings,
// from the points' own values (the first quad of a side branch sees its parent's v at the seam).
std::vector<TubeSide> tube_sides(const host::Layer &layer, const std::vector<char> &smooth, std::size_t smooth_polygons)
{
    std::vector<TubeSide> sides(smooth_polygons);
    const MapView uv(layer, ID_TXUV, branch_texture);
    if (!uv.present())
        return sides;
    // The points' own values straight from the map's arrays: nearly every tube side has no
    // values of its own.
    const MapView::Own &own_values = uv.own();
    const auto own_v = [&own_values](int point, float &v) {
        const auto at = static_cast<std::size_t>(point);
        if (at >= own_values.stored_count || own_values.stored[at] < 3) // no value of two components
            return false;
        v = own_values.values[at * own_values.stride + 1];
        return true;
    };
    for (std::size_t p = 0; p < sides.size(); ++p) {
        const std::span<const int> poly = layer.polygon_points(p);
        if (!smooth[p] || poly.size() != 4)
            continue;
        if (layer.has_corner_values(p)) {
            // The polygon's own values (a seam's) first.
            float v[4];
            bool all = true;
            for (std::size_t c = 0; c < 4; ++c) {
                const auto value = uv.at(poly[c], static_cast<int>(p));
                all = all && value && value->size() >= 2;
                v[c] = all ? (*value)[1] : 0.0f;
            }
            if (all && two_rings(v, sides[p]))
                continue;
        }
        float v[4];
        if (own_v(poly[0], v[0]) && own_v(poly[1], v[1]) && own_v(poly[2], v[2]) && own_v(poly[3], v[3]))
            two_rings(v, sides[p]);
    }
    return sides;
}

// Whether faces f and g, which name point at their corners i and j, share the edge from it to
// a neighbouring point.
bool share_edge(const host::Layer &layer, int f, std::size_t i, int g, std::size_t j, int point)
{
    const std::span<const int> pf = layer.polygon_points(static_cast<std::size_t>(f));
    const std::span<const int> pg = layer.polygon_points(static_cast<std::size_t>(g));
    const std::size_t nf = pf.size(), ng = pg.size();
    const int next = pf[i + 1 == nf ? 0 : i + 1], previous = pf[i == 0 ? nf - 1 : i - 1];
    const int g_next = pg[j + 1 == ng ? 0 : j + 1], g_previous = pg[j == 0 ? ng - 1 : j - 1];
    return (next != point && (g_next == next || g_previous == next)) ||
           (previous != point && (g_next == previous || g_previous == previous));
}

// Whether faces f and g at point run along one tube: both sides between the same two rings,
// sharing an edge from the point (at any of their corners there, for a face that names the
// point twice).
bool one_run(const host::Layer &layer, const std::vector<TubeSide> &sides, int f, int g, int point)
{
    const TubeSide &a = sides[static_cast<std::size_t>(f)], &b = sides[static_cast<std::size_t>(g)];
    if (!a.same_rings(b))
        return false;
    const std::span<const int> pf = layer.polygon_points(static_cast<std::size_t>(f));
    const std::span<const int> pg = layer.polygon_points(static_cast<std::size_t>(g));
    for (std::size_t i = 0; i < pf.size(); ++i)
        for (std::size_t j = 0; j < pg.size(); ++j)
            if (pf[i] == point && pg[j] == point && share_edge(layer, f, i, g, j, point))
                return true;
    return false;
}

// The first corner at which a polygon names a point it names.
std::size_t corner_at(std::span<const int> poly, int point)
{
    std::size_t c = 0;
    while (poly[c] != point)
        ++c;
    return c;
}

// l: v's length, where it is known already.
std::array<float, 3> unit_or_up(const host::Vec3 &v, double l)
{
    if (!(l > 1e-30) || !std::isfinite(l))
        return {0.0f, 1.0f, 0.0f};
    return {static_cast<float>(v.x / l), static_cast<float>(v.y / l), static_cast<float>(v.z / l)};
}

std::array<float, 3> unit_or_up(const host::Vec3 &v) { return unit_or_up(v, length(v)); }

// A face's unit normal from its Newell vector, (0, 0, 0) for a face too small to have a direction.
host::Vec3 unit_of(const host::Vec3 &area)
{
    const double l = length(area);
    if (l > 1e-30 && std::isfinite(l))
        return {area.x / l, area.y / l, area.z / l};
    return {};
}

host::Vec3 difference(const host::Vec3 &q, const host::Vec3 &p) { return {q.x - p.x, q.y - p.y, q.z - p.z}; }

// The unit normal of a triangle with edges e1 and e2 from one corner, (0, 0, 0) for a triangle
// too small to have a direction.
host::Vec3 unit_cross(const host::Vec3 &e1, const host::Vec3 &e2)
{
    const host::Vec3 n{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
    const double l = length(n);
    if (!(l > 1e-30) || !std::isfinite(l))
        return {};
    return {n.x / l, n.y / l, n.z / l};
}

host::Vec3 triangle_normal(const host::Layer &layer, std::span<const int> poly, std::size_t a,
                           std::size_t b, std::size_t c)
{
    const host::Vec3 *points = layer.points.data();
    const host::Vec3 &p = points[poly[a]];
    return unit_cross(difference(points[poly[b]], p), difference(points[poly[c]], p));
}

double dot(const host::Vec3 &a, const host::Vec3 &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Whether two normals are the same to the bit (0 and -0 are not: each is written as it is).
bool same_bits(const std::array<float, 3> &a, const std::array<float, 3> &b)
{
    return std::memcmp(a.data(), b.data(), sizeof a) == 0;
}

// Whether a corner normal leans a right angle or more away from its triangle's own normal
// (none for a triangle too small to have a direction: triangle_normal gives it (0, 0, 0), any
// other a unit vector). A normal that leans back this little or less still counts as leaning
// away: the normals are written as floats, or as bytes in a compressed file, and positions on
// a grid.
bool leans_away(const std::array<float, 3> &normal, const host::Vec3 &own)
{
    const bool flat = own.x != 0.0 || own.y != 0.0 || own.z != 0.0;
    const host::Vec3 given{normal[0], normal[1], normal[2]};
    return flat && dot(given, own) <= lean_margin;
}

// Whether a corner of a triangle with normal own (as triangle_normal gives it) leans away from
// it: leans_away for its three corners at once.
bool any_leans(const host::Vec3 &own, const std::array<float, 3> &a, const std::array<float, 3> &b,
               const std::array<float, 3> &c)
{
    if (own.x == 0.0 && own.y == 0.0 && own.z == 0.0)
        return false;
    const auto leans = [&own](const std::array<float, 3> &normal) {
        return dot(host::Vec3{normal[0], normal[1], normal[2]}, own) <= lean_margin;
    };
    return leans(a) || leans(b) || leans(c);
}

// The cut of a polygon of three or more corners (face: its Newell vector) as triangulate
// reads it: a fan from the first corner, or for a quad from whichever corner leaves both
// halves facing most nearly the polygon's way; and whether a corner normal of its triangles
// leans away from the triangle's own. one_normal: every corner has the same normal (a leaf's
// face normal), so each half asks once whether it leans.
std::uint8_t cut_polygon(const host::Layer &layer, std::size_t polygon, const host::Vec3 &face,
                         const CornerNormals::Corners &corner_normal, bool one_normal = false)
{
    const std::span<const int> poly = layer.polygon_points(polygon);
    const std::size_t n = poly.size();
    if (n == 4) {
        // A quad's four possible halves, (0 1 2), (0 2 3) and (1 2 3), (1 3 0), share their
        // diagonals' edges.
        const host::Vec3 *points = layer.points.data();
        const host::Vec3 &p0 = points[poly[0]], &p1 = points[poly[1]], &p2 = points[poly[2]], &p3 = points[poly[3]];
        const host::Vec3 from0to2 = difference(p2, p0), from1to3 = difference(p3, p1);
        const host::Vec3 h0 = unit_cross(difference(p1, p0), from0to2);
        const host::Vec3 h1 = unit_cross(from0to2, difference(p3, p0));
        const host::Vec3 h2 = unit_cross(difference(p2, p1), from1to3);
        const host::Vec3 h3 = unit_cross(from1to3, difference(p0, p1));
        const double from0 = std::min(dot(face, h0), dot(face, h1));
        const double from1 = std::min(dot(face, h2), dot(face, h3));
        if (one_normal) {
            const std::array<float, 3> &c = corner_normal[0];
            if (from1 > from0)
                return leans_away(c, h2) || leans_away(c, h3) ? CornerNormals::from_second | CornerNormals::leans
                                                              : CornerNormals::from_second;
            return leans_away(c, h0) || leans_away(c, h1) ? CornerNormals::leans : 0;
        }
        const std::array<float, 3> &c0 = corner_normal[0], &c1 = corner_normal[1], &c2 = corner_normal[2],
                                   &c3 = corner_normal[3];
        if (from1 > from0)
            return any_leans(h2, c1, c2, c3) || any_leans(h3, c1, c3, c0)
                       ? CornerNormals::from_second | CornerNormals::leans
                       : CornerNormals::from_second;
        return any_leans(h0, c0, c1, c2) || any_leans(h1, c0, c2, c3) ? CornerNormals::leans : 0;
    }
    for (std::size_t i = 1; i + 1 < n; ++i)
        if (any_leans(triangle_normal(layer, poly, 0, i, i + 1), corner_normal[0], corner_normal[i],
                      corner_normal[i + 1]))
            return CornerNormals::leans;
    return 0;
}

// The normal a point's faces of one run take: the sum of the runs within the crease angle,
// its length and its unit vector, and where the unit vector is held.
struct Smoothed {
    host::Vec3 sum;
    double length = 0.0;
    std::array<float, 3> normal{};
    std::uint32_t held = 0;
};

} // namespace

CornerNormals corner_normals(const host::Layer &layer, const Materials &materials, double crease_degrees)
{
    const double degrees = std::clamp(std::isfinite(crease_degrees) ? crease_degrees : 60.0, 0.0, 180.0);
    const double min_cos = std::cos(degrees * 3.14159265358979323846 / 180.0);
    const std::size_t polygons = layer.polygon_count();

    // The polygons that take part in smoothing (leaves and faces of fewer than three corners
    // take none), and one past the last of them and of the points before it: a tree's layer
    // holds its wood first and its leaves after, so what is kept per smooth polygon or point
    // below needs room up to the last of them only (or up to the last point of a leaf among the
    // wood, which has no faces to smooth).
    std::vector<char> smooth(polygons, 0);
    std::size_t smooth_polygons = 0;
    for (std::size_t p = 0; p < polygons; ++p) {
        if (layer.corner_offset[p + 1] - layer.corner_offset[p] < 3 ||
            materials.list[static_cast<std::size_t>(materials.of_polygon[p])].leaf)
            continue;
        smooth[p] = 1;
        smooth_polygons = p + 1;
    }
    int last_point = -1;
    for (std::size_t k = 0, end = layer.corner_offset[smooth_polygons]; k < end; ++k)
        last_point = std::max(last_point, layer.corners[k]);
    const auto smooth_points = static_cast<std::size_t>(last_point + 1);

    CornerNormals out;
    out.first = std::span<const std::size_t>(layer.corner_offset.data(), polygons);
    // After the last smooth polygon every polygon takes one normal at all its corners.
    out.one_from = smooth_polygons;
    // The normals held: first up, which the corners of polygons too small to have a face keep;
    // then a place for each point, for the first normal its faces take (at most points of a
    // tube, all its faces take that one); then every other normal a point's faces take, and the
    // face normal of every polygon before one_from that takes no part in smoothing. Room is
    // made at once for about as many more as there are points, so that they seldom move.
    const std::size_t corners = layer.corner_offset[smooth_polygons];
    const std::size_t more_from = 1 + smooth_points;
    if (corners + more_from > std::numeric_limits<std::uint32_t>::max()) // far more than memory holds
        throw std::bad_alloc();
    out.normal_index.assign(corners, 0);
    out.normal.reserve(more_from + smooth_points);
    out.normal.assign(more_from, {0.0f, 1.0f, 0.0f});
    const auto hold_more = [&out](const std::array<float, 3> &normal) {
        out.normal.push_back(normal);
        return static_cast<std::uint32_t>(out.normal.size() - 1);
    };
    out.cut.assign((polygons + 3) / 4, 0);
    // A leaf's corners all take its own face normal, and its cut is found at once: nothing of
    // it is kept.
    const auto face_only = [&layer, &out, &hold_more](std::size_t p, std::size_t corners, const host::Vec3 &face) {
        const std::array<float, 3> own = unit_or_up(unit_of(face));
        if (p < out.one_from)
            std::fill_n(out.normal_index.begin() + static_cast<std::ptrdiff_t>(out.first[p]), corners, hold_more(own));
        else
            out.one_normal[p - out.one_from] = own;
        const std::uint8_t cut = cut_polygon(layer, p, face, CornerNormals::all(own), true);
        out.cut[p / 4] = static_cast<std::uint8_t>(out.cut[p / 4] | cut << (p % 4 * 2));
    };
    // The smooth polygons' area-weighted face normals are kept, and the faces around every
    // point: each point's count goes two places on and its running start one place on, so that
    // the fill itself leaves every point's start in place. Only the faces are kept, not their
    // corners at the point (a large tree has millions of corners): a face's few points tell the
    // corner again when the point comes.
    std::vector<host::Vec3> area(smooth_polygons);
    std::vector<int> start(smooth_points + 2, 0);
    for (std::size_t p = 0; p < smooth_polygons; ++p) {
        const std::span<const int> poly = layer.polygon_points(p);
        if (poly.size() < 3)
            continue;
        const host::Vec3 face = newell(layer, poly);
        if (!smooth[p]) {
            face_only(p, poly.size(), face);
            continue;
        }
        area[p] = face;
        for (int point : poly)
            start[static_cast<std::size_t>(point) + 2] += 1;
    }
    // Scratch per point below is sized once for the most faces any point has.
    int most_faces = 0;
    for (std::size_t i = 2; i < start.size(); ++i) {
        most_faces = std::max(most_faces, start[i]);
        start[i] += start[i - 1];
    }
    std::vector<int> around(static_cast<std::size_t>(start.back()));
    for (std::size_t p = 0; p < smooth_polygons; ++p)
        if (smooth[p])
            for (const int point : layer.polygon_points(p))
                around[static_cast<std::size_t>(start[static_cast<std::size_t>(point) + 1]++)] = static_cast<int>(p);
    start.pop_back();

    // The sides of a tube between two rings: quads whose two ends each lie on one ring of
    // "RM_branch" v. Two such sides between the same pair of rings that share an edge run along
    // one tube, and that edge is smooth whatever its angle: a square tube shades round.
    std::vector<TubeSide> sides = tube_sides(layer, smooth, smooth_polygons);

    // Per point: its faces (once each), joined into runs of tube sides, and each run's summed
    // area-weighted normal.
    const auto most = static_cast<std::size_t>(most_faces);
    std::vector<int> faces(most), run(most);
    std::vector<std::size_t> heads(most); // the first face of each run, in order
    std::vector<int> at(most);     // per face, its corner at the point
    std::vector<char> twice(most); // per face, whether it names the point more than once
    std::vector<host::Vec3> run_sum(most), run_unit(most);
    std::vector<Smoothed> smoothed(most);
    for (std::size_t point = 0; point + 1 < start.size(); ++point) {
        const auto first = static_cast<std::size_t>(start[point]), end = static_cast<std::size_t>(start[point + 1]);
        if (first == end)
            continue;
        // Where a normal the point's faces take is held: the point's own place for the first.
        const auto hold = [&](bool point_s_own, const std::array<float, 3> &normal) {
            if (point_s_own) {
                out.normal[1 + point] = normal;
                return static_cast<std::uint32_t>(1 + point);
            }
            return hold_more(normal);
        };
        std::size_t k = 0;
        for (std::size_t e = first; e < end; ++e) {
            const int f = around[e];
            if (k > 0 && faces[k - 1] == f) { // a face that names the point twice counts once
                twice[k - 1] = 1;
                continue;
            }
            faces[k] = f;
            at[k] = static_cast<int>(corner_at(layer.polygon_points(static_cast<std::size_t>(f)), static_cast<int>(point)));
            twice[k] = 0;
            ++k;
        }
        for (std::size_t i = 0; i < k; ++i)
            run[i] = static_cast<int>(i);
        const auto find = [&](int i) {
            while (run[static_cast<std::size_t>(i)] != i)
                i = run[static_cast<std::size_t>(i)];
            return i;
        };
        for (std::size_t i = 0; i < k; ++i) {
            const TubeSide &a = sides[static_cast<std::size_t>(faces[i])];
            if (!a.tube())
                continue;
            for (std::size_t j = i + 1; j < k; ++j) {
                const TubeSide &b = sides[static_cast<std::size_t>(faces[j])];
                if (!a.same_rings(b))
                    continue;
                const bool joined = twice[i] || twice[j]
                                        ? one_run(layer, sides, faces[i], faces[j], static_cast<int>(point))
                                        : share_edge(layer, faces[i], static_cast<std::size_t>(at[i]), faces[j],
                                                     static_cast<std::size_t>(at[j]), static_cast<int>(point));
                if (joined) {
                    const int x = find(static_cast<int>(i)), y = find(static_cast<int>(j));
                    run[static_cast<std::size_t>(std::max(x, y))] = std::min(x, y);
                }
            }
        }
        // Each run's first face (the run's own index: runs join under their lower one) heads
        // it, ahead of the faces that add to its sum.
        std::size_t runs = 0;
        for (std::size_t i = 0; i < k; ++i) {
            run[i] = find(static_cast<int>(i));
            if (run[i] == static_cast<int>(i)) {
                heads[runs++] = i;
                run_sum[i] = host::Vec3{};
            }
            const host::Vec3 &w = area[static_cast<std::size_t>(faces[i])];
            host::Vec3 &sum = run_sum[static_cast<std::size_t>(run[i])];
            sum.x += w.x;
            sum.y += w.y;
            sum.z += w.z;
        }
        // A run's direction is only ever set against another run's: a point with one run (most
        // points of a tube) needs none.
        if (runs > 1)
            for (std::size_t h = 0; h < runs; ++h) {
                const host::Vec3 &sum = run_sum[heads[h]];
                const double l = length(sum);
                run_unit[heads[h]] = l > 1e-30 && std::isfinite(l) ? host::Vec3{sum.x / l, sum.y / l, sum.z / l} : host::Vec3{};
            }
        // Every run at this point within the crease angle of a run (its own included): each
        // leans less than the angle away, so their sum leans less than a right angle away for
        // any angle below 90 degrees. The faces of one run share it.
        for (std::size_t h = 0; h < runs; ++h) {
            const std::size_t r = heads[h];
            const host::Vec3 &mine = run_unit[r];
            host::Vec3 sum;
            for (std::size_t o = 0; o < runs; ++o) {
                const std::size_t g = heads[o];
                const host::Vec3 &other = run_unit[g];
                if (g != r && mine.x * other.x + mine.y * other.y + mine.z * other.z < min_cos)
                    continue;
                sum.x += run_sum[g].x;
                sum.y += run_sum[g].y;
                sum.z += run_sum[g].z;
            }
            const double l = length(sum);
            smoothed[r] = {sum, l, unit_or_up(sum, l), 0};
            // Held once at the point: runs within the crease angle of each other mostly sum
            // the same runs to the same normal.
            std::size_t same = 0;
            while (same < h && !same_bits(smoothed[heads[same]].normal, smoothed[r].normal))
                ++same;
            if (same < h)
                smoothed[r].held = smoothed[heads[same]].held;
            else
                smoothed[r].held = hold(h == 0, smoothed[r].normal);
        }
        for (std::size_t i = 0; i < k; ++i) {
            const host::Vec3 own = unit_of(area[static_cast<std::size_t>(faces[i])]);
            const Smoothed &mine = smoothed[static_cast<std::size_t>(run[i])];
            const host::Vec3 &sum = mine.sum;
            // Near or past a right angle the sum may turn away from the face (a run can bend
            // round further than the crease angle): keep the face's own.
            const std::uint32_t held = sum.x * own.x + sum.y * own.y + sum.z * own.z <= lean_margin * mine.length
                                           ? hold(false, unit_or_up(own))
                                           : mine.held;
            // Every corner of the face at the point, a face that names it twice at both.
            const auto f = static_cast<std::size_t>(faces[i]);
            std::uint32_t *corner = out.normal_index.data() + out.first[f];
            corner[at[i]] = held;
            if (twice[i]) {
                const std::span<const int> poly = layer.polygon_points(f);
                for (std::size_t c = static_cast<std::size_t>(at[i]) + 1; c < poly.size(); ++c)
                    if (poly[c] == static_cast<int>(point))
                        corner[c] = held;
            }
        }
    }
    std::vector<int>().swap(around);
    std::vector<int>().swap(start);
    std::vector<TubeSide>().swap(sides);
    // How each smooth polygon is cut into triangles, while its face normal is at hand.
    for (std::size_t p = 0; p < smooth_polygons; ++p)
        if (smooth[p])
            out.cut[p / 4] = static_cast<std::uint8_t>(out.cut[p / 4] | cut_polygon(layer, p, area[p], out.of(p)) << (p % 4 * 2));
    // The leaves after the wood, once the wood's working arrays are let go of: a large tree's
    // leaves take their room.
    std::vector<host::Vec3>().swap(area);
    std::vector<char>().swap(smooth);
    out.one_normal.assign(polygons - smooth_polygons, {0.0f, 1.0f, 0.0f});
    for (std::size_t p = smooth_polygons; p < polygons; ++p)
        if (const std::span<const int> poly = layer.polygon_points(p); poly.size() >= 3)
            face_only(p, poly.size(), newell(layer, poly));
    return out;
}

void triangulate(const host::Layer &layer, std::size_t polygon, const CornerNormals &normals,
                 std::vector<Triangle> &out)
{
    const std::span<const int> poly = layer.polygon_points(polygon);
    const std::size_t n = poly.size();
    if (n < 3) {
        out.clear();
        return;
    }
    // Normals made by corner_normals know their cut; others are cut here.
    const std::uint8_t cut = normals.knows_cut(polygon)
                                 ? normals.cut_of(polygon)
                                 : cut_polygon(layer, polygon, newell(layer, poly), normals.of(polygon));
    const std::size_t start = cut & CornerNormals::from_second;
    const bool leans = (cut & CornerNormals::leans) != 0;
    const CornerNormals::Corners corner_normal = normals.of(polygon);
    // Every field of every triangle is written below: the caller's triangles of the polygon
    // before (as many, for a tree's quads) are overwritten in place.
    out.resize(n - 2);
    for (std::size_t i = 1; i + 1 < n; ++i) {
        // start is 0 or 1: only the last corner of the last triangle comes round to 0.
        const std::size_t corners[3] = {start, start + i, start + i + 1 == n ? 0 : start + i + 1};
        Triangle &triangle = out[i - 1];
        for (std::size_t k = 0; k < 3; ++k)
            triangle[k] = {corners[k], corner_normal[corners[k]]};
        if (leans) {
            const host::Vec3 own = triangle_normal(layer, poly, corners[0], corners[1], corners[2]);
            bool turned = false;
            std::array<float, 3> own_unit{};
            for (TriangleCorner &corner : triangle)
                if (leans_away(corner.normal, own)) {
                    if (!turned)
                        own_unit = unit_or_up(own);
                    turned = true;
                    corner.normal = own_unit;
                }
        }
    }
}

} // namespace exporter
