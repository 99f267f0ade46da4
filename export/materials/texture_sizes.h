// Sizes of the images Ramulon paints for its own materials: the atlas has three cells a side,
// each wide enough for a leaf seen close up.
#pragma once

namespace exporter {

inline constexpr int bark_texture_size = 512;
inline constexpr int atlas_texture_size = 768;
inline constexpr int leaf_texture_size = 256;

} // namespace exporter
