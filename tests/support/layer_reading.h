// A layer's polygons and map values as plain vectors, for comparing against expected lists.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "host/mesh.h"

namespace ramulon {

inline std::vector<int> points_of(const host::Layer &layer, std::size_t polygon)
{
    const std::span<const int> points = layer.polygon_points(polygon);
    return {points.begin(), points.end()};
}

// The floats of a map value; empty when there is none.
inline std::vector<float> floats(const std::optional<std::span<const float>> &value)
{
    if (!value)
        return {};
    return {value->begin(), value->end()};
}

} // namespace ramulon

namespace ramulon {

struct StoredValue {
    int point = 0;
    int polygon = -1; // -1 for a continuous value
    std::vector<float> values;
};

// Every value of the continuous map (type, name), in point order.
inline std::vector<StoredValue> vmap_values(const host::Layer &layer, const host::VertexMap &map)
{
    std::vector<StoredValue> out;
    for (std::size_t p = 0; p < map.stored.size(); ++p)
        if (auto value = map.at(static_cast<int>(p)))
            out.push_back({static_cast<int>(p), -1, floats(value)});
    (void)layer;
    return out;
}

// Every polygon-specific value of map index `map`, in polygon order.
inline std::vector<StoredValue> vpmap_values(const host::Layer &layer, int map)
{
    std::vector<StoredValue> out;
    for (std::size_t f = 0; f < layer.first_corner_value.size(); ++f)
        for (int e = layer.first_corner_value[f]; e >= 0;
             e = layer.corner_values[static_cast<std::size_t>(e)].next) {
            const host::CornerValue &entry = layer.corner_values[static_cast<std::size_t>(e)];
            if (entry.map == map)
                out.push_back({entry.point, static_cast<int>(f),
                               floats(layer.vpmap_at(map, entry.point, static_cast<int>(f)))});
        }
    return out;
}

} // namespace ramulon
