#include "export/gltf/gltf_collect.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>

#include "common/index_cast.h"
#include "export/gltf/tangents.h"
#include "export/gltf/tiny_gltf_setup.h"
#include "export/materials/materials.h"

namespace exporter {
namespace {

// The dim floats at a and b are the same bits: -0 and 0 (and two NaNs) stay apart exactly as the
// maps hold them.
bool same(const float *a, const float *b, std::size_t dim)
{
    std::uint32_t differ = 0;
    for (std::size_t i = 0; i < dim; ++i)
        differ |= std::bit_cast<std::uint32_t>(a[i]) ^ std::bit_cast<std::uint32_t>(b[i]);
    return differ == 0;
}

template <std::size_t Dim> bool same(const float *a, const float *b) { return same(a, b, Dim); }

// Points from which the collector lets go of its per-point first vertices after each primitive
// (4 MiB of them): below, clearing the few a primitive used costs less than having them again.
constexpr std::size_t let_go_points_from = std::size_t{1} << 20;

// Vertices the streams grow by when the corners' room runs out.
constexpr std::size_t vertex_block = 4096;

// The point's own value of a continuous map as a source's stream holds it: Dim floats into slot,
// 0 for what it lacks (as MapView::own_value), the texture's v flipped.
template <std::size_t Dim> [[gnu::always_inline]] inline void own_into(const MapView::Own &map, std::size_t p, bool flip_v, float *slot)
{
    if (p < map.stored_count && map.stored[p] != 0) {
        const std::size_t have = map.stored[p] - 1u;
        const float *value = map.values + p * map.stride;
        if (have >= Dim) [[likely]] {
            for (std::size_t i = 0; i < Dim; ++i)
                slot[i] = value[i];
        } else {
            for (std::size_t i = 0; i < Dim; ++i)
                slot[i] = i < have ? value[i] : 0.0f;
        }
    } else {
        for (std::size_t i = 0; i < Dim; ++i)
            slot[i] = 0.0f;
    }
    if constexpr (Dim >= 2)
        if (flip_v)
            slot[1] = 1.0f - slot[1];
}

template <std::size_t Dim> void own_into(const MapView::Own &map, std::size_t p, bool flip_v, float *slot, std::size_t dim)
{
    if constexpr (Dim > 1)
        if (dim < Dim)
            return own_into<Dim - 1>(map, p, flip_v, slot, dim);
    own_into<Dim>(map, p, flip_v, slot);
}

// What a map holds over the points a primitive's vertices come from, found once per map: a
// full value at every one of them (a tube's range and thickness, a leaf's textures), no value at
// any (the wood's growth vectors on the leaves), or a mix that each vertex checks for itself.
enum class Held { mixed, full, none };

// The smallest and largest point the primitive's vertices come from.
struct PointSpan {
    std::size_t first = 0, last = 0;
};

PointSpan point_span(const PrimitiveArrays &prim)
{
    int first = prim.vertex_point.empty() ? 0 : prim.vertex_point[0], last = first;
    for (const int point : prim.vertex_point) {
        first = std::min(first, point);
        last = std::max(last, point);
    }
    return {static_cast<std::size_t>(first), static_cast<std::size_t>(last)};
}

// Reading every point of the span costs less than checking each vertex's point only while the
// span is not much wider than the primitive: points of other primitives may lie in between.
constexpr std::size_t span_per_vertex = 4;

// What the map holds over the span, for values of dim components.
Held held_over(const MapView::Own &map, PointSpan span, std::size_t dim, std::size_t vertices)
{
    if (vertices == 0 || span.last - span.first >= span_per_vertex * vertices)
        return Held::mixed;
    if (span.first >= map.stored_count)
        return Held::none;
    const std::size_t end = std::min(span.last + 1, map.stored_count);
    // Per point 0 for no value, else 1 + its dimension: the fewest and most components held.
    std::uint8_t least = 255, most = 0;
    for (std::size_t p = span.first; p < end; ++p) {
        least = std::min(least, map.stored[p]);
        most = std::max(most, map.stored[p]);
    }
    if (most == 0)
        return Held::none;
    if (end == span.last + 1 && least > dim)
        return Held::full;
    return Held::mixed;
}

// own_into where the map is known to hold a full value at the point, or none.
template <std::size_t Dim, Held H> [[gnu::always_inline]] inline void held_into(const MapView::Own &map, std::size_t p, bool flip_v, float *slot)
{
    if constexpr (H == Held::mixed) {
        own_into<Dim>(map, p, flip_v, slot);
    } else {
        for (std::size_t i = 0; i < Dim; ++i)
            slot[i] = H == Held::full ? map.values[p * map.stride + i] : 0.0f;
        if constexpr (Dim >= 2)
            if (flip_v)
                slot[1] = 1.0f - slot[1];
    }
}

// own_into for every vertex (of a plain polygon, when OnlyPlain): one map at a time, its width,
// whether it flips and what it holds over the primitive's points known, so that a value costs its
// reads and writes alone.
template <std::size_t Dim, bool FlipV, bool OnlyPlain, Held H>
void fill_own(const MapView::Own &map, const PrimitiveArrays &prim, const char *plain, float *column)
{
    const std::size_t count = prim.vertex_count();
    const int *points = prim.vertex_point.data();
    for (std::size_t v = 0; v < count; ++v) {
        if constexpr (OnlyPlain)
            if (!plain[v])
                continue;
        held_into<Dim, H>(map, static_cast<std::size_t>(points[v]), FlipV, column + v * Dim);
    }
}

template <std::size_t Dim, bool FlipV, bool OnlyPlain>
void fill_own(const MapView::Own &map, Held held, const PrimitiveArrays &prim, const char *plain, float *column)
{
    switch (held) {
    case Held::full: return fill_own<Dim, FlipV, OnlyPlain, Held::full>(map, prim, plain, column);
    case Held::none: return fill_own<Dim, FlipV, OnlyPlain, Held::none>(map, prim, plain, column);
    default: return fill_own<Dim, FlipV, OnlyPlain, Held::mixed>(map, prim, plain, column);
    }
}

template <std::size_t Dim>
void fill_own(const MapView::Own &map, Held held, bool flip_v, const PrimitiveArrays &prim, const char *plain, float *column)
{
    if (plain)
        (flip_v ? fill_own<Dim, true, true> : fill_own<Dim, false, true>)(map, held, prim, plain, column);
    else
        (flip_v ? fill_own<Dim, true, false> : fill_own<Dim, false, false>)(map, held, prim, plain, column);
}

// The map's values, dim floats a vertex, into column for every vertex (of a plain polygon, when
// plain is given); span: the primitive's points.
void fill_own(const MapView::Own &map, int dim, bool flip_v, const PrimitiveArrays &prim, PointSpan span,
              const char *plain, float *column)
{
    const Held held = held_over(map, span, static_cast<std::size_t>(dim), prim.vertex_count());
    switch (dim) {
    case 1: return fill_own<1>(map, held, flip_v, prim, plain, column);
    case 2: return fill_own<2>(map, held, flip_v, prim, plain, column);
    default: return fill_own<3>(map, held, flip_v, prim, plain, column);
    }
}

// The wind weights of count vertices from their range and thickness.
void fill_wind(const float *range, const float *thick, std::size_t count, float *wind)
{
    for (std::size_t v = 0; v < count; ++v) {
        const std::array<float, 2> weights = wind_weights(range[v], thick[v]);
        wind[v * 2] = weights[0];
        wind[v * 2 + 1] = weights[1];
    }
}

} // namespace

PrimitiveCollector::PrimitiveCollector(const PreparedMesh &mesh)
    : layer_(*mesh.layer), materials_(mesh.materials), normals_(mesh.normals), bark_(mesh.bark),
      wind_colours_(mesh.wind_colours), relief_(!mesh.textures.bark_normal.empty())
{
    // The primitive of each (material, kind), -1 until its first polygon.
    std::vector<int> &index_of = primitive_of_kind_;
    index_of.assign(materials_.list.size() * 3, -1);
    primitive_of_.assign(layer_.polygon_count(), 0);
    for (std::size_t p = 0; p < layer_.polygon_count(); ++p) {
        const std::size_t n = layer_.polygon_points(p).size();
        if (n == 0)
            continue;
        const int kind = n == 1 ? 0 : n == 2 ? 1 : 2;
        const int material = materials_.of_polygon[p];
        int &slot = index_of[ramulon::index_cast<std::size_t>(material) * 3 + ramulon::index_cast<std::size_t>(kind)];
        if (slot < 0) {
            slot = ramulon::index_cast<int>(plans_.size());
            const int mode = kind == 0 ? TINYGLTF_MODE_POINTS : kind == 1 ? TINYGLTF_MODE_LINE : TINYGLTF_MODE_TRIANGLES;
            plans_.push_back(plan(material, mode));
        }
        primitive_of_[p] = slot + 1 < many_primitives ? static_cast<std::uint8_t>(slot + 1) : many_primitives;
        Plan &plan = plans_[ramulon::index_cast<std::size_t>(slot)];
        if (plan.corners == 0)
            plan.first_polygon = p;
        plan.end_polygon = p + 1;
        plan.corners += n;
        plan.triangle_corners += kind == 2 ? (n - 2) * 3 : n;
    }
}

PrimitiveCollector::Plan PrimitiveCollector::plan(int material, int mode) const
{
    const Material &m = materials_.list[ramulon::index_cast<std::size_t>(material)];
    Plan plan;
    plan.material = material;
    plan.mode = mode;
    plan.normals = mode == TINYGLTF_MODE_TRIANGLES;
    // Returns which source the map is, -1 when the layer lacks it.
    auto add = [&](const char *attribute, HostID type, const std::string &name, int dim, bool flip_v) {
        assert(dim >= 1 && ramulon::index_cast<std::size_t>(dim) <= max_source_dim);
        MapView map(layer_, type, name);
        if (!map.present())
            return -1;
        plan.sources.push_back(Source{attribute, map, dim, flip_v, false, map.split()});
        return ramulon::index_cast<int>(plan.sources.size()) - 1;
    };
    add("TEXCOORD_0", ID_TXUV, texture_map(m), 2, true);
    if (m.leaf) {
        add("TEXCOORD_1", ID_TXUV, atlas_texture, 2, true);
    } else if (woody(m) && !bark_.empty() && mode == TINYGLTF_MODE_TRIANGLES) {
        plan.bark_source = ramulon::index_cast<int>(plan.sources.size());
        plan.sources.push_back(Source{"TEXCOORD_1", {}, 2, true, true});
        plan.tangents = relief_;
    }
    plan.range_source = add("_RM_RANGE", ID_WGHT, "RM_range", 1, false);
    plan.thick_source = add("_RM_THICK", ID_WGHT, "RM_thick", 1, false);
    add("_RM_VECTORS", ID_RMVT, "RM_vectors", 3, false);
    add("_RM_DENSITY", ID_RMLD, "RM_density", 2, false);
    plan.wind = plan.range_source >= 0 || plan.thick_source >= 0;
    plan.colours = wind_colours_ && plan.wind;
    plan.colour_stream = plan.normals ? 2 : 1; // after POSITION and NORMAL
    plan.wind_stream = plan.colour_stream + (plan.colours ? 1 : 0);
    plan.sources_stream = plan.wind_stream + (plan.wind ? 1 : 0);
    return plan;
}

std::size_t PrimitiveCollector::streams(std::size_t k) const
{
    const Plan &plan = plans_[k];
    return 1 + (plan.normals ? 1 : 0) + (plan.colours ? 1 : 0) + (plan.wind ? 1 : 0) + plan.sources.size() +
           (plan.tangents ? 1 : 0);
}

std::size_t PrimitiveCollector::most_bytes(std::size_t k) const
{
    const Plan &plan = plans_[k];
    std::size_t floats = 3 + (plan.normals ? 3 : 0) + (plan.colours ? 3 : 0) + (plan.wind ? 2 : 0) +
                         (plan.tangents ? 4 : 0);
    for (const Source &source : plan.sources)
        floats += ramulon::index_cast<std::size_t>(source.dim);
    return (plan.corners * floats + plan.triangle_corners) * 4 + 4 * (streams(k) + 1);
}

bool PrimitiveCollector::found_with_vertices(const Plan &plan, std::size_t i)
{
    if (i == 0)
        return false; // filled even where the tangents were made of them
    if (plan.normals && i == 1)
        return true;
    if (i < plan.sources_stream)
        return false; // the wind weights and their colour
    const Source &source = plan.sources[i - plan.sources_stream];
    return source.bark || source.split;
}

PrimitiveArrays PrimitiveCollector::collect(std::size_t k)
{
    PrimitiveArrays out = find_vertices(k);
    make_tangents(k, out);
    fill(k, out);
    return out;
}

void PrimitiveCollector::make_tangents(std::size_t k, PrimitiveArrays &prim) const
{
    const Plan &plan = plans_[k];
    if (!plan.tangents)
        return;
    // The positions are read straight off the points: POSITION is filled once, with the other
    // values read off the points, in the vertices' final order.
    add_tangents(prim, layer_.points.data(), plan.sources_stream + ramulon::index_cast<std::size_t>(plan.bark_source));
}

// A polygon marked many_primitives, asked of its surface and kind.
bool PrimitiveCollector::in_primitive(std::size_t polygon, std::size_t k) const
{
    const std::size_t n = layer_.polygon_points(polygon).size();
    const std::size_t kind = n == 1 ? 0 : n == 2 ? 1 : 2;
    const auto material = ramulon::index_cast<std::size_t>(materials_.of_polygon[polygon]);
    return primitive_of_kind_[material * 3 + kind] == ramulon::index_cast<int>(k);
}

// Only polygons of three or more corners make triangles, so only those are asked.
inline bool PrimitiveCollector::keeps_corner_normals(std::size_t polygon) const
{
    return normals_.knows_cut(polygon) && (normals_.cut_of(polygon) & CornerNormals::leans) == 0;
}

PrimitiveArrays PrimitiveCollector::find_vertices(std::size_t k)
{
    const Plan &plan = plans_[k];
    PrimitiveArrays out;
    out.material = plan.material;
    out.mode = plan.mode;
    out.streams.push_back({"POSITION", 3, {}});
    if (plan.normals)
        out.streams.push_back({"NORMAL", 3, {}});
    if (plan.colours)
        out.streams.push_back({"COLOR_0", 3, {}});
    if (plan.wind)
        out.streams.push_back({"_WIND", 2, {}});
    for (const Source &source : plan.sources)
        out.streams.push_back({source.attribute, source.dim, {}});
    // Room for the most vertices the corners can make, left unset. Pages of it that no vertex
    // reaches are never touched, so a tube's shared corners cost address space, not memory.
    room_ = 0;
    collected_ = k;
    make_room(out, plan.corners);
    out.vertex_point.reserve(plan.corners);
    out.indices.reserve(plan.triangle_corners);
    if (!first_of_point_) {
        first_of_point_.reset(static_cast<int *>(std::calloc(layer_.points.size() + 1, sizeof(int))));
        if (!first_of_point_)
            throw std::bad_alloc();
    }

    // The vertex of each polygon corner with its own corner normal, found once however many
    // triangles share it (a triangle that turns a corner's normal to its own face looks again).
    // Tubes and leaves are quads, so a polygon's corners mostly fit a few slots on the stack.
    constexpr std::size_t few = 8;
    std::array<std::int64_t, few> few_corners;
    std::vector<std::int64_t> many_corners;
    std::vector<Triangle> triangles;
    const std::uint8_t mine = k + 1 < many_primitives ? static_cast<std::uint8_t>(k + 1) : many_primitives;
    for (std::size_t p = plan.first_polygon; p < plan.end_polygon; ++p) {
        if (primitive_of_[p] != mine || (mine == many_primitives && !in_primitive(p, k)))
            continue;
        const std::span<const int> poly = layer_.polygon_points(p);
        // Most polygons hold no polygon-specific value: their corners read the points' own.
        const int own = layer_.has_corner_values(p) ? ramulon::index_cast<int>(p) : -1;
        if (out.triangles()) {
            std::int64_t *corner_vertex = few_corners.data();
            if (poly.size() > few) {
                many_corners.resize(poly.size());
                corner_vertex = many_corners.data();
            }
            if (keeps_corner_normals(p)) {
                add_fan(out, p, own, poly, corner_vertex);
                continue;
            }
            triangulate(layer_, p, normals_, triangles);
            std::fill_n(corner_vertex, poly.size(), -1);
            for (const Triangle &triangle : triangles)
                for (const TriangleCorner &c : triangle) {
                    const std::array<float, 3> &own_normal = normals_.at(p, c.corner);
                    const bool plain = same<3>(own_normal.data(), c.normal.data());
                    std::int64_t &known = corner_vertex[c.corner];
                    if (!plain || known < 0) {
                        const std::uint32_t v = vertex(out, p, own, c.corner, poly[c.corner], c.normal.data());
                        if (!plain) {
                            out.indices.push_back(v);
                            continue;
                        }
                        known = v;
                    }
                    out.indices.push_back(ramulon::index_cast<std::uint32_t>(known));
                }
        } else {
            for (std::size_t c = 0; c < poly.size(); ++c)
                out.indices.push_back(vertex(out, p, own, c, poly[c], nullptr));
        }
    }
    // The streams written so far hold exactly the vertices made.
    for (std::size_t i = 0; i < out.streams.size(); ++i)
        if (columns_[i])
            out.streams[i].values.resize(out.vertex_count() * ramulon::index_cast<std::size_t>(out.streams[i].dim));
    // A vertex of a plain polygon holds its point's own values of the split maps.
    const PointSpan span = splits_.empty() ? PointSpan{} : point_span(out);
    for (std::size_t i = 0; i < plan.sources.size(); ++i) {
        const Source &source = plan.sources[i];
        if (!source.split)
            continue;
        fill_own(source.map.own(), source.dim, source.flip_v, out, span, plain_.data(),
                 out.streams[plan.sources_stream + i].values.data());
    }
    // The chains served only to share vertices. The points' first vertices are cleared for the
    // next primitive, or on a large layer let go, so that a large primitive is put in vertex
    // order without them (a primitive later has them again as zeroed pages, only where its
    // points lie).
    if (layer_.points.size() >= let_go_points_from)
        first_of_point_.reset();
    else
        for (int point : out.vertex_point)
            first_of_point_[ramulon::index_cast<std::size_t>(point)] = 0;
    decltype(next_of_point_)().swap(next_of_point_);
    decltype(plain_)().swap(plain_);
    columns_.clear();
    return out;
}

// The fan triangulate cuts the polygon into, from its first corner or (a quad cut along the other
// diagonal) its second: the corners come into use in turn from there, round to the first.
void PrimitiveCollector::add_fan(PrimitiveArrays &out, std::size_t polygon, int own, std::span<const int> poly,
                                 std::int64_t *corner_vertex)
{
    const std::size_t n = poly.size();
    const std::size_t start = normals_.cut_of(polygon) & CornerNormals::from_second;
    const CornerNormals::Corners normal = normals_.of(polygon);
    // Most polygons hold no polygon-specific value: their corners are found without asking.
    if (own < 0) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t c = start + i < n ? start + i : start + i - n;
            corner_vertex[c] = vertex(out, polygon, -1, c, poly[c], normal[c].data());
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t c = start + i < n ? start + i : start + i - n;
            corner_vertex[c] = vertex(out, polygon, own, c, poly[c], normal[c].data());
        }
    }
    for (std::size_t i = 1; i + 1 < n; ++i) {
        out.indices.push_back(ramulon::index_cast<std::uint32_t>(corner_vertex[start]));
        out.indices.push_back(ramulon::index_cast<std::uint32_t>(corner_vertex[start + i]));
        out.indices.push_back(ramulon::index_cast<std::uint32_t>(corner_vertex[start + i + 1 == n ? 0 : start + i + 1]));
    }
}

