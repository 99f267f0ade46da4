// One glTF file put together, whatever it holds: the plain tree, its levels of detail, the far
// card, plain or compact buffers. Internal to the writers (export.h is the public face).
//
// A file is a tinygltf model (the structure, whose JSON tinygltf writes) and its one buffer as
// pieces (buffer_pieces.h): the images, then every primitive's views in the order of the parts.
// The JSON is tinygltf's with what tinygltf cannot say put in: the buffer's length (and its
// file, for a .gltf), the compression records. A GLB is written as header, JSON, buffer; a .gltf
// as its JSON and a .bin beside it.
//
// A part's primitives are either held (the levels and the card, made whole before the file) or
// made one at a time as the buffer is written (the plain tree), so that a large tree is never
// held whole in memory beside its layer. A GLB's JSON comes before its buffer, so with parts
// made as they go, room for the JSON is kept at the front, sized from the primitives' attributes
// before any is made, and the JSON chunk is filled up with spaces, as the GLB container pads it
// anyway. With held parts only, the JSON is made first and the chunk fits it exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "export/gltf/buffer_pieces.h"
#include "export/gltf/compression.h"
#include "export/gltf/gltf_collect.h"
#include "export/gltf/gltf_materials.h"
#include "export/gltf/tiny_gltf_setup.h"
#include "export/mesh/mesh_arrays.h"
#include "export/mesh/prepared_mesh.h"
#include "export/write_options.h"

namespace exporter {

// Where a file's bytes go, each run of pieces at a byte offset: a staged file written in place,
// or a string in memory. Offsets may come in any order; the bytes between are written later.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // The only error condition is the sink refusing the bytes (io: a full disk, a closed file).
    virtual ramulon::Status write_at(std::uint64_t offset, std::span<const std::string_view> pieces) = 0;
    // The most bytes the file will take, before any is written.
    virtual void expect(std::size_t bytes) { static_cast<void>(bytes); }
};

// Bytes into a string, grown as they come.
class StringSink : public ByteSink {
public:
    explicit StringSink(std::string &out) : out_(out) {}
    ramulon::Status write_at(std::uint64_t offset, std::span<const std::string_view> pieces) override;
    // Room for the largest file the tree can make: pages it does not reach are never touched,
    // and the string is not moved while it grows.
    void expect(std::size_t bytes) override { out_.reserve(bytes); }

private:
    std::string &out_;
};

// A file name as a URI reference: everything but the unreserved characters percent-encoded.
std::string uri_of(const std::string &name);

// The buffer's file beside a .gltf: path with ".bin" ("NAME.bin.bin" for a path ending in .bin).
std::string bin_path_of(const std::string &path);

// The primitives of one node's mesh: held arrays, or the prepared tree collected one primitive
// at a time (and put in vertex cache order when asked).
struct MeshSource {
    const MeshArrays *held = nullptr;
    PrimitiveCollector *collector = nullptr;
    bool vertex_order = false; // for the collected ones
    // Called after each collected primitive's vertices are found (its index and arrays) and
    // ordered, before the values read off their points alone are filled in: what only the finding
    // of vertices reads, and no later primitive, can go then.
    std::function<void(std::size_t, const PrimitiveArrays &)> found = {};
    // Called after each collected primitive (its index, material and mode; its arrays only in a
    // compressed file, where they are ordered and filled before they are written; a plain one's
    // are written as they are filled): what no later primitive reads can go then.
    std::function<void(std::size_t, const PrimitiveArrays &)> collected = {};

    std::size_t size() const { return held ? held->size() : collector ? collector->size() : 0; }
};

// A node of the file: its name (its mesh's too), its primitives, and the material all of them
// wear instead of their own (the far card's), or -1.
struct FilePart {
    std::string node;
    MeshSource mesh;
    int material = -1;
};

class GltfFile {
public:
    // path: the file, for messages. binary: a GLB, whose images travel in its buffer; else a
    // .gltf naming them by URI.
    GltfFile(std::string path, bool binary, Compression compression);

    tinygltf::Model model; // the structure; its buffers hold no bytes (they are the pieces)

    // The tree's materials with the images they use: inside a GLB, else named as the files that
    // lie beside main_path (prepared_mesh.h: texture_path).
    void add_tree_materials(const PreparedMesh &prepared, const std::string &main_path);
    // A picture in the buffer; its buffer view's index.
    int add_picture(const std::string &png);

    // The scene: a lone part is its one node, several hang under a node named group. Held parts
    // with compact buffers share one position grid, which their nodes undo. Once, after the
    // materials and pictures.
    void set_parts(const std::string &group, std::vector<FilePart> parts);

    // Whether the buffer holds no bytes (a tree without polygons): a .gltf then has no .bin.
    bool empty_buffer() const;

    // The only error conditions of the writes are: the sink refusing the bytes (io), tinygltf
    // failing to write the structure (internal), a GLB beyond 4 GiB (invalid_input).
    //
    // The file as a GLB through sink; its length. Once.
    ramulon::Result<std::size_t> write_glb(ByteSink &sink);
    // The buffer through bin (nothing when empty_buffer()), then the .gltf's JSON text naming
    // bin_path. Once.
    ramulon::Result<std::string> write_gltf(ByteSink &bin, const std::string &bin_path);

    // The buffer's length (after a write).
    std::size_t buffer_size() const { return pieces_.size(); }
    // Triangles per part, counted as they were added (after a write).
    const std::vector<std::size_t> &part_triangles() const { return triangles_; }

private:
    // Held parts' primitives into the pieces (nothing is written yet).
    void add_held();
    // The pieces so far, then the primitives made as they go, through sink from base on.
    ramulon::Status write_buffer(ByteSink &sink, std::uint64_t base);
    // A held primitive (const) is read; a collected one is handed over to the pieces.
    template <typename Prim> void add_primitive(std::size_t part, Prim &prim);
    // A collected primitive, its vertices found and ordered, into a plain buffer: each stream
    // filled, added and written through flush before the next is made, then the indices.
    template <typename Flush>
    ramulon::Status add_filled_as_written(std::size_t part, std::size_t k, PrimitiveArrays &prim, Flush &&flush);
    void place_primitive(std::size_t part, tinygltf::Primitive out);
    bool streamed() const;
    // A length the JSON cannot exceed once the primitives made as they go are in.
    ramulon::Result<std::size_t> json_bound();
    ramulon::Result<std::string> json_text(const std::string &bin_uri, bool pretty);

    std::string path_;
    bool binary_;
    BufferPieces pieces_;
    std::unique_ptr<CompressedBuffers> compressed_;
    PositionGrid grid_;
    std::vector<FilePart> parts_;
    std::vector<int> meshes_; // per part, its mesh's index or -1
    std::vector<std::size_t> triangles_;
};

} // namespace exporter
