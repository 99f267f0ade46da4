// The glTF side of the materials (materials.h): images, samplers, textures and the PBR material
// of every surface.
//
// Nothing here fails: a material without its image is left its colour.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/mesh.h"
#include "export/mesh/layer_view.h"
#include "export/materials/textures.h"
#include "export/gltf/tiny_gltf_setup.h"

namespace exporter {

// One image a glTF file carries: in a buffer view (GLB) or in a file beside it (by URI).
struct GltfImage {
    std::string name; // bark_image, bark_normal_image, atlas_image or leaf_image
    int buffer_view = -1;
    std::string uri;
};
using GltfImages = std::vector<GltfImage>;

// The images a layer's materials use, by name with their bytes, in a fixed order: the bark and
// its normal map (when the set has one) when a woody surface has bark coordinates, the atlas (or
// the single leaf when the layer has no atlas coordinates) when the leaves have theirs. None
// without textures.
std::vector<std::pair<std::string, const std::string *>>
used_images(const host::Layer &layer, const Materials &materials, const TextureSet &textures);

// The texture coordinate set of the woody primitives that the bark and its normal map use: the
// bark coordinates (gltf_collect.h).
inline constexpr int bark_texcoord = 1;

// Adds one material per entry of materials (same order), with the samplers and textures of the
// images given: bark (and its relief as the normal texture) over the bark coordinates on woody
// surfaces, the atlas or the single leaf on leaves.
void add_gltf_materials(tinygltf::Model &model, const host::Layer &layer, const Materials &materials,
                        const GltfImages &images);

} // namespace exporter
