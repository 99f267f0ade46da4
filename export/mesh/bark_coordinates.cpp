#include "export/mesh/bark_coordinates.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <numbers>
#include <numeric>

#include "export/materials/materials.h"

namespace exporter {

namespace {

// A triangle's stretch, inlined where the bark measures every polygon.
[[gnu::always_inline]] inline bool stretch_of(const host::Vec3 &p0, const host::Vec3 &p1, const host::Vec3 &p2,
                                              const std::array<double, 2> &t0, const std::array<double, 2> &t1,
                                              const std::array<double, 2> &t2, TextureStretch &out)
{
    const double e1[3] = {p1.x - p0.x, p1.y - p0.y, p1.z - p0.z};
    const double e2[3] = {p2.x - p0.x, p2.y - p0.y, p2.z - p0.z};
    const double du1 = t1[0] - t0[0], dv1 = t1[1] - t0[1];
    const double du2 = t2[0] - t0[0], dv2 = t2[1] - t0[1];
    const double det = du1 * dv2 - du2 * dv1;
    // Caps and collars map a face onto a line of the texture: they say nothing about its scale.
    if (!(std::fabs(det) >= 1e-12))
        return false;
    double per_u = 0.0, per_v = 0.0;
    for (std::size_t k = 0; k < 3; ++k) {
        const double du = (e1[k] * dv2 - e2[k] * dv1) / det; // the surface's change per unit u
        const double dv = (e2[k] * du1 - e1[k] * du2) / det;
        per_u += du * du;
        per_v += dv * dv;
    }
    const double c[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    out.per_u = std::sqrt(per_u);
    out.per_v = std::sqrt(per_v);
    out.area = 0.5 * std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    return std::isfinite(out.per_u) && std::isfinite(out.per_v) && std::isfinite(out.area) && out.area > 0.0;
}

} // namespace

bool texture_stretch(const host::Vec3 &p0, const host::Vec3 &p1, const host::Vec3 &p2,
                     const std::array<double, 2> &t0, const std::array<double, 2> &t1,
                     const std::array<double, 2> &t2, TextureStretch &out)
{
    return stretch_of(p0, p1, p2, t0, t1, t2, out);
}

namespace {

constexpr float nothing = std::numeric_limits<float>::quiet_NaN();

// Points joined into groups, each group known by its smallest point.
struct Groups {
    std::vector<int> parent;
    explicit Groups(std::size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    int find(int i)
    {
        while (parent[static_cast<std::size_t>(i)] != i)
            i = parent[static_cast<std::size_t>(i)] = parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(i)])];
        return i;
    }
    void join(int a, int b) { joined(find(a), b); }
    // Joins b's group to the group whose smallest point is root; the smallest point of both.
    int joined(int root, int b)
    {
        b = find(b);
        if (root == b)
            return root;
        parent[static_cast<std::size_t>(std::max(root, b))] = std::min(root, b);
        return std::min(root, b);
    }
    // Points every point straight at its group's smallest point: a point's parent is never
    // larger than the point, so in rising order each parent is already settled. After this,
    // parent[i] is find(i) until the next join.
    void settle()
    {
        for (std::size_t i = 0; i < parent.size(); ++i)
            parent[i] = parent[static_cast<std::size_t>(parent[i])];
    }
};

// One edge seen from one end: the point at the other end, how much t grows toward it, and
// whether t may pass over it to this end and from it to the other. A large tree has two of these
// for every side of every woody polygon, tens of millions: the edge's length is not kept but
// found by the walk from the two ends' positions, once for each edge it passes over to a point
// not yet done (about one end of every edge). The point and its two flags share one word: a
// layer holds far fewer than 2^30 points (each takes 24 bytes).
struct Link {
    std::uint32_t to_and_flags; // the point, then takes and gives in the two top bits
    float step;

