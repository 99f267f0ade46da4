// A layer's polygons and map values as plain vectors, for comparing against expected lists.
#pragma once

#include <optional>
#include <sstream>
#include <string>
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

// What a layer holds, every array read as stored, for comparing two layers whole.
inline std::string layer_contents(const host::Layer &layer)
{
    std::ostringstream out;
    out.precision(17); // every double and float told apart
    for (const host::Vec3 &p : layer.points)
        out << p.x << ' ' << p.y << ' ' << p.z << ';';
    for (std::size_t f = 0; f < layer.polygon_count(); ++f) {
        const host::PolygonRef polygon = layer.polygon(f);
        out << '\n' << polygon.type << ' ' << (polygon.surface ? *polygon.surface : "-") << ':';
        for (const int p : polygon.points)
            out << ' ' << p;
        const std::string *colour = layer.tag(static_cast<int>(f), ID_COLR);
        out << " colour " << (colour ? *colour : "-");
    }
    for (const host::VertexMap &map : layer.vmaps) {
        out << "\nmap " << map.type << ' ' << layer.names[map.name] << " dim " << map.dim << " stride " << map.stride
            << " count " << map.count << " over " << map.stored.size() << ':';
        for (const StoredValue &v : vmap_values(layer, map)) {
            out << ' ' << v.point << '=';
            for (const float f : v.values)
                out << f << ',';
        }
    }
    for (std::size_t m = 0; m < layer.vpmaps.size(); ++m) {
        out << "\ncorner map " << layer.names[layer.vpmaps[m].name] << ':';
        for (const StoredValue &v : vpmap_values(layer, static_cast<int>(m))) {
            out << ' ' << v.point << '@' << v.polygon << '=';
            for (const float f : v.values)
                out << f << ',';
        }
    }
    return out.str();
}

} // namespace ramulon
