// The far-view card of a tree: pictures of it from eight directions around the trunk in one atlas
// (alpha where the tree is), shown on eight one-sided quads standing through the trunk. Two
// quads share each of four planes, back to back, so that whichever side a viewer stands on, the
// quad facing them shows the tree as seen from about there.
#pragma once

#include <string>

#include "export/game_ready/soft_raster.h"
#include "export/mesh/mesh_arrays.h"

namespace exporter {

inline constexpr int impostor_views = 8;
inline constexpr int impostor_tile = 256; // pixels, each view a square tile, four to a row
// Samples per pixel each way: a twig thinner than a pixel still shows, as a pixel partly covered.
inline constexpr int impostor_samples = 4;

struct Impostor {
    std::string png; // the atlas, 8-bit RGBA
    int width = 0, height = 0;
    // POSITION, NORMAL and TEXCOORD_0 of the quads; its material is for the caller to set.
    PrimitiveArrays quads;
};

// Each view is drawn from LOD0 with its materials' looks (textured where they are), its edges
// smoothed. Empty png when the mesh has no triangles to picture.
Impostor make_impostor(const MeshArrays &lod0, const std::vector<SurfaceLook> &looks);

} // namespace exporter
