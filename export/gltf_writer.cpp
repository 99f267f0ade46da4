// glTF 2.0 of a built tree: one mesh on one node, one primitive per surface and kind of polygon
// (gltf_collect.h: the primitives and their attributes), one material per surface.
//
// The plain file is written one primitive at a time: each is collected, put in the order a
// GPU's caches like, written where it belongs in the file and dropped before the next is made,
// so that a large tree is never held whole in memory beside its layer. A GLB's JSON comes
// before its buffer, so room for the JSON is kept at the front, sized from the primitives'
// attributes before any is collected, and the JSON chunk is filled up with spaces, as the GLB
// container pads it anyway.
#include <cstdint>
#include <cstring>
#include <span>
#include <sstream>

#include "export/cancel.h"
#include "export/gltf/buffer_pieces.h"
#include "export/export.h"
#include "export/gltf/glb_container.h"
#include "export/gltf/gltf_collect.h"
#include "export/gltf/gltf_materials.h"
#include "export/gltf/gltf_parts.h"
#include "export/materials/materials.h"
#include "export/mesh/layer_view.h"
#include "export/out_of_memory.h"
#include "export/mesh/prepared_mesh.h"
#include "export/staged_files.h"
#include "export/gltf/tiny_gltf_setup.h"
#include "export/mesh/vertex_order.h"

namespace exporter {
namespace {

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
        const int type = stream.dim == 1   ? TINYGLTF_TYPE_SCALAR
                         : stream.dim == 2 ? TINYGLTF_TYPE_VEC2
                         : stream.dim == 3 ? TINYGLTF_TYPE_VEC3
                                           : TINYGLTF_TYPE_VEC4;
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

CollectedTree collect_tree(const PreparedMesh &prepared)
{
    PrimitiveCollector collector(prepared);
    CollectedTree tree;
    tree.materials = prepared.materials;
    for (const Material &m : tree.materials.list)
        tree.looks.push_back(MaterialLook{m.colour, m.leaf, holds_tree(m)});
    for (std::size_t k = 0; k < collector.size(); ++k)
        tree.mesh.push_back(collector.collect(k));
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

// Where the plain writer's bytes go, each piece at a byte offset: a staged file written in
// place, or a string (the page's GLB).
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool write_at(std::uint64_t offset, std::span<const std::string_view> pieces, std::string &error) = 0;
};

class FileSink : public ByteSink {
public:
    FileSink(StagedFiles &files, int file) : files_(files), file_(file) {}
    bool write_at(std::uint64_t offset, std::span<const std::string_view> pieces, std::string &error) override
    {
        return files_.write_at(file_, offset, pieces, error);
    }

private:
    StagedFiles &files_;
    int file_;
};

class StringSink : public ByteSink {
public:
    explicit StringSink(std::string &out) : out_(out) {}
    bool write_at(std::uint64_t offset, std::span<const std::string_view> pieces, std::string &) override
    {
        std::size_t at = static_cast<std::size_t>(offset);
        for (const std::string_view piece : pieces) {
            if (out_.size() < at + piece.size())
                out_.resize(at + piece.size());
            std::memcpy(out_.data() + at, piece.data(), piece.size());
            at += piece.size();
        }
        return true;
    }

private:
    std::string &out_;
};

// The plain glTF of a tree: the model without its primitives until write_buffer, the images
// it carries, and the collector that makes the primitives one by one.
class PlainGltf {
public:
    // binary: images go into the buffer; else they are named by their files' URIs beside path.
    // vertex_order: triangles and vertices in the order a GPU's caches like (vertex_order.h).
    PlainGltf(const PreparedMesh &mesh, bool binary, const std::string &path, bool vertex_order)
        : collector_(mesh), vertex_order_(vertex_order)
    {
        const host::Layer &layer = *mesh.layer;
        model.asset.version = "2.0";
        model.asset.generator = "Ramulon";
        tinygltf::Node node;
        node.name = "Ramulon tree";
        const auto used = used_images(layer, mesh.materials, mesh.textures);
        if (collector_.size() > 0 || (binary && !used.empty()))
            model.buffers.emplace_back();
        ModelBuilder builder(model, &images_);
        GltfImages images;
        for (const auto &[name, bytes] : used) {
            if (binary)
                images.push_back({name, builder.add_bytes(*bytes), {}});
            else
                images.push_back({name, -1, uri_of(file_name(texture_path(path, name)))});
        }
        add_gltf_materials(model, layer, mesh.materials, images);
        if (collector_.size() > 0) {
            tinygltf::Mesh tree;
            tree.name = "Ramulon tree";
            model.meshes.push_back(std::move(tree));
            node.mesh = 0;
        }
        model.nodes.push_back(node);
        tinygltf::Scene scene;
        scene.nodes.push_back(0);
        model.scenes.push_back(scene);
        model.defaultScene = 0;
    }

