// What both writers do before they serialise a layer: subdivide the woody cage when asked,
// collect the materials, the corner normals, the textures and the bark's repeat.
#pragma once

#include <array>
#include <string>

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
    double bark_repeat = 1.0;
    bool wind_colours = true;
};

// The subdivision levels the options ask of a format for this layer: automatic means two for a
// SubD cage (patch polygons) written to glTF, none otherwise.
int subdivision_levels(const host::Layer &layer, const ExportOptions &options, Format format);

// False with a one-line error (the caller adds nothing to it but the path) when the layer is
// corrupt, a texture is refused or the cage cannot be subdivided.
bool prepare_mesh(const host::Layer &layer, const ExportOptions &options, Format format,
                  PreparedMesh &out, std::string &error);

// The file a texture is written to beside an exported file: "out/tree.gltf", "bark.png" ->
// "out/tree_bark.png".
std::string texture_path(const std::string &path, const std::string &image);

// The colour that carries the wind data to tools that keep vertex colours but drop custom
// attributes: red the range weight mapped from -1.3..1.3 to 0..1, green the thickness weight
// over 1.3 (leaves reach 1.3 on both), blue 0.
inline std::array<float, 3> wind_colour(float range, float thick)
{
    const auto unit = [](double x) { return static_cast<float>(x < 0.0 ? 0.0 : x > 1.0 ? 1.0 : x); };
    return {unit((static_cast<double>(range) + 1.3) / 2.6), unit(static_cast<double>(thick) / 1.3), 0.0f};
}

} // namespace exporter
