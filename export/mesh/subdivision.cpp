#include "export/mesh/subdivision.h"

#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <tuple>

#include <opensubdiv/far/error.h>
#include <opensubdiv/far/primvarRefiner.h>
#include <opensubdiv/far/topologyDescriptor.h>
#include <opensubdiv/far/topologyRefinerFactory.h>

#include "export/cancel.h"
#include "export/materials/materials.h"

namespace exporter {
namespace {

using namespace OpenSubdiv;

// The per-point maps refined with the points, in the order their values sit in a Vertex.
struct Carried {
    HostID type;
    const char *name;
    int dim;
};
constexpr Carried carried[] = {
    {ID_WGHT, "RM_range", 1},
    {ID_WGHT, "RM_thick", 1},
    {ID_RMVT, "RM_vectors", 3},
    {ID_RMLD, "RM_density", 2},
};
constexpr int carried_values = 1 + 1 + 3 + 2;

// One point of the surface: its position and the carried map values, interpolated together.
struct Vertex {
    double position[3];
    double values[carried_values];

    void Clear(void * = nullptr) { std::memset(this, 0, sizeof *this); }
    void AddWithWeight(const Vertex &src, float weight)
    {
        for (int i = 0; i < 3; ++i)
            position[i] += weight * src.position[i];
        for (int i = 0; i < carried_values; ++i)
            values[i] += weight * src.values[i];
    }
};

// One face-varying texture coordinate.
struct Uv {
    double uv[2];

