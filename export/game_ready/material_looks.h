// The far card paints the tree with the materials its levels are written with: each glTF
// material as the rasteriser samples it, so that the card shows what a viewer shows of LOD0.
//
// Nothing here fails: an image that does not decode leaves its materials their colour alone.
#pragma once

#include <string>
#include <vector>

#include "export/game_ready/soft_raster.h"
#include "export/gltf/tiny_gltf_setup.h"

namespace exporter {

// One look per material of model; image_bytes holds the PNG bytes of each of its images, in
// order. An image that does not decode leaves its materials their colour alone.
std::vector<SurfaceLook> surface_looks(const tinygltf::Model &model, const std::vector<const std::string *> &image_bytes);

} // namespace exporter
