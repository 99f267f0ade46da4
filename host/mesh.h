// The stand-in modeller's mesh: a foreground layer the tool writes into and a background layer
// holding the crown envelope it reads. Plain data; the edit operation (host/edit_op.h) is the
// only way a plug-in reaches it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "plugin_api.h"

namespace host {

struct Vec3 {
    double x = 0.0, y = 0.0, z = 0.0;
};

struct Polygon {
    HostID type = ID_FACE;              // FACE, PTCH, CURV, ...
    std::optional<std::string> surface; // none: the host's current surface
    std::vector<int> points;            // indices into the layer's points, in order
    std::map<HostID, std::string> tags; // by tag type, e.g. COLR -> "Brown"
};

// A vertex map is known by its type and name, e.g. (TXUV, "RM_branch").
using MapKey = std::pair<HostID, std::string>;

// Continuous values: one value vector per point.
struct VertexMap {
    int dim = 0; // the dimension of the first value stored
    std::map<int, std::vector<float>> values;
};

// Polygon-specific values: one value vector per (point, polygon) pair.
struct PolyVertexMap {
    int dim = 0;
    std::map<std::pair<int, int>, std::vector<float>> values;
};

struct Layer {
    std::vector<Vec3> points;
    std::vector<Polygon> polygons;
    std::map<MapKey, VertexMap> vmaps;
    std::map<MapKey, PolyVertexMap> vpmaps;

    int add_point(Vec3 p);
    int add_polygon(HostID type, std::vector<int> points,
                    std::optional<std::string> surface = std::nullopt);
    void clear();
    bool empty() const { return points.empty() && polygons.empty(); }
};

struct Mesh {
    Layer foreground; // layer 1: what a build writes
    Layer background; // layer 2: what a build reads
};

// The Newell normal of a polygon, made unit length; a degenerate polygon gives (0, 0, 0).
Vec3 newell_normal(const Layer &layer, const Polygon &polygon);

// The four characters of an ID, first character from the most significant byte ("FACE").
std::string id_text(HostID id);

} // namespace host