    void Clear(void * = nullptr) { uv[0] = uv[1] = 0.0; }
    void AddWithWeight(const Uv &src, float weight)
    {
        uv[0] += weight * src.uv[0];
        uv[1] += weight * src.uv[1];
    }
};

// OpenSubdiv reports what it refuses through a callback; keep the last message for the error.
thread_local std::string refusal;
void remember_refusal(Far::ErrorType, const char *message) { refusal = message ? message : ""; }

// A woody polygon OpenSubdiv can take: three or more corners, no point twice in a row.
bool refinable(std::span<const int> poly)
{
    const std::size_t n = poly.size();
    if (n < 3)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (poly[i] == poly[(i + 1) % n])
            return false;
    return true;
}

// Copies polygon p's tags from one layer to polygon id of another.
void copy_tags(const host::Layer &from, std::size_t p, host::Layer &to, int id)
{
    if (p >= from.first_tag.size())
        return;
    for (int t = from.first_tag[p]; t >= 0; t = from.tags[static_cast<std::size_t>(t)].next) {
        const host::TagEntry &tag = from.tags[static_cast<std::size_t>(t)];
        to.set_tag(id, tag.type, std::string_view(from.names[tag.value]));
    }
}

std::optional<std::string> surface_of(const host::Layer &layer, std::size_t p)
{
    const std::string *surface = layer.polygon(p).surface;
    return surface ? std::optional<std::string>(*surface) : std::nullopt;
}

} // namespace

bool subdivide(const host::Layer &layer, const Materials &materials, int levels, host::Layer &out,
               std::string &error, const BarkCoordinates *bark, BarkCoordinates *refined_bark)
{
    const bool with_bark = bark && refined_bark && !bark->empty();
    if (levels <= 0)
        return true;
    const std::size_t polygon_count = layer.polygon_count();
    std::vector<char> refine(polygon_count, 0);
    bool any = false;
    for (std::size_t p = 0; p < polygon_count; ++p) {
        refine[p] = woody(materials.list[static_cast<std::size_t>(materials.of_polygon[p])]) &&
                    refinable(layer.polygon_points(p));
        any = any || refine[p];
    }
    if (!any) {
        out = layer;
        if (with_bark) {
            *refined_bark = *bark;
            refined_bark->first = std::span<const std::size_t>(out.corner_offset.data(), out.polygon_count());
        }
        return true;
    }

    // The cage: woody points renumbered densely, texture coordinates indexed per distinct
    // (point, value) so that corners agreeing at a point are one face-varying value.
    const MapView uv_map(layer, ID_TXUV, branch_texture);
    std::vector<int> cage_of_point(layer.points.size(), -1);
    std::vector<int> cage_points;
    std::vector<int> face_sizes, face_corners, corner_uvs, corner_barks, base_polygon;
    std::vector<Uv> uvs, barks;
    std::map<std::tuple<int, float, float>, int> uv_index, bark_index;
    static const float origin[2] = {0.0f, 0.0f};
    for (std::size_t p = 0; p < polygon_count; ++p) {
        if (!refine[p])
            continue;
        const std::span<const int> poly = layer.polygon_points(p);
        face_sizes.push_back(static_cast<int>(poly.size()));
        base_polygon.push_back(static_cast<int>(p));
        for (std::size_t c = 0; c < poly.size(); ++c) {
            const int point = poly[c];
            int &cage = cage_of_point[static_cast<std::size_t>(point)];
            if (cage < 0) {
                cage = static_cast<int>(cage_points.size());
                cage_points.push_back(point);
            }
            face_corners.push_back(cage);
            float value[2];
            copy_value(uv_map.at(point, static_cast<int>(p)), origin, 2, value);
            const auto [it, added] =
                uv_index.try_emplace({point, value[0], value[1]}, static_cast<int>(uvs.size()));
            if (added)
                uvs.push_back(Uv{{value[0], value[1]}});
            corner_uvs.push_back(it->second);
            if (with_bark) {
                const std::array<float, 2> &b = bark->at(p, c);
                const auto [at, new_value] = bark_index.try_emplace({point, b[0], b[1]}, static_cast<int>(barks.size()));
                if (new_value)
                    barks.push_back(Uv{{b[0], b[1]}});
                corner_barks.push_back(at->second);
            }
        }
    }

    Far::TopologyDescriptor::FVarChannel channels[2];
    Far::TopologyDescriptor::FVarChannel &channel = channels[0];
    channel.numValues = static_cast<int>(uvs.size());
    channel.valueIndices = corner_uvs.data();
    channels[1].numValues = static_cast<int>(barks.size());
    channels[1].valueIndices = corner_barks.data();
    Far::TopologyDescriptor descriptor;
    descriptor.numVertices = static_cast<int>(cage_points.size());
    descriptor.numFaces = static_cast<int>(face_sizes.size());
    descriptor.numVertsPerFace = face_sizes.data();
    descriptor.vertIndicesPerFace = face_corners.data();
    descriptor.numFVarChannels = with_bark ? 2 : 1;
    descriptor.fvarChannels = channels;

    Sdc::Options sdc;
    sdc.SetVtxBoundaryInterpolation(Sdc::Options::VTX_BOUNDARY_EDGE_ONLY);
    // Texture boundaries (the seam) stay straight lines of the texture: both sides of the seam
    // then agree on v at every refined point.
    sdc.SetFVarLinearInterpolation(Sdc::Options::FVAR_LINEAR_BOUNDARIES);
    using Factory = Far::TopologyRefinerFactory<Far::TopologyDescriptor>;
    refusal.clear();
    Far::SetErrorCallback(remember_refusal);
    std::unique_ptr<Far::TopologyRefiner> refiner(
        Factory::Create(descriptor, Factory::Options(Sdc::SCHEME_CATMARK, sdc)));
    if (!refiner) {
        error = "cannot subdivide the tubes: " + (refusal.empty() ? std::string("invalid cage") : refusal);
        return false;
    }
    Far::TopologyRefiner::UniformOptions uniform(levels);
    uniform.fullTopologyInLastLevel = true;
    refiner->RefineUniform(uniform);

    // Values of every level, the cage first.
    std::vector<std::vector<Vertex>> vertices(static_cast<std::size_t>(levels) + 1);
    std::vector<std::vector<Uv>> face_uvs(static_cast<std::size_t>(levels) + 1);
    std::vector<std::vector<Uv>> face_barks(static_cast<std::size_t>(levels) + 1);
    std::vector<MapView> maps;
    for (const Carried &c : carried)
        maps.emplace_back(layer, c.type, c.name);
    vertices[0].resize(cage_points.size());
    for (std::size_t v = 0; v < cage_points.size(); ++v) {
        Vertex &vertex = vertices[0][v];
        vertex.Clear();
        const host::Vec3 &p = layer.points[static_cast<std::size_t>(cage_points[v])];
        vertex.position[0] = p.x;
        vertex.position[1] = p.y;
        vertex.position[2] = p.z;
        double *value = vertex.values;
        for (std::size_t m = 0; m < maps.size(); ++m) {
            float buffer[3];
            static const float zero[3] = {0.0f, 0.0f, 0.0f};
            // The point's own value: the continuous one, polygon-specific values are seams only.
            copy_value(maps[m].at(cage_points[v], -1), zero, carried[m].dim, buffer);
            for (int i = 0; i < carried[m].dim; ++i)
                *value++ = buffer[i];
        }
    }
    face_uvs[0] = std::move(uvs);
    face_barks[0] = std::move(barks);
    Far::PrimvarRefiner primvars(*refiner);
    for (int level = 1; level <= levels; ++level) {
        stop_if_cancelled();
        const auto l = static_cast<std::size_t>(level);
        vertices[l].resize(static_cast<std::size_t>(refiner->GetLevel(level).GetNumVertices()));
        face_uvs[l].resize(static_cast<std::size_t>(refiner->GetLevel(level).GetNumFVarValues(0)));
        const Vertex *coarse = vertices[l - 1].data();
        Vertex *fine = vertices[l].data();
        primvars.Interpolate(level, coarse, fine);
        const Uv *coarse_uv = face_uvs[l - 1].data();
        Uv *fine_uv = face_uvs[l].data();
        primvars.InterpolateFaceVarying(level, coarse_uv, fine_uv, 0);
        if (with_bark) {
            face_barks[l].resize(static_cast<std::size_t>(refiner->GetLevel(level).GetNumFVarValues(1)));
            const Uv *coarse_bark = face_barks[l - 1].data();
            Uv *fine_bark = face_barks[l].data();
            primvars.InterpolateFaceVarying(level, coarse_bark, fine_bark, 1);
        }
    }

    stop_if_cancelled();
    // Which cage face every refined face comes from.
    std::vector<int> ancestor(base_polygon);
    for (int level = 0; level < levels; ++level) {
        const Far::TopologyLevel &parent = refiner->GetLevel(level);
        std::vector<int> next(static_cast<std::size_t>(refiner->GetLevel(level + 1).GetNumFaces()), -1);
        for (int f = 0; f < parent.GetNumFaces(); ++f)
            for (int child : parent.GetFaceChildFaces(f))
                next[static_cast<std::size_t>(child)] = ancestor[static_cast<std::size_t>(f)];
        ancestor = std::move(next);
    }
    const Far::TopologyLevel &last = refiner->GetLevel(levels);
    std::vector<std::vector<int>> children(polygon_count);
    for (int f = 0; f < last.GetNumFaces(); ++f) {
        const int base = ancestor[static_cast<std::size_t>(f)];
        if (base >= 0)
            children[static_cast<std::size_t>(base)].push_back(f);
    }

    // The refined layer: kept points first, then the surface's vertices.
    host::Layer result;
    std::vector<int> kept(layer.points.size(), -1);
    for (std::size_t p = 0; p < polygon_count; ++p)
        if (!refine[p])
            for (int point : layer.polygon_points(p))
                if (kept[static_cast<std::size_t>(point)] < 0)
                    kept[static_cast<std::size_t>(point)] = result.add_point(layer.points[static_cast<std::size_t>(point)]);
    // Kept points keep every value they had.
    for (const host::VertexMap &map : layer.vmaps)
        for (std::size_t point = 0; point < kept.size(); ++point)
            if (kept[point] >= 0)
                if (auto value = map.at(static_cast<int>(point)))
                    result.set_vmap(map.type, std::string_view(layer.names[map.name]), kept[point],
                                    static_cast<int>(value->size()), value->data());
    const int first_refined = static_cast<int>(result.points.size());
    const std::vector<Vertex> &finest = vertices[static_cast<std::size_t>(levels)];
    for (const Vertex &v : finest)
        result.add_point({v.position[0], v.position[1], v.position[2]});
    int offset = 0;
    for (std::size_t m = 0; m < maps.size(); offset += carried[m].dim, ++m) {
        if (!maps[m].present())
            continue;
        for (std::size_t v = 0; v < finest.size(); ++v) {
            float value[3];
            for (int i = 0; i < carried[m].dim; ++i)
                value[i] = static_cast<float>(finest[v].values[offset + i]);
            result.set_vmap(carried[m].type, carried[m].name, first_refined + static_cast<int>(v),
                            carried[m].dim, value);
        }
    }

    const std::vector<Uv> &finest_uvs = face_uvs[static_cast<std::size_t>(levels)];
    const std::vector<Uv> &finest_barks = face_barks[static_cast<std::size_t>(levels)];
    // The bark coordinates of the refined layer's corners, and which polygons carry them.
    std::vector<std::array<float, 2>> bark_uv;
    std::vector<char> on_bark;
    // The continuous texture value given to each refined vertex so far.
    std::vector<std::array<float, 2>> uv_of(finest.size());
    std::vector<char> has_uv(finest.size(), 0);
    for (std::size_t p = 0; p < polygon_count; ++p) {
        const std::span<const int> poly = layer.polygon_points(p);
        if (!refine[p]) {
            std::vector<int> points;
            for (int point : poly)
                points.push_back(kept[static_cast<std::size_t>(point)]);
            const int id = result.add_polygon(layer.polygon_type[p], points, surface_of(layer, p));
            copy_tags(layer, p, result, id);
            if (with_bark) {
                for (std::size_t c = 0; c < poly.size(); ++c)
                    bark_uv.push_back(bark->on_bark[p] ? bark->at(p, c) : std::array<float, 2>{});
                on_bark.push_back(bark->on_bark[p]);
            }
            if (p < layer.first_corner_value.size())
                for (int e = layer.first_corner_value[p]; e >= 0;
                     e = layer.corner_values[static_cast<std::size_t>(e)].next) {
                    const host::CornerValue &entry = layer.corner_values[static_cast<std::size_t>(e)];
                    const host::PolyVertexMap &map = layer.vpmaps[static_cast<std::size_t>(entry.map)];
                    if (auto value = layer.vpmap_at(entry.map, entry.point, static_cast<int>(p)))
                        result.set_vpmap(map.type, std::string_view(layer.names[map.name]),
                                         kept[static_cast<std::size_t>(entry.point)], id,
                                         static_cast<int>(value->size()), value->data());
                }
            continue;
        }
        const std::optional<std::string> surface = surface_of(layer, p);
        for (int f : children[p]) {
            const auto corners = last.GetFaceVertices(f);
            const auto values = last.GetFaceFVarValues(f, 0);
            std::vector<int> points;
            for (int c = 0; c < corners.size(); ++c)
                points.push_back(first_refined + corners[c]);
            const int id = result.add_polygon(ID_FACE, points, surface);
            copy_tags(layer, p, result, id);
            if (with_bark) {
                const auto fvar = last.GetFaceFVarValues(f, 1);
                for (int c = 0; c < fvar.size(); ++c) {
                    const Uv &b = finest_barks[static_cast<std::size_t>(fvar[c])];
                    bark_uv.push_back({static_cast<float>(b.uv[0]), static_cast<float>(b.uv[1])});
                }
                on_bark.push_back(bark->on_bark[p]);
            }
            for (int c = 0; c < corners.size(); ++c) {
                const Uv &uv = finest_uvs[static_cast<std::size_t>(values[c])];
                const std::array<float, 2> value{static_cast<float>(uv.uv[0]), static_cast<float>(uv.uv[1])};
                const auto v = static_cast<std::size_t>(corners[c]);
                // The first corner to reach a point gives its continuous value; corners that
                // differ (the seam) get a polygon-specific one.
                if (!has_uv[v]) {
                    has_uv[v] = 1;
                    uv_of[v] = value;
                    result.set_vmap(ID_TXUV, branch_texture, points[static_cast<std::size_t>(c)], 2, value.data());
                } else if (uv_of[v] != value) {
                    result.set_vpmap(ID_TXUV, branch_texture, points[static_cast<std::size_t>(c)], id, 2,
                                     value.data());
                }
            }
        }
    }
    out = std::move(result);
    if (with_bark) {
        refined_bark->uv = std::move(bark_uv);
        refined_bark->on_bark = std::move(on_bark);
        refined_bark->first = std::span<const std::size_t>(out.corner_offset.data(), out.polygon_count());
    }
    return true;
}

} // namespace exporter
