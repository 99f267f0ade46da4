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
#include <span>
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
        // The primitive of each (material, kind), -1 until its first polygon.
        std::vector<int> index_of(materials_.list.size() * 3, -1);
        std::vector<float> corner;
        std::vector<std::uint32_t> vertices;
        for (std::size_t p = 0; p < layer_.polygon_count(); ++p) {
            const std::span<const int> poly = layer_.polygon_points(p);
            const std::size_t n = poly.size();
            if (n == 0)
                continue;
            const Kind kind = n == 1 ? Kind::points : n == 2 ? Kind::lines : Kind::triangles;
            const int material = materials_.of_polygon[p];
            int &slot = index_of[static_cast<std::size_t>(material) * 3 + static_cast<std::size_t>(kind)];
            if (slot < 0) {
                slot = static_cast<int>(primitives_.size());
                primitives_.push_back(make_primitive(material, kind));
            }
            Primitive &prim = primitives_[static_cast<std::size_t>(slot)];

            vertices.clear();
            for (int point : poly)
                vertices.push_back(vertex(prim, point, static_cast<int>(p), corner));
            if (kind == Kind::triangles) {
                for (std::size_t i = 1; i + 1 < n; ++i)
                    prim.indices.insert(prim.indices.end(), {vertices[0], vertices[i], vertices[i + 1]});
            } else {
                prim.indices.insert(prim.indices.end(), vertices.begin(), vertices.end());
            }
        }
        // The search chains served only to share vertices.
        for (Primitive &prim : primitives_) {
            std::vector<int>().swap(prim.next_of_point);
            std::vector<int>().swap(prim.first_of_point);
        }
    }

    const Materials &materials() const { return materials_; }
    const std::vector<Primitive> &primitives() const { return primitives_; }
    std::vector<Primitive> &primitives() { return primitives_; }

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
        return add_written<T>(data.size(), count, type, component, target,
                              [&](auto put) { put(data.data(), data.size()); });
    }

    // A view of `values` values of T, which fill writes straight into the buffer in order through
    // put(pointer, how many): a large tree's attributes need no copy of their own first.
    template <typename T, typename Fill>
    int add_written(std::size_t values, std::size_t count, int type, int component, int target,
                    Fill fill)
    {
        std::vector<unsigned char> &bytes = model_.buffers[0].data;
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = bytes.size();
        view.byteLength = values * sizeof(T);
        view.target = target;
        bytes.resize((bytes.size() + view.byteLength + 3) / 4 * 4, 0); // every view starts 4-aligned
        unsigned char *cursor = bytes.data() + view.byteOffset;
        fill([&cursor](const T *v, std::size_t n) {
            std::memcpy(cursor, v, n * sizeof(T));
            cursor += n * sizeof(T);
        });
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
        out.indices = builder.add_written<std::uint16_t>(
            prim.indices.size(), prim.indices.size(), TINYGLTF_TYPE_SCALAR,
            TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER,
            [&](auto put) {
                for (const std::uint32_t index : prim.indices) {
                    const auto narrow = static_cast<std::uint16_t>(index);
                    put(&narrow, 1);
                }
            });
    } else {
        out.indices = builder.add(prim.indices, prim.indices.size(), TINYGLTF_TYPE_SCALAR,
                                  TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
                                  TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    }
    return out;
}

std::size_t padded(std::size_t bytes) { return (bytes + 3) / 4 * 4; }

