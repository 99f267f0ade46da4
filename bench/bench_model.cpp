// How the model and its output stages scale with the size of the tree: conversion with twigs
// and leaf records, and the solid tube mesh with its maps, in points and polygons per second.
#include <benchmark/benchmark.h>

#include <string>

#include "host/edit_op.h"
#include "host/mesh.h"
#include "host/obj_loader.h"
#include "model.h"
#include "trees.h"

namespace ramulon {
namespace {

// Grows the default round crown once for a benchmark; false when that is not possible.
bool grow_default_tree(st_tree &t, benchmark::State &state)
{
    host::Mesh mesh;
    if (const auto crown = host::load_obj_text(host::default_crown_obj(), "round_crown.obj", mesh.background); !crown) {
        state.SkipWithError(crown.message().c_str());
        return false;
    }
    host::EditOp capture(mesh, nullptr);
    MeshEditOp *op = capture.op();
    num_polys = op->polyCount(op->state, OPLYR_BG, EDCOUNT_ALL);
    op->polyScan(op->state, check_for_nurbs, nullptr, OPLYR_BG); // leaves the usable count
    t.num_bg_polys = num_polys;
    copy_BG(num_polys, op);
    if (TreeMake(&t, nullptr, 0) != 0 || !galezie) {
        state.SkipWithError("no tree grown");
        return false;
    }
    return true;
}

st_tree tree_with_twigs(benchmark::State &state)
{
    st_tree t = default_params;
    t.num_branches = static_cast<int>(state.range(0));
    t.twig_type = 1;
    return t;
}

void BM_Convert(benchmark::State &state)
{
    st_tree t = tree_with_twigs(state);
    if (!grow_default_tree(t, state))
        return;
    for (auto _ : state) {
        losoj.fixed(t.random_seed);
        model_typ model;
        model.convert(galezie, &t, &losoj);
        benchmark::DoNotOptimize(model.chains);
    }
    state.counters["branches"] = t.num_branches;
    free_memory();
    free_BG();
}

void BM_SolidOutput(benchmark::State &state)
{
    st_tree t = tree_with_twigs(state);
    if (!grow_default_tree(t, state))
        return;
    double points = 0, polygons = 0;
    for (auto _ : state) {
        host::Mesh mesh;
        host::EditOp edit(mesh, nullptr);
        losoj.fixed(t.random_seed);
        model_typ model;
        model.convert(galezie, &t, &losoj);
        model.draw_solid(edit.op(), 0, &t);
        points += static_cast<double>(mesh.foreground.points.size());
        polygons += static_cast<double>(mesh.foreground.polygon_count());
    }
    state.counters["points_per_s"] = benchmark::Counter(points, benchmark::Counter::kIsRate);
    state.counters["polygons_per_s"] = benchmark::Counter(polygons, benchmark::Counter::kIsRate);
    free_memory();
    free_BG();
}

BENCHMARK(BM_Convert)->Arg(150)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SolidOutput)->Arg(150)->Arg(2000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ramulon
