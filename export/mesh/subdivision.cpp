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

#include "common/index_cast.h"
#include "export/cancel.h"
#include "export/materials/materials.h"

namespace exporter {
namespace {

using namespace OpenSubdiv;
using ramulon::index_cast;

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
    for (int t = from.first_tag[p]; t >= 0; t = from.tags[index_cast<std::size_t>(t)].next) {
        const host::TagEntry &tag = from.tags[index_cast<std::size_t>(t)];
        to.set_tag(id, tag.type, std::string_view(from.names[tag.value]));
    }
}

std::optional<std::string> surface_of(const host::Layer &layer, std::size_t p)
{
    const std::string *surface = layer.polygon(p).surface;
    return surface ? std::optional<std::string>(*surface) : std::nullopt;
}

// Which polygons are refined: the woody ones OpenSubdiv can take.
std::vector<char> polygons_to_refine(const host::Layer &layer, const Materials &materials, bool &any)
{
    const std::size_t polygon_count = layer.polygon_count();
    std::vector<char> refine(polygon_count, 0);
    any = false;
    for (std::size_t p = 0; p < polygon_count; ++p) {
        refine[p] = woody(materials.list[index_cast<std::size_t>(materials.of_polygon[p])]) &&
                    refinable(layer.polygon_points(p));
        any = any || refine[p];
    }
    return refine;
}

// The woody polygons as OpenSubdiv's cage: woody points renumbered densely, texture coordinates
// (and bark coordinates) indexed per distinct (point, value) so that corners agreeing at a point
// are one face-varying value.
struct Cage {
    std::vector<int> points;      // the layer's point of each cage vertex
    std::vector<int> face_sizes;  // per cage face
    std::vector<int> face_corners;
    std::vector<int> base_polygon; // the layer's polygon of each cage face
    std::vector<int> corner_uvs, corner_barks;
    std::vector<Uv> uvs, barks;
};

Cage make_cage(const host::Layer &layer, const std::vector<char> &refine, const BarkCoordinates *bark)
{
    Cage cage;
    const MapView uv_map(layer, ID_TXUV, branch_texture);
    std::vector<int> cage_of_point(layer.points.size(), -1);
    std::map<std::tuple<int, float, float>, int> uv_index, bark_index;
    static const float origin[2] = {0.0f, 0.0f};
    for (std::size_t p = 0; p < refine.size(); ++p) {
        if (!refine[p])
            continue;
        const std::span<const int> poly = layer.polygon_points(p);
        cage.face_sizes.push_back(index_cast<int>(poly.size()));
        cage.base_polygon.push_back(index_cast<int>(p));
        for (std::size_t c = 0; c < poly.size(); ++c) {
            const int point = poly[c];
            int &vertex = cage_of_point[index_cast<std::size_t>(point)];
            if (vertex < 0) {
                vertex = index_cast<int>(cage.points.size());
                cage.points.push_back(point);
            }
            cage.face_corners.push_back(vertex);
            float value[2];
            copy_value(uv_map.at(point, index_cast<int>(p)), origin, 2, value);
            const auto [it, added] =
                uv_index.try_emplace({point, value[0], value[1]}, index_cast<int>(cage.uvs.size()));
            if (added)
                cage.uvs.push_back(Uv{{value[0], value[1]}});
            cage.corner_uvs.push_back(it->second);
            if (bark) {
                const std::array<float, 2> &b = bark->at(p, c);
                const auto [at, new_value] =
                    bark_index.try_emplace({point, b[0], b[1]}, index_cast<int>(cage.barks.size()));
                if (new_value)
                    cage.barks.push_back(Uv{{b[0], b[1]}});
                cage.corner_barks.push_back(at->second);
            }
        }
    }
    return cage;
}

// The topology of every level, refined uniformly from the cage; null with the error set when
// OpenSubdiv refuses the cage.
std::unique_ptr<Far::TopologyRefiner> refine_topology(Cage &cage, int levels, bool with_bark, std::string &error)
{
    Far::TopologyDescriptor::FVarChannel channels[2];
    Far::TopologyDescriptor::FVarChannel &channel = channels[0];
    channel.numValues = index_cast<int>(cage.uvs.size());
    channel.valueIndices = cage.corner_uvs.data();
    channels[1].numValues = index_cast<int>(cage.barks.size());
    channels[1].valueIndices = cage.corner_barks.data();
    Far::TopologyDescriptor descriptor;
    descriptor.numVertices = index_cast<int>(cage.points.size());
    descriptor.numFaces = index_cast<int>(cage.face_sizes.size());
    descriptor.numVertsPerFace = cage.face_sizes.data();
    descriptor.vertIndicesPerFace = cage.face_corners.data();
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
        return nullptr;
    }
    Far::TopologyRefiner::UniformOptions uniform(levels);
    uniform.fullTopologyInLastLevel = true;
    refiner->RefineUniform(uniform);
    return refiner;
}

