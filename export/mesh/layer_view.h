// What the writers share when they read a built layer: its vertex maps, looked up per polygon
// corner so that the polygon-specific values at texture seams win over a point's continuous
// value (its materials are in materials.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "export/materials/materials.h"
#include "host/mesh.h"

namespace exporter {

// Empty when every polygon corner names a point of the layer, else a one-line description of the
// first that does not.
std::string check_layer(const host::Layer &layer);

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
    // The continuous map's arrays, for readers that walk many points (none: no point has a
    // value): per point, 0 for no value, else 1 + its dimension; stride floats per point.
    struct Own {
        const std::uint8_t *stored = nullptr;
        std::size_t stored_count = 0;
        const float *values = nullptr;
        std::size_t stride = 0;
    };
    const Own &own() const { return own_; }
    // The map holds polygon-specific values.
    bool split() const { return vpmap_ >= 0; }
    // The polygon-specific value of (point, polygon) alone; nothing when there is none.
    std::optional<std::span<const float>> polygon_value(int point, int polygon) const
    {
        if (vpmap_ >= 0)
            return layer_->vpmap_at(vpmap_, point, polygon);
        return std::nullopt;
    }
    // The point's continuous value as dim floats into out, 0 for every component it lacks: the
    // value at every corner of a polygon that holds no polygon-specific value.
    void own_value(int point, int dim, float *out) const
    {
        const auto p = static_cast<std::size_t>(point);
        if (p < own_.stored_count && own_.stored[p] != 0) {
            const int have = own_.stored[p] - 1;
            const float *value = own_.values + p * own_.stride;
            if (have >= dim) {
                // The common case, spelt out for the short values maps hold.
                switch (dim) {
                case 1: out[0] = value[0]; return;
                case 2: out[0] = value[0]; out[1] = value[1]; return;
                case 3: out[0] = value[0]; out[1] = value[1]; out[2] = value[2]; return;
                default: break;
                }
            }
            for (int i = 0; i < dim; ++i)
                out[i] = i < have ? value[i] : 0.0f;
            return;
        }
        switch (dim) {
        case 3: out[2] = 0.0f; [[fallthrough]];
        case 2: out[1] = 0.0f; [[fallthrough]];
        case 1: out[0] = 0.0f; return;
        default:
            for (int i = 0; i < dim; ++i)
                out[i] = 0.0f;
        }
    }

private:
    const host::Layer *layer_ = nullptr;
    const host::VertexMap *vmap_ = nullptr;
    int vpmap_ = -1; // index into the layer's polygon-specific maps
    Own own_; // read per corner by own_value
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
