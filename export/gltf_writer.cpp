// glTF 2.0 of a built tree: one mesh on one node, one primitive per surface and kind of polygon
// (TRIANGLES for polygons of three or more corners, triangulated with the winding kept
// (normals.h); LINES for the skeleton's two-point polygons; POINTS for one-point ones), one
// material per surface.
//
// Vertex attributes:
// - POSITION: the point, narrowed to float.
// - NORMAL (triangles only): the corner's normal (normals.h): smooth across shallow edges, split
//   at edges sharper than the crease angle; a leaf's own face normal.
// - COLOR_0: the wind data again (prepared_mesh.h: wind_colour), on primitives whose layer holds
//   "RM_range" or "RM_thick", for tools that keep vertex colours and drop custom attributes.
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

#include "buffer_pieces.h"
#include "export.h"
#include "glb_container.h"
#include "gltf_materials.h"
#include "gltf_parts.h"
#include "layer_view.h"
#include "prepared_mesh.h"
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

// A primitive while it is collected: its arrays are filled in place, vertex by vertex, so that a
// large tree's attributes are never held twice.
struct Primitive {
    PrimitiveArrays arrays;          // POSITION, then NORMAL, COLOR_0 and the sources, as flagged
    bool normals = false;            // triangles carry the corner normal
    bool colours = false;            // and the wind colour
    MapView range, thick;            // what the wind colour is made of
    std::vector<Source> sources;
    int corner_floats = 0;           // a corner's record: normal, colour, then the sources
    std::size_t corners = 0;         // polygon corners, the most vertices it can have
    std::size_t triangle_corners = 0;
    std::vector<int> next_of_point;  // the next vertex of the same point, -1 at the end
    std::vector<int> first_of_point; // per point, its first vertex, -1 when none yet
};

class Collector {
public:
    explicit Collector(const PreparedMesh &mesh)
        : layer_(*mesh.layer), materials_(mesh.materials), normals_(mesh.normals),
          wind_colours_(mesh.wind_colours)
    {
    }

    void run()
    {
        // The primitive of each polygon, made in the order the primitives first appear; counted
        // first so that every array is sized once.
        std::vector<int> index_of(materials_.list.size() * 3, -1);
        std::vector<int> primitive_of(layer_.polygon_count(), -1);
        for (std::size_t p = 0; p < layer_.polygon_count(); ++p) {
            const std::size_t n = layer_.polygon_points(p).size();
            if (n == 0)
                continue;
            const Kind kind = n == 1 ? Kind::points : n == 2 ? Kind::lines : Kind::triangles;
            const int material = materials_.of_polygon[p];
            int &slot = index_of[static_cast<std::size_t>(material) * 3 + static_cast<std::size_t>(kind)];
            if (slot < 0) {
                slot = static_cast<int>(primitives_.size());
                primitives_.push_back(make_primitive(material, kind));
            }
            primitive_of[p] = slot;
            Primitive &prim = primitives_[static_cast<std::size_t>(slot)];
            prim.corners += n;
            prim.triangle_corners += kind == Kind::triangles ? (n - 2) * 3 : n;
        }
        for (Primitive &prim : primitives_)
            reserve(prim);

        std::array<float, max_corner_floats> corner{};
        std::vector<Triangle> triangles;
        for (std::size_t p = 0; p < layer_.polygon_count(); ++p) {
            if (primitive_of[p] < 0)
                continue;
            Primitive &prim = primitives_[static_cast<std::size_t>(primitive_of[p])];
            const std::span<const int> poly = layer_.polygon_points(p);
            std::vector<std::uint32_t> &indices = prim.arrays.indices;
            if (prim.arrays.triangles()) {
                triangulate(layer_, p, normals_, triangles);
                for (const Triangle &triangle : triangles)
                    for (const TriangleCorner &c : triangle)
                        indices.push_back(vertex(prim, poly[c.corner], p, &c.normal, corner.data()));
            } else {
                for (int point : poly)
                    indices.push_back(vertex(prim, point, p, nullptr, corner.data()));
            }
        }
    }

    const Materials &materials() const { return materials_; }
    std::vector<Primitive> &primitives() { return primitives_; }

private:
    // normal, colour, two texture coordinates, range, thickness, vectors, density
    static constexpr int max_corner_floats = 3 + 3 + 2 + 2 + 1 + 1 + 3 + 2;

