#include "tree.h"

#include <algorithm>

namespace library {

void code_text(std::uint32_t code, char text[5])
{
    for (int i = 0; i < 4; ++i)
        text[i] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
    text[4] = '\0';
}

Tree::Tree(host::Layer &&taken, std::string journal_text, bool recorded)
    : layer(std::move(taken)), journal(std::move(journal_text)), has_journal(recorded)
{
    static_assert(sizeof(host::Vec3) == 3 * sizeof(double), "points are read as three doubles each");
    static_assert(sizeof(std::size_t) == sizeof(std::uint64_t), "polygon offsets are read as 64-bit");
    static_assert(sizeof(int) == sizeof(std::int32_t), "corners are read as 32-bit");

    const std::size_t point_count = layer.points.size();
    const std::size_t polygon_count = layer.polygon_count();
    for (std::size_t i = 0; i < layer.names.size(); ++i)
        names.push_back(layer.names[static_cast<int>(i)].c_str());

    // A map is as long as the points held when its last value was stored; the points written
    // after that get no value, which the dense array says with zeros.
    for (host::VertexMap &map : layer.vmaps) {
        const auto stride = static_cast<std::size_t>(map.stride);
        if (map.stored.size() < point_count) {
            map.stored.resize(point_count, 0);
            map.values.resize(point_count * stride, 0.0f);
        }
        ramulon_map info{};
        info.name = layer.names[map.name].c_str();
        info.kind = map.type;
        code_text(map.type, info.kind_text);
        info.dim = map.stride;
        info.values = map.values.data();
        info.presence = map.stored.data();
        info.point_count = point_count;
        info.stored = map.count;
        maps.push_back(info);
    }

    // Polygon-specific values, polygon by polygon, each polygon's in the order they were stored.
    polygon_maps.resize(layer.vpmaps.size());
    std::vector<int> widest(layer.vpmaps.size(), 0); // values per entry: the longest stored
    for (std::size_t i = 0; i < layer.vpmaps.size(); ++i)
        widest[i] = layer.vpmaps[i].dim;
    for (const host::CornerValue &entry : layer.corner_values)
        widest[static_cast<std::size_t>(entry.map)] = std::max(widest[static_cast<std::size_t>(entry.map)], entry.dim);
    std::vector<int> chain;
    for (std::size_t p = 0; p < layer.first_corner_value.size(); ++p) {
        chain.clear();
        for (int e = layer.first_corner_value[p]; e >= 0; e = layer.corner_values[static_cast<std::size_t>(e)].next)
            chain.push_back(e);
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            const host::CornerValue &entry = layer.corner_values[static_cast<std::size_t>(*it)];
            PolygonMap &m = polygon_maps[static_cast<std::size_t>(entry.map)];
            const auto dim = static_cast<std::size_t>(widest[static_cast<std::size_t>(entry.map)]);
            m.polygons.push_back(static_cast<std::int32_t>(p));
            m.points.push_back(entry.point);
            const float *v = layer.corner_floats.data() + entry.offset;
            for (std::size_t k = 0; k < dim; ++k)
                m.values.push_back(k < static_cast<std::size_t>(entry.dim) ? v[k] : 0.0f);
        }
    }
    for (std::size_t i = 0; i < polygon_maps.size(); ++i) {
        const host::PolyVertexMap &source = layer.vpmaps[i];
        ramulon_polygon_map &info = polygon_maps[i].info;
        info.name = layer.names[source.name].c_str();
        info.kind = source.type;
        code_text(source.type, info.kind_text);
        info.dim = widest[i];
        info.count = polygon_maps[i].polygons.size();
        info.polygons = polygon_maps[i].polygons.data();
        info.points = polygon_maps[i].points.data();
        info.values = polygon_maps[i].values.data();
    }

    // One array per tag type, in the order the types first appear.
    for (const host::TagEntry &entry : layer.tags)
        if (std::none_of(tags.begin(), tags.end(), [&](const Tags &t) { return t.info.kind == entry.type; })) {
            Tags t;
            t.info.kind = entry.type;
            t.values.assign(polygon_count, -1);
            tags.push_back(std::move(t));
        }
    for (Tags &t : tags) {
        for (std::size_t p = 0; p < polygon_count; ++p)
            t.values[p] = layer.tag_value(static_cast<int>(p), t.info.kind);
        code_text(t.info.kind, t.info.kind_text);
        t.info.values = t.values.data();
        t.info.polygon_count = polygon_count;
    }
}

} // namespace library