void PrimitiveCollector::make_room(PrimitiveArrays &out, std::size_t vertices)
{
    room_ = vertices;
    next_of_point_.resize(room_);
    plain_.resize(room_);
    columns_.clear();
    const Plan &plan = plans_[collected_];
    for (std::size_t i = 0; i < out.streams.size(); ++i) {
        if (!found_with_vertices(plan, i)) {
            columns_.push_back(nullptr);
            continue;
        }
        VertexStream &stream = out.streams[i];
        stream.values.resize(room_ * ramulon::index_cast<std::size_t>(stream.dim));
        columns_.push_back(stream.values.data());
    }
    splits_.clear();
    for (std::size_t i = 0; i < plan.sources.size(); ++i)
        if (plan.sources[i].split)
            splits_.push_back({&plan.sources[i], columns_[plan.sources_stream + i],
                               ramulon::index_cast<std::size_t>(plan.sources[i].dim)});
    normal_column_ = plan.normals ? columns_[1] : nullptr;
    bark_column_ = plan.bark_source >= 0
                       ? columns_[plan.sources_stream + ramulon::index_cast<std::size_t>(plan.bark_source)]
                       : nullptr;
}

// One polygon corner's values of the split maps, written into vertex slot at of their streams: the
// polygon-specific value, else the point's own; zeros for what the value lacks ((0, 0) before the
// flip for texture coordinates). own: the polygon, or -1 when it holds no polygon-specific value.
void PrimitiveCollector::read_split(std::size_t at, int own, int point) const
{
    for (const SplitColumn &split : splits_) {
        const Source &source = *split.source;
        float *slot = split.column + at * split.dim;
        if (const auto value = own < 0 ? std::nullopt : source.map.polygon_value(point, own)) {
            for (std::size_t k = 0; k < split.dim; ++k)
                slot[k] = k < value->size() ? (*value)[k] : 0.0f;
            if (source.flip_v)
                slot[1] = 1.0f - slot[1];
        } else {
            own_into<max_source_dim>(source.map.own(), ramulon::index_cast<std::size_t>(point), source.flip_v, slot, split.dim);
        }
    }
}

