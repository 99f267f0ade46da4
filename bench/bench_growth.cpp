// How skeleton growth scales with the number of branches, on the default round crown.
#include <benchmark/benchmark.h>

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

void BM_Growth(benchmark::State &state)
{
    st_tree t = default_params;
    t.num_branches = static_cast<int>(state.range(0));
    std::string error;
    if (!capture_default_crown(t, error)) {
        state.SkipWithError(error.empty() ? "no crown captured" : error.c_str());
        return;
    }
    double grown_ns = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int failed = TreeMake(&t, nullptr, 0);
        grown_ns += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
                        .count();
        if (failed != 0) {
            state.SkipWithError("Memory allocation error");
            break;
        }
    }
    const double branches = t.num_branches;
    state.counters["branches"] = branches;
    if (state.iterations() > 0)
        state.counters["ns_per_branch"] = grown_ns / (static_cast<double>(state.iterations()) * branches);
    free_memory();
    free_BG();
}

BENCHMARK(BM_Growth)->Arg(150)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ramulon
