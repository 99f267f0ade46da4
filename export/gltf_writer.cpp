// glTF 2.0 of a built tree: one mesh on one node, one primitive per surface and kind of polygon
// (TRIANGLES for polygons of three or more corners, fan-triangulated from the first corner with
// the winding kept; LINES for the skeleton's two-point polygons; POINTS for one-point ones), one
// material per surface.
//
// Vertex attributes:
// - POSITION: the point, narrowed to float.
// - NORMAL (triangles only): the point's smooth normal, the area-weighted sum of the normals of
//   every polygon around it in the whole layer (so it does not change across surfaces or at a
//   texture seam); (0, 1, 0) where those cancel.
// - TEXCOORD_0: "RM_branch", or "RM_leaf" on the leaf surface; TEXCOORD_1: "RM_all_leaves", on
//   the leaf surface only. glTF puts v = 0 at the top of an image where the modeller puts it at
//   the bottom, so v is written as 1 - v.
// - _RM_RANGE ("RM_range", float), _RM_THICK ("RM_thick", float), _RM_VECTORS ("RM_vectors",
//   vec3), _RM_DENSITY ("RM_density", vec2: age, steps): as stored, for wind and growth shaders.
// An attribute is written on a primitive when the layer holds its map at all; a corner whose
// point carries no value gets 0 in every component ((0, 0) before the flip for texture
// coordinates). Every attribute is read per corner, polygon-specific value first, and a point
// becomes one vertex per distinct set of corner values within its primitive.
#include <cstdint>
#include <cstring>
#include <map>
#include <sstream>

#include "export.h"
#include "gltf_parts.h"
#include "layer_view.h"
#include "staged_files.h"
#include "tiny_gltf_setup.h"
#include "vertex_order.h"

namespace exporter {
namespace {

enum class Kind { points, lines, triangles };

int gltf_mode(Kind kind)
{
    return kind == Kind::points ? TINYGLTF_MODE_POINTS
           : kind == Kind::lines ? TINYGLTF_MODE_LINE
                                 : TINYGLTF_MODE_TRIANGLES;
}

// A corner attribute read from one vertex map.
struct Source {
    std::string attribute; // the glTF name
    MapView map;
    int dim = 0;
    bool flip_v = false;
};

struct Primitive {
    int material = 0;
    Kind kind = Kind::triangles;
    std::vector<Source> sources;
    int stride = 0;                  // floats per vertex over all sources
    std::vector<float> values;       // stride floats per vertex
    std::vector<int> vertex_point;   // the point of every vertex
    std::vector<int> next_of_point;  // the next vertex of the same point, -1 at the end
    std::vector<int> first_of_point; // per point, its first vertex, -1 when none yet
    std::vector<std::uint32_t> indices;
};

class Collector {
public:
    explicit Collector(const host::Layer &layer) : layer_(layer), materials_(collect_materials(layer))
    {
    }

    void run()
    {
        std::map<std::pair<int, Kind>, std::size_t> index_of;
        std::vector<float> corner;
        std::vector<std::uint32_t> vertices;
        for (std::size_t p = 0; p < layer_.polygons.size(); ++p) {
            const host::Polygon &poly = layer_.polygons[p];
            const std::size_t n = poly.points.size();
            if (n == 0)
                continue;
            const Kind kind = n == 1 ? Kind::points : n == 2 ? Kind::lines : Kind::triangles;
            const int material = materials_.of_polygon[p];
            auto [slot, added] = index_of.try_emplace({material, kind}, primitives_.size());
            if (added)
                primitives_.push_back(make_primitive(material, kind));
            Primitive &prim = primitives_[slot->second];

            vertices.clear();
            for (int point : poly.points)
                vertices.push_back(vertex(prim, point, static_cast<int>(p), corner));
            if (kind == Kind::triangles) {
                for (std::size_t i = 1; i + 1 < n; ++i)
                    prim.indices.insert(prim.indices.end(), {vertices[0], vertices[i], vertices[i + 1]});
            } else {
                prim.indices.insert(prim.indices.end(), vertices.begin(), vertices.end());
            }
        }
    }