// The vertex of one polygon corner: an earlier vertex of the same point with the same values,
// or a new one. normal: the corner's normal, on triangles only. Two corners of a point hold the
// same values of every map without polygon-specific values (the point's own), so they are
// compared by their normal, bark and the split maps alone; two corners of plain polygons by their
// normal and bark. A new vertex gets only those here (the split maps' values only when read off a
// polygon that holds some): the rest are filled in once every vertex is found (find_vertices, fill). The
// wind weights (and colour) are made of the range and thickness, so they are left out of the
// comparison too.
inline std::uint32_t PrimitiveCollector::vertex(PrimitiveArrays &out, std::size_t polygon, int own,
                                         std::size_t corner, int point, const float *normal)
{
    const std::size_t at = out.vertex_point.size();
    if (at == room_) {
        // A corner turned to two triangles' own normals may make one vertex more than the
        // corners: rare, so the streams grow a block at a time past them.
        make_room(out, at + vertex_block);
    }
    const bool plain = own < 0;
    bool read = !plain;
    if (read)
        read_split(at, own, point);
    float *const bark_column = bark_column_;
    float bark[2] = {0.0f, 0.0f};
    if (bark_column) {
        // The bark column is made on woody triangles only, every polygon of which is on the bark.
        const std::array<float, 2> &uv = bark_.at_on_bark(polygon, corner);
        bark[0] = uv[0];
        bark[1] = 1.0f - uv[1];
    }
    int &first = first_of_point_[ramulon::index_cast<std::size_t>(point)];
    // The chain holds 1 + each vertex, so that the points' zeroed firsts end it at once.
    for (int link = first; link > 0; link = next_of_point_[ramulon::index_cast<std::size_t>(link - 1)]) {
        const int v = link - 1;
        const auto held = ramulon::index_cast<std::size_t>(v);
        if (normal && !same<3>(normal_column_ + held * 3, normal))
            continue;
        if (bark_column && !same<2>(bark_column + held * 2, bark))
            continue;
        if (plain && plain_[held])
            return ramulon::index_cast<std::uint32_t>(v);
        if (!read)
            read_split(at, own, point);
        read = true;
        if (same_split(held, at, point))
            return ramulon::index_cast<std::uint32_t>(v);
    }
    out.vertex_point.push_back(point);
    next_of_point_[at] = first;
    plain_[at] = plain ? 1 : 0;
    first = ramulon::index_cast<int>(at) + 1;
    if (normal) {
        float *slot = normal_column_ + at * 3;
        slot[0] = normal[0];
        slot[1] = normal[1];
        slot[2] = normal[2];
    }
    if (bark_column) {
        bark_column[at * 2] = bark[0];
        bark_column[at * 2 + 1] = bark[1];
    }
    return ramulon::index_cast<std::uint32_t>(at);
}