    Primitive make_primitive(int material, Kind kind) const
    {
        const Material &m = materials_.list[static_cast<std::size_t>(material)];
        Primitive prim;
        prim.arrays.material = material;
        prim.arrays.mode = gltf_mode(kind);
        prim.arrays.streams.push_back({"POSITION", 3, {}});
        prim.normals = kind == Kind::triangles;
        if (prim.normals)
            prim.arrays.streams.push_back({"NORMAL", 3, {}});
        prim.range = MapView(layer_, ID_WGHT, "RM_range");
        prim.thick = MapView(layer_, ID_WGHT, "RM_thick");
        prim.colours = wind_colours_ && (prim.range.present() || prim.thick.present());
        if (prim.colours)
            prim.arrays.streams.push_back({"COLOR_0", 3, {}});
        prim.corner_floats = (prim.normals ? 3 : 0) + (prim.colours ? 3 : 0);
        auto add = [&](const char *attribute, HostID type, const std::string &name, int dim,
                       bool flip_v) {
            MapView map(layer_, type, name);
            if (!map.present())
                return;
            prim.sources.push_back(Source{attribute, map, dim, flip_v});
            prim.arrays.streams.push_back({attribute, dim, {}});
            prim.corner_floats += dim;
        };
        add("TEXCOORD_0", ID_TXUV, texture_map(m), 2, true);
        if (m.leaf)
            add("TEXCOORD_1", ID_TXUV, atlas_texture, 2, true);
        add("_RM_RANGE", ID_WGHT, "RM_range", 1, false);
        add("_RM_THICK", ID_WGHT, "RM_thick", 1, false);
        add("_RM_VECTORS", ID_RMVT, "RM_vectors", 3, false);
        add("_RM_DENSITY", ID_RMLD, "RM_density", 2, false);
        return prim;
    }

    // Room for the most vertices the primitive's corners can make. Pages of it that no vertex
    // reaches are never touched, so a tube's shared corners cost address space, not memory.
    void reserve(Primitive &prim) const
    {
        for (VertexStream &stream : prim.arrays.streams)
            stream.values.reserve(prim.corners * static_cast<std::size_t>(stream.dim));
        prim.arrays.vertex_point.reserve(prim.corners);
        prim.next_of_point.reserve(prim.corners);
        prim.arrays.indices.reserve(prim.triangle_corners);
        prim.first_of_point.assign(layer_.points.size(), -1);
    }

    // The vertex of one polygon corner: an earlier vertex of the same point with the same
    // values, or a new one.
    // normal: the corner's normal, on triangles only. corner: room for the corner's record.
    std::uint32_t vertex(Primitive &prim, int point, std::size_t polygon_index,
                         const std::array<float, 3> *normal, float *corner) const
    {
        static const float zero[3] = {0.0f, 0.0f, 0.0f};
        const int polygon = static_cast<int>(polygon_index);
        float *out = corner;
        if (prim.normals)
            out = std::copy(normal->begin(), normal->end(), out);
        if (prim.colours) {
            float range = 0.0f, thick = 0.0f;
            copy_value(prim.range.at(point, polygon), zero, 1, &range);
            copy_value(prim.thick.at(point, polygon), zero, 1, &thick);
            const auto colour = wind_colour(range, thick);
            out = std::copy(colour.begin(), colour.end(), out);
        }
        for (const Source &source : prim.sources) {
            copy_value(source.map.at(point, polygon), zero, source.dim, out);
            if (source.flip_v)
                out[1] = 1.0f - out[1];
            out += source.dim;
        }
        std::vector<VertexStream> &streams = prim.arrays.streams;
        int &first = prim.first_of_point[static_cast<std::size_t>(point)];
        for (int v = first; v >= 0; v = prim.next_of_point[static_cast<std::size_t>(v)])
            if (same_values(streams, static_cast<std::size_t>(v), corner))
                return static_cast<std::uint32_t>(v);
        const int v = static_cast<int>(prim.arrays.vertex_point.size());
        prim.arrays.vertex_point.push_back(point);
        prim.next_of_point.push_back(first);
        first = v;
        const host::Vec3 &p = layer_.points[static_cast<std::size_t>(point)];
        streams[0].values.insert(streams[0].values.end(),
                                 {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)});
        const float *in = corner;
        for (std::size_t s = 1; s < streams.size(); ++s) {
            streams[s].values.insert(streams[s].values.end(), in, in + streams[s].dim);
            in += streams[s].dim;
        }
        return static_cast<std::uint32_t>(v);
    }

    // Vertex v holds the corner's record in every stream after the position (the same point,
    // so the same position).
    static bool same_values(const std::vector<VertexStream> &streams, std::size_t v, const float *corner)
    {
        for (std::size_t s = 1; s < streams.size(); ++s) {
            const auto dim = static_cast<std::size_t>(streams[s].dim);
            if (std::memcmp(&streams[s].values[v * dim], corner, dim * sizeof(float)) != 0)
                return false;
            corner += dim;
        }
        return true;
    }

    const host::Layer &layer_;
    const Materials &materials_;
    const CornerNormals &normals_;
    bool wind_colours_;
    std::vector<Primitive> primitives_;
};

