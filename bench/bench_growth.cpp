// How skeleton growth scales with the number of branches, on the default round crown: the
// spatial index against the walk over every node, and the peak memory of the process.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <string>

#include "host/edit_op.h"
#include "host/mesh.h"
#include "host/obj_loader.h"
#include "trees.h"

namespace ramulon {
namespace {

// Counts and captures the crown the way a build does.
bool capture_default_crown(st_tree &t, std::string &error)
{
    host::Mesh mesh;
    if (!host::load_obj_text(host::default_crown_obj(), "round_crown.obj", mesh.background, error))
        return false;
    host::EditOp edit(mesh, nullptr);
    MeshEditOp *op = edit.op();
    num_polys = op->polyCount(op->state, OPLYR_BG, EDCOUNT_ALL);
    op->polyScan(op->state, check_for_nurbs, nullptr, OPLYR_BG);
    t.num_bg_polys = num_polys;
    copy_BG(num_polys, op);
    return poly_num > 0;
}

double peak_rss_kb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss);
}

// One growth of the tree, in nanoseconds; negative when it failed.
double grow_once(st_tree &t, bool indexed)
{
    growth_use_index = indexed;
    const auto start = std::chrono::steady_clock::now();
    const int failed = TreeMake(&t, nullptr, 0);
    const double ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    growth_use_index = true;
    return failed != 0 ? -1.0 : ns;
}

// Arguments: branch count, and 1 for the index or 0 for the walk.
void BM_Growth(benchmark::State &state)
{
    st_tree t = default_params;
    t.num_branches = static_cast<int>(state.range(0));
    const bool indexed = state.range(1) != 0;
    std::string error;
    if (!capture_default_crown(t, error)) {
        state.SkipWithError(error.empty() ? "no crown captured" : error.c_str());
        return;
    }
    double grown_ns = 0;
    for (auto _ : state) {
        const double ns = grow_once(t, indexed);
        if (ns < 0) {
            state.SkipWithError("Memory allocation error");
            break;
        }
        grown_ns += ns;
    }
    const double branches = t.num_branches;
    state.counters["branches"] = branches;
    if (state.iterations() > 0)
        state.counters["ns_per_branch"] = grown_ns / (static_cast<double>(state.iterations()) * branches);
    state.counters["peak_rss_kb"] = peak_rss_kb();
    free_memory();
    free_BG();
}

// The walk's time over the index's for the same tree, both grown in one run.
void BM_GrowthIndexGain(benchmark::State &state)
{
    st_tree t = default_params;
    t.num_branches = static_cast<int>(state.range(0));
    std::string error;
    if (!capture_default_crown(t, error)) {
        state.SkipWithError(error.empty() ? "no crown captured" : error.c_str());
        return;
    }
    double walked = 0, indexed = 0;
    for (auto _ : state) {
        const double w = grow_once(t, false);
        const double x = grow_once(t, true);
        if (w < 0 || x < 0) {
            state.SkipWithError("Memory allocation error");
            break;
        }
        walked += w;
        indexed += x;
    }
    if (indexed > 0)
        state.counters["walk_over_index"] = walked / indexed;
    state.counters["peak_rss_kb"] = peak_rss_kb();
    free_memory();
    free_BG();
}

BENCHMARK(BM_Growth)
    ->Args({150, 1})
    ->Args({2000, 1})
    ->Args({10000, 1})
    ->Args({50000, 1})
    ->Args({150, 0})
    ->Args({2000, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrowthIndexGain)->Arg(150)->Arg(2000)->Arg(10000)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ramulon