    static constexpr std::uint32_t takes_bit = 1u << 30, gives_bit = 1u << 31;
    static Link make(int to, float step, bool takes, bool gives)
    {
        return {static_cast<std::uint32_t>(to) | (takes ? takes_bit : 0u) | (gives ? gives_bit : 0u), step};
    }
    std::size_t to() const { return to_and_flags & (takes_bit - 1); }
    bool takes() const { return (to_and_flags & takes_bit) != 0; }
    bool gives() const { return (to_and_flags & gives_bit) != 0; }
};
static_assert(sizeof(Link) == 8);

// The length of an edge over the bark, the same from either end: each difference is the
// other's negated exactly.
double edge_length(const host::Vec3 &from, const host::Vec3 &to)
{
    return std::hypot(to.x - from.x, to.y - from.y, to.z - from.z);
}

// The layer as the bark sees it: woody polygons, their "RM_branch" values, and what each
// polygon says about t.
class BarkLayer {
public:
    BarkLayer(const host::Layer &layer, const Materials &materials)
        : layer_(layer), map_(layer, ID_TXUV, branch_texture), polygons_(layer.polygon_count()),
          points_(layer.points.size())
    {
        on_bark_.assign(polygons_, 0);
        if (!map_.present())
            return;
        // A tree has a handful of materials and many polygons: each material is asked once.
        std::vector<char> woody_material(materials.list.size()), root_material(materials.list.size());
        for (std::size_t m = 0; m < materials.list.size(); ++m) {
            woody_material[m] = woody(materials.list[m]);
            root_material[m] = materials.list[m].name == root_surface;
        }
        const std::size_t *offset = layer.corner_offset.data();
        const int *of_polygon = materials.of_polygon.data();
        for (std::size_t p = 0; p < polygons_; ++p) {
            on_bark_[p] = woody_material[static_cast<std::size_t>(of_polygon[p])] && offset[p + 1] - offset[p] >= 3;
            if (on_bark_[p])
                bark_polygons_ = p + 1;
        }
        const std::size_t bark_polygons = bark_polygons_;
        any_ = bark_polygons > 0;
        if (!any_)
            return;
        // Each woody corner's value read once: the walks below visit every corner several times.
        // A tree's layer holds its wood first and its leaves after: what is kept per polygon or
        // corner needs room up to the last polygon on the bark only.
        // A tree's layer holds its woody points first and its leaves' after: what follows needs
        // room for the points up to the last woody one only (or up to the last of a leaf among
        // the wood, whose points are then passed over as points off the bark are).
        int last = -1;
        for (std::size_t k = 0, end = offset[bark_polygons]; k < end; ++k)
            last = std::max(last, layer.corners[k]);
        points_ = static_cast<std::size_t>(last) + 1;
        corner_uv_.assign(offset[bark_polygons], {0.0f, 0.0f});
        // Room for a t per point as well: the walk takes it over once the links are made.
        t_per_v_.reserve(std::max(bark_polygons, points_));
        t_per_v_.assign(bark_polygons, nothing);
        static const float origin[2] = {0.0f, 0.0f};
        for (std::size_t p = 0; p < bark_polygons; ++p) {
            if (!on_bark_[p])
                continue;
            const std::span<const int> poly = layer.polygon_points(p);
            std::array<float, 2> *uv = corner_uv_.data() + offset[p];
            if (!layer.has_corner_values(p)) {
                for (std::size_t c = 0; c < poly.size(); ++c)
                    map_.own_value(poly[c], 2, uv[c].data());
            } else {
                for (std::size_t c = 0; c < poly.size(); ++c)
                    copy_value(map_.at(poly[c], static_cast<int>(p)), origin, 2, uv[c].data());
            }
            measure(p, poly, uv, root_material[static_cast<std::size_t>(of_polygon[p])]);
        }
        // A point's own v: its continuous value (seams differ in u alone).
        v_of_.assign(points_, nothing);
        if (const host::VertexMap *map = layer.find_vmap(ID_TXUV, branch_texture); map && map->count > 0) {
            const std::size_t stored = std::min(points_, map->stored.size());
            const auto stride = static_cast<std::size_t>(map->stride);
            for (std::size_t point = 0; point < stored; ++point)
                if (map->stored[point] >= 3) // a value of two components or more
                    v_of_[point] = map->values[point * stride + 1];
        }
        // The roots' points: their bark runs against their v.
        on_root_.assign(points_, 0);
        for (std::size_t p = 0; p < bark_polygons; ++p)
            if (on_bark_[p] && root_material[static_cast<std::size_t>(of_polygon[p])])
                for (const int point : layer.polygon_points(p))
                    on_root_[static_cast<std::size_t>(point)] = 1;
    }

