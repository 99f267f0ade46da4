// --lod N, --lod-files, --impostor, --compress: glTF for games and real-time scenes, levels of
// detail, a far-view card and compact buffers (export/gltf_options.h). These writers replace the
// plain glTF ones and say what they wrote when any of the options is given.
#include <cctype>
#include <limits>
#include <cstdio>

#include "build.h"
#include "export/export.h"
#include "host/xpanel.h"

namespace cli {
namespace {

struct GameReady {
    exporter::GltfOptions options;
    std::string compress; // "", "meshopt" or "quantize"
    CLI::Option *output = nullptr;
};

GameReady &game_ready()
{
    static GameReady state;
    return state;
}

bool gltf_path(const std::string &path)
{
    for (const char *ext : {".gltf", ".glb"}) {
        const std::string e = ext;
        if (path.size() >= e.size()) {
            std::string tail = path.substr(path.size() - e.size());
            for (char &c : tail)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (tail == e)
                return true;
        }
    }
    return false;
}

void add_options(CLI::App &build)
{
    GameReady &state = game_ready();
    // A whole number here; its range is checked with the other options (check_options).
    add_number_option(build, "--lod", state.options.levels, std::numeric_limits<int>::min(),
                      std::numeric_limits<int>::max(),
                      "Levels of detail in the glTF: LOD0 (the tree) and N-1 simpler ones, about 50 %, 20 % "
                      "and 5 % of its triangles (1 to " + std::to_string(exporter::max_levels) + ", default 1)");
    build.add_flag("--lod-files", state.options.level_files,
                   "Each level of detail (and the far card) in a file of its own beside --output");
    build.add_flag("--impostor", state.options.impostor,
                   "Add a far-view card: the tree pictured from 8 sides on crossed quads (<name>_LOD_FAR)");
    build.add_option("--compress", state.compress,
                     "Compact buffers. --compress (or --compress meshopt): quantised positions and normals "
                     "and meshopt-compressed buffers (KHR_mesh_quantization, EXT_meshopt_compression), "
                     "read by three.js, Babylon.js and engines with a meshopt decoder, not by Blender "
                     "before 5.0. --compress quantize: the quantisation alone (KHR_mesh_quantization), "
                     "which Blender 3.x reads")
        ->expected(0, 1)
        ->default_str("meshopt") // what --compress alone asks for
        ->check(CLI::IsMember({"meshopt", "quantize"}))
        ->option_text("[meshopt|quantize]");
    state.output = build.get_option_no_throw("--output");
}

std::string check(BuildRun &)
{
    GameReady &state = game_ready();
    state.options.compress = state.compress == "meshopt"    ? exporter::Compression::meshopt
                             : state.compress == "quantize" ? exporter::Compression::quantize
                                                            : exporter::Compression::none;
    if (std::string bad = exporter::check_options(state.options); !bad.empty())
        return bad;
    if (state.options.plain())
        return {};
    const std::string output = state.output && state.output->count() ? state.output->as<std::string>() : "";
    if (!gltf_path(output))
        return "--lod, --lod-files, --impostor and --compress need --output FILE.gltf or FILE.glb";
    return {};
}

// A skeleton is lines only: the far card has no surfaces to picture, known before it grows.
std::string check_before_build(BuildRun &run)
{
    constexpr unsigned long render_type = 32792;
    if (!game_ready().options.impostor)
        return {};
    LWXPanelID panel = run.session.panel();
    if (!panel)
        return {};
    host::Binding bind(run.session.services());
    if (host::get_value(panel, render_type).i != 0)
        return {};
    const GameReady &state = game_ready();
    const std::string output = state.output && state.output->count() ? state.output->as<std::string>() : "";
    return "cannot write " + output +
           ": --impostor pictures the tree's surfaces and this tree has none (a skeleton build is lines only)";
}

std::string write(bool binary, const host::Layer &layer, const std::string &path)
{
    exporter::GltfOptions options = game_ready().options;
    options.look = export_look();
    if (std::string refused = check_export_memory(layer, options, false); !refused.empty())
        return refused;
    exporter::GltfReport report;
    const std::string error = binary ? exporter::write_glb(layer, path, options, &report)
                                     : exporter::write_gltf(layer, path, options, &report);
    if (error.empty() && !options.plain())
        std::fputs(exporter::report_text(report).c_str(), stdout);
    return error;
}

const bool registered =
    register_build_extension({add_options, check, {}, check_before_build}) &&
    register_output_format(".gltf", [](const host::Layer &l, const std::string &p) { return write(false, l, p); }, 2) &&
    register_output_format(".glb", [](const host::Layer &l, const std::string &p) { return write(true, l, p); }, 2);

} // namespace
} // namespace cli
