// --output FILE.obj|FILE.gltf|FILE.glb: the tree for other tools, with materials, textures,
// normals, texture coordinates and the per-point data of the build (export/export.h). The options
// that shape the export (--textures, --subdivide, --crease-angle, --wind-colours) are checked
// before the build, so that a bad texture folder stops the run before anything is written.
#include <cstdio>

#include "build.h"
#include "export/export.h"
#include "export/materials/textures.h"

namespace cli {
namespace {

std::string check_export_options(BuildRun &run)
{
    exporter::ExportOptions &look = run.output.options.look;
    exporter::choose_textures(look, run.output.textures);
    // Only a user's folder can fail; the built-in images need no look before the build.
    if (look.textures != exporter::TextureChoice::folder)
        return {};
    if (auto textures = exporter::load_textures(look.textures, look.texture_folder); !textures)
        return textures.error().message;
    return {};
}

void add_export_options(CLI::App &build, Output &output)
{
    exporter::ExportOptions &look = output.options.look;
    build.add_option("--textures", output.textures,
                     "Textures of the exported materials: none, builtin (painted by Ramulon) "
                     "or a folder holding bark.png, leaves.png and leaf.png (and optionally "
                     "bark_normal.png, the bark's tangent-space normal map)")
        ->default_str("builtin");
    add_number_option(build, "--subdivide", look.subdivide, 0, exporter::max_subdivision,
                      "Catmull-Clark levels applied to tubes and roots before export (default 2 for a "
                      "SubD tree written to glTF, else 0)");
    add_number_option(build, "--crease-angle", look.crease_angle, 0.0, 180.0,
                      "Faces meeting at more than this angle (degrees) get a sharp edge in the "
                      "exported normals; a tube's own sides always shade round (default 60)");
    build.add_flag("--wind-colours", look.wind_colours,
                   "Also write the wind weights (always in the _WIND attribute) as glTF vertex "
                   "colours, COLOR_0, for tools that drop custom attributes; glTF viewers "
                   "multiply the base colour by it, so the tree looks tinted");
    // Accepted so that older scripts keep working; leaving COLOR_0 out is the default.
    build.add_flag("--no-wind-colours", output.no_wind_colours)->group("");
}

// Priced first: an export that would not fit is refused before it begins. The game-ready files
// say what they wrote.
MeshWriter writer(bool obj)
{
    return [obj](const host::Layer &layer, const std::string &path, const exporter::WriteOptions &options) {
        if (std::string refused = check_export_memory(layer, options, obj); !refused.empty())
            return refused;
        exporter::WriteReport report;
        const ramulon::Status written = exporter::write_tree(layer, path, options, &report);
        if (written && !options.plain())
            std::fputs(exporter::report_text(report).c_str(), stdout);
        return written.message();
    };
}

const bool registered = register_output_format(".obj", writer(true)) &&
                        register_output_format(".gltf", writer(false)) &&
                        register_output_format(".glb", writer(false)) &&
                        register_build_extension(BuildExtension{add_export_options, check_export_options, nullptr});

} // namespace
} // namespace cli