    tinygltf::Model model;

    bool has_buffer() const { return !model.buffers.empty(); }
    // The most bytes the buffer can take (each view padded to four bytes included).
    std::size_t buffer_bound() const
    {
        std::size_t bound = images_.size();
        for (std::size_t k = 0; k < collector_.size(); ++k)
            bound += collector_.most_bytes(k);
        return bound;
    }
    std::size_t buffer_size() const { return buffer_size_; }

    // A length the JSON cannot exceed once the primitives are in: the JSON as it stands, and
    // for each primitive and each of its accessors and views more than its entry can take (the
    // longest numbers a count, an offset or a float bound can be written with).
    std::size_t json_bound(std::string &error)
    {
        std::string text;
        if (!serialise(model, false, "", text, error))
            return 0;
        std::size_t bound = text.size() + 256; // and the buffer's own entry
        for (std::size_t k = 0; k < collector_.size(); ++k) {
            const std::size_t streams = collector_.streams(k);
            bound += 64 + 48 * streams + (streams + 1) * (512 + 192);
        }
        return bound;
    }

    // The buffer's bytes through sink from byte base on: the images, then the primitives one
    // at a time; the model gains each primitive as it goes.
    bool write_buffer(ByteSink &sink, std::uint64_t base, std::string &error)
    {
        if (!sink.write_at(base, images_.pieces(), error))
            return false;
        buffer_size_ = images_.size();
        for (std::size_t k = 0; k < collector_.size(); ++k) {
            stop_if_cancelled();
            PrimitiveArrays prim = collector_.collect(k);
            if (vertex_order_)
                optimise_vertex_order(prim);
            BufferPieces pieces(buffer_size_);
            ModelBuilder builder(model, &pieces);
            model.meshes[0].primitives.push_back(gltf_primitive(prim, builder));
            if (!sink.write_at(base + buffer_size_, pieces.pieces(), error))
                return false;
            buffer_size_ = pieces.size();
        }
        return true;
    }

