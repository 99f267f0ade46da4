// What the writers share when they read a built layer: its materials (one per surface, with the
// colour of its sketch tag) and its vertex maps, looked up per polygon corner so that the
// polygon-specific values at texture seams win over a point's continuous value.
#pragma once

#include <array>
#include <optional>
#include <span>
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
    bool present() const;
    // The value at one polygon corner: the polygon-specific value of (point, polygon) when there
    // is one, else the point's continuous value, else nothing.
    std::optional<std::span<const float>> at(int point, int polygon) const
    {
        if (vpmap_ >= 0)
            if (auto value = layer_->vpmap_at(vpmap_, point, polygon))
                return value;
        if (vmap_)
            return vmap_->at(point);
        return std::nullopt;
    }

private:
    const host::Layer *layer_ = nullptr;
    const host::VertexMap *vmap_ = nullptr;
    int vpmap_ = -1; // index into the layer's polygon-specific maps
};

// Copies dim floats of value into out; components value lacks (or all, for none) come from
// fallback.
inline void copy_value(const std::optional<std::span<const float>> &value, const float *fallback,
                       int dim, float *out)
{
    const int have = value ? static_cast<int>(value->size()) : 0;
    for (int i = 0; i < dim; ++i)
        out[i] = i < have ? (*value)[static_cast<std::size_t>(i)] : fallback[i];
}

} // namespace exporter
