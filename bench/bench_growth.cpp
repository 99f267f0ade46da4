// How skeleton growth scales with the number of branches, on the default round crown: the
// spatial index against the walk over every node, growth alone and a whole build.
//
// How to measure
// - Times: build Release in a folder of your own with -DRAMULON_BENCH=ON, then
//     ./bench/ramulon_bench --benchmark_filter='BM_Growth/|BM_FullBuild' --benchmark_repetitions=3
//   ns_per_branch counts processor time, not wall time. On a shared machine compare the walk
//   and the index within one run: BM_GrowthIndexGain grows the same tree both ways in turn and
//   reports walk_over_index (the walk at 50,000 branches takes minutes; leave it out with
//   --benchmark_filter='BM_GrowthIndexGain/(150|2000|10000)/').
// - Peak memory: peak_rss_kb is the process's peak so far, so run one case per process, e.g.
//     ./bench/ramulon_bench --benchmark_filter='BM_FullBuild/50000/1/'
// - Instructions, repeatable under any load: BM_GrowthOnce grows one tree once, so
//     valgrind --tool=callgrind ./bench/ramulon_bench --benchmark_filter='BM_GrowthOnce/10000/1/'
//   and read the inclusive count of ramulon::TreeMake (callgrind_annotate --inclusive=yes);
//   /10000/0 is the walk. Divide by the branch count for instructions per branch, and by
//   nodes_per_branch for instructions per node.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <ctime>
#include <string>

#include "host/edit_op.h"
#include "host/mesh.h"
#include "host/obj_loader.h"
#include "tool.h"
#include "trees.h"

namespace ramulon {
namespace {

// Counts and captures the crown the way a build does.
bool capture_default_crown(st_tree &t, std::string &error)
{
    host::Mesh mesh;
    if (const auto crown = host::load_obj_text(host::default_crown_obj(), "round_crown.obj", mesh.background); !crown) {
        error = crown.message();
        return false;
    }
    host::EditOp edit(mesh, nullptr);
    MeshEditOp *op = edit.op();
    num_polys = op->polyCount(op->state, OPLYR_BG, EDCOUNT_ALL);
    op->polyScan(op->state, check_for_nurbs, nullptr, OPLYR_BG);
    t.num_bg_polys = num_polys;
    copy_BG(num_polys, op);
    return poly_num > 0;
}

bool prepare(benchmark::State &state, st_tree &t)
{
    t = default_params;
    t.num_branches = static_cast<int>(state.range(0));
    std::string error;
    if (capture_default_crown(t, error))
        return true;
    state.SkipWithError(error.empty() ? "no crown captured" : error.c_str());
    return false;
}

double peak_rss_kb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss);
}

// Nodes per branch chain of the skeleton in memory: denser crowns grow shorter branches.
double nodes_per_branch(const st_tree &t)
{
    double nodes = 0, chains = 0;
    for (int i = std::max(t.num_trunks, 0); i < galezie_count; i++, chains++)
        for (const wezel_typ *n = galezie[i].first; n; n = n->next)
            nodes++;
    return chains > 0 ? nodes / chains : 0;
}

// The processor time of this thread, in nanoseconds: on a shared machine, unlike the wall
// clock, it leaves out the time other processes hold the processor.
double thread_ns()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// One growth of the tree, in nanoseconds of processor time; negative when it failed.
double grow_once(st_tree &t, bool indexed)
{
    growth_use_index = indexed;
    const double start = thread_ns();
    const int failed = TreeMake(&t, nullptr, 0);
    const double ns = thread_ns() - start;
    growth_use_index = true;
    return failed != 0 ? -1.0 : ns;
}

void finish(benchmark::State &state, const st_tree &t, double grown_ns)
{
    const double branches = t.num_branches;
    const double per_branch = nodes_per_branch(t);
    state.counters["nodes_per_branch"] = per_branch;
    if (state.iterations() > 0 && grown_ns > 0) {
        const double ns = grown_ns / (static_cast<double>(state.iterations()) * branches);
        state.counters["ns_per_branch"] = ns;
        if (per_branch > 0)
            state.counters["ns_per_node"] = ns / per_branch;
    }
    state.counters["peak_rss_kb"] = peak_rss_kb();
    free_memory();
    free_BG();
}

// Arguments: branch count, and 1 for the index or 0 for the walk.
void BM_Growth(benchmark::State &state)
{
    st_tree t;
    if (!prepare(state, t))
        return;
    const bool indexed = state.range(1) != 0;
    double grown_ns = 0;
    for (auto _ : state) {
        const double ns = grow_once(t, indexed);
        if (ns < 0) {
            state.SkipWithError("Memory allocation error");
            break;
        }
        grown_ns += ns;
    }
    finish(state, t, grown_ns);
}

// A single growth, for instruction counts under callgrind.
void BM_GrowthOnce(benchmark::State &state)
{
    st_tree t;
    if (!prepare(state, t))
        return;
    const bool indexed = state.range(1) != 0;
    double grown_ns = 0;
    for (auto _ : state)
        grown_ns += grow_once(t, indexed);
    finish(state, t, grown_ns);
}

// The walk's time over the index's for the same tree, both grown in one run.
void BM_GrowthIndexGain(benchmark::State &state)
{
    st_tree t;
    if (!prepare(state, t))
        return;
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
    finish(state, t, indexed);
}

// A whole build as the tool runs it: growth, then the model and the solid mesh with leaves.
void BM_FullBuild(benchmark::State &state)
{
    st_tree t;
    if (!prepare(state, t))
        return;
    t.render_type = 1;
    const bool indexed = state.range(1) != 0;
    double grown_ns = 0;
    for (auto _ : state) {
        const double ns = grow_once(t, indexed);
        host::Mesh out;
        host::EditOp edit(out, nullptr);
        if (ns < 0 || TreeDraw(edit.op(), &t) != 0) {
            state.SkipWithError("build failed");
            break;
        }
        grown_ns += ns;
        benchmark::DoNotOptimize(out.foreground.points.size());
    }
    finish(state, t, grown_ns);
}

// Every size with the index, and the walk up to walk_up_to branches.
template <int walk_up_to> void sizes(benchmark::internal::Benchmark *b)
{
    for (int walk = 1; walk >= 0; walk--)
        for (int n : {150, 2000, 10000, 50000})
            if (walk == 1 || n <= walk_up_to)
                b->Args({n, walk});
}

BENCHMARK(BM_Growth)->Apply(sizes<2000>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrowthOnce)->Apply(sizes<10000>)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrowthIndexGain)->Arg(150)->Arg(2000)->Arg(10000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrowthIndexGain)->Arg(50000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullBuild)->Apply(sizes<10000>)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ramulon