    bool any() const { return any_; }
    std::size_t points() const { return points_; } // the layer's points up to the last woody one
    std::size_t polygons() const { return polygons_; }
    // One past the last polygon on the bark: the leaves that follow the wood are passed over.
    std::size_t bark_polygons() const { return bark_polygons_; }
    std::size_t corners() const { return corner_uv_.size(); } // up to the last polygon on the bark
    bool on_bark(std::size_t p) const { return on_bark_[p]; }
    bool on_root(std::size_t point) const { return on_root_[point]; }
    float v(std::size_t point) const { return v_of_[point]; }
    // p before bark_polygons().
    bool measured(std::size_t p) const { return !std::isnan(t_per_v_[p]); }
    double t_per_v(std::size_t p) const { return t_per_v_[p]; }
    // Woody polygon p's circumference, 0 where it is not measured: measured again where it is
    // asked for (the few polygons round the starts), not kept for the millions.
    double circumference(std::size_t p) const
    {
        const Stretch s = stretch(polygon(p), uv(p));
        return s.measured() ? s.circumference() : 0.0;
    }
    std::span<const int> polygon(std::size_t p) const { return layer_.polygon_points(p); }
    const host::Vec3 &position(int point) const { return layer_.points[static_cast<std::size_t>(point)]; }
    std::vector<char> take_on_bark() { return std::move(on_bark_); }
    // What only the links need (t per v, whether a polygon is measured) and what only the
    // starts need (the points' own v), let go of once they are found: a large tree's walk needs
    // the room. t per v's room holds a value per point: the walk's t takes it over.
    std::vector<double> take_t_per_v() { return std::move(t_per_v_); }
    void forget_v() { std::vector<float>().swap(v_of_); }
    // The corners' values, for the bark coordinates to be written over in place.
    std::vector<std::array<float, 2>> take_corner_uv() { return std::move(corner_uv_); }
    // The "RM_branch" values of woody polygon p's corners, its first first.
    const std::array<float, 2> *uv(std::size_t p) const { return corner_uv_.data() + layer_.corner_offset[p]; }

    // The point's own u (a seam's first corner has 0 there).
    double own_u(int point) const
    {
        float value[2];
        map_.own_value(point, 2, value);
        return value[0];
    }

private:
    // A polygon's stretch summed over its triangles: width per unit of u (the circumference)
    // by triangle, length per unit of v by area.
    struct Stretch {
        double per_u = 0.0, per_v = 0.0, area = 0.0, triangles = 0.0;
        bool measured() const { return per_u > 0.0 && per_v > 0.0 && area > 0.0; }
        // The plain mean over the polygon's triangles: a side of a tapering tube then spans
        // halfway between its two rings, where a mean by area would lean to the wider one.
        double circumference() const { return per_u / triangles; }
    };
    Stretch stretch(std::span<const int> poly, const std::array<float, 2> *uv) const
    {
        const auto value = [&](std::size_t c) { return std::array<double, 2>{uv[c][0], uv[c][1]}; };
        Stretch sum;
        const std::array<double, 2> t0 = value(0);
        const host::Vec3 &p0 = position(poly[0]);
        for (std::size_t i = 1; i + 1 < poly.size(); ++i) {
            TextureStretch s;
            if (stretch_of(p0, position(poly[i]), position(poly[i + 1]), t0, value(i), value(i + 1), s)) {
                sum.per_u += s.per_u;
                sum.per_v += s.per_v * s.area;
                sum.triangles += 1.0;
                sum.area += s.area;
            }
        }
        return sum;
    }

    // How much t grows per unit of v on polygon p: its length per unit of v over its width per
    // unit of u (its circumference), both measured on the polygon; roots count v away from the
    // trunk, so t runs against it there.
    void measure(std::size_t p, std::span<const int> poly, const std::array<float, 2> *uv, bool root)
    {
        const Stretch s = stretch(poly, uv);
        if (s.measured())
            t_per_v_[p] = (root ? -1.0 : 1.0) * (s.per_v / s.area) / s.circumference();
    }

