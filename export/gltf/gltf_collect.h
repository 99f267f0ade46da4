// A prepared layer as glTF primitives: one per surface and kind of polygon (TRIANGLES for
// polygons of three or more corners, triangulated with the winding kept (normals.h); LINES for
// the skeleton's two-point polygons; POINTS for one-point ones).
//
// Vertex attributes:
// - POSITION: the point, narrowed to float.
// - NORMAL (triangles only): the corner's normal (normals.h): smooth across shallow edges, split
//   at edges sharper than the crease angle; a leaf's own face normal.
// - TEXCOORD_0: "RM_branch", or "RM_leaf" on the leaf surface. TEXCOORD_1: on woody surfaces the
//   bark coordinates (bark_coordinates.h: u around, t along in the tube's own circumferences),
//   which the bark material uses; on the leaf surface "RM_all_leaves". glTF puts v = 0 at the top
//   of an image where the modeller puts it at the bottom, so v (and t) is written as 1 - v.
// - _RM_RANGE ("RM_range", float), _RM_THICK ("RM_thick", float), _RM_VECTORS ("RM_vectors",
//   vec3), _RM_DENSITY ("RM_density", vec2: age, steps): as stored, for wind and growth shaders.
// - _WIND (vec2): the range and thickness weights in one unit pair (prepared_mesh.h:
//   wind_weights), on primitives whose layer holds "RM_range" or "RM_thick". COLOR_0 (vec3: the
//   same pair and 0) only when the options ask for it: glTF viewers multiply the base colour by
//   it, which tints the tree.
// - TANGENT (vec4): on woody primitives when the bark has a normal map, the direction bark u
//   grows in and the handedness of t (tangents.h).
// An attribute is written on a primitive when the layer holds its map at all; a corner whose
// point carries no value gets 0 in every component ((0, 0) before the flip for texture
// coordinates). Every attribute is read per corner, polygon-specific value first, and a point
// becomes one vertex per distinct set of corner values within its primitive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "export/mesh/layer_view.h"
#include "export/mesh/mesh_arrays.h"
#include "export/mesh/prepared_mesh.h"

namespace exporter {

class PrimitiveCollector {
public:
    // Finds the primitives and how large each can grow; nothing is collected yet.
    explicit PrimitiveCollector(const PreparedMesh &mesh);

    std::size_t size() const { return plans_.size(); }
    // How many vertex streams primitive k will carry (POSITION and the attributes it has).
    std::size_t streams(std::size_t k) const;
    // The most bytes primitive k's streams and 32-bit indices can take: a vertex per corner.
    std::size_t most_bytes(std::size_t k) const;
    // The arrays of primitive k, in the order the primitives first appear in the layer: its
    // vertices in the order its polygons first use them. One at a time, so that a writer can
    // pass each on before the next is made. The same as find_vertices(k), make_tangents(k, ...)
    // and then fill(k, ...).
    PrimitiveArrays collect(std::size_t k);
    // Primitive k's vertices and indices with only the values that tell its vertices apart (the
    // normals, the bark coordinates, the maps with polygon-specific values). The other streams
    // are there but empty until fill(k, ...), which reads the vertices' points alone: the
    // vertices can be reordered in between, and each of those values is then written once,
    // straight into its place.
    PrimitiveArrays find_vertices(std::size_t k);
    // The tangents of primitive k (TANGENT appended, where the bark has a normal map; nothing
    // otherwise), summed over its triangles in the order find_vertices gave them: made while the
    // triangles still come in that order and before its vertices are renumbered (vertex_order.h
    // hands the primitive over at that point). The positions are read off the vertices' points:
    // POSITION may still be empty, and is left so.
    void make_tangents(std::size_t k, PrimitiveArrays &prim) const;
    void fill(std::size_t k, PrimitiveArrays &prim) const;
    // fill for stream i alone (nothing for a stream found with the vertices or filled already),
    // so that a writer can pass each stream on before the next is made. The wind weights fill
    // the range and thickness they are made of too, which then wait for their turn; a range or
    // thickness found with the vertices must still be held when they are made.
    void fill_stream(std::size_t k, std::size_t i, PrimitiveArrays &prim) const;

private:
    // The widest value a source reads (RM_vectors).
    static constexpr std::size_t max_source_dim = 3;
    // A corner attribute read from one vertex map, or from the bark coordinates.
    struct Source {
        std::string attribute; // the glTF name
        MapView map;
        int dim = 0;
        bool flip_v = false;
        bool bark = false;
        // The map holds polygon-specific values: the only maps whose value at a corner can
        // differ from the point's own, and so the only ones two corners of a point are compared by.
        bool split = false;
    };
    struct Plan {
        int material = 0;
        int mode = 4;
        bool normals = false; // triangles carry the corner normal
        bool wind = false;    // _WIND, made of the range and thickness of the record
        bool colours = false; // and COLOR_0 of the same
        bool tangents = false; // TANGENT for the bark's normal map, made once the triangles are in
        std::vector<Source> sources;
        // The streams of the wind weights' colour, the weights and the first source.
        std::size_t colour_stream = 0, wind_stream = 0, sources_stream = 0;
        // The sources the wind weights' range and thickness are read from; -1 where the layer
        // lacks the map (the weight takes 0 there).
        int range_source = -1, thick_source = -1;
        int bark_source = -1; // the bark coordinates, on woody triangles

