// A mesh-edit operation that keeps every call the plug-in makes, in plain vectors, so that tests
// can look at the points, polygons, tags and maps a writer produced and at the order of calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/plugin_api.h"
#include "includes/xyz.h"

namespace ramulon {

class RecordingOp {
public:
    enum class Call { point, face, poly, tag, vmap, vpmap };

    struct Polygon {
        bool face = false; // made by addFace (no type of its own) rather than addPoly
        HostID type = 0;
        std::string surface; // empty when the call passed no surface
        std::vector<int> points; // point indices
    };
    struct Tag {
        int polygon = -1;
        HostID type = 0;
        std::string value;
    };
    struct VMap {
        int point = -1;
        int polygon = -1; // -1 for a continuous (pntVMap) value
        HostID type = 0;
        std::string name;
        std::vector<float> values;
    };

    RecordingOp();
    RecordingOp(const RecordingOp &) = delete;
    RecordingOp &operator=(const RecordingOp &) = delete;

    MeshEditOp *op() { return &op_; }

    // Point and polygon IDs handed out are index + 1; these turn them back into indices.
    static int index_of(const void *id) { return static_cast<int>(reinterpret_cast<std::uintptr_t>(id)) - 1; }
    static LWPntID point_id(int index) { return reinterpret_cast<LWPntID>(static_cast<std::uintptr_t>(index + 1)); }

    std::vector<Cxyz> points;
    std::vector<Polygon> polygons;
    std::vector<Tag> tags;
    std::vector<VMap> vmaps;  // pntVMap calls
    std::vector<VMap> vpmaps; // pntVPMap calls
    std::vector<Call> calls;  // every call, in order

    // Continuous values of one point in the named map (the last one written), empty if none.
    std::vector<float> vmap_of(int point, const std::string &name) const;
    // Polygon-specific values of one point on one polygon in the named map, empty if none.
    std::vector<float> vpmap_of(int point, int polygon, const std::string &name) const;
    // Number of polygons of the given type / on the given surface.
    int count_type(HostID type) const;
    int count_surface(const std::string &surface) const;
    // Number of pntVMap calls into the named map.
    int count_vmap(const std::string &name) const;

private:
    MeshEditOp op_{};
};

} // namespace ramulon