    const Materials &materials() const { return materials_; }
    const std::vector<Primitive> &primitives() const { return primitives_; }

private:
    Primitive make_primitive(int material, Kind kind) const
    {
        const Material &m = materials_.list[static_cast<std::size_t>(material)];
        Primitive prim;
        prim.material = material;
        prim.kind = kind;
        auto add = [&](const char *attribute, HostID type, const std::string &name, int dim,
                       bool flip_v) {
            MapView map(layer_, type, name);
            if (!map.present())
                return;
            prim.sources.push_back(Source{attribute, map, dim, flip_v});
            prim.stride += dim;
        };
        add("TEXCOORD_0", ID_TXUV, texture_map(m), 2, true);
        if (m.leaf)
            add("TEXCOORD_1", ID_TXUV, atlas_texture, 2, true);
        add("_RM_RANGE", ID_WGHT, "RM_range", 1, false);
        add("_RM_THICK", ID_WGHT, "RM_thick", 1, false);
        add("_RM_VECTORS", ID_RMVT, "RM_vectors", 3, false);
        add("_RM_DENSITY", ID_RMLD, "RM_density", 2, false);
        prim.first_of_point.assign(layer_.points.size(), -1);
        return prim;
    }

    // The vertex of one polygon corner: an earlier vertex of the same point with the same
    // values, or a new one.
    std::uint32_t vertex(Primitive &prim, int point, int polygon, std::vector<float> &corner) const
    {
        static const float zero[3] = {0.0f, 0.0f, 0.0f};
        corner.resize(static_cast<std::size_t>(prim.stride));
        float *out = corner.data();
        for (const Source &source : prim.sources) {
            copy_value(source.map.at(point, polygon), zero, source.dim, out);
            if (source.flip_v)
                out[1] = 1.0f - out[1];
            out += source.dim;
        }
        const std::size_t bytes = corner.size() * sizeof(float);
        int &first = prim.first_of_point[static_cast<std::size_t>(point)];
        for (int v = first; v >= 0; v = prim.next_of_point[static_cast<std::size_t>(v)])
            if (bytes == 0 ||
                std::memcmp(&prim.values[static_cast<std::size_t>(v) * corner.size()], corner.data(),
                            bytes) == 0)
                return static_cast<std::uint32_t>(v);
        const int v = static_cast<int>(prim.vertex_point.size());
        prim.vertex_point.push_back(point);
        prim.next_of_point.push_back(first);
        first = v;
        prim.values.insert(prim.values.end(), corner.begin(), corner.end());
        return static_cast<std::uint32_t>(v);
    }

    const host::Layer &layer_;
    Materials materials_;
    std::vector<Primitive> primitives_;
};

// Appends accessors and their buffer views to a model whose buffer 0 collects the bytes.
class ModelBuilder {
public:
    explicit ModelBuilder(tinygltf::Model &model) : model_(model) {}

    template <typename T>
    int add(const std::vector<T> &data, std::size_t count, int type, int component, int target)
    {
        std::vector<unsigned char> &bytes = model_.buffers[0].data;
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = bytes.size();
        view.byteLength = data.size() * sizeof(T);
        view.target = target;
        const auto *raw = reinterpret_cast<const unsigned char *>(data.data());
        bytes.insert(bytes.end(), raw, raw + view.byteLength);
        bytes.resize((bytes.size() + 3) / 4 * 4, 0); // every view starts 4-aligned
        model_.bufferViews.push_back(view);

        tinygltf::Accessor accessor;
        accessor.bufferView = static_cast<int>(model_.bufferViews.size()) - 1;
        accessor.byteOffset = 0;
        accessor.componentType = component;
        accessor.count = count;
        accessor.type = type;
        model_.accessors.push_back(accessor);
        return static_cast<int>(model_.accessors.size()) - 1;
    }

