// A built tree as the C interface hands it out: the foreground layer the build wrote, taken
// over whole, with the few arrays that layer keeps chained (tags, polygon-specific values) laid
// out flat once, so that every array a caller reads is read in place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/mesh.h"
#include "ramulon/ramulon.h"

namespace library {

struct Tree {
    // Takes over the layer; journal holds the build's journal text, when it was recorded.
    Tree(host::Layer &&layer, std::string journal, bool has_journal);

    host::Layer layer;
    std::string journal;
    bool has_journal = false;

    std::vector<const char *> names;
    std::vector<ramulon_map> maps;

    struct PolygonMap {
        ramulon_polygon_map info{};
        std::vector<std::int32_t> polygons, points;
        std::vector<float> values;
    };
    std::vector<PolygonMap> polygon_maps;

    struct Tags {
        ramulon_tags info{};
        std::vector<std::int32_t> values;
    };
    std::vector<Tags> tags;
};

// "TXUV" for a four-character code, into text[5].
void code_text(std::uint32_t code, char text[5]);

} // namespace library
