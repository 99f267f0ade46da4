// Game-ready output of the leafy demo (the built-in crown with samples/presets/leafy.preset):
// how long writing LOD0 alone takes next to writing all four levels, the compressed GLB's size
// next to the plain one, and per level how close its triangles come to their target and how far
// its silhouette strays from LOD0's, seen from four sides by the exporter's own rasteriser.
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <unistd.h>

#include "export/export.h"
#include "export/gltf/gltf_parts.h"
#include "export/game_ready/lod.h"
#include "export/game_ready/soft_raster.h"
#include "export/mesh/vertex_order.h"
#include "leafy_demo.h"

namespace {

namespace fs = std::filesystem;

const host::Layer *leafy_demo(std::string &error)
{
    host::Session *session = leafy_demo_session(error);
    return session ? &session->mesh().foreground : nullptr;
}

std::string scratch_file(const char *extension)
{
    return (fs::temp_directory_path() / ("ramulon-bench-lod-" + std::to_string(::getpid()) + extension)).string();
}

void write_levels(benchmark::State &state, exporter::WriteOptions options)
{
    std::string error;
    const host::Layer *tree = leafy_demo(error);
    if (!tree) {
        state.SkipWithError(("no tree: " + error).c_str());
        return;
    }
    const std::string path = scratch_file(".glb");
    exporter::WriteReport report;
    for (auto _ : state)
        if (!(error = exporter::write_tree(*tree, path, options, &report).message()).empty()) {
            state.SkipWithError(error.c_str());
            break;
        }
    std::error_code ec;
    fs::remove(path, ec);
    if (!report.files.empty())
        state.counters["bytes"] = static_cast<double>(report.files.front().bytes);
}

void BM_LodWriteLod0(benchmark::State &state) { write_levels(state, {}); }
void BM_LodWriteFourLevels(benchmark::State &state) { write_levels(state, {.levels = 4}); }
void BM_LodWriteFourLevelsAndCard(benchmark::State &state) { write_levels(state, {.levels = 4, .impostor = true}); }
void BM_LodWriteCompressed(benchmark::State &state) { write_levels(state, {.compress = exporter::Compression::meshopt}); }
void BM_LodWritePlainCollectedOrder(benchmark::State &state) { write_levels(state, {.vertex_order = false}); }

// The leafy demo as the writer collects it; false, with the benchmark skipped, when it does not grow.
bool collected_leafy_demo(benchmark::State &state, exporter::CollectedTree &out)
{
    std::string error;
    const host::Layer *tree = leafy_demo(error);
    if (!tree) {
        state.SkipWithError(("no tree: " + error).c_str());
        return false;
    }
    out = exporter::collect_tree(*tree);
    return true;
}

// The simplification alone: LOD1 to LOD3 made from the collected LOD0, nothing written.
void BM_LodMakeLevels(benchmark::State &state)
{
    exporter::CollectedTree collected;
    if (!collected_leafy_demo(state, collected))
        return;
    for (auto _ : state)
        for (int level = 1; level < 4; ++level)
            benchmark::DoNotOptimize(exporter::make_level(collected.mesh, collected.looks, exporter::level_fraction(level)));
}

// The wood alone: tubes and roots, without the leaves.
exporter::MeshArrays wood_of(const exporter::CollectedTree &tree, const exporter::MeshArrays &mesh)
{
    exporter::MeshArrays out;
    for (const exporter::PrimitiveArrays &prim : mesh)
        if (prim.triangles() && !tree.looks[static_cast<std::size_t>(prim.material)].leaf)
            out.push_back(prim);
    return out;
}

// Triangles against target and the silhouette difference from LOD0 of every level: the worst of
// four sides, as a share of the pixels either silhouette covers and as a share of the picture,
// and of the wood alone as a share of the pixels either covers, at 512, 256 and 128 pixels
// square.
void BM_LodQuality(benchmark::State &state)
{
    exporter::CollectedTree collected;
    if (!collected_leafy_demo(state, collected))
        return;
    const exporter::Frame frame = exporter::frame_of(collected.mesh);
    const double all = static_cast<double>(exporter::triangle_count(collected.mesh));
    const std::vector<exporter::SurfaceLook> looks = exporter::plain_looks(collected.looks);
    const exporter::MeshArrays wood0 = wood_of(collected, collected.mesh);
    for (auto _ : state) {
        for (int level = 1; level < 4; ++level) {
            const exporter::MeshArrays simpler =
                exporter::make_level(collected.mesh, collected.looks, exporter::level_fraction(level));
            const double target = all * exporter::level_fraction(level);
            const std::string name = "LOD" + std::to_string(level);
            state.counters[name + "_triangles_vs_target"] =
                static_cast<double>(exporter::triangle_count(simpler)) / target;
            const exporter::MeshArrays wood = wood_of(collected, simpler);
            for (int size : {512, 256, 128}) {
                double worst = 0.0, worst_image = 0.0, worst_wood = 0.0;
                for (int side = 0; side < 4; ++side) {
                    const double angle = side * std::numbers::pi / 2.0;
                    const exporter::Picture a = exporter::render_view(collected.mesh, looks, frame, angle, size, size);
                    const exporter::Picture b = exporter::render_view(simpler, looks, frame, angle, size, size);
                    const double union_share = exporter::silhouette_difference(a, b);
                    std::size_t covered = 0;
                    for (std::size_t i = 3; i < a.rgba.size(); i += 4)
                        covered += a.rgba[i] != 0 || b.rgba[i] != 0;
                    worst = std::max(worst, union_share);
                    worst_image = std::max(worst_image, union_share * double(covered) / double(size * size));
                    worst_wood = std::max(worst_wood, exporter::silhouette_difference(
                                                          exporter::render_view(wood0, looks, frame, angle, size, size),
                                                          exporter::render_view(wood, looks, frame, angle, size, size)));
                }
                const std::string at = std::string("_").append(std::to_string(size));
                state.counters[name + "_silhouette_of_either" + at] = worst;
                state.counters[name + "_silhouette_of_image" + at] = worst_image;
                state.counters[name + "_wood_silhouette_of_either" + at] = worst_wood;
            }
        }
    }
}

BENCHMARK(BM_LodWriteLod0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LodWriteFourLevels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LodWriteFourLevelsAndCard)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LodWriteCompressed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LodWritePlainCollectedOrder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LodMakeLevels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LodQuality)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
