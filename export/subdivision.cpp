#include "subdivision.h"

#include <cstring>
#include <map>
#include <memory>
#include <tuple>

#include <opensubdiv/far/error.h>
#include <opensubdiv/far/primvarRefiner.h>
#include <opensubdiv/far/topologyDescriptor.h>
#include <opensubdiv/far/topologyRefinerFactory.h>

#include "materials.h"

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
bool refinable(const host::Polygon &poly)
{
    const std::size_t n = poly.points.size();
    if (n < 3)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (poly.points[i] == poly.points[(i + 1) % n])
            return false;
    return true;
}

} // namespace

bool subdivide(const host::Layer &layer, const Materials &materials, int levels, host::Layer &out,
               std::string &error)
{
    if (levels <= 0)
        return true;
    const std::size_t polygon_count = layer.polygons.size();
    std::vector<char> refine(polygon_count, 0);
    bool any = false;
    for (std::size_t p = 0; p < polygon_count; ++p) {
        refine[p] = woody(materials.list[static_cast<std::size_t>(materials.of_polygon[p])]) &&
                    refinable(layer.polygons[p]);
        any = any || refine[p];
    }
    if (!any) {
        out = layer;
        return true;
    }

    // The cage: woody points renumbered densely, texture coordinates indexed per distinct
    // (point, value) so that corners agreeing at a point are one face-varying value.
    const MapView uv_map(layer, ID_TXUV, branch_texture);
    std::vector<int> cage_of_point(layer.points.size(), -1);
    std::vector<int> cage_points;
    std::vector<int> face_sizes, face_corners, corner_uvs, base_polygon;
    std::vector<Uv> uvs;
    std::map<std::tuple<int, float, float>, int> uv_index;
    static const float origin[2] = {0.0f, 0.0f};
    for (std::size_t p = 0; p < polygon_count; ++p) {
        if (!refine[p])
            continue;
        const host::Polygon &poly = layer.polygons[p];
        face_sizes.push_back(static_cast<int>(poly.points.size()));
        base_polygon.push_back(static_cast<int>(p));
        for (int point : poly.points) {
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
        }
    }

    Far::TopologyDescriptor::FVarChannel channel;
    channel.numValues = static_cast<int>(uvs.size());
    channel.valueIndices = corner_uvs.data();
    Far::TopologyDescriptor descriptor;
    descriptor.numVertices = static_cast<int>(cage_points.size());
    descriptor.numFaces = static_cast<int>(face_sizes.size());
    descriptor.numVertsPerFace = face_sizes.data();
    descriptor.vertIndicesPerFace = face_corners.data();
    descriptor.numFVarChannels = 1;
    descriptor.fvarChannels = &channel;

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
    Far::PrimvarRefiner primvars(*refiner);
    for (int level = 1; level <= levels; ++level) {
        const auto l = static_cast<std::size_t>(level);
        vertices[l].resize(static_cast<std::size_t>(refiner->GetLevel(level).GetNumVertices()));
        face_uvs[l].resize(static_cast<std::size_t>(refiner->GetLevel(level).GetNumFVarValues(0)));
        const Vertex *coarse = vertices[l - 1].data();
        Vertex *fine = vertices[l].data();
        primvars.Interpolate(level, coarse, fine);
        const Uv *coarse_uv = face_uvs[l - 1].data();
        Uv *fine_uv = face_uvs[l].data();
        primvars.InterpolateFaceVarying(level, coarse_uv, fine_uv, 0);
    }

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
            for (int point : layer.polygons[p].points)
                if (kept[static_cast<std::size_t>(point)] < 0)
                    kept[static_cast<std::size_t>(point)] = result.add_point(layer.points[static_cast<std::size_t>(point)]);
    // Kept points keep every value they had.
    for (const auto &[key, map] : layer.vmaps) {
        host::VertexMap &copy = result.vmaps[key];
        copy.dim = map.dim;
        for (const auto &[point, value] : map.values)
            if (point >= 0 && static_cast<std::size_t>(point) < kept.size() && kept[static_cast<std::size_t>(point)] >= 0)
                copy.values.emplace(kept[static_cast<std::size_t>(point)], value);
    }
    const int first_refined = static_cast<int>(result.points.size());
    const std::vector<Vertex> &finest = vertices[static_cast<std::size_t>(levels)];
    for (const Vertex &v : finest)
        result.add_point({v.position[0], v.position[1], v.position[2]});
    for (std::size_t m = 0; m < maps.size(); ++m) {
        if (!maps[m].present())
            continue;
        host::VertexMap &map = result.vmaps[{carried[m].type, carried[m].name}];
        map.dim = carried[m].dim;
        int offset = 0;
        for (std::size_t k = 0; k < m; ++k)
            offset += carried[k].dim;
        for (std::size_t v = 0; v < finest.size(); ++v) {
            std::vector<float> value(static_cast<std::size_t>(carried[m].dim));
            for (int i = 0; i < carried[m].dim; ++i)
                value[static_cast<std::size_t>(i)] = static_cast<float>(finest[v].values[offset + i]);
            map.values.emplace(first_refined + static_cast<int>(v), std::move(value));
        }
    }

    const std::vector<Uv> &finest_uvs = face_uvs[static_cast<std::size_t>(levels)];
    host::VertexMap &uv_points = result.vmaps[{ID_TXUV, branch_texture}];
    uv_points.dim = 2;
    host::PolyVertexMap *uv_seams = nullptr;
    for (std::size_t p = 0; p < polygon_count; ++p) {
        const host::Polygon &poly = layer.polygons[p];
        if (!refine[p]) {
            std::vector<int> points;
            for (int point : poly.points)
                points.push_back(kept[static_cast<std::size_t>(point)]);
            const int id = result.add_polygon(poly.type, std::move(points), poly.surface);
            result.polygons.back().tags = poly.tags;
            for (int point : poly.points)
                for (const auto &[key, map] : layer.vpmaps)
                    if (auto it = map.values.find({point, static_cast<int>(p)}); it != map.values.end()) {
                        host::PolyVertexMap &copy = result.vpmaps[key];
                        copy.dim = map.dim;
                        copy.values[{kept[static_cast<std::size_t>(point)], id}] = it->second;
                    }
            continue;
        }
        for (int f : children[p]) {
            const auto corners = last.GetFaceVertices(f);
            const auto values = last.GetFaceFVarValues(f, 0);
            std::vector<int> points;
            for (int c = 0; c < corners.size(); ++c)
                points.push_back(first_refined + corners[c]);
            const int id = result.add_polygon(ID_FACE, points, poly.surface);
            result.polygons.back().tags = poly.tags;
            for (int c = 0; c < corners.size(); ++c) {
                const Uv &uv = finest_uvs[static_cast<std::size_t>(values[c])];
                std::vector<float> value{static_cast<float>(uv.uv[0]), static_cast<float>(uv.uv[1])};
                // The first corner to reach a point gives its continuous value; corners that
                // differ (the seam) get a polygon-specific one.
                const auto [it, added] = uv_points.values.try_emplace(points[static_cast<std::size_t>(c)], value);
                if (!added && it->second != value) {
                    if (!uv_seams) {
                        uv_seams = &result.vpmaps[{ID_TXUV, branch_texture}];
                        uv_seams->dim = 2;
                    }
                    uv_seams->values[{points[static_cast<std::size_t>(c)], id}] = std::move(value);
                }
            }
        }
    }
    if (uv_points.values.empty())
        result.vmaps.erase({ID_TXUV, branch_texture});
    out = std::move(result);
    return true;
}

} // namespace exporter
