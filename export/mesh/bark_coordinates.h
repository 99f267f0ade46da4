// Bark at its own scale on every tube. "RM_branch" runs u once around a tube and v along the
// whole tree in one measure (path length over the longest branch), so one square bark image is
// stretched along thin tubes and squashed on thick ones. The bark coordinates keep u and replace
// v by t, the distance along the tube counted in the tube's own circumferences: wherever the bark
// lies, one unit of t is as long as one unit of u is wide, and the image's texels stay square on
// roots, trunk, branches and twigs alike.
//
// t is integrated along the tree: along each edge of a woody polygon, t grows by the difference
// in v times the polygon's own length per unit of v over its width per unit of u (its
// circumference), so a ring takes the value of the ring before it plus the segment's length over
// its circumference. The points are taken from where each piece of bark starts (its smallest v,
// where t is 0) outward, nearest first, each the mean of what its edges to the points already
// taken say. A point holds one t for all its polygons, so the bark is continuous across forks (a
// side branch starts from its stub), across texture seams and through subdivided surfaces.
// Roots count their v away from the trunk; their bark runs the other way, so that it continues
// the trunk's across the collar: the collar takes the trunk base's t less the collar's drop below
// the base in trunk circumferences, and t falls along each root from there. On the skirt between
// the trunk's base and the collar, u follows the base ring's round the trunk.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "host/mesh.h"
#include "export/mesh/layer_view.h"

namespace exporter {

struct BarkCoordinates {
    // Per polygon, its first corner in uv: the layer's own corner offsets.
    std::span<const std::size_t> first;
    // Per corner: (u around, t along); (0, 0) off the bark. A tree's leaves come after its wood
    // in the layer, so the corners past the last polygon on the bark may be left out.
    std::vector<std::array<float, 2>> uv;
    std::vector<char> on_bark; // per polygon: a woody polygon with "RM_branch" values

    bool empty() const { return uv.empty(); }
    const std::array<float, 2> &at(std::size_t polygon, std::size_t corner) const
    {
        static constexpr std::array<float, 2> off_bark{0.0f, 0.0f};
        const std::size_t at = first[polygon] + corner;
        return at < uv.size() ? uv[at] : off_bark;
    }
    // at() for a polygon on the bark, whose corners uv always holds.
    const std::array<float, 2> &at_on_bark(std::size_t polygon, std::size_t corner) const
    {
        return uv[first[polygon] + corner];
    }
};

// Empty when the layer has no woody polygon or no "RM_branch" map.
BarkCoordinates bark_coordinates(const host::Layer &layer, const Materials &materials);

// The cage's bark carried onto its subdivided surface (subdivision.h): the smooth tubes are
// narrower than their square cages by about the same share everywhere, so t is stretched by the
// share measured over the whole bark (its length along over its width around, area-weighted),
// which keeps the texels square.
void fit_bark_to_surface(BarkCoordinates &bark, const host::Layer &layer);

// How a triangle's texture coordinates stretch over it: metres of surface per unit of the first
// coordinate and per unit of the second, and its area. False when the triangle maps onto a line
// of the texture (or is no triangle at all).
struct TextureStretch {
    double per_u = 0.0, per_v = 0.0, area = 0.0;
};
bool texture_stretch(const host::Vec3 &p0, const host::Vec3 &p1, const host::Vec3 &p2,
                     const std::array<double, 2> &t0, const std::array<double, 2> &t1,
                     const std::array<double, 2> &t2, TextureStretch &out);

} // namespace exporter
