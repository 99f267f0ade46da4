// What the writers share when they read a built layer: its materials (one per surface, with the
// colour of its sketch tag) and its vertex maps, looked up per polygon corner so that the
// polygon-specific values at texture seams win over a point's continuous value.
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

// Empty when every polygon corner names a point of the layer, else a one-line description of the
// first that does not.
std::string check_layer(const host::Layer &layer);

// The texture map a material's polygons use for their first texture coordinates.
const std::string &texture_map(const Material &material);

// One vertex map of a layer, its continuous and polygon-specific values together.
class MapView {
public:
    MapView() = default;
    MapView(const host::Layer &layer, HostID type, const std::string &name);

    // The layer holds the map (continuous or polygon-specific values, or both).
    bool present() const { return vmap_ || vpmap_; }
    // The value at one polygon corner: the polygon-specific value of (point, polygon) when there
    // is one, else the point's continuous value, else null.
    const std::vector<float> *at(int point, int polygon) const;

private:
    const host::VertexMap *vmap_ = nullptr;
    const host::PolyVertexMap *vpmap_ = nullptr;
};

// Copies dim floats of value into out; components value lacks (or all, for null) come from
// fallback.
void copy_value(const std::vector<float> *value, const float *fallback, int dim, float *out);

// Sums the area-weighted face normals around every point (polygons of three or more corners),
// made unit length; a point on no such polygon, or where they cancel, gets (0, 1, 0).
std::vector<std::array<float, 3>> point_normals(const host::Layer &layer);

} // namespace exporter
