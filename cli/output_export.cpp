// --output FILE.obj|FILE.gltf|FILE.glb: the tree for other tools, with materials, textures,
// normals, texture coordinates and the per-point data of the build (export/export.h). The options
// that shape the export (--textures, --subdivide, --crease-angle, --wind-colours) are checked
// before the build, so that a bad texture folder stops the run before anything is written.
#include <memory>

#include "build.h"
#include "export/export.h"
#include "export/materials/textures.h"

namespace cli {
namespace {

struct ExportChoices {
    std::string textures = "builtin";
    int subdivide = exporter::automatic_subdivision;
    double crease_angle = 60.0;
    bool wind_colours = false;
    bool no_wind_colours = false; // what earlier versions asked for; now the default
    exporter::ExportOptions options;
};

const auto choices = std::make_shared<ExportChoices>();

std::string check_export_options(BuildRun &)
{
    exporter::ExportOptions &options = choices->options;
    options = exporter::ExportOptions{};
    if (choices->textures == "none") {
        options.textures = exporter::TextureChoice::none;
    } else if (choices->textures == "builtin") {
        options.textures = exporter::TextureChoice::builtin;
    } else {
        options.textures = exporter::TextureChoice::folder;
        options.texture_folder = choices->textures;
    }
    options.subdivide = choices->subdivide;
    options.crease_angle = choices->crease_angle;
    options.wind_colours = choices->wind_colours;
    // Only a user's folder can fail; the built-in images need no look before the build.
    if (options.textures != exporter::TextureChoice::folder)
        return {};
    exporter::TextureSet textures;
    std::string error;
    if (!exporter::load_textures(options.textures, options.texture_folder, textures, error))
        return error;
    return {};
}

using Writer = std::string (*)(const host::Layer &, const std::string &, const exporter::ExportOptions &);

// Priced first: an export that would not fit is refused before it begins.
MeshWriter with_options(Writer writer, bool obj)
{
    return [writer, obj](const host::Layer &layer, const std::string &path) {
        exporter::GltfOptions options;
        options.look = choices->options;
        if (std::string refused = check_export_memory(layer, options, obj); !refused.empty())
            return refused;
        return writer(layer, path, choices->options);
    };
}

const bool registered =
    register_output_format(".obj",
                           with_options([](const host::Layer &layer, const std::string &path,
                                           const exporter::ExportOptions &options) {
                               return exporter::write_obj(layer, path, options).message();
                           }, true),
                           1) &&
    register_output_format(".gltf", with_options(exporter::write_gltf, false), 1) &&
    register_output_format(".glb", with_options(exporter::write_glb, false), 1) &&
    register_build_extension(BuildExtension{
        [](CLI::App &build) {
            build.add_option("--textures", choices->textures,
                             "Textures of the exported materials: none, builtin (painted by Ramulon) "
                             "or a folder holding bark.png, leaves.png and leaf.png (and optionally "
                             "bark_normal.png, the bark's tangent-space normal map)")
                ->default_str("builtin");
            add_number_option(build, "--subdivide", choices->subdivide, 0, exporter::max_subdivision,
                              "Catmull-Clark levels applied to tubes and roots before export (default 2 for a "
                              "SubD tree written to glTF, else 0)");
            add_number_option(build, "--crease-angle", choices->crease_angle, 0.0, 180.0,
                              "Faces meeting at more than this angle (degrees) get a sharp edge in the "
                              "exported normals; a tube's own sides always shade round (default 60)");
            build.add_flag("--wind-colours", choices->wind_colours,
                           "Also write the wind weights (always in the _WIND attribute) as glTF vertex "
                           "colours, COLOR_0, for tools that drop custom attributes; glTF viewers "
                           "multiply the base colour by it, so the tree looks tinted");
            // Accepted so that older scripts keep working; leaving COLOR_0 out is the default.
            build.add_flag("--no-wind-colours", choices->no_wind_colours)->group("");
        },
        check_export_options,
        nullptr,
    });

} // namespace

const exporter::ExportOptions &export_look() { return choices->options; }

} // namespace cli