// The cage vertices' positions and carried map values, as the first level's.
std::vector<Vertex> cage_vertices(const host::Layer &layer, const Cage &cage, const std::vector<MapView> &maps)
{
    std::vector<Vertex> vertices(cage.points.size());
    for (std::size_t v = 0; v < cage.points.size(); ++v) {
        Vertex &vertex = vertices[v];
        vertex.Clear();
        const host::Vec3 &p = layer.points[index_cast<std::size_t>(cage.points[v])];
        vertex.position[0] = p.x;
        vertex.position[1] = p.y;
        vertex.position[2] = p.z;
        double *value = vertex.values;
        for (std::size_t m = 0; m < maps.size(); ++m) {
            float buffer[3];
            static const float zero[3] = {0.0f, 0.0f, 0.0f};
            // The point's own value: the continuous one, polygon-specific values are seams only.
            copy_value(maps[m].at(cage.points[v], -1), zero, carried[m].dim, buffer);
            for (int i = 0; i < carried[m].dim; ++i)
                *value++ = buffer[i];
        }
    }
    return vertices;
}

// The values of the finest level: vertices and both face-varying channels, interpolated level
// by level from the cage's.
struct FinestValues {
    std::vector<Vertex> vertices;
    std::vector<Uv> uvs, barks;
};

FinestValues interpolate_values(const Far::TopologyRefiner &refiner, int levels, std::vector<Vertex> cage_values,
                                std::vector<Uv> cage_uvs, std::vector<Uv> cage_barks, bool with_bark)
{
    std::vector<std::vector<Vertex>> vertices(index_cast<std::size_t>(levels) + 1);
    std::vector<std::vector<Uv>> face_uvs(index_cast<std::size_t>(levels) + 1);
    std::vector<std::vector<Uv>> face_barks(index_cast<std::size_t>(levels) + 1);
    vertices[0] = std::move(cage_values);
    face_uvs[0] = std::move(cage_uvs);
    face_barks[0] = std::move(cage_barks);
    Far::PrimvarRefiner primvars(refiner);
    for (int level = 1; level <= levels; ++level) {
        stop_if_cancelled();
        const auto l = index_cast<std::size_t>(level);
        vertices[l].resize(index_cast<std::size_t>(refiner.GetLevel(level).GetNumVertices()));
        face_uvs[l].resize(index_cast<std::size_t>(refiner.GetLevel(level).GetNumFVarValues(0)));
        const Vertex *coarse = vertices[l - 1].data();
        Vertex *fine = vertices[l].data();
        primvars.Interpolate(level, coarse, fine);
        const Uv *coarse_uv = face_uvs[l - 1].data();
        Uv *fine_uv = face_uvs[l].data();
        primvars.InterpolateFaceVarying(level, coarse_uv, fine_uv, 0);
        if (with_bark) {
            face_barks[l].resize(index_cast<std::size_t>(refiner.GetLevel(level).GetNumFVarValues(1)));
            const Uv *coarse_bark = face_barks[l - 1].data();
            Uv *fine_bark = face_barks[l].data();
            primvars.InterpolateFaceVarying(level, coarse_bark, fine_bark, 1);
        }
    }
    const auto finest = index_cast<std::size_t>(levels);
    return {std::move(vertices[finest]), std::move(face_uvs[finest]), std::move(face_barks[finest])};
}

// The finest level's faces of every layer polygon, in OpenSubdiv's order (empty for polygons
// that are not refined).
std::vector<std::vector<int>> faces_of_polygons(const Far::TopologyRefiner &refiner, int levels,
                                                const std::vector<int> &base_polygon, std::size_t polygon_count)
{
    // Which cage face every refined face comes from.
    std::vector<int> ancestor(base_polygon);
    for (int level = 0; level < levels; ++level) {
        const Far::TopologyLevel &parent = refiner.GetLevel(level);
        std::vector<int> next(index_cast<std::size_t>(refiner.GetLevel(level + 1).GetNumFaces()), -1);
        for (int f = 0; f < parent.GetNumFaces(); ++f)
            for (int child : parent.GetFaceChildFaces(f))
                next[index_cast<std::size_t>(child)] = ancestor[index_cast<std::size_t>(f)];
        ancestor = std::move(next);
    }
    const Far::TopologyLevel &last = refiner.GetLevel(levels);
    std::vector<std::vector<int>> children(polygon_count);
    for (int f = 0; f < last.GetNumFaces(); ++f) {
        const int base = ancestor[index_cast<std::size_t>(f)];
        if (base >= 0)
            children[index_cast<std::size_t>(base)].push_back(f);
    }
    return children;
}