// Vertex held holds the split maps' values read into slot at. A plain vertex's values are not in
// its slots yet: they are its point's own.
bool PrimitiveCollector::same_split(std::size_t held, std::size_t at, int point) const
{
    for (const SplitColumn &split : splits_) {
        const float *theirs = split.column + held * split.dim;
        float own[max_source_dim];
        if (plain_[held]) {
            own_into<max_source_dim>(split.source->map.own(), ramulon::index_cast<std::size_t>(point),
                                     split.source->flip_v, own, split.dim);
            theirs = own;
        }
        if (!same(theirs, split.column + at * split.dim, split.dim))
            return false;
    }
    return true;
}

void PrimitiveCollector::fill_positions(PrimitiveArrays &out) const
{
    const std::size_t count = out.vertex_count();
    out.streams[0].values.resize(count * 3);
    float *position = out.streams[0].values.data();
    for (std::size_t v = 0; v < count; ++v) {
        const host::Vec3 &p = layer_.points[ramulon::index_cast<std::size_t>(out.vertex_point[v])];
        position[v * 3] = static_cast<float>(p.x);
        position[v * 3 + 1] = static_cast<float>(p.y);
        position[v * 3 + 2] = static_cast<float>(p.z);
    }
}

// The values find_vertices left out, each read off the vertex's point alone: the positions, the
// maps without polygon-specific values, and the wind weights made of the range and thickness.
void PrimitiveCollector::fill(std::size_t k, PrimitiveArrays &out) const
{
    for (std::size_t i = 0; i < out.streams.size(); ++i)
        fill_stream(k, i, out);
}

