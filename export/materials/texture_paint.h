// The images Ramulon paints for its own materials: a bark that tiles both ways with its normal
// map, a 3 x 3 atlas of leaves in the cells "RM_all_leaves" points into, and one leaf for
// "RM_leaf". Painted from
// integer lattice hashes and arithmetic alone (no clock, no random source, no transcendental
// functions), so the same size gives the same pixels on every run and every machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/error.h"

namespace exporter {

struct Image {
    int width = 0;
    int height = 0;
    int channels = 0;                 // 3 (RGB) or 4 (RGBA)
    std::vector<std::uint8_t> pixels; // row by row, row 0 at the top of the picture
};

// Bark for the tubes: u (across) runs around the tube, v (down the picture) along it; the left
// edge continues the right one and the top continues the bottom. With it its relief as a
// tangent-space normal map (x toward the right of the picture, y toward its top, z out of the
// bark; 0.5 is no tilt), which tiles the same way.
struct BarkImages {
    Image colour;
    Image normal;
};
BarkImages paint_bark(int size);

// The leaf atlas: column c holds the leaves whose spin chose column c, row r from the bottom the
// leaves whose age chose row r (young leaves, row 0, lighter). Each cell holds one leaf whose
// stem points down, with transparent padding all round so that mip-mapping does not carry one
// cell's leaf into the next.
Image paint_leaf_atlas(int size);

// One leaf filling the picture, stem at the bottom: the texture of "RM_leaf".
Image paint_leaf(int size);

// The image as the bytes of one PNG of its size and channels. The only error conditions are an
// image without pixels (invalid_input) and those of host::encode_png.
ramulon::Result<std::string> encode_png(const Image &image);

} // namespace exporter
