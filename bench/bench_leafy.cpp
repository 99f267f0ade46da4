// The leafy demo grown and written as a GLB again and again in one process: the work of
// `ramulon build --preset samples/presets/leafy.preset --output tree.glb` without starting a
// process, loading the module or faulting in fresh memory, measured the way the peer generator
// is (bench/peer: warm, in process). bench/whole_process.py reads its triangles_per_ms.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "export/export.h"
#include "leafy_demo.h"

namespace {

namespace fs = std::filesystem;

// The triangles a plain GLB of the layer holds: faces are cut into fans of n - 2.
double triangles_of(const host::Layer &layer)
{
    double triangles = 0.0;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p)
        if (const std::size_t n = layer.polygon_points(p).size(); n >= 3)
            triangles += static_cast<double>(n - 2);
    return triangles;
}

void BM_LeafyDemoToGlb(benchmark::State &state)
{
    host::Session *session = leafy_demo_or_skip(state);
    if (!session)
        return;
    std::string error;
    const std::string path =
        (fs::temp_directory_path() / ("ramulon-bench-leafy-" + std::to_string(::getpid()) + ".glb")).string();
    const exporter::WriteOptions options; // what `ramulon build --output tree.glb` writes
    for (auto _ : state) {
        if (const auto built = session->build(); !built) {
            state.SkipWithError(built.message().c_str());
            break;
        }
        if (!(error = exporter::write_tree(session->mesh().foreground, path, options).message()).empty()) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    std::error_code ec;
    fs::remove(path, ec);
    const double triangles = triangles_of(session->mesh().foreground);
    state.counters["triangles"] = triangles;
    // Per millisecond of CPU, as the peer's figure is per millisecond of its generate().
    state.counters["triangles_per_ms"] = benchmark::Counter(
        triangles * static_cast<double>(state.iterations()) / 1000.0, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_LeafyDemoToGlb)
    ->Unit(benchmark::kMillisecond)
    ->MinWarmUpTime(0.5)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
