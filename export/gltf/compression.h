// Compact glTF buffers: quantised positions and normals (KHR_mesh_quantization), and with
// Compression::meshopt every buffer view compressed with the meshopt codecs
// (EXT_meshopt_compression). The bytes go to buffer 0 (the GLB's binary chunk or the .bin). With
// meshopt the views' own buffer is the uncompressed fallback the extension describes, which holds
// no bytes because the extension is required; with Compression::quantize the views are plain
// views of buffer 0.
//
// Nothing here fails; the views' sizes are count * stride before compression, and a meshopt view's
// bytes are at most the codecs' bounds for its count.
#pragma once

#include <array>
#include <vector>

#include "export/gltf/buffer_pieces.h"
#include "export/write_options.h"
#include "export/mesh/mesh_arrays.h"
#include "export/gltf/tiny_gltf_setup.h"

namespace exporter {

// Positions are stored as 16-bit steps of one grid; a node's translation and uniform scale turn
// them back into the tree's units.
struct PositionGrid {
    std::array<double, 3> origin{};
    double step = 1.0;
};

PositionGrid position_grid(const std::vector<const MeshArrays *> &meshes);

class CompressedBuffers {
public:
    // The model's buffer 0 receives the bytes, appended to pieces; mode is meshopt or quantize.
    CompressedBuffers(tinygltf::Model &model, BufferPieces &pieces, Compression mode)
        : model_(model), pieces_(pieces), mode_(mode)
    {
    }

    // The primitive's attributes and indices, compacted; a corner whose normal would face away
    // from its triangle once compacted gets a vertex of its own with the triangle's normal.
    tinygltf::Primitive add(const PrimitiveArrays &prim, const PositionGrid &grid);

    // Puts what tinygltf cannot say into the serialised JSON: the views' compression records,
    // the fallback buffer, the extensions used and required.
    void finish(nlohmann::json &json) const;

    std::size_t fallback_bytes() const { return fallback_size_; }

private:
    // How a view's values are laid out for the meshopt codecs.
    enum class Layout { attributes, floats, triangles, indices };
    // A view of count elements of stride bytes at data: compressed, or as they are.
    int add_view(const unsigned char *data, std::size_t count, std::size_t stride, Layout layout, int target);

    tinygltf::Model &model_;
    BufferPieces &pieces_;
    Compression mode_;
    bool used_ = false; // a primitive was added
    std::size_t fallback_size_ = 0;
    std::vector<std::pair<int, nlohmann::json>> records_; // view index, its compression record
};

} // namespace exporter
