// A small software rasteriser for pictures of a tree: orthographic views from around the trunk,
// flat-shaded in each material's colour, with coverage in the alpha channel. It draws the far-view
// card's atlas and lets the levels of detail be compared by their silhouettes.
#pragma once

#include <cstdint>
#include <vector>

#include "export/mesh/mesh_arrays.h"

namespace exporter {

// The square window every view shows: centred on the tree's vertical axis, from just below its
// lowest point, wide and tall enough for the whole tree seen from any side.
struct Frame {
    double cx = 0.0, cz = 0.0; // the vertical axis
    double bottom = 0.0;       // the window's lower edge
    double side = 1.0;         // the window's width and height
};

Frame frame_of(const MeshArrays &mesh);

struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba; // row 0 on top
};

// The tree's triangles as seen from angle (radians about the vertical axis; 0 looks from +z
// towards -z), the frame filling the picture. Uncovered pixels are transparent black.
Picture render_view(const MeshArrays &mesh, const std::vector<MaterialLook> &looks, const Frame &frame,
                    double angle, int width, int height);

// The share of pixels covered in exactly one of two pictures of one size, of those covered in
// either: 0 for identical silhouettes, 1 for disjoint ones.
double silhouette_difference(const Picture &a, const Picture &b);

} // namespace exporter
