// Compact glTF buffers: quantised positions and normals (KHR_mesh_quantization) and every buffer
// view compressed with the meshopt codecs (EXT_meshopt_compression). The compressed bytes go to
// buffer 0 (the GLB's binary chunk or the .bin); the views' own buffer is the uncompressed
// fallback the extension describes, which holds no bytes because the extension is required.
#pragma once

#include <array>
#include <vector>

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
    // The model's buffer 0 receives the compressed bytes.
    explicit CompressedBuffers(tinygltf::Model &model) : model_(model) {}

    tinygltf::Primitive add(const PrimitiveArrays &prim, const PositionGrid &grid);

    // Puts what tinygltf cannot say into the serialised JSON: the views' compression records,
    // the fallback buffer, the extensions used and required.
    void finish(nlohmann::json &json) const;

    std::size_t fallback_bytes() const { return fallback_size_; }

private:
    int add_view(const std::vector<unsigned char> &encoded, std::size_t count, std::size_t stride,
                 const char *mode, const char *filter, int target);

    tinygltf::Model &model_;
    std::size_t fallback_size_ = 0;
    std::vector<std::pair<int, nlohmann::json>> records_; // view index, its compression record
};

} // namespace exporter