    const host::Layer &layer_;
    MapView map_;
    std::size_t polygons_, points_, bark_polygons_ = 0;
    bool any_ = false;
    std::vector<char> on_bark_, on_root_;
    std::vector<float> v_of_;
    // Per corner up to the last polygon on the bark: a woody polygon's value, else (0, 0).
    std::vector<std::array<float, 2>> corner_uv_;
    std::vector<double> t_per_v_; // per polygon up to the last on the bark
};

// Every edge of a measured polygon says how t changes from one end to the other: by the
// difference of the polygon's v at its two corners times its t per v (0 around a ring); an edge
// two polygons share says it twice. A corner whose polygon sees its point at another v than the
// point's own (a fork's stub sees the far end of its parent's box at the v the side branch
// starts from) passes its t on but takes none over that polygon's edges: the stub starts from
// its parent, not the parent from its stub. Per point, its links in start[point] ..
// start[point + 1], in the order the polygons and their corners come. Each point's count goes
// two places on and its running start one place on, so that the fill itself leaves every point's
// start in place, without a copy of them all.
struct Links {
    // Two links at most per woody corner, counted in 32 bits: a layer with more than 2^31 woody
    // corners would need far more memory than the links of a tree that fits (refused below).
    std::vector<std::uint32_t> start;
    std::unique_ptr<Link[]> list; // every one written by the fill below: left unset until then

    // A measured polygon's links join its points into one piece of bark: pieces joins each
    // point to the polygon's first, which joins the same.
    Links(const BarkLayer &bark, Groups &pieces) : start(bark.points() + 2, 0)
    {
        if (bark.corners() > std::numeric_limits<std::uint32_t>::max() / 2)
            throw std::bad_alloc();
        for (std::size_t p = 0; p < bark.bark_polygons(); ++p) {
            if (!bark.measured(p))
                continue;
            const std::span<const int> poly = bark.polygon(p);
            int root = pieces.find(poly[0]);
            for (std::size_t c = 0; c < poly.size(); ++c) {
                const int a = poly[c], b = poly[c + 1 < poly.size() ? c + 1 : 0];
                if (a != b) {
                    start[static_cast<std::size_t>(a) + 2] += 1;
                    start[static_cast<std::size_t>(b) + 2] += 1;
                }
                if (c > 0)
                    root = pieces.joined(root, a);
            }
        }
        for (std::size_t i = 1; i < start.size(); ++i)
            start[i] += start[i - 1];
        list = std::make_unique_for_overwrite<Link[]>(start.back());
        std::uint32_t *fill = start.data() + 1;
        // A point without a v of its own has only its polygons' to go by.
        const auto own = [&](int point, double v) {
            const float held = bark.v(static_cast<std::size_t>(point));
            return std::isnan(held) || static_cast<float>(v) == held;
        };
        for (std::size_t p = 0; p < bark.bark_polygons(); ++p) {
            if (!bark.measured(p))
                continue;
            const std::span<const int> poly = bark.polygon(p);
            const std::array<float, 2> *uv = bark.uv(p);
            const double t_per_v = bark.t_per_v(p);
            // Each corner ends two edges: whether it sees its point's own v is asked once.
            const bool first_own = own(poly[0], uv[0][1]);
            bool a_own = first_own;
            for (std::size_t c = 0; c < poly.size(); ++c) {
                const std::size_t next = c + 1 < poly.size() ? c + 1 : 0;
                const int a = poly[c], b = poly[next];
                const double va = uv[c][1], vb = uv[next][1];
                const bool b_own = next == 0 ? first_own : own(b, vb);
                if (a != b) {
                    const auto step = static_cast<float>(t_per_v * (vb - va));
                    list[fill[static_cast<std::size_t>(a)]++] = Link::make(b, step, a_own, b_own);
                    list[fill[static_cast<std::size_t>(b)]++] = Link::make(a, -step, b_own, a_own);
                }
                a_own = b_own;
            }
        }
        start.pop_back();
    }