// The points of the polygons left as they are, into result with every value they had; the
// result's point of each layer point (-1 for points only refined polygons use).
std::vector<int> keep_unrefined_points(const host::Layer &layer, const std::vector<char> &refine, host::Layer &result)
{
    std::vector<int> kept(layer.points.size(), -1);
    for (std::size_t p = 0; p < refine.size(); ++p)
        if (!refine[p])
            for (int point : layer.polygon_points(p))
                if (kept[index_cast<std::size_t>(point)] < 0)
                    kept[index_cast<std::size_t>(point)] = result.add_point(layer.points[index_cast<std::size_t>(point)]);
    for (const host::VertexMap &map : layer.vmaps)
        for (std::size_t point = 0; point < kept.size(); ++point)
            if (kept[point] >= 0)
                if (auto value = map.at(index_cast<int>(point)))
                    result.set_vmap(map.type, std::string_view(layer.names[map.name]), kept[point],
                                    index_cast<int>(value->size()), value->data());
    return kept;
}

// The finest vertices after the kept points, with the carried maps the layer has; the number of
// the first.
int add_refined_points(const std::vector<Vertex> &finest, const std::vector<MapView> &maps, host::Layer &result)
{
    const int first_refined = index_cast<int>(result.points.size());
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
            result.set_vmap(carried[m].type, carried[m].name, first_refined + index_cast<int>(v), carried[m].dim,
                            value);
        }
    }
    return first_refined;
}

// The polygons of the refined layer, in the layer's order, and their bark coordinates.
class PolygonWriter {
public:
    PolygonWriter(const host::Layer &layer, const BarkCoordinates *bark, const std::vector<int> &kept,
                  int first_refined, const FinestValues &finest, host::Layer &result)
        : layer_(layer), bark_(bark), kept_(kept), first_refined_(first_refined), finest_(finest), result_(result),
          uv_of_(finest.vertices.size()), has_uv_(finest.vertices.size(), 0)
    {
    }

    // Polygon p as it is, on the kept points, with its tags and polygon-specific values.
    void copy(std::size_t p)
    {
        const std::span<const int> poly = layer_.polygon_points(p);
        std::vector<int> points;
        for (int point : poly)
            points.push_back(kept_[index_cast<std::size_t>(point)]);
        const int id = result_.add_polygon(layer_.polygon_type[p], points, surface_of(layer_, p));
        copy_tags(layer_, p, result_, id);
        if (bark_) {
            for (std::size_t c = 0; c < poly.size(); ++c)
                bark_uv_.push_back(bark_->on_bark[p] ? bark_->at(p, c) : std::array<float, 2>{});
            on_bark_.push_back(bark_->on_bark[p]);
        }
        if (p < layer_.first_corner_value.size())
            for (int e = layer_.first_corner_value[p]; e >= 0;
                 e = layer_.corner_values[index_cast<std::size_t>(e)].next) {
                const host::CornerValue &entry = layer_.corner_values[index_cast<std::size_t>(e)];
                const host::PolyVertexMap &map = layer_.vpmaps[index_cast<std::size_t>(entry.map)];
                if (auto value = layer_.vpmap_at(entry.map, entry.point, index_cast<int>(p)))
                    result_.set_vpmap(map.type, std::string_view(layer_.names[map.name]),
                                      kept_[index_cast<std::size_t>(entry.point)], id, index_cast<int>(value->size()),
                                      value->data());
            }
    }