// The bytes gltf_primitive will append for these primitives, so that the buffer is sized once.
std::size_t buffer_bytes(const std::vector<PrimitiveArrays> &primitives)
{
    std::size_t total = 0;
    for (const PrimitiveArrays &prim : primitives) {
        for (const VertexStream &stream : prim.streams)
            total += stream.values.size() * sizeof(float);
        total += padded(prim.indices.size() * (prim.vertex_count() <= 65535 ? 2 : 4));
    }
    return total;
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
        for (Primitive &prim : collector.primitives()) {
            tree.mesh.push_back(primitive_arrays(layer, prim, normals));
            prim = Primitive{}; // copied into its arrays: not held twice
        }
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
        model.buffers[0].data.reserve(buffer_bytes(tree.mesh));
        tinygltf::Mesh mesh;
        mesh.name = "Ramulon tree";
        for (PrimitiveArrays &prim : tree.mesh) {
            mesh.primitives.push_back(plain_primitive(model, prim));
            prim = PrimitiveArrays{}; // in the buffer now: a large tree need not hold it twice
        }
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

void append_word(std::string &out, std::uint32_t v)
{
    const char bytes[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                           static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
    out.append(bytes, 4);
}

// The GLB container, put together here rather than by the serialiser, which would copy a large
// tree's buffer twice more on the way: tinygltf writes the JSON without the buffer's bytes, and
// the buffer is then named by its length alone, as a GLB's first buffer is. The file is the
// header with the JSON chunk and the binary chunk's header (head), the buffer itself (data), and
// the binary chunk's padding (tail).
struct GlbParts {
    std::string head;
    std::vector<unsigned char> data;
    std::string_view tail;
};

bool glb_parts(tinygltf::Model &model, const std::string &path, GlbParts &out, std::string &error)
{
    out.data = std::move(model.buffers[0].data);
    model.buffers[0].data.clear();
    std::string text;
    if (!serialise(model, false, path, text, error))
        return false;
    nlohmann::json json = nlohmann::json::parse(text);
    json["buffers"][0] = {{"byteLength", out.data.size()}};
    const std::string content = json.dump();
    const std::size_t json_chunk = padded(content.size()), bin_chunk = padded(out.data.size());
    const std::size_t total = 12 + 8 + json_chunk + (out.data.empty() ? 0 : 8 + bin_chunk);
    if (total > UINT32_MAX) {
        error = "cannot write " + path + ": the tree is larger than a GLB file can hold";
        return false;
    }
    std::string &head = out.head;
    head.reserve(28 + json_chunk);
    head += "glTF";
    append_word(head, 2);
    append_word(head, static_cast<std::uint32_t>(total));
    append_word(head, static_cast<std::uint32_t>(json_chunk));
    append_word(head, 0x4E4F534Au); // "JSON"
    head += content;
    head.append(json_chunk - content.size(), ' ');
    if (!out.data.empty()) {
        append_word(head, static_cast<std::uint32_t>(bin_chunk));
        append_word(head, 0x004E4942u); // "BIN"
        out.tail = std::string_view("\0\0\0", bin_chunk - out.data.size());
    }
    return true;
}

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
    if (binary && !model.buffers.empty()) {
        GlbParts parts;
        if (!glb_parts(model, path, parts, error))
            return error;
        const std::string_view data(reinterpret_cast<const char *>(parts.data.data()), parts.data.size());
        if (!files.stage(path, {parts.head, data, parts.tail}, error) || !files.commit(error))
            return error;
        if (report)
            report->files.push_back({path, parts.head.size() + data.size() + parts.tail.size()});
        return {};
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

std::string glb_bytes(const host::Layer &layer, std::string &bytes)
{
    const std::string name = "tree.glb";
    if (std::string bad = check_layer(layer); !bad.empty())
        return "cannot write " + name + ": " + bad;
    tinygltf::Model model = gltf_model(layer, true);
    std::string error;
    if (model.buffers.empty())
        return serialise(model, true, name, bytes, error) ? std::string() : error;
    GlbParts parts;
    if (!glb_parts(model, name, parts, error))
        return error;
    bytes.clear();
    bytes.reserve(parts.head.size() + parts.data.size() + parts.tail.size());
    bytes += parts.head;
    bytes.append(reinterpret_cast<const char *>(parts.data.data()), parts.data.size());
    bytes += parts.tail;
    return {};
}

} // namespace exporter
