// Normals per polygon corner. A tube's sides shade round: two quads between the same two rings
// of "RM_branch" v that share an edge are one smooth run whatever their angle (the square tube's
// right-angled corners). Otherwise bark is smooth where its faces (or runs) meet at a shallow
// angle and breaks into a sharp edge where they meet more steeply than the crease angle (caps,
// forks, the sharp folds of a bent cage), so no corner normal leans more than a right angle away
// from its face; a leaf keeps its own face normal at every corner (a double-sided material
// shows the back).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "host/mesh.h"
#include "export/mesh/layer_view.h"

namespace exporter {

struct CornerNormals {
    // Per polygon, its first corner in normal_index: the layer's own corner offsets, as the
    // normals follow the layer's corners one for one.
    std::span<const std::size_t> first;
    // Per corner of the polygons before one_from, its normal in normal. The corners round a
    // point mostly share one normal (a tube's sides shade round), and a large tree has millions
    // of corners: each normal is held once and a corner names it in four bytes, not twelve.
    std::vector<std::uint32_t> normal_index;
    std::vector<std::array<float, 3>> normal; // unit length
    // The polygons from one_from on take one normal at every corner (a tree's leaves, which
    // follow its wood in the layer, take their own face normal): held once per polygon.
    std::size_t one_from = static_cast<std::size_t>(-1);
    std::vector<std::array<float, 3>> one_normal;
    // Per polygon, how triangulate cuts it, found beside the corner normals from the same face
    // normal: two of the bits below per polygon, four polygons to a byte (a large tree's
    // millions of polygons cost no more than a quarter of a byte each). Empty (normals made
    // elsewhere): triangulate finds the cut itself.
    std::vector<std::uint8_t> cut;
    static constexpr std::uint8_t from_second = 1; // a quad cut along the diagonal from corner 1
    static constexpr std::uint8_t leans = 2;       // a corner normal leans away from its triangle

    bool knows_cut(std::size_t polygon) const { return polygon / 4 < cut.size(); }
    std::uint8_t cut_of(std::size_t polygon) const
    {
        return static_cast<std::uint8_t>((cut[polygon / 4] >> (polygon % 4 * 2)) & 3u);
    }

    // The normals of one polygon's corners, corner by corner.
    struct Corners {
        const std::array<float, 3> *normal;
        const std::uint32_t *index;
        std::size_t step; // 1, or 0 where every corner takes the same normal
        const std::array<float, 3> &operator[](std::size_t corner) const { return normal[index[corner * step]]; }
    };
    // Every corner takes the one normal.
    static Corners all(const std::array<float, 3> &one)
    {
        static constexpr std::uint32_t first_only = 0;
        return {&one, &first_only, 0};
    }
    Corners of(std::size_t polygon) const
    {
        if (polygon < one_from)
            return {normal.data(), normal_index.data() + first[polygon], 1};
        return all(one_normal[polygon - one_from]);
    }
    const std::array<float, 3> &at(std::size_t polygon, std::size_t corner) const { return of(polygon)[corner]; }
};

// Corners of polygons with fewer than three points get (0, 1, 0), as do the corners of faces
// too small to have a direction. crease_degrees is clamped to 0..180.
CornerNormals corner_normals(const host::Layer &layer, const Materials &materials, double crease_degrees);

// One corner of a triangle a polygon is cut into: which corner of the polygon, and its normal.
struct TriangleCorner {
    std::size_t corner = 0;
    std::array<float, 3> normal{};
};
using Triangle = std::array<TriangleCorner, 3>;

// The triangles of a polygon of three or more corners, winding kept: a fan from the first
// corner, except that a quad is cut along whichever diagonal leaves both halves facing most
// nearly the polygon's way (a bent or dented quad otherwise gives a half that faces back).
// Each corner takes its corner normal, or the triangle's own normal where the corner normal
// would lean a right angle or more away from the triangle: what a tool that only sees the
// triangles checks. Normals from corner_normals carry each polygon's cut, found once beside
// them; normals made otherwise (no cuts) are cut here.
void triangulate(const host::Layer &layer, std::size_t polygon, const CornerNormals &normals,
                 std::vector<Triangle> &out);

} // namespace exporter
