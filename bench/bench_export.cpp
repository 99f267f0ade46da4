// Export throughput next to build throughput: a polygonal tree of the default crown is built
// once by the real module, then written as OBJ, .gltf and .glb over and over; BM_ExportBuild
// grows and writes the same tree for comparison. Counters give polygons per second.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "bench_module.h"
#include "export/export.h"
#include "host/obj_loader.h"
#include "host/services.h"
#include "host/session.h"
#include "host/settings.h"

namespace {

namespace fs = std::filesystem;

class TreeBuilder {
public:
    bool open(std::string &error)
    {
        if (!session_.load(bench_module_path()) || session_.activate(11) != AFUNC_OK) {
            error = session_.error();
            return false;
        }
        session_.set_journal(false);
        if (const auto crown = host::load_obj_text(host::default_crown_obj(), "built-in crown", session_.mesh().background);
            !crown) {
            error = crown.message();
            return false;
        }
        session_.start();
        LWXPanelID panel = session_.panel();
        host::Binding bind(session_.services());
        for (const char *setting : {"render_type=1", "random_seed=7"})
            if (!panel || !(error = host::apply_setting(panel, setting).message()).empty())
                return false;
        return true;
    }

    bool build(std::string &error)
    {
        const ramulon::Status built = session_.build();
        error = built.message();
        return built.ok();
    }

    const host::Layer &layer() { return session_.mesh().foreground; }

private:
    host::Session session_;
};

std::string scratch_file(const char *extension)
{
    return (fs::temp_directory_path() / ("ramulon-bench-" + std::to_string(::getpid()) + extension))
        .string();
}

void remove_outputs(const std::string &path)
{
    std::error_code ec;
    for (const char *extension : {".obj", ".mtl", ".gltf", ".bin", ".glb"})
        fs::remove(fs::path(path).replace_extension(extension), ec);
}

using Writer = std::string (*)(const host::Layer &, const std::string &);

// Writes the tree with write (when given) on every iteration, building it anew first when
// build_too is set.
void run_export(benchmark::State &state, Writer write, const char *extension, bool build_too)
{
    TreeBuilder tree;
    std::string error;
    if (!tree.open(error) || !tree.build(error)) {
        state.SkipWithError(("no tree: " + error).c_str());
        return;
    }
    const std::string path = scratch_file(extension);
    for (auto _ : state) {
        if (build_too && !tree.build(error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        if (write && !(error = write(tree.layer(), path)).empty()) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    remove_outputs(path);
    const double polygons = static_cast<double>(tree.layer().polygon_count());
    state.counters["polygons"] = polygons;
    state.counters["polygons_per_s"] =
        benchmark::Counter(polygons * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

std::string write_file(const host::Layer &layer, const std::string &path)
{
    return exporter::write_tree(layer, path).message();
}

void BM_ExportObj(benchmark::State &state) { run_export(state, write_file, ".obj", false); }
void BM_ExportGltf(benchmark::State &state) { run_export(state, write_file, ".gltf", false); }
void BM_ExportGlb(benchmark::State &state) { run_export(state, write_file, ".glb", false); }
void BM_BuildPolygonal(benchmark::State &state) { run_export(state, nullptr, ".glb", true); }
void BM_BuildAndExportGlb(benchmark::State &state) { run_export(state, write_file, ".glb", true); }

// The page's GLB after an edit: written to memory, no file.
std::string page_glb(const host::Layer &layer, const std::string &)
{
    const ramulon::Result<std::string> bytes = exporter::write_tree_to_memory(layer);
    return bytes ? std::string() : bytes.error().message;
}
void BM_PageGlb(benchmark::State &state) { run_export(state, page_glb, ".glb", false); }

BENCHMARK(BM_ExportObj)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportGltf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportGlb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildPolygonal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildAndExportGlb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageGlb)->Unit(benchmark::kMillisecond);

} // namespace
