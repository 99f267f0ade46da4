// The images behind the materials, as PNG bytes: Ramulon's own (painted while Ramulon is built)
// or the user's bark.png, leaves.png and leaf.png (and, when there is one, bark_normal.png) from
// one folder, checked before anything is written.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/error.h"

namespace exporter {

enum class TextureChoice {
    none,    // materials with colours only
    builtin, // the bark and leaf images Ramulon paints itself
    folder,  // the user's bark.png, leaves.png and leaf.png from texture_folder
};


// The file names of a user's texture folder, and the suffixes of the files written beside a
// .gltf or .obj ("tree.gltf" -> "tree_bark.png").
inline const std::string bark_image = "bark.png";
inline const std::string bark_normal_image = "bark_normal.png";
inline const std::string atlas_image = "leaves.png";
inline const std::string leaf_image = "leaf.png";

// The side, in pixels, above which a user's image is refused, and the largest file read as one:
// an image of that side holds 256 MB of 8-bit pixels, which no PNG needs more bytes to store.
inline constexpr int max_texture_side = 8192;
inline constexpr std::size_t max_texture_bytes = std::size_t(256) << 20;

struct TextureSet {
    std::string bark;   // tiles around and along the tubes
    // The bark's relief as a tangent-space normal map over the same coordinates (x along u, y
    // toward the top of the picture, z out of the bark); may be empty for a user's folder.
    std::string bark_normal;
    std::string leaves; // the 3 x 3 leaf atlas of "RM_all_leaves"
    std::string leaf;   // one leaf, for "RM_leaf"
    bool empty() const { return bark.empty(); }
};

// Ramulon's own images, the same bytes on every call.
const TextureSet &builtin_textures();

// Empty when bytes are a PNG of at most max_texture_side pixels a side that decodes, else a
// one-line reason naming path.
std::string check_png(const std::string &bytes, const std::string &path);

// A PNG's pixels as 8-bit RGBA, rows top first; false when bytes do not decode.
bool decode_png(const std::string &bytes, int &width, int &height, std::vector<unsigned char> &rgba);

// The images a writer is asked for (an empty set for TextureChoice::none; `folder` names the
// user's folder for TextureChoice::folder). A folder without bark_normal.png gives bark without
// relief. The only error conditions are: the folder is no folder or lacks a file (not_found), a
// file is no usable PNG or not a file a texture can be (invalid_input), a file cannot be read
// (io), the built-in images cannot be encoded (internal).
ramulon::Result<TextureSet> load_textures(TextureChoice choice, const std::string &folder);

} // namespace exporter
