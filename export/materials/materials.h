// How each surface looks in other tools: trunk, branches and roots share one bark, twigs the same
// bark a little lighter, leaves a double-sided, alpha-masked leaf texture; anything else keeps
// its sketch colour. The surfaces of a layer become its materials, one per surface name.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "host/mesh.h"

namespace exporter {

// The surface of the leaves; its polygons take their texture from "RM_leaf".
inline const std::string leaf_surface = "VF_leaf";
// The material of polygons that carry no surface (the skeleton's segments, for one).
inline const std::string default_material = "Default";
// The texture maps of the tubes and roots, of one leaf, and of the leaf atlas.
inline const std::string branch_texture = "RM_branch";
inline const std::string leaf_texture = "RM_leaf";
inline const std::string atlas_texture = "RM_all_leaves";

using Colour = std::array<double, 3>;

// The base colour a sketch colour tag stands for ("Brown", "Blue", "Green"); light grey for an
// empty or unknown tag.
Colour sketch_colour(const std::string &tag);

struct Material {
    std::string name;       // the surface name, or default_material
    std::string colour_tag; // the COLR tag most of its tagged polygons carry; empty when none
    Colour colour{};
    bool leaf = false; // the leaf surface
};

struct Materials {
    std::vector<Material> list; // in the order the surfaces first appear
    std::vector<int> of_polygon; // material index of every polygon of the layer
};

Materials collect_materials(const host::Layer &layer);

// The texture map a material's polygons use for their first texture coordinates.
const std::string &texture_map(const Material &material);

enum class Finish {
    plain, // a colour only (the skeleton's "Default", unknown surfaces)
    bark,  // "RM_trunk", "RM_branch", "RM_root"
    twig,  // "RM_twig": the bark, lighter
    leaf,  // "VF_leaf"
};

Finish finish_of(const Material &material);

// The base colour of a material: with a texture, the factor that multiplies it; without, the
// colour itself.
Colour base_colour(const Material &material, bool textured);

// Tubes and roots: the surfaces that carry the bark texture and that subdivision smooths.
bool woody(const Material &material);

inline const std::string trunk_surface = "RM_trunk";
inline const std::string root_surface = "RM_root";

// The trunk and the roots: what every simpler level keeps, as everything else stands on them.
bool holds_tree(const Material &material);

} // namespace exporter
