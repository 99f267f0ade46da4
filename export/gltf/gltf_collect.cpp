#include "export/gltf/gltf_collect.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>

#include "common/index_cast.h"
#include "export/gltf/tiny_gltf_setup.h"
#include "export/materials/materials.h"

namespace exporter {
namespace {

// Vertex v of the stream holds these dim floats. Compared as bits, so that -0 and 0 (and two
// NaNs) stay apart exactly as the maps hold them.
bool holds(const VertexStream &stream, std::size_t v, const float *values)
{
    const auto dim = ramulon::index_cast<std::size_t>(stream.dim);
    const float *held = stream.values.data() + v * dim;
    for (std::size_t i = 0; i < dim; ++i)
        if (std::bit_cast<std::uint32_t>(held[i]) != std::bit_cast<std::uint32_t>(values[i]))
            return false;
    return true;
}

// Vertices the streams grow by at a time while a primitive is collected.
constexpr std::size_t vertex_block = 4096;


// Per vertex, the direction bark u grows in and which way t grows, for a normal map over the
// bark coordinates: TANGENT (x, y, z along u, square to the vertex normal; w = 1 when t grows
// along normal x tangent, else -1, so that the map's y runs up the picture, toward growing t).
// Summed over the vertex's triangles by area; a vertex whose triangles map onto a line of the
// bark takes any direction square to its normal.
void add_tangents(PrimitiveArrays &prim, std::size_t uv_stream)
{
    const std::vector<float> &xyz = prim.streams[0].values, &normal = prim.streams[1].values;
    const std::vector<float> &uv = prim.streams[uv_stream].values;
    const std::size_t count = prim.vertex_count();
    std::vector<double> along_u(count * 3, 0.0), along_t(count * 3, 0.0);
    for (std::size_t i = 0; i + 2 < prim.indices.size(); i += 3) {
        const std::size_t a = prim.indices[i], b = prim.indices[i + 1], c = prim.indices[i + 2];
        double e1[3], e2[3];
        for (std::size_t k = 0; k < 3; ++k) {
            e1[k] = static_cast<double>(xyz[b * 3 + k]) - xyz[a * 3 + k];
            e2[k] = static_cast<double>(xyz[c * 3 + k]) - xyz[a * 3 + k];
        }
        // t is stored as 1 - t.
        const double du1 = static_cast<double>(uv[b * 2]) - uv[a * 2], dt1 = static_cast<double>(uv[a * 2 + 1]) - uv[b * 2 + 1];
        const double du2 = static_cast<double>(uv[c * 2]) - uv[a * 2], dt2 = static_cast<double>(uv[a * 2 + 1]) - uv[c * 2 + 1];
        const double det = du1 * dt2 - du2 * dt1;
        if (!(std::fabs(det) > 1e-20))
            continue;
        // Weighted by area: the per-unit directions times the triangle's doubled area in the
        // texture, det, over its sign.
        const double sign = det > 0.0 ? 1.0 : -1.0;
        for (std::size_t k = 0; k < 3; ++k) {
            const double u = (e1[k] * dt2 - e2[k] * dt1) * sign, t = (e2[k] * du1 - e1[k] * du2) * sign;
            for (const std::size_t v : {a, b, c}) {
                along_u[v * 3 + k] += u;
                along_t[v * 3 + k] += t;
            }
        }
    }
    VertexStream tangent{"TANGENT", 4, {}};
    tangent.values.resize(count * 4);
    for (std::size_t v = 0; v < count; ++v) {
        const double n[3] = {normal[v * 3], normal[v * 3 + 1], normal[v * 3 + 2]};
        const double *u = &along_u[v * 3], *t = &along_t[v * 3];
        const double dot = u[0] * n[0] + u[1] * n[1] + u[2] * n[2];
        double x[3] = {u[0] - dot * n[0], u[1] - dot * n[1], u[2] - dot * n[2]};
        double length = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
        if (!(length > 1e-12) || !std::isfinite(length)) {
            // Any direction square to the normal: across its smallest component.
            const std::size_t k = std::fabs(n[0]) < std::fabs(n[1]) ? (std::fabs(n[0]) < std::fabs(n[2]) ? 0 : 2)
                                                                    : (std::fabs(n[1]) < std::fabs(n[2]) ? 1 : 2);
            double axis[3] = {0.0, 0.0, 0.0};
            axis[k] = 1.0;
            x[0] = axis[1] * n[2] - axis[2] * n[1];
            x[1] = axis[2] * n[0] - axis[0] * n[2];
            x[2] = axis[0] * n[1] - axis[1] * n[0];
            length = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
        }
        const double across[3] = {n[1] * x[2] - n[2] * x[1], n[2] * x[0] - n[0] * x[2], n[0] * x[1] - n[1] * x[0]};
        const float w = across[0] * t[0] + across[1] * t[1] + across[2] * t[2] < 0.0 ? -1.0f : 1.0f;
        const float value[4] = {static_cast<float>(x[0] / length), static_cast<float>(x[1] / length),
                                static_cast<float>(x[2] / length), w};
        std::copy_n(value, 4, tangent.values.data() + v * 4);
    }
    prim.streams.push_back(std::move(tangent));
}

} // namespace

PrimitiveCollector::PrimitiveCollector(const PreparedMesh &mesh)
    : layer_(*mesh.layer), materials_(mesh.materials), normals_(mesh.normals), bark_(mesh.bark),
      wind_colours_(mesh.wind_colours), relief_(!mesh.textures.bark_normal.empty())
{
    // The primitive of each (material, kind), -1 until its first polygon.
    std::vector<int> index_of(materials_.list.size() * 3, -1);
    primitive_of_.assign(layer_.polygon_count(), -1);
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
        primitive_of_[p] = slot;
        Plan &plan = plans_[ramulon::index_cast<std::size_t>(slot)];
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
        MapView map(layer_, type, name);
        if (!map.present())
            return -1;
        plan.sources.push_back(Source{attribute, map, dim, flip_v});
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

PrimitiveArrays PrimitiveCollector::collect(std::size_t k)
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
    // Room for the most vertices the corners can make. Pages of it that no vertex reaches are
    // never touched, so a tube's shared corners cost address space, not memory.
    for (VertexStream &stream : out.streams)
        stream.values.reserve(plan.corners * ramulon::index_cast<std::size_t>(stream.dim));
    out.vertex_point.reserve(plan.corners);
    out.indices.reserve(plan.triangle_corners);
    next_of_point_.clear();
    next_of_point_.reserve(plan.corners);
    plain_.clear();
    plain_.reserve(plan.corners);
    room_ = 0;
    if (first_of_point_.size() != layer_.points.size())
        first_of_point_.assign(layer_.points.size(), -1);

    // The vertex of each polygon corner with its own corner normal, found once however many
    // triangles share it (a triangle that turns a corner's normal to its own face looks again).
    std::vector<std::int64_t> corner_vertex;
    std::vector<Triangle> triangles;
    for (std::size_t p = 0; p < layer_.polygon_count(); ++p) {
        if (primitive_of_[p] != ramulon::index_cast<int>(k))
            continue;
        const std::span<const int> poly = layer_.polygon_points(p);
        // Most polygons hold no polygon-specific value: their corners read the points' own.
        const int own = layer_.has_corner_values(p) ? ramulon::index_cast<int>(p) : -1;
        if (out.triangles()) {
            triangulate(layer_, p, normals_, triangles);
            corner_vertex.assign(poly.size(), -1);
            for (const Triangle &triangle : triangles)
                for (const TriangleCorner &c : triangle) {
                    const std::array<float, 3> &own_normal = normals_.at(p, c.corner);
                    const bool plain = std::memcmp(own_normal.data(), c.normal.data(), sizeof own_normal) == 0;
                    std::int64_t &known = corner_vertex[c.corner];
                    if (!plain || known < 0) {
                        const std::uint32_t v = vertex(plan, out, p, own, c.corner, poly[c.corner], c.normal.data());
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
                out.indices.push_back(vertex(plan, out, p, own, c, poly[c], nullptr));
        }
    }
    // The streams hold exactly the vertices made.
    for (VertexStream &stream : out.streams)
        stream.values.resize(out.vertex_count() * ramulon::index_cast<std::size_t>(stream.dim));
    if (plan.tangents)
        for (std::size_t s = 0; s < out.streams.size(); ++s)
            if (out.streams[s].attribute == "TEXCOORD_1") {
                add_tangents(out, s);
                break;
            }
    // Ready for the next primitive; the chains served only to share vertices.
    for (int point : out.vertex_point)
        first_of_point_[ramulon::index_cast<std::size_t>(point)] = -1;
    std::vector<int>().swap(next_of_point_);
    std::vector<char>().swap(plain_);
    return out;
}

// One polygon corner's values of the primitive's sources, written into vertex slot at of their
// streams; a map with no value there gives zeros ((0, 0) before the flip for texture
// coordinates). own: the polygon, or -1 when it holds no polygon-specific value.
void PrimitiveCollector::read_sources(const Plan &plan, PrimitiveArrays &out, std::size_t at, std::size_t polygon,
                                      int own, std::size_t corner, int point) const
{
    static const float zero[3] = {0.0f, 0.0f, 0.0f};
    VertexStream *stream = out.streams.data() + plan.sources_stream;
    for (const Source &source : plan.sources) {
        float *slot = stream->values.data() + at * ramulon::index_cast<std::size_t>(source.dim);
        ++stream;
        if (source.bark) {
            const std::array<float, 2> &uv = bark_.at(polygon, corner);
            slot[0] = uv[0];
            slot[1] = uv[1];
        } else if (own < 0) {
            source.map.own_value(point, source.dim, slot);
        } else {
            copy_value(source.map.at(point, own), zero, source.dim, slot);
        }
        if (source.flip_v)
            slot[1] = 1.0f - slot[1];
    }
}

// The vertex of one polygon corner: an earlier vertex of the same point with the same values,
// or a new one. The corner's values are written in place as the next vertex and kept only when
// no earlier vertex holds them. normal: the corner's normal, on triangles only. The wind weights
// (and colour) are made of the range and thickness read (0 where the layer lacks a map), so
// they are left out of the comparison and made only for a new vertex.
std::uint32_t PrimitiveCollector::vertex(const Plan &plan, PrimitiveArrays &out, std::size_t polygon, int own,
                                         std::size_t corner, int point, const float *normal)
{
    std::vector<VertexStream> &streams = out.streams;
    const std::size_t at = out.vertex_point.size();
    if (at == room_) {
        // The streams grow a block of vertices at a time and are written in place: far cheaper
        // than appending each value, and still within the room reserved for every corner (a
        // corner turned to two triangles' own normals may make one vertex more).
        room_ = std::max(at + 1, std::min(plan.corners, room_ + vertex_block));
        for (VertexStream &stream : streams)
            stream.values.resize(room_ * ramulon::index_cast<std::size_t>(stream.dim));
    }
    // A corner of a plain polygon is compared with the point's other plain vertices by its
    // normal and bark alone: the map values are read only for a new vertex or where an earlier
    // vertex carries polygon-specific values.
    const bool plain = own < 0;
    bool read = false;
    const auto read_once = [&] {
        if (!read)
            read_sources(plan, out, at, polygon, own, corner, point);
        read = true;
    };
    if (!plain)
        read_once();
    float bark[2] = {0.0f, 0.0f};
    if (plan.bark_source >= 0) {
        const std::array<float, 2> &uv = bark_.at(polygon, corner);
        bark[0] = uv[0];
        bark[1] = 1.0f - uv[1];
    }
    int &first = first_of_point_[ramulon::index_cast<std::size_t>(point)];
    for (int v = first; v >= 0; v = next_of_point_[ramulon::index_cast<std::size_t>(v)]) {
        const auto held = ramulon::index_cast<std::size_t>(v);
        if (plan.normals && !holds(streams[1], held, normal))
            continue;
        bool same = true;
        if (plain && plain_[held]) {
            // Both hold the point's own map values: only the bark, read per corner, can differ.
            if (plan.bark_source >= 0)
                same = holds(streams[plan.sources_stream + ramulon::index_cast<std::size_t>(plan.bark_source)], held, bark);
        } else {
            read_once();
            for (std::size_t s = plan.sources_stream; same && s < streams.size(); ++s)
                same = holds(streams[s], held, streams[s].values.data() + at * ramulon::index_cast<std::size_t>(streams[s].dim));
        }
        if (same)
            return ramulon::index_cast<std::uint32_t>(v);
    }
    read_once();
    out.vertex_point.push_back(point);
    next_of_point_.push_back(first);
    plain_.push_back(plain ? 1 : 0);
    first = ramulon::index_cast<int>(at);
    const host::Vec3 &p = layer_.points[ramulon::index_cast<std::size_t>(point)];
    float *position = streams[0].values.data() + at * 3;
    position[0] = static_cast<float>(p.x);
    position[1] = static_cast<float>(p.y);
    position[2] = static_cast<float>(p.z);
    if (plan.normals) {
        float *slot = streams[1].values.data() + at * 3;
        slot[0] = normal[0];
        slot[1] = normal[1];
        slot[2] = normal[2];
    }
    const auto put = [&](std::size_t s, const float *values) {
        const auto dim = ramulon::index_cast<std::size_t>(streams[s].dim);
        float *slot = streams[s].values.data() + at * dim;
        for (std::size_t i = 0; i < dim; ++i)
            slot[i] = values[i];
    };
    if (plan.wind) {
        const auto read = [&](int source) {
            return source < 0 ? 0.0f
                              : streams[plan.sources_stream + ramulon::index_cast<std::size_t>(source)].values[at];
        };
        const std::array<float, 2> weights = wind_weights(read(plan.range_source), read(plan.thick_source));
        if (plan.colours) {
            const float colour[3] = {weights[0], weights[1], 0.0f};
            put(plan.colour_stream, colour);
        }
        put(plan.wind_stream, weights.data());
    }
    return ramulon::index_cast<std::uint32_t>(at);
}

} // namespace exporter