    bool any(std::size_t point) const { return start[point] < start[point + 1]; }
};

// The points still to take their t, nearest first, ties to the smaller point: a distance over
// the bark is never negative (nor -0), so its bits order as the distance does, and the pair
// (distance, point) packs into one number that orders as the pair.
class Nearest {
public:
    void push(float distance, int point)
    {
        heap_.push_back(std::uint64_t{std::bit_cast<std::uint32_t>(distance)} << 32 | static_cast<std::uint32_t>(point));
        std::push_heap(heap_.begin(), heap_.end(), std::greater<>());
    }
    bool empty() const { return heap_.empty(); }
    // The point that pop gives next unless a nearer one is pushed first; -1 when none is held.
    int next_point() const { return heap_.empty() ? -1 : static_cast<int>(heap_.front() & 0xffffffffu); }
    // The point that pop gives after that one, as far as the heap now says; -1 when none.
    int point_after_next() const
    {
        if (heap_.size() < 2)
            return -1;
        const std::uint64_t after = heap_.size() < 3 ? heap_[1] : std::min(heap_[1], heap_[2]);
        return static_cast<int>(after & 0xffffffffu);
    }
    std::pair<float, int> pop()
    {
        std::pop_heap(heap_.begin(), heap_.end(), std::greater<>());
        const std::uint64_t top = heap_.back();
        heap_.pop_back();
        return {std::bit_cast<float>(static_cast<std::uint32_t>(top >> 32)), static_cast<int>(top & 0xffffffffu)};
    }

private:
    std::vector<std::uint64_t> heap_;
};

// Where the bark starts, t is 0 (a trunk's base ring), except that a root collar hangs below its
// trunk's base. A collar group: the starts joined by edges of bark polygons (the skirt between
// the base ring and the collar), with the trunk's base in it.
struct Collar {
    double base_x = 0.0, base_y = 0.0, base_z = 0.0, base_count = 0.0;
    double around = 0.0, around_weight = 0.0;
    double collar_y = 0.0, collar_count = 0.0;
    // The base ring's corners by their angle round the trunk, with their u.
    std::vector<std::pair<double, double>> corners;

    double angle(const host::Vec3 &p) const
    {
        return std::atan2(p.z - base_z / base_count, p.x - base_x / base_count);
    }
    // The u a point of the skirt lies at: the base ring's u, followed round the trunk.
    double u_at(const host::Vec3 &p) const
    {
        const double a = angle(p);
        const std::size_t n = corners.size();
        for (std::size_t i = 0; i < n; ++i) {
            const auto &[a0, u0] = corners[i];
            const auto &[a1, u1] = corners[(i + 1) % n];
            const double turn = 2.0 * std::numbers::pi;
            const double span = i + 1 < n ? a1 - a0 : a1 + turn - a0;
            const double along = a >= a0 ? a - a0 : a + turn - a0;
            if (along <= span && span > 0.0) {
                double du = u1 - u0;
                du -= std::round(du); // the short way round the seam
                return u0 + du * along / span;
            }
        }
        return corners.empty() ? 0.0 : corners.front().second;
    }
};

} // namespace

