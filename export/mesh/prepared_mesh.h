// What both writers do before they serialise a layer: subdivide the woody cage when asked,
// collect the materials, the corner normals, the textures and the bark's own coordinates.
#pragma once

#include <array>
#include <string>

#include "export/mesh/bark_coordinates.h"
#include "export/mesh/export_options.h"
#include "host/mesh.h"
#include "export/mesh/layer_view.h"
#include "export/mesh/normals.h"
#include "export/materials/textures.h"

namespace exporter {

enum class Format { obj, gltf };

struct PreparedMesh {
    host::Layer refined;               // the subdivided layer, when there is one
    const host::Layer *layer = nullptr; // what to write: the caller's layer or refined
    Materials materials;
    CornerNormals normals;
    TextureSet textures; // empty: colours only
    BarkCoordinates bark; // of the layer written
    bool wind_colours = false;
};

// The subdivision levels the options ask of a format for this layer: automatic means two for a
// SubD cage (patch polygons) written to glTF, none otherwise.
int subdivision_levels(const host::Layer &layer, const ExportOptions &options, Format format);

// Fills out for writing layer in format. The only error conditions are: the layer is corrupt
// (invalid_input), a texture is refused (load_textures' kinds), the cage cannot be subdivided
// (invalid_input); the message is one line to which the caller adds nothing but the path.
ramulon::Status prepare_mesh(const host::Layer &layer, const ExportOptions &options, Format format,
                             PreparedMesh &out);

// The file a texture is written to beside an exported file: "out/tree.gltf", "bark.png" ->
// "out/tree_bark.png".
std::string texture_path(const std::string &path, const std::string &image);

// The wind weights of a point in one unit pair, written as _WIND (and as COLOR_0's red and green
// when asked): the range weight mapped from -1.3..1.3 to 0..1, the thickness weight over 1.3
// (leaves reach 1.3 on both), each clamped to 0..1.
inline std::array<float, 2> wind_weights(float range, float thick)
{
    const auto unit = [](double x) { return static_cast<float>(x < 0.0 ? 0.0 : x > 1.0 ? 1.0 : x); };
    return {unit((static_cast<double>(range) + 1.3) / 2.6), unit(static_cast<double>(thick) / 1.3)};
}

} // namespace exporter
