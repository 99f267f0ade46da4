// The glTF writer's pieces that the game-ready output (levels, far card, compression) shares with
// the plain one. Internal to the exporter.
#pragma once

#include <string>
#include <vector>

#include "export/gltf/gltf_options.h"
#include "export/mesh/layer_view.h"
#include "export/mesh/mesh_arrays.h"
#include "export/mesh/prepared_mesh.h"
#include "export/gltf/tiny_gltf_setup.h"

namespace exporter {

// The layer as the writer collects it: materials and one set of arrays per primitive, vertices
// in the order the layer's polygons first use them (no cache or fetch order yet).
struct CollectedTree {
    Materials materials;
    std::vector<MaterialLook> looks; // per material
    MeshArrays mesh;
};

// The prepared layer (subdivided, normals split, materials collected) as the writer collects it.
CollectedTree collect_tree(const PreparedMesh &prepared);
// The same with the default look; empty when the layer cannot be prepared.
CollectedTree collect_tree(const host::Layer &layer);

// Appends the primitive's float attributes and indices to the model's buffer 0.
tinygltf::Primitive plain_primitive(tinygltf::Model &model, const PrimitiveArrays &prim);

// A file name as a URI reference: everything but the unreserved characters percent-encoded.
std::string uri_of(const std::string &name);

// The model as glTF JSON text or a GLB; false with error filled when tinygltf fails.
bool serialise(tinygltf::Model &model, bool binary, const std::string &path, std::string &out,
               std::string &error);

// Levels of detail, the far card, compression (game_ready.cpp).
std::string write_game_ready(const PreparedMesh &prepared, const std::string &path, bool binary,
                             const GltfOptions &options, GltfReport *report);

} // namespace exporter