BarkCoordinates bark_coordinates(const host::Layer &layer, const Materials &materials)
{
    BarkCoordinates out;
    BarkLayer bark(layer, materials);
    if (!bark.any())
        return out;
    const std::size_t points = bark.points(), polygons = bark.polygons(), bark_polygons = bark.bark_polygons();
    Groups pieces(points);
    const Links links(bark, pieces);

    // The starts of each linked piece of bark: its points of the smallest v.
    pieces.settle();
    const std::vector<int> &piece = pieces.parent;
    std::vector<float> lowest(points, std::numeric_limits<float>::infinity());
    for (std::size_t point = 0; point < points; ++point)
        if (links.any(point) && !std::isnan(bark.v(point))) {
            float &low = lowest[static_cast<std::size_t>(piece[point])];
            low = std::min(low, bark.v(point));
        }
    std::vector<char> start(points, 0);
    std::vector<int> starts; // the same, in rising order: a few rings among all the points
    for (std::size_t point = 0; point < points; ++point)
        if (links.any(point) && bark.v(point) == lowest[static_cast<std::size_t>(piece[point])]) {
            start[point] = 1;
            starts.push_back(static_cast<int>(point));
        }
    std::vector<float>().swap(lowest);
    std::vector<int>().swap(pieces.parent);
    // Per point, t and what the walk below holds of it (its distance over the bark from the
    // nearest start as far as found, whether its t is settled), each in an array of its own:
    // t takes over the room of t per v, the rest fits where the starts' working arrays were.
    std::vector<double> t = bark.take_t_per_v();
    t.assign(points, 0.0);
    bark.forget_v();

    Groups groups(points);
    // In the same pass, the girth of every measured polygon at each of its corners on a start
    // off the roots, in turn, for the collar groups below once they are joined.
    std::vector<std::pair<int, double>> girths;
    for (std::size_t p = 0; p < bark_polygons; ++p) {
        if (!bark.on_bark(p))
            continue;
        const std::span<const int> poly = bark.polygon(p);
        double girth = -1.0; // measured when first asked for
        for (std::size_t c = 0; c < poly.size(); ++c) {
            const int a = poly[c], b = poly[c + 1 < poly.size() ? c + 1 : 0];
            if (!start[static_cast<std::size_t>(a)])
                continue;
            if (start[static_cast<std::size_t>(b)])
                groups.join(a, b);
            if (bark.on_root(static_cast<std::size_t>(a)))
                continue;
            if (girth < 0.0)
                girth = bark.circumference(p);
            if (girth > 0.0)
                girths.emplace_back(a, girth);
        }
    }
    std::map<int, Collar> collars;
    for (const int point : starts) {
        Collar &c = collars[groups.find(point)];
        const host::Vec3 &at = bark.position(point);
        if (bark.on_root(static_cast<std::size_t>(point))) {
            c.collar_y += at.y;
            c.collar_count += 1.0;
        } else {
            c.base_x += at.x;
            c.base_y += at.y;
            c.base_z += at.z;
            c.base_count += 1.0;
        }
    }
    for (const auto &[point, girth] : girths) {
        Collar &c = collars[groups.find(point)];
        c.around += girth;
        c.around_weight += 1.0;
    }
    for (const int point : starts)
        if (!bark.on_root(static_cast<std::size_t>(point))) {
            Collar &c = collars[groups.find(point)];
            c.corners.emplace_back(c.angle(bark.position(point)), bark.own_u(point));
        }
    for (auto &[group, c] : collars)
        std::sort(c.corners.begin(), c.corners.end());

    for (const int point : starts) {
        if (!bark.on_root(static_cast<std::size_t>(point)))
            continue;
        const Collar &c = collars[groups.find(point)];
        if (c.base_count > 0.0 && c.collar_count > 0.0 && c.around > 0.0) {
            const double drop = c.base_y / c.base_count - c.collar_y / c.collar_count;
            t[static_cast<std::size_t>(point)] = -std::max(drop, 0.0) / (c.around / c.around_weight);
        }
    }

    // From the starts outward, nearest first: each point takes the mean of what its links from
    // the points already done say.
    {
        std::vector<float> distance(points, std::numeric_limits<float>::infinity());
        std::vector<char> done(points, 0);
        Nearest queue; // by distance over the bark from the starts, then point
        for (const int point : starts) {
            distance[static_cast<std::size_t>(point)] = 0.0f;
            queue.push(0.0f, point);
        }
        const Link *list = links.list.get();
        const std::uint32_t *first = links.start.data();
        while (!queue.empty()) {
            const auto [d, at_point] = queue.pop();
            const auto point = static_cast<std::size_t>(at_point);
            if (done[point] || d > distance[point])
                continue;
            done[point] = 1;
            // A large tree's points lie far apart in memory and the walk goes from one to the
            // next by distance: what the next point holds is asked for now, so that it comes in
            // while this one's links are read, and where the point after it finds its links (so
            // that its links can be asked for in turn).
            if (const int next = queue.next_point(); next >= 0) {
                __builtin_prefetch(&distance[static_cast<std::size_t>(next)]);
                __builtin_prefetch(&list[first[static_cast<std::size_t>(next)]]);
            }
            if (const int after = queue.point_after_next(); after >= 0)
                __builtin_prefetch(&first[static_cast<std::size_t>(after)]);
            const std::size_t begin = first[point], end = first[point + 1];
            const host::Vec3 &at = bark.position(at_point);
            // One pass over the point's links: those from points already done say what t is
            // here, those to points still to come may bring them nearer.
            double sum = 0.0, count = 0.0;
            for (std::size_t l = begin; l < end; ++l) {
                const Link &link = list[l];
                const std::size_t there = link.to();
                if (done[there]) {
                    if (link.takes()) {
                        // The link from the other end says t here is its t less the step to it.
                        sum += t[there] - link.step;
                        count += 1.0;
                    }
                    continue;
                }
                if (!link.gives())
                    continue;
                const auto further = static_cast<float>(d + edge_length(at, bark.position(static_cast<int>(there))));
                if (further < distance[there]) {
                    distance[there] = further;
                    queue.push(further, static_cast<int>(there));
                }
            }
            if (!start[point])
                t[point] = sum / count;
        }
    }

    out.first = std::span<const std::size_t>(layer.corner_offset.data(), polygons);
    // Written over the corners' own values, polygon by polygon; (0, 0) stays off the bark.
    out.uv = bark.take_corner_uv();
    std::vector<double> u;
    for (std::size_t p = 0; p < bark_polygons; ++p) {
        if (!bark.on_bark(p))
            continue;
        const std::span<const int> poly = bark.polygon(p);
        std::array<float, 2> *uv = out.uv.data() + out.first[p];
        // The skirt from a trunk's base down to its roots' collar joins starts only; the tool's
        // u there fans the collar's values out to the base ring's, so its bark follows the base
        // ring's u round the trunk instead.
        bool skirt = std::all_of(poly.begin(), poly.end(), [&](int point) { return start[static_cast<std::size_t>(point)]; });
        if (skirt) {
            bool base = false, collar = false;
            for (int point : poly)
                (bark.on_root(static_cast<std::size_t>(point)) ? collar : base) = true;
            skirt = base && collar;
        }
        if (!skirt) {
            // Off the skirt a corner keeps its own u.
            for (std::size_t c = 0; c < poly.size(); ++c)
                uv[c][1] = static_cast<float>(t[static_cast<std::size_t>(poly[c])]);
            continue;
        }
        u.clear();
        for (int point : poly) {
            const Collar &c = collars[groups.find(point)];
            const bool on_base = !bark.on_root(static_cast<std::size_t>(point));
            double value = on_base ? bark.own_u(point) : c.u_at(bark.position(point));
            // Kept within half a turn of the polygon's first corner, across the seam.
            if (!u.empty())
                value -= std::round(value - u.front());
            u.push_back(value);
        }
        for (std::size_t c = 0; c < poly.size(); ++c)
            uv[c] = {static_cast<float>(u[c]), static_cast<float>(t[static_cast<std::size_t>(poly[c])])};
    }
    out.on_bark = bark.take_on_bark();
    return out;
}

