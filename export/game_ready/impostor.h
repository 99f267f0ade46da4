// The far-view card of a tree: pictures of it from eight directions around the trunk in one atlas
// (alpha where the tree is), shown on eight one-sided quads standing through the trunk. Two
// quads share each of four planes, back to back, so that whichever side a viewer stands on, the
// quad facing them shows the tree as seen from about there.
#pragma once

#include <string>

#include "common/error.h"
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
// smoothed. The atlas is impostor_tile * 4 by impostor_tile * 2 pixels; the quads are 8 quads of 4
// vertices, 16 triangles. The only error conditions are: a mesh without triangles to picture
// (invalid_input), the PNG encoder failing (internal); a cancelled export throws Cancelled.
ramulon::Result<Impostor> make_impostor(const MeshArrays &lod0, const std::vector<SurfaceLook> &looks);

} // namespace exporter