void PrimitiveCollector::fill_stream(std::size_t k, std::size_t i, PrimitiveArrays &out) const
{
    const Plan &plan = plans_[k];
    if (i >= plan.sources_stream + plan.sources.size() || found_with_vertices(plan, i))
        return; // the tangents, or a stream found with the vertices
    if (i == 0)
        return fill_positions(out);
    const std::size_t count = out.vertex_count();
    VertexStream &stream = out.streams[i];
    const std::size_t size = count * ramulon::index_cast<std::size_t>(stream.dim);
    if (i >= plan.sources_stream) {
        if (stream.values.size() == size)
            return; // filled already, for the wind weights
        // A map without polygon-specific values holds the point's own value at every corner.
        const Source &source = plan.sources[i - plan.sources_stream];
        stream.values.resize(size);
        return fill_own(source.map.own(), source.dim, source.flip_v, out, point_span(out), nullptr,
                        stream.values.data());
    }
    // The wind weights, or their colour, come before the range and thickness they are made of:
    // those are filled first, in their own place, where they wait for their turn.
    const auto column_of = [&](int source) -> const float * {
        if (source < 0)
            return nullptr;
        const std::size_t at = plan.sources_stream + ramulon::index_cast<std::size_t>(source);
        fill_stream(k, at, out);
        return out.streams[at].values.data();
    };
    const float *range = column_of(plan.range_source), *thick = column_of(plan.thick_source);
    stream.values.resize(size);
    float *column = stream.values.data();
    const bool colour = plan.colours && i == plan.colour_stream;
    if (range && thick && !colour) {
        // The usual primitive, both maps held and no colour: a loop without a test per vertex.
        fill_wind(range, thick, count, column);
        return;
    }
    for (std::size_t v = 0; v < count; ++v) {
        const std::array<float, 2> weights = wind_weights(range ? range[v] : 0.0f, thick ? thick[v] : 0.0f);
        if (colour) {
            column[v * 3] = weights[0];
            column[v * 3 + 1] = weights[1];
            column[v * 3 + 2] = 0.0f;
        } else {
            column[v * 2] = weights[0];
            column[v * 2 + 1] = weights[1];
        }
    }
}

} // namespace exporter