void fit_bark_to_surface(BarkCoordinates &bark, const host::Layer &layer)
{
    if (bark.empty())
        return;
    // A subdivided surface has some millions of triangles: the corners are read straight from
    // their arrays.
    const std::size_t polygons = layer.polygon_count();
    const host::Vec3 *points = layer.points.data();
    double along = 0.0, around = 0.0;
    for (std::size_t p = 0; p < polygons; ++p) {
        if (!bark.on_bark[p])
            continue;
        const std::span<const int> poly = layer.polygon_points(p);
        const std::array<float, 2> *uv = bark.uv.data() + bark.first[p];
        const auto value = [&](std::size_t c) { return std::array<double, 2>{uv[c][0], uv[c][1]}; };
        const host::Vec3 &p0 = points[static_cast<std::size_t>(poly[0])];
        const std::array<double, 2> t0 = value(0);
        for (std::size_t i = 1; i + 1 < poly.size(); ++i) {
            TextureStretch s;
            if (stretch_of(p0, points[static_cast<std::size_t>(poly[i])], points[static_cast<std::size_t>(poly[i + 1])],
                           t0, value(i), value(i + 1), s)) {
                along += s.per_v * s.area;
                around += s.per_u * s.area;
            }
        }
    }
    if (!(along > 0.0) || !(around > 0.0) || !std::isfinite(along / around))
        return;
    const double stretch = along / around;
    for (std::size_t p = 0; p < polygons; ++p)
        if (bark.on_bark[p]) {
            std::array<float, 2> *uv = bark.uv.data() + bark.first[p];
            for (std::size_t c = 0, n = layer.polygon_points(p).size(); c < n; ++c)
                uv[c][1] = static_cast<float>(uv[c][1] * stretch);
        }
}

} // namespace exporter