    tinygltf::Accessor &accessor(int index) { return model_.accessors[static_cast<std::size_t>(index)]; }

private:
    tinygltf::Model &model_;
};

} // namespace

tinygltf::Material gltf_material(const Material &m)
{
    tinygltf::Material out;
    out.name = m.name;
    out.pbrMetallicRoughness.baseColorFactor = {m.colour[0], m.colour[1], m.colour[2], 1.0};
    out.pbrMetallicRoughness.metallicFactor = 0.0; // bark and leaves
    out.pbrMetallicRoughness.roughnessFactor = 1.0;
    out.emissiveFactor = {0.0, 0.0, 0.0};
    out.doubleSided = m.leaf; // a leaf is a single sheet, seen from both sides
    return out;
}

namespace {

// One collected primitive as flat arrays, in the order the collector met its vertices.
PrimitiveArrays primitive_arrays(const host::Layer &layer, const Primitive &prim,
                                 const std::vector<std::array<float, 3>> &normals)
{
    PrimitiveArrays out;
    out.material = prim.material;
    out.mode = gltf_mode(prim.kind);
    out.vertex_point = prim.vertex_point;
    out.indices = prim.indices;
    const std::size_t count = prim.vertex_point.size();

    VertexStream positions{"POSITION", 3, {}};
    positions.values.reserve(count * 3);
    for (int point : prim.vertex_point) {
        const host::Vec3 &p = layer.points[static_cast<std::size_t>(point)];
        positions.values.insert(positions.values.end(),
                                {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)});
    }
    out.streams.push_back(std::move(positions));

    if (prim.kind == Kind::triangles) {
        VertexStream normal{"NORMAL", 3, {}};
        normal.values.reserve(count * 3);
        for (int point : prim.vertex_point) {
            const auto &n = normals[static_cast<std::size_t>(point)];
            normal.values.insert(normal.values.end(), n.begin(), n.end());
        }
        out.streams.push_back(std::move(normal));
    }

