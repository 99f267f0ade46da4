// A small software rasteriser for pictures of a tree: orthographic views from around the trunk,
// each material as a viewer shows it (its base colour, times its texture where it has one, cut
// out where a leaf's texture is clear), shaded by the corner normals under a light from above
// the viewer's shoulder, with coverage in the alpha channel. It paints the far-view card's atlas
// and lets the levels of detail be compared by their silhouettes.
//
// Nothing here fails: what no triangle covers stays transparent.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
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
    std::vector<std::uint8_t> rgba; // row by row, row 0 on top
};

// An image as a material samples it: linear colour and alpha, with its mipmaps.
class SampledImage {
public:
    // rgba: 8-bit sRGB colour and linear alpha, rows top first.
    SampledImage(int width, int height, const std::vector<std::uint8_t> &rgba);

    // The filtered colour at (u, v) (glTF's: v = 0 on the top row) from the mipmap of level
    // lod (0 the image itself, fractions blend two); repeat tiles the image, else its edge
    // pixels stretch.
    std::array<float, 4> sample(double u, double v, double lod, bool repeat) const;
    int width() const { return levels_.front().width; }
    int height() const { return levels_.front().height; }

private:
    struct Level {
        int width = 0, height = 0;
        std::vector<std::array<float, 4>> texels;
    };
    std::array<float, 4> bilinear(const Level &level, double u, double v, bool repeat) const;
    std::vector<Level> levels_;
};

// How one material looks: what a glTF viewer makes of it.
struct SurfaceLook {
    std::array<double, 3> colour{0.8, 0.8, 0.8}; // linear; the texture's factor where there is one
    std::shared_ptr<const SampledImage> image;   // none: the colour alone
    std::string texcoord = "TEXCOORD_0";         // the coordinates the image is read with
    std::array<double, 2> scale{1.0, 1.0};       // of those coordinates (a texture transform)
    bool repeat = true;
    double alpha_cutoff = -1.0; // cut out below this alpha; negative: opaque
};

// Untextured looks of the materials' own colours, for silhouettes and plain pictures.
std::vector<SurfaceLook> plain_looks(const std::vector<MaterialLook> &looks);

// The tree's triangles as seen from angle (radians about the vertical axis; 0 looks from +z
// towards -z), the frame filling the picture. samples: the picture is drawn at samples times
// its size each way and every pixel averages its samples, so edges are smooth and alpha is the
// share of the pixel covered. Uncovered pixels are transparent black.
Picture render_view(const MeshArrays &mesh, const std::vector<SurfaceLook> &looks, const Frame &frame,
                    double angle, int width, int height, int samples = 1);

// The share of pixels covered in exactly one of two pictures of one size, of those covered in
// either: 0 for identical silhouettes, 1 for disjoint ones.
double silhouette_difference(const Picture &a, const Picture &b);

} // namespace exporter