        std::size_t corners = 0; // polygon corners, the most vertices it can have
        std::size_t triangle_corners = 0;
        std::size_t first_polygon = 0, end_polygon = 0; // its polygons lie in [first, end)
    };

    Plan plan(int material, int mode) const;
    // Stream i of the plan's primitive is written while its vertices are found, not by fill().
    static bool found_with_vertices(const Plan &plan, std::size_t i);
    // Makes room for that many vertices in the streams of out found with the vertices (and their
    // chains) and points columns_ and splits_ at them.
    void make_room(PrimitiveArrays &out, std::size_t vertices);
    void read_split(std::size_t at, int own, int point) const;
    std::uint32_t vertex(PrimitiveArrays &out, std::size_t polygon, int own, std::size_t corner,
                         int point, const float *normal);
    bool same_split(std::size_t held, std::size_t at, int point) const;
    // The polygon's triangles (as triangulate cuts it) all take its own corner normals: its
    // corners are one vertex each, whatever triangles share them.
    bool keeps_corner_normals(std::size_t polygon) const;
    // Such a polygon's vertices and its triangles' indices, without cutting it first.
    void add_fan(PrimitiveArrays &out, std::size_t polygon, int own, std::span<const int> poly,
                 std::int64_t *corner_vertex);
    // The positions into stream 0, every vertex's.
    void fill_positions(PrimitiveArrays &out) const;

    const host::Layer &layer_;
    const Materials &materials_;
    const CornerNormals &normals_;
    const BarkCoordinates &bark_;
    bool wind_colours_;
    bool relief_; // the bark has a normal map
    std::vector<Plan> plans_;
    // Per polygon, 1 + its primitive (0 for an empty polygon), or many_primitives from the 254th
    // primitive on, whose polygons are asked of their surface and kind: a tree has a handful
    // of surfaces and millions of polygons.
    static constexpr std::uint8_t many_primitives = 255;
    std::vector<std::uint8_t> primitive_of_;
    std::vector<int> primitive_of_kind_; // per (material, kind of polygon), its primitive or -1
    bool in_primitive(std::size_t polygon, std::size_t k) const; // for a polygon marked many
    // Per point, 1 + its first vertex in the primitive collected (0: none yet): zeroed memory as
    // the system hands it out, so that nothing is cleared ahead and only the pages of the points
    // the primitives use are ever touched (a tree's wood and leaves lie apart in the layer).
    struct FreeInts {
        void operator()(int *ints) const { std::free(ints); }
    };
    std::unique_ptr<int[], FreeInts> first_of_point_;
    // Per vertex, 1 + the next vertex of its point, 0 at the end. Like plain_, as long as the
    // streams' room and written as each vertex is made.
    std::vector<int, UnsetAllocator<int>> next_of_point_;
    // Per vertex: its map values are its point's own (read off a polygon without
    // polygon-specific values), so two such vertices of one point differ at most in their normal
    // and bark, and its values of the split maps are written only once every vertex is found.
    std::vector<char, UnsetAllocator<char>> plain_;
    std::size_t room_ = 0;            // vertices the streams of the primitive collected hold room for
    std::size_t collected_ = 0;       // the primitive collected
    // The first value of each stream of the primitive collected; null for those fill() writes.
    std::vector<float *> columns_;
    // The maps with polygon-specific values, the only ones two corners of a point are compared by,
    // with their streams of the primitive collected.
    struct SplitColumn {
        const Source *source;
        float *column;
        std::size_t dim;
    };
    std::vector<SplitColumn> splits_;
    float *normal_column_ = nullptr;  // its NORMAL stream, on triangles
    float *bark_column_ = nullptr;    // its bark coordinates' stream, on woody triangles
};

} // namespace exporter