// Appends accessors and their buffer views to a model. The bytes go either to the model's
// buffer 0 (the game-ready writer, which serialises through tinygltf) or, named in place, to
// pieces of the file to come (the plain writer).
class ModelBuilder {
public:
    explicit ModelBuilder(tinygltf::Model &model, BufferPieces *pieces = nullptr)
        : model_(model), pieces_(pieces)
    {
    }

    // A view of the whole array, whose storage outlives the file when pieces are collected.
    template <typename T>
    int add(const std::vector<T> &data, std::size_t count, int type, int component, int target)
    {
        const std::string_view bytes(reinterpret_cast<const char *>(data.data()), data.size() * sizeof(T));
        return add_accessor(add_view(bytes, target), count, type, component);
    }

    // A view of values made for the file: the uint32 indices narrowed to 16 bits.
    int add_narrowed(const std::vector<std::uint32_t> &indices, int target)
    {
        std::string bytes(indices.size() * sizeof(std::uint16_t), '\0');
        for (std::size_t i = 0; i < indices.size(); ++i) {
            const auto narrow = static_cast<std::uint16_t>(indices[i]);
            std::memcpy(&bytes[i * sizeof narrow], &narrow, sizeof narrow);
        }
        const int view = pieces_ ? view_at(pieces_->add_made(std::move(bytes)), indices.size() * 2, target)
                                 : add_view(bytes, target);
        return add_accessor(view, indices.size(), TINYGLTF_TYPE_SCALAR, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
    }

    tinygltf::Accessor &accessor(int index) { return model_.accessors[static_cast<std::size_t>(index)]; }

    // A buffer view of raw bytes (an embedded image), without an accessor.
    int add_bytes(const std::string &data) { return add_view(data, 0); }

private:
    int add_view(std::string_view bytes, int target)
    {
        if (pieces_)
            return view_at(pieces_->add(bytes), bytes.size(), target);
        std::vector<unsigned char> &buffer = model_.buffers[0].data;
        const std::size_t at = buffer.size();
        buffer.insert(buffer.end(), bytes.begin(), bytes.end());
        buffer.resize((buffer.size() + 3) / 4 * 4, 0); // every view starts 4-aligned
        return view_at(at, bytes.size(), target);
    }

    int view_at(std::size_t offset, std::size_t length, int target)
    {
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = offset;
        view.byteLength = length;
        view.target = target;
        model_.bufferViews.push_back(view);
        return static_cast<int>(model_.bufferViews.size()) - 1;
    }

    int add_accessor(int view, std::size_t count, int type, int component)
    {
        tinygltf::Accessor accessor;
        accessor.bufferView = view;
        accessor.byteOffset = 0;
        accessor.componentType = component;
        accessor.count = count;
        accessor.type = type;
        model_.accessors.push_back(accessor);
        return static_cast<int>(model_.accessors.size()) - 1;
    }

    tinygltf::Model &model_;
    BufferPieces *pieces_;
};

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
    if (count <= 65535)
        out.indices = builder.add_narrowed(prim.indices, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    else
        out.indices = builder.add(prim.indices, prim.indices.size(), TINYGLTF_TYPE_SCALAR,
                                  TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    return out;
}

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

CollectedTree collect_tree(const PreparedMesh &prepared)
{
    Collector collector(prepared);
    collector.run();
    CollectedTree tree;
    tree.materials = collector.materials();
    for (const Material &m : tree.materials.list)
        tree.looks.push_back(MaterialLook{m.colour, m.leaf});
    for (Primitive &prim : collector.primitives())
        tree.mesh.push_back(std::move(prim.arrays));
    return tree;
}

CollectedTree collect_tree(const host::Layer &layer)
{
    PreparedMesh prepared;
    std::string error;
    if (!prepare_mesh(layer, ExportOptions{}, Format::gltf, prepared, error))
        return {};
    return collect_tree(prepared);
}

tinygltf::Primitive plain_primitive(tinygltf::Model &model, const PrimitiveArrays &prim)
{
    ModelBuilder builder(model);
    return gltf_primitive(prim, builder);
}

// A file name as a URI reference: everything but the unreserved characters percent-encoded.
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

// The plain glTF of a tree: the model, the arrays its buffer views name, and that buffer as
// pieces. Built in place, because the pieces point into the arrays.
struct PlainGltf {
    tinygltf::Model model;
    CollectedTree collected;
    BufferPieces buffer;
};

// binary: images go into the buffer; else they are named by their files' URIs beside path.
// vertex_order: triangles and vertices in the order a GPU's caches like (vertex_order.h).
void build_plain(PreparedMesh &mesh_data, bool binary, const std::string &path, bool vertex_order,
                 PlainGltf &out)
{
    out.collected = collect_tree(mesh_data);
    CornerNormals().normal.swap(mesh_data.normals.normal); // in the arrays now
    CollectedTree &collected = out.collected;
    if (vertex_order)
        optimise_vertex_order(collected.mesh);
    const host::Layer &layer = *mesh_data.layer;

    tinygltf::Model &model = out.model;
    model.asset.version = "2.0";
    model.asset.generator = "Ramulon";

    tinygltf::Node node;
    node.name = "Ramulon tree";
    const bool any = !collected.mesh.empty();
    const auto used = used_images(layer, collected.materials, mesh_data.textures);
    if (any || (binary && !used.empty()))
        model.buffers.emplace_back();
    ModelBuilder builder(model, &out.buffer);
    GltfImages images;
    for (const auto &[name, bytes] : used) {
        if (binary)
            images.push_back({name, builder.add_bytes(*bytes), {}});
        else
            images.push_back({name, -1, uri_of(file_name(texture_path(path, name)))});
    }
    add_gltf_materials(model, layer, collected.materials, images, mesh_data.bark_repeat);
    if (any) {
        tinygltf::Mesh mesh;
        mesh.name = "Ramulon tree";
        for (const PrimitiveArrays &prim : collected.mesh)
            mesh.primitives.push_back(gltf_primitive(prim, builder));
        model.meshes.push_back(std::move(mesh));
        node.mesh = 0;
    }
    model.nodes.push_back(node);
    tinygltf::Scene scene;
    scene.nodes.push_back(0);
    model.scenes.push_back(scene);
    model.defaultScene = 0;
}

// The model's JSON with its one buffer named by length (and by uri, for a .gltf beside its .bin).
bool plain_json(PlainGltf &gltf, const std::string &path, const std::string &bin_uri, std::string &json,
                std::string &error)
{
    std::string text;
    if (!serialise(gltf.model, false, path, text, error))
        return false;
    nlohmann::json tree = nlohmann::json::parse(text);
    tree["buffers"][0] = {{"byteLength", gltf.buffer.size()}};
    if (!bin_uri.empty()) {
        tree["buffers"][0]["uri"] = bin_uri;
        json = tree.dump(2) + "\n";
    } else {
        json = tree.dump();
    }
    return true;
}

// The GLB as the header, the buffer's pieces and the padding.
bool glb_pieces(PlainGltf &gltf, const std::string &path, std::string &head, std::vector<std::string_view> &pieces,
                std::string &error)
{
    std::string json;
    if (!plain_json(gltf, path, {}, json, error))
        return false;
    if (!glb_fits(json.size(), gltf.buffer.size())) {
        error = "cannot write " + path + ": the tree is larger than a GLB file can hold";
        return false;
    }
    head = glb_head(json, gltf.buffer.size());
    pieces = {head};
    pieces.insert(pieces.end(), gltf.buffer.pieces().begin(), gltf.buffer.pieces().end());
    pieces.push_back(glb_padding(gltf.buffer.size()));
    return true;
}

std::size_t total_size(const std::vector<std::string_view> &pieces)
{
    std::size_t total = 0;
    for (const std::string_view piece : pieces)
        total += piece.size();
    return total;
}

std::string write(const host::Layer &layer, const std::string &path, bool binary,
                  const GltfOptions &options, GltfReport *report)
{
    if (std::string bad = check_options(options); !bad.empty())
        return "cannot write " + path + ": " + bad;
    PreparedMesh prepared;
    std::string error, text;
    if (!prepare_mesh(layer, options.look, Format::gltf, prepared, error))
        return "cannot write " + path + ": " + error;
    if (!options.plain())
        return write_game_ready(prepared, path, binary, options, report);
    PlainGltf gltf;
    build_plain(prepared, binary, path, options.vertex_order, gltf);
    tinygltf::Model &model = gltf.model;
    if (report) {
        *report = {};
        std::size_t triangles = 0;
        for (const tinygltf::Mesh &mesh : model.meshes)
            for (const tinygltf::Primitive &prim : mesh.primitives)
                if (prim.mode == TINYGLTF_MODE_TRIANGLES)
                    triangles += model.accessors[static_cast<std::size_t>(prim.indices)].count / 3;
        report->level_triangles.push_back(triangles);
    }
    StagedFiles files;
    // Beside a .gltf, the images it names.
    if (!binary)
        for (const auto &[name, bytes] : used_images(*prepared.layer, prepared.materials, prepared.textures))
            if (!files.stage(texture_path(path, name), *bytes, error))
                return error;
    if (model.buffers.empty()) {
        if (!serialise(model, binary, path, text, error) || !files.stage(path, text, error) ||
            !files.commit(error))
            return error;
        if (report)
            report->files.push_back({path, text.size()});
        return {};
    }
    if (binary) {
        std::string head;
        std::vector<std::string_view> pieces;
        if (!glb_pieces(gltf, path, head, pieces, error) || !files.stage(path, pieces, error) ||
            !files.commit(error))
            return error;
        if (report)
            report->files.push_back({path, total_size(pieces)});
        return {};
    }
    // The buffer goes to its own file, named in the JSON.
    std::string bin_path = sibling_path(path, ".bin");
    if (bin_path == path)
        bin_path += ".bin";
    if (!plain_json(gltf, path, uri_of(file_name(bin_path)), text, error) ||
        !files.stage(bin_path, gltf.buffer.pieces(), error) || !files.stage(path, text, error) ||
        !files.commit(error))
        return error;
    if (report)
        report->files.insert(report->files.end(), {{path, text.size()}, {bin_path, gltf.buffer.size()}});
    return {};
}

GltfOptions with_look(const ExportOptions &look)
{
    GltfOptions options;
    options.look = look;
    return options;
}

} // namespace

std::string write_gltf(const host::Layer &layer, const std::string &path)
{
    return write(layer, path, false, GltfOptions{}, nullptr);
}

std::string write_glb(const host::Layer &layer, const std::string &path)
{
    return write(layer, path, true, GltfOptions{}, nullptr);
}

std::string write_gltf(const host::Layer &layer, const std::string &path, const ExportOptions &options)
{
    return write(layer, path, false, with_look(options), nullptr);
}

std::string write_glb(const host::Layer &layer, const std::string &path, const ExportOptions &options)
{
    return write(layer, path, true, with_look(options), nullptr);
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
    PreparedMesh prepared;
    std::string error;
    if (!prepare_mesh(layer, ExportOptions{}, Format::gltf, prepared, error))
        return "cannot write " + name + ": " + error;
    PlainGltf gltf;
    build_plain(prepared, true, name, true, gltf);
    if (gltf.model.buffers.empty())
        return serialise(gltf.model, true, name, bytes, error) ? std::string() : error;
    std::string head;
    std::vector<std::string_view> pieces;
    if (!glb_pieces(gltf, name, head, pieces, error))
        return error;
    bytes.clear();
    bytes.reserve(total_size(pieces));
    for (const std::string_view piece : pieces)
        bytes += piece;
    return {};
}

} // namespace exporter
