// --lod N, --lod-files, --impostor, --compress: glTF for games and real-time scenes, levels of
// detail, a far-view card and compact buffers (export/write_options.h). The glTF writers say what
// they wrote when any of the options is given.
#include <limits>

#include "build.h"
#include "export/export.h"
#include "host/xpanel.h"

namespace cli {
namespace {

// Whether the writer takes levels for this path (a .gltf or a .glb, in any case).
bool gltf_path(const std::string &path)
{
    exporter::WriteOptions levels;
    levels.levels = 2;
    return !path.empty() && exporter::check_write(path, levels).ok();
}

void add_options(CLI::App &build, Output &output)
{
    exporter::WriteOptions &options = output.options;
    // A whole number here; its range is checked with the other options (check_options).
    add_number_option(build, "--lod", options.levels, std::numeric_limits<int>::min(),
                      std::numeric_limits<int>::max(),
                      "Levels of detail in the glTF: LOD0 (the tree) and N-1 simpler ones, about 50 %, 20 % "
                      "and 5 % of its triangles (1 to " + std::to_string(exporter::max_levels) + ", default 1)");
    build.add_flag("--lod-files", options.level_files,
                   "Each level of detail (and the far card) in a file of its own beside --output");
    build.add_flag("--impostor", options.impostor,
                   "Add a far-view card: the tree pictured from 8 sides on crossed quads (<name>_LOD_FAR)");
    build.add_option("--compress", output.compress,
                     "Compact buffers. --compress (or --compress meshopt): quantised positions and normals "
                     "and meshopt-compressed buffers (KHR_mesh_quantization, EXT_meshopt_compression), "
                     "read by three.js, Babylon.js and engines with a meshopt decoder, not by Blender "
                     "before 5.0. --compress quantize: the quantisation alone (KHR_mesh_quantization), "
                     "which Blender 3.x reads")
        ->expected(0, 1)
        ->default_str("meshopt") // what --compress alone asks for
        ->check(CLI::IsMember({"meshopt", "quantize"}))
        ->option_text("[meshopt|quantize]");
}

std::string check(BuildRun &run)
{
    exporter::WriteOptions &options = run.output.options;
    options.compress = run.output.compress == "meshopt"    ? exporter::Compression::meshopt
                       : run.output.compress == "quantize" ? exporter::Compression::quantize
                                                           : exporter::Compression::none;
    if (ramulon::Status bad = exporter::check_options(options); !bad)
        return bad.message();
    if (!options.plain() && !gltf_path(run.output.path))
        return "--lod, --lod-files, --impostor and --compress need --output FILE.gltf or FILE.glb";
    return {};
}

// A skeleton is lines only: the far card has no surfaces to picture, known before it grows.
std::string check_before_build(BuildRun &run)
{
    constexpr unsigned long render_type = 32792;
    if (!run.output.options.impostor)
        return {};
    LWXPanelID panel = run.session.panel();
    if (!panel)
        return {};
    host::Binding bind(run.session.services());
    if (host::get_value(panel, render_type).i != 0)
        return {};
    return "cannot write " + run.output.path +
           ": --impostor pictures the tree's surfaces and this tree has none (a skeleton build is lines only)";
}

const bool registered = register_build_extension({add_options, check, {}, check_before_build});

} // namespace
} // namespace cli
