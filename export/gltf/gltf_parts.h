// What a glTF write puts in its files, planned before any is assembled: the plain tree made as
// it goes, or the game-ready levels and far card made whole first. Internal to the writers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/error.h"
#include "export/gltf/gltf_file.h"
#include "export/mesh/layer_view.h"
#include "export/mesh/mesh_arrays.h"
#include "export/mesh/prepared_mesh.h"
#include "export/write_options.h"

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

// One file of a write: its path and its nodes. The tree's parts wear the tree's materials; the
// far card, its own.
struct PlannedFile {
    std::string path;
    std::vector<FilePart> parts;
    bool tree_parts = false;
    bool card = false; // the last part is the far card
};

// Every file of a write and the arrays their parts name (they live as long as the plan, which
// stays where it was made).
struct GltfPlan {
    GltfPlan() = default;
    GltfPlan(const GltfPlan &) = delete;
    GltfPlan &operator=(const GltfPlan &) = delete;

    std::string name; // the main file's name without its extension: the group node's name
    std::unique_ptr<PrimitiveCollector> collector; // the plain tree
    std::vector<MeshArrays> levels;                // the game-ready tree: LOD0 first
    MeshArrays far;                                // the card, when asked
    std::string far_png;
    std::vector<PlannedFile> files; // the main one first
};

// The plain tree in one file at path: one node "Ramulon tree", its primitives collected one at a
// time as the file is written.
void plain_plan(const PreparedMesh &prepared, const std::string &path, bool vertex_order, GltfPlan &plan);

// The levels and the far card as options ask, in one file at path or each in its own beside it.
// The only error conditions: a card asked of a tree without surfaces (invalid_input), a card's
// picture that cannot be encoded (internal), a cancelled export (thrown as Cancelled).
ramulon::Status game_ready_plan(const PreparedMesh &prepared, const std::string &path, const WriteOptions &options,
                                GltfPlan &plan);

// The far card's material with its picture in file's buffer; the material's index.
int add_card_material(GltfFile &file, const std::string &name, const std::string &png);

} // namespace exporter