    int offset = 0;
    for (const Source &source : prim.sources) {
        VertexStream data{source.attribute, source.dim, {}};
        data.values.reserve(count * static_cast<std::size_t>(source.dim));
        for (std::size_t v = 0; v < count; ++v) {
            const float *record = &prim.values[v * static_cast<std::size_t>(prim.stride)] + offset;
            data.values.insert(data.values.end(), record, record + source.dim);
        }
        out.streams.push_back(std::move(data));
        offset += source.dim;
    }
    return out;
}

tinygltf::Primitive gltf_primitive(const PrimitiveArrays &prim, ModelBuilder &builder)
{
    tinygltf::Primitive out;
    out.material = prim.material;
    out.mode = prim.mode;
    const std::size_t count = prim.vertex_count();

    for (const VertexStream &stream : prim.streams) {
        const int type = stream.dim == 1 ? TINYGLTF_TYPE_SCALAR
                         : stream.dim == 2 ? TINYGLTF_TYPE_VEC2
                                           : TINYGLTF_TYPE_VEC3;
        const int accessor = builder.add(stream.values, count, type, TINYGLTF_COMPONENT_TYPE_FLOAT,
                                         TINYGLTF_TARGET_ARRAY_BUFFER);
        if (stream.attribute == "POSITION") {
            std::vector<double> low(3, 0.0), high(3, 0.0);
            for (std::size_t v = 0; v < count; ++v)
                for (std::size_t i = 0; i < 3; ++i) {
                    const float x = stream.values[v * 3 + i];
                    if (v == 0 || x < low[i])
                        low[i] = x;
                    if (v == 0 || x > high[i])
                        high[i] = x;
                }
            builder.accessor(accessor).minValues = low;
            builder.accessor(accessor).maxValues = high;
        }
        out.attributes[stream.attribute] = accessor;
    }

    // 16-bit indices while they cannot reach 65535, which glTF keeps for primitive restart.
    if (count <= 65535) {
        const std::vector<std::uint16_t> shorts(prim.indices.begin(), prim.indices.end());
        out.indices = builder.add(shorts, shorts.size(), TINYGLTF_TYPE_SCALAR,
                                  TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                                  TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    } else {
        out.indices = builder.add(prim.indices, prim.indices.size(), TINYGLTF_TYPE_SCALAR,
                                  TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
                                  TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    }
    return out;
}

} // namespace

CollectedTree collect_tree(const host::Layer &layer)
{
    Collector collector(layer);
    collector.run();
    CollectedTree tree;
    tree.materials = collector.materials();
    for (const Material &m : tree.materials.list)
        tree.looks.push_back(MaterialLook{m.colour, m.leaf});
    if (!collector.primitives().empty()) {
        const std::vector<std::array<float, 3>> normals = point_normals(layer);
        for (const Primitive &prim : collector.primitives())
            tree.mesh.push_back(primitive_arrays(layer, prim, normals));
    }
    return tree;
}

tinygltf::Primitive plain_primitive(tinygltf::Model &model, const PrimitiveArrays &prim)
{
    ModelBuilder builder(model);
    return gltf_primitive(prim, builder);
}

namespace {

tinygltf::Model gltf_model(const host::Layer &layer, bool vertex_order)
{
    CollectedTree tree = collect_tree(layer);
    if (vertex_order)
        optimise_vertex_order(tree.mesh);

    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "Ramulon";
    for (const Material &m : tree.materials.list)
        model.materials.push_back(gltf_material(m));

    tinygltf::Node node;
    node.name = "Ramulon tree";
    if (!tree.mesh.empty()) {
        model.buffers.emplace_back();
        tinygltf::Mesh mesh;
        mesh.name = "Ramulon tree";
        for (const PrimitiveArrays &prim : tree.mesh)
            mesh.primitives.push_back(plain_primitive(model, prim));
        model.meshes.push_back(std::move(mesh));
        node.mesh = 0;
    }
    model.nodes.push_back(node);
    tinygltf::Scene scene;
    scene.nodes.push_back(0);
    model.scenes.push_back(scene);
    model.defaultScene = 0;
    return model;
}

} // namespace

std::string uri_of(const std::string &name)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool serialise(tinygltf::Model &model, bool binary, const std::string &path, std::string &out,
               std::string &error)
{
    tinygltf::TinyGLTF gltf;
    std::ostringstream stream;
    if (!gltf.WriteGltfSceneToStream(&model, stream, !binary, binary) || !stream) {
        error = "cannot write " + path + ": the glTF serialiser failed";
        return false;
    }
    out = std::move(stream).str();
    return true;
}

namespace {

std::string write(const host::Layer &layer, const std::string &path, bool binary,
                  const GltfOptions &options, GltfReport *report)
{
    if (std::string bad = check_options(options); !bad.empty())
        return "cannot write " + path + ": " + bad;
    if (std::string bad = check_layer(layer); !bad.empty())
        return "cannot write " + path + ": " + bad;
    if (!options.plain())
        return write_game_ready(layer, path, binary, options, report);
    tinygltf::Model model = gltf_model(layer, options.vertex_order);
    std::string error, text;
    StagedFiles files;
    if (report) {
        *report = {};
        std::size_t triangles = 0;
        for (const tinygltf::Mesh &mesh : model.meshes)
            for (const tinygltf::Primitive &prim : mesh.primitives)
                if (prim.mode == TINYGLTF_MODE_TRIANGLES)
                    triangles += model.accessors[static_cast<std::size_t>(prim.indices)].count / 3;
        report->level_triangles.push_back(triangles);
    }
    if (binary || model.buffers.empty()) {
        if (!serialise(model, binary, path, text, error) || !files.stage(path, text, error) ||
            !files.commit(error))
            return error;
        if (report)
            report->files.push_back({path, text.size()});
        return {};
    }
    // The buffer goes to its own file: serialise without it, then name the file in its place.
    std::string bin_path = sibling_path(path, ".bin");
    if (bin_path == path)
        bin_path += ".bin";
    const std::vector<unsigned char> data = std::move(model.buffers[0].data);
    model.buffers[0].data.clear();
    if (!serialise(model, false, path, text, error))
        return error;
    nlohmann::json json = nlohmann::json::parse(text);
    json["buffers"][0] = {{"byteLength", data.size()}, {"uri", uri_of(file_name(bin_path))}};
    const std::string bin(data.begin(), data.end());
    text = json.dump(2) + "\n";
    if (!files.stage(bin_path, bin, error) || !files.stage(path, text, error) || !files.commit(error))
        return error;
    if (report)
        report->files.insert(report->files.end(), {{path, text.size()}, {bin_path, bin.size()}});
    return {};
}

} // namespace

std::string write_gltf(const host::Layer &layer, const std::string &path)
{
    return write(layer, path, false, {}, nullptr);
}

std::string write_glb(const host::Layer &layer, const std::string &path)
{
    return write(layer, path, true, {}, nullptr);
}

std::string write_gltf(const host::Layer &layer, const std::string &path, const GltfOptions &options,
                       GltfReport *report)
{
    return write(layer, path, false, options, report);
}

std::string write_glb(const host::Layer &layer, const std::string &path, const GltfOptions &options,
                      GltfReport *report)
{
    return write(layer, path, true, options, report);
}

} // namespace exporter