    // Polygon p's refined faces, each with p's surface and tags, the texture coordinates as
    // continuous values where corners agree and polygon-specific ones at the seam.
    void refine(std::size_t p, const std::vector<int> &faces, const Far::TopologyLevel &last)
    {
        const std::optional<std::string> surface = surface_of(layer_, p);
        for (int f : faces) {
            const auto corners = last.GetFaceVertices(f);
            const auto values = last.GetFaceFVarValues(f, 0);
            std::vector<int> points;
            for (int c = 0; c < corners.size(); ++c)
                points.push_back(first_refined_ + corners[c]);
            const int id = result_.add_polygon(ID_FACE, points, surface);
            copy_tags(layer_, p, result_, id);
            if (bark_) {
                const auto fvar = last.GetFaceFVarValues(f, 1);
                for (int c = 0; c < fvar.size(); ++c) {
                    const Uv &b = finest_.barks[index_cast<std::size_t>(fvar[c])];
                    bark_uv_.push_back({static_cast<float>(b.uv[0]), static_cast<float>(b.uv[1])});
                }
                on_bark_.push_back(bark_->on_bark[p]);
            }
            for (int c = 0; c < corners.size(); ++c) {
                const Uv &uv = finest_.uvs[index_cast<std::size_t>(values[c])];
                const std::array<float, 2> value{static_cast<float>(uv.uv[0]), static_cast<float>(uv.uv[1])};
                const auto v = index_cast<std::size_t>(corners[c]);
                // The first corner to reach a point gives its continuous value; corners that
                // differ (the seam) get a polygon-specific one.
                if (!has_uv_[v]) {
                    has_uv_[v] = 1;
                    uv_of_[v] = value;
                    result_.set_vmap(ID_TXUV, branch_texture, points[index_cast<std::size_t>(c)], 2, value.data());
                } else if (uv_of_[v] != value) {
                    result_.set_vpmap(ID_TXUV, branch_texture, points[index_cast<std::size_t>(c)], id, 2,
                                      value.data());
                }
            }
        }
    }

    // The bark coordinates of the result's corners, and which polygons carry them.
    std::vector<std::array<float, 2>> bark_uv_;
    std::vector<char> on_bark_;

private:
    const host::Layer &layer_;
    const BarkCoordinates *bark_;
    const std::vector<int> &kept_;
    const int first_refined_;
    const FinestValues &finest_;
    host::Layer &result_;
    // The continuous texture value given to each refined vertex so far.
    std::vector<std::array<float, 2>> uv_of_;
    std::vector<char> has_uv_;
};

} // namespace

ramulon::Status subdivide(const host::Layer &layer, const Materials &materials, int levels, host::Layer &out,
                          const BarkCoordinates *bark, BarkCoordinates *refined_bark)
{
    const bool with_bark = bark && refined_bark && !bark->empty();
    if (levels <= 0)
        return {};
    bool any = false;
    const std::vector<char> refine = polygons_to_refine(layer, materials, any);
    if (!any) {
        out = layer;
        if (with_bark) {
            *refined_bark = *bark;
            refined_bark->first = std::span<const std::size_t>(out.corner_offset.data(), out.polygon_count());
        }
        return {};
    }

    // Topology first, as OpenSubdiv's refiner lays it out; then the values carried through it.
    Cage cage = make_cage(layer, refine, with_bark ? bark : nullptr);
    std::string error;
    const std::unique_ptr<Far::TopologyRefiner> refiner = refine_topology(cage, levels, with_bark, error);
    if (!refiner)
        return ramulon::fail(ramulon::ErrorKind::invalid_input, error);
    std::vector<MapView> maps;
    for (const Carried &c : carried)
        maps.emplace_back(layer, c.type, c.name);
    const FinestValues finest = interpolate_values(*refiner, levels, cage_vertices(layer, cage, maps),
                                                   std::move(cage.uvs), std::move(cage.barks), with_bark);
    stop_if_cancelled();
    const std::vector<std::vector<int>> faces = faces_of_polygons(*refiner, levels, cage.base_polygon, refine.size());

    // The refined layer: kept points first, then the surface's vertices; polygons in order.
    host::Layer result;
    const std::vector<int> kept = keep_unrefined_points(layer, refine, result);
    const int first_refined = add_refined_points(finest.vertices, maps, result);
    PolygonWriter polygons(layer, with_bark ? bark : nullptr, kept, first_refined, finest, result);
    const Far::TopologyLevel &last = refiner->GetLevel(levels);
    for (std::size_t p = 0; p < refine.size(); ++p) {
        if (refine[p])
            polygons.refine(p, faces[p], last);
        else
            polygons.copy(p);
    }
    result.check_consistent();
    out = std::move(result);
    if (with_bark) {
        refined_bark->uv = std::move(polygons.bark_uv_);
        refined_bark->on_bark = std::move(polygons.on_bark_);
        refined_bark->first = std::span<const std::size_t>(out.corner_offset.data(), out.polygon_count());
    }
    return {};
}

} // namespace exporter