    // The model's JSON with its one buffer named by length (and by uri, for a .gltf beside its
    // .bin).
    bool json(const std::string &path, const std::string &bin_uri, std::string &out, std::string &error)
    {
        std::string text;
        if (!serialise(model, false, path, text, error))
            return false;
        nlohmann::json tree = nlohmann::json::parse(text);
        tree["buffers"][0] = {{"byteLength", buffer_size_}};
        if (!bin_uri.empty()) {
            tree["buffers"][0]["uri"] = bin_uri;
            out = tree.dump(2) + "\n";
        } else {
            out = tree.dump();
        }
        return true;
    }

private:
    PrimitiveCollector collector_;
    bool vertex_order_;
    BufferPieces images_;
    std::size_t buffer_size_ = 0;
};

// The plain tree as a GLB through sink: room for the JSON first, the buffer after it, then the
// header and the JSON at the front. The file's length, or 0 with error.
std::size_t write_glb_through(PlainGltf &gltf, ByteSink &sink, const std::string &path, std::string &error)
{
    const std::size_t json_chunk = glb_json_chunk(gltf.json_bound(error));
    if (json_chunk == 0)
        return 0;
    const std::uint64_t base = glb_data_offset(json_chunk);
    std::string json;
    if (!gltf.write_buffer(sink, base, error) || !gltf.json(path, {}, json, error))
        return 0;
    if (json.size() > json_chunk || !glb_fits(json_chunk, gltf.buffer_size())) {
        error = "cannot write " + path + ": the tree is larger than a GLB file can hold";
        return 0;
    }
    const std::string head = glb_head(json, gltf.buffer_size(), json_chunk);
    const std::string_view padding = glb_padding(gltf.buffer_size());
    const std::string_view front[] = {head};
    const std::string_view back[] = {padding};
    if (!sink.write_at(0, front, error) || !sink.write_at(base + gltf.buffer_size(), back, error))
        return 0;
    return static_cast<std::size_t>(base) + gltf.buffer_size() + padding.size();
}

std::size_t triangles_written(const tinygltf::Model &model)
{
    std::size_t triangles = 0;
    for (const tinygltf::Mesh &mesh : model.meshes)
        for (const tinygltf::Primitive &prim : mesh.primitives)
            if (prim.mode == TINYGLTF_MODE_TRIANGLES)
                triangles += model.accessors[static_cast<std::size_t>(prim.indices)].count / 3;
    return triangles;
}

std::string write_unguarded(const host::Layer &layer, const std::string &path, bool binary,
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
    PlainGltf gltf(prepared, binary, path, options.vertex_order);
    StagedFiles files;
    std::vector<GltfReport::File> written;
    // Beside a .gltf, the images it names.
    if (!binary)
        for (const auto &[name, bytes] : used_images(*prepared.layer, prepared.materials, prepared.textures))
            if (!files.stage(texture_path(path, name), *bytes, error))
                return error;
    if (!gltf.has_buffer()) {
        if (!serialise(gltf.model, binary, path, text, error) || !files.stage(path, text, error))
            return error;
        written.push_back({path, text.size()});
    } else if (binary) {
        const int file = files.open(path, error);
        if (file < 0)
            return error;
        FileSink sink(files, file);
        const std::size_t bytes = write_glb_through(gltf, sink, path, error);
        if (bytes == 0 || !files.finish(file, error))
            return error;
        written.push_back({path, bytes});
    } else {
        // The buffer goes to its own file, named in the JSON.
        std::string bin_path = sibling_path(path, ".bin");
        if (bin_path == path)
            bin_path += ".bin";
        const int bin = files.open(bin_path, error);
        if (bin < 0)
            return error;
        FileSink sink(files, bin);
        if (!gltf.write_buffer(sink, 0, error) || !files.finish(bin, error) ||
            !gltf.json(path, uri_of(file_name(bin_path)), text, error) || !files.stage(path, text, error))
            return error;
        written.insert(written.end(), {{path, text.size()}, {bin_path, gltf.buffer_size()}});
    }
    if (!files.commit(error))
        return error;
    if (report) {
        *report = {};
        report->level_triangles.push_back(triangles_written(gltf.model));
        report->files = std::move(written);
    }
    return {};
}

std::string write(const host::Layer &layer, const std::string &path, bool binary,
                  const GltfOptions &options, GltfReport *report)
{
    return unless_out_of_memory(path, [&] { return write_unguarded(layer, path, binary, options, report); });
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

namespace {

std::string glb_bytes_unguarded(const host::Layer &layer, const std::string &name, std::string &bytes)
{
    PreparedMesh prepared;
    std::string error;
    if (!prepare_mesh(layer, ExportOptions{}, Format::gltf, prepared, error))
        return "cannot write " + name + ": " + error;
    PlainGltf gltf(prepared, true, name, true);
    if (!gltf.has_buffer())
        return serialise(gltf.model, true, name, bytes, error) ? std::string() : error;
    // Room for the largest tree these polygons can make: pages the tree does not reach are never
    // touched, and the string is not moved while it grows.
    bytes.clear();
    bytes.reserve(glb_data_offset(glb_json_chunk(gltf.json_bound(error))) + gltf.buffer_bound() + 4);
    StringSink sink(bytes);
    return write_glb_through(gltf, sink, name, error) > 0 ? std::string() : error;
}

} // namespace

std::string glb_bytes(const host::Layer &layer, std::string &bytes)
{
    const std::string name = "tree.glb";
    return unless_out_of_memory(name, [&] { return glb_bytes_unguarded(layer, name, bytes); });
}

} // namespace exporter
