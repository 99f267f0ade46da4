#include "export/gltf/gltf_file.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sstream>
#include <type_traits>

#include "export/cancel.h"
#include "export/gltf/accessor_values.h"
#include "export/gltf/glb_container.h"
#include "export/mesh/vertex_order.h"

namespace exporter {
namespace {

std::string file_name_of(const std::string &path) { return std::filesystem::path(path).filename().string(); }

// Appends a plain primitive's accessors and their buffer views to the model, the bytes named in
// place in the pieces of the buffer to come: arrays that outlive the writing of their bytes
// (const), or arrays handed over to the pieces, let go as soon as they are written.
class PlainViews {
public:
    PlainViews(tinygltf::Model &model, BufferPieces &pieces) : model_(model), pieces_(pieces) {}

    // A view of the whole array.
    template <typename Array> int add(Array &data, std::size_t count, int type, int component, int target)
    {
        const std::size_t length = data.size() * sizeof(*data.data());
        std::size_t at = 0;
        if constexpr (std::is_const_v<Array>)
            at = pieces_.add(std::string_view(reinterpret_cast<const char *>(data.data()), length));
        else
            at = pieces_.add_kept(std::move(data));
        return add_accessor(view_at(at, length, target), count, type, component);
    }

    // A view of the uint32 indices narrowed to 16 bits, made for the file.
    int add_narrowed(const std::vector<std::uint32_t> &indices, int target)
    {
        const std::size_t length = indices.size() * sizeof(std::uint16_t);
        const int view = view_at(pieces_.add_kept(narrowed_indices(indices)), length, target);
        return add_accessor(view, indices.size(), TINYGLTF_TYPE_SCALAR, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
    }

    tinygltf::Accessor &accessor(int index) { return model_.accessors[ramulon::index_cast<std::size_t>(index)]; }

private:
    int view_at(std::size_t offset, std::size_t length, int target)
    {
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = offset;
        view.byteLength = length;
        view.target = target;
        return append(model_.bufferViews, view);
    }

    int add_accessor(int view, std::size_t count, int type, int component)
    {
        tinygltf::Accessor accessor;
        accessor.bufferView = view;
        accessor.byteOffset = 0;
        accessor.componentType = component;
        accessor.count = count;
        accessor.type = type;
        return append(model_.accessors, accessor);
    }

    tinygltf::Model &model_;
    BufferPieces &pieces_;
};

// One float attribute stream as its accessor, POSITION with its bounds. A stream not const is
// handed over: it is left without its values.
template <typename Stream> int add_stream(Stream &stream, std::size_t count, PlainViews &views)
{
    std::vector<double> low, high;
    const bool position = stream.attribute == "POSITION";
    if (position)
        position_bounds(count, [&](std::size_t v, std::size_t k) { return stream.values[v * 3 + k]; }, low, high);
    const int accessor = views.add(stream.values, count, accessor_type(stream.dim), TINYGLTF_COMPONENT_TYPE_FLOAT,
                                   TINYGLTF_TARGET_ARRAY_BUFFER);
    if (position) {
        views.accessor(accessor).minValues = std::move(low);
        views.accessor(accessor).maxValues = std::move(high);
    }
    return accessor;
}

template <typename Prim> int add_indices(Prim &prim, std::size_t vertices, PlainViews &views)
{
    if (short_indices(vertices))
        return views.add_narrowed(prim.indices, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    return views.add(prim.indices, prim.indices.size(), TINYGLTF_TYPE_SCALAR, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
                     TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
}

// The primitive's float attributes and its indices as they are. A primitive not const is
// handed over: it is left without its streams' values and indices.
template <typename Prim> tinygltf::Primitive plain_primitive(Prim &prim, PlainViews &views)
{
    tinygltf::Primitive out;
    out.material = prim.material;
    out.mode = prim.mode;
    for (auto &stream : prim.streams)
        out.attributes[stream.attribute] = add_stream(stream, prim.vertex_count(), views);
    out.indices = add_indices(prim, prim.vertex_count(), views);
    return out;
}

// The model's structure as tinygltf writes it, pretty-printed.
ramulon::Result<std::string> structure_text(tinygltf::Model &model, const std::string &path)
{
    tinygltf::TinyGLTF gltf;
    std::ostringstream stream;
    if (!gltf.WriteGltfSceneToStream(&model, stream, true, false) || !stream)
        return ramulon::fail(ramulon::ErrorKind::internal, "cannot write " + path + ": the glTF serialiser failed");
    return std::move(stream).str();
}

// The heap's free pages back to the system before a large primitive is collected. What the
// tree's preparation and the previous primitive left free lies between blocks still in use, where
// a large primitive's arrays (mapped blocks of their own) cannot reuse it: left resident, it
// would add to the largest primitive's peak. A small primitive fits in that free memory, and
// handing it back would only make the next arrays fault the same pages in again (on the leafy
// demo that cost more system time than the whole of a primitive's collecting).
constexpr std::size_t hand_back_from = std::size_t{64} << 20;

void hand_back_free_memory_before(std::size_t most_bytes)
{
#if defined(__GLIBC__)
    if (most_bytes >= hand_back_from)
        malloc_trim(0);
#else
    (void)most_bytes;
#endif
}

ramulon::Error too_large(const std::string &path)
{
    return ramulon::fail(ramulon::ErrorKind::invalid_input,
                         "cannot write " + path + ": the tree is larger than a GLB file can hold");
}

} // namespace

ramulon::Status StringSink::write_at(std::uint64_t offset, std::span<const std::string_view> pieces)
{
    std::size_t at = static_cast<std::size_t>(offset);
    for (const std::string_view piece : pieces) {
        if (piece.empty())
            continue; // nothing to place: the string does not grow to where it would go
        if (out_.size() < at)
            out_.resize(at); // a gap, written later
        // Over what the string holds, then appended: a GLB's buffer comes in order, and growing
        // by a zero fill first would touch every byte twice.
        const std::size_t inside = std::min(piece.size(), out_.size() - at);
        std::memcpy(out_.data() + at, piece.data(), inside);
        out_.append(piece.data() + inside, piece.size() - inside);
        at += piece.size();
    }
    return {};
}

std::string uri_of(const std::string &name)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string bin_path_of(const std::string &path)
{
    const std::string bin = std::filesystem::path(path).replace_extension(".bin").string();
    return bin == path ? bin + ".bin" : bin;
}

GltfFile::GltfFile(std::string path, bool binary, Compression compression)
    : path_(std::move(path)), binary_(binary)
{
    model.asset.version = "2.0";
    model.asset.generator = "Ramulon";
    model.buffers.emplace_back();
    if (compression != Compression::none)
        compressed_ = std::make_unique<CompressedBuffers>(model, pieces_, compression);
}

void GltfFile::add_tree_materials(const PreparedMesh &prepared, const std::string &main_path)
{
    GltfImages images;
    for (const auto &[name, bytes] : used_images(*prepared.layer, prepared.materials, prepared.textures)) {
        if (binary_)
            images.push_back({name, add_picture(*bytes), {}});
        else
            images.push_back({name, -1, uri_of(file_name_of(texture_path(main_path, name)))});
    }
    add_gltf_materials(model, *prepared.layer, prepared.materials, images);
}

// Pictures go into the buffer as they are: PNG bytes gain nothing from the mesh codecs.
int GltfFile::add_picture(const std::string &png)
{
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = pieces_.add(png);
    view.byteLength = png.size();
    return append(model.bufferViews, view);
}

void GltfFile::set_parts(const std::string &group, std::vector<FilePart> parts)
{
    parts_ = std::move(parts);
    triangles_.assign(parts_.size(), 0);
    if (compressed_) {
        std::vector<const MeshArrays *> held;
        for (const FilePart &part : parts_)
            if (part.mesh.held)
                held.push_back(part.mesh.held);
        grid_ = position_grid(held);
    }
    const bool grouped = parts_.size() > 1;
    if (grouped) {
        tinygltf::Node parent;
        parent.name = group;
        model.nodes.push_back(parent);
    }
    for (const FilePart &part : parts_) {
        tinygltf::Node node;
        node.name = part.node;
        meshes_.push_back(-1);
        if (part.mesh.size() > 0) {
            tinygltf::Mesh mesh;
            mesh.name = part.node;
            node.mesh = append(model.meshes, std::move(mesh));
            meshes_.back() = node.mesh;
            if (compressed_) {
                node.translation = {grid_.origin[0], grid_.origin[1], grid_.origin[2]};
                node.scale = {grid_.step, grid_.step, grid_.step};
            }
        }
        const int index = append(model.nodes, std::move(node));
        if (grouped)
            model.nodes[0].children.push_back(index);
    }
    tinygltf::Scene scene;
    scene.nodes.push_back(0);
    model.scenes.push_back(scene);
    model.defaultScene = 0;
}

bool GltfFile::streamed() const
{
    for (const FilePart &part : parts_)
        if (part.mesh.collector && part.mesh.size() > 0)
            return true;
    return false;
}

bool GltfFile::empty_buffer() const
{
    if (pieces_.size() > 0)
        return false;
    for (const FilePart &part : parts_)
        if (part.mesh.size() > 0)
            return false;
    return true;
}

template <typename Prim> void GltfFile::add_primitive(std::size_t part, Prim &prim)
{
    triangles_[part] += prim.triangle_count();
    tinygltf::Primitive out;
    if (compressed_) {
        out = compressed_->add(prim, grid_);
    } else {
        PlainViews views(model, pieces_);
        out = plain_primitive(prim, views);
    }
    place_primitive(part, std::move(out));
}

void GltfFile::place_primitive(std::size_t part, tinygltf::Primitive out)
{
    if (parts_[part].material >= 0)
        out.material = parts_[part].material;
    model.meshes[ramulon::index_cast<std::size_t>(meshes_[part])].primitives.push_back(std::move(out));
}

template <typename Flush>
ramulon::Status GltfFile::add_filled_as_written(std::size_t part, std::size_t k, PrimitiveArrays &prim, Flush &&flush)
{
    const PrimitiveCollector &collector = *parts_[part].mesh.collector;
    triangles_[part] += prim.triangle_count();
    tinygltf::Primitive out;
    out.material = prim.material;
    out.mode = prim.mode;
    PlainViews views(model, pieces_);
    for (std::size_t i = 0; i < prim.streams.size(); ++i) {
        stop_if_cancelled();
        collector.fill_stream(k, i, prim);
        VertexStream &stream = prim.streams[i];
        out.attributes[stream.attribute] = add_stream(stream, prim.vertex_count(), views);
        if (ramulon::Status flushed = flush(); !flushed)
            return flushed;
    }
    const std::size_t vertices = prim.vertex_count();
    decltype(prim.vertex_point)().swap(prim.vertex_point);
    out.indices = add_indices(prim, vertices, views);
    place_primitive(part, std::move(out));
    return flush();
}

void GltfFile::add_held()
{
    for (std::size_t p = 0; p < parts_.size(); ++p)
        if (parts_[p].mesh.held)
            for (const PrimitiveArrays &prim : *parts_[p].mesh.held)
                add_primitive(p, prim);
}

ramulon::Status GltfFile::write_buffer(ByteSink &sink, std::uint64_t base)
{
    const auto flush = [&] {
        return pieces_.write_out([&](std::uint64_t offset, std::span<const std::string_view> run) {
            return sink.write_at(base + offset, run);
        });
    };
    if (ramulon::Status flushed = flush(); !flushed)
        return flushed;
    for (std::size_t p = 0; p < parts_.size(); ++p) {
        PrimitiveCollector *collector = parts_[p].mesh.collector;
        if (!collector)
            continue;
        for (std::size_t k = 0; k < collector->size(); ++k) {
            stop_if_cancelled();
            hand_back_free_memory_before(collector->most_bytes(k));
            // The values that do not decide the order are written once it is known.
            PrimitiveArrays prim = collector->find_vertices(k);
            // The tangents are summed in the order the triangles were found, once the vertex
            // order is known and before it is taken: not held while it is sought. What seeking
            // the order let go is handed back once they are in (their stream takes what it can
            // of it first), before the vertices are renumbered.
            const auto make_tangents = [&](PrimitiveArrays &found) {
                collector->make_tangents(k, found);
                hand_back_free_memory_before(collector->most_bytes(k));
            };
            if (parts_[p].mesh.vertex_order) {
                // What finding the vertices let go (the chains between a point's vertices) lies
                // free between blocks still in use: handed back before the vertex order's own
                // arrays are made.
                hand_back_free_memory_before(collector->most_bytes(k));
                optimise_vertex_order(prim, UnusedVertices::none, make_tangents);
                // What renumbering let go (the triangles' first order, the spare stream, the
                // old list of points) lies free in pieces smaller than a stream still to be
                // filled: handed back, rather than left beside the streams made next.
                hand_back_free_memory_before(collector->most_bytes(k));
            } else {
                make_tangents(prim);
            }
            if (parts_[p].mesh.found)
                parts_[p].mesh.found(k, prim);
            if (!compressed_) {
                // Each stream is made, written and let go before the next: the largest
                // primitive's streams are never all in memory at once.
                if (ramulon::Status written = add_filled_as_written(p, k, prim, flush); !written)
                    return written;
                if (parts_[p].mesh.collected)
                    parts_[p].mesh.collected(k, prim);
                continue;
            }
            collector->fill(k, prim);
            if (parts_[p].mesh.collected)
                parts_[p].mesh.collected(k, prim);
            // Its arrays go to the pieces, each let go once written; the next primitive is made
            // after this one is gone.
            add_primitive(p, prim);
            if (ramulon::Status flushed = flush(); !flushed)
                return flushed;
        }
    }
    return {};
}

// The JSON as it stands, and for each primitive still to be made and each of its accessors and
// views more than its entry can take (the longest numbers a count, an offset or a float bound
// can be written with).
ramulon::Result<std::size_t> GltfFile::json_bound()
{
    ramulon::Result<std::string> structure = structure_text(model, path_);
    if (!structure)
        return structure.error();
    std::size_t bound = structure->size() + 256; // and the buffer's own entry
    for (const FilePart &part : parts_)
        if (part.mesh.collector)
            for (std::size_t k = 0; k < part.mesh.collector->size(); ++k) {
                const std::size_t streams = part.mesh.collector->streams(k);
                bound += 64 + 48 * streams + (streams + 1) * (512 + 192);
            }
    return bound;
}

ramulon::Result<std::string> GltfFile::json_text(const std::string &bin_uri, bool pretty)
{
    ramulon::Result<std::string> structure = structure_text(model, path_);
    if (!structure)
        return structure.error();
    nlohmann::json json = nlohmann::json::parse(*structure);
    json["buffers"][0] = {{"byteLength", pieces_.size()}};
    if (!bin_uri.empty())
        json["buffers"][0]["uri"] = bin_uri;
    if (pieces_.size() == 0)
        json.erase("buffers"); // a tree without polygons: glTF has no empty buffers
    if (compressed_)
        compressed_->finish(json);
    return pretty ? json.dump(2) + "\n" : json.dump();
}

ramulon::Result<std::size_t> GltfFile::write_glb(ByteSink &sink)
{
    std::size_t json_chunk = 0;
    std::string json;
    const bool as_they_go = streamed();
    add_held();
    if (as_they_go) {
        ramulon::Result<std::size_t> bound = json_bound();
        if (!bound)
            return bound.error();
        json_chunk = glb_json_chunk(*bound);
        std::size_t most = pieces_.size() + 4;
        for (const FilePart &part : parts_)
            if (part.mesh.collector)
                for (std::size_t k = 0; k < part.mesh.collector->size(); ++k)
                    most += part.mesh.collector->most_bytes(k);
        sink.expect(glb_data_offset(json_chunk) + most);
    } else {
        ramulon::Result<std::string> text = json_text({}, false);
        if (!text)
            return text.error();
        json = std::move(*text);
        json_chunk = glb_json_chunk(json.size());
    }
    const std::uint64_t base = glb_data_offset(json_chunk);
    if (ramulon::Status written = write_buffer(sink, base); !written)
        return written.error();
    if (as_they_go) {
        ramulon::Result<std::string> text = json_text({}, false);
        if (!text)
            return text.error();
        json = std::move(*text);
    }
    const std::size_t buffer = pieces_.size();
    if (json.size() > json_chunk || !glb_fits(json_chunk, buffer))
        return too_large(path_);
    const std::string head = glb_head(json, buffer, json_chunk);
    const std::string_view padding = glb_padding(buffer);
    const std::string_view front[] = {head};
    const std::string_view back[] = {padding};
    if (ramulon::Status written = sink.write_at(0, front); !written)
        return written.error();
    if (ramulon::Status written = sink.write_at(base + buffer, back); !written)
        return written.error();
    return head.size() + buffer + padding.size();
}

ramulon::Result<std::string> GltfFile::write_gltf(ByteSink &bin, const std::string &bin_path)
{
    add_held();
    if (!empty_buffer())
        if (ramulon::Status written = write_buffer(bin, 0); !written)
            return written.error();
    return json_text(uri_of(file_name_of(bin_path)), true);
}

} // namespace exporter
