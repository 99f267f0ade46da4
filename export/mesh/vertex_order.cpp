#include "export/mesh/vertex_order.h"

#include <algorithm>
#include <cstdint>
#include <span>

#include <meshoptimizer.h>

namespace exporter {
namespace {

// Moves each kept vertex's dim floats to its new place. The common widths get a loop of their
// own with the width known, so that a vertex's value is a few moves rather than a loop.
// Where every vertex is kept (a reordering), no entry needs looking at twice.
template <std::size_t Dim, bool Every>
void scatter_fixed(const float *from, float *to, std::span<const unsigned> remap)
{
    const std::size_t count = remap.size();
    for (std::size_t v = 0; v < count; ++v) {
        const unsigned r = remap[v];
        if (!Every && r == ~0u)
            continue;
        for (std::size_t i = 0; i < Dim; ++i)
            to[std::size_t{r} * Dim + i] = from[v * Dim + i];
    }
}

template <std::size_t Dim>
void scatter_fixed(const float *from, float *to, std::span<const unsigned> remap, bool every)
{
    if (every)
        scatter_fixed<Dim, true>(from, to, remap);
    else
        scatter_fixed<Dim, false>(from, to, remap);
}

void scatter(const float *from, float *to, std::span<const unsigned> remap, std::size_t dim, bool every)
{
    switch (dim) {
    case 1:
        return scatter_fixed<1>(from, to, remap, every);
    case 2:
        return scatter_fixed<2>(from, to, remap, every);
    case 3:
        return scatter_fixed<3>(from, to, remap, every);
    case 4:
        return scatter_fixed<4>(from, to, remap, every);
    default:
        for (std::size_t v = 0; v < remap.size(); ++v)
            if (const unsigned r = remap[v]; r != ~0u)
                std::copy_n(from + v * dim, dim, to + std::size_t{r} * dim);
    }
}

// Applies a vertex remap (old index -> new index, ~0u for dropped) to every per-vertex array.
void remap_vertices(PrimitiveArrays &prim, std::span<const unsigned> remap, std::size_t kept)
{
    // One spare array takes each stream's new order and then trades places with it, so that a
    // large tree's streams are reordered with one stream's worth of memory to spare. The widest
    // stream goes first: the spare is then made once, and each stream after fits in the last
    // one's place.
    std::vector<VertexStream *> widest_first;
    for (VertexStream &stream : prim.streams)
        if (!stream.values.empty()) // a stream still to be filled is filled in the new order
            widest_first.push_back(&stream);
    std::stable_sort(widest_first.begin(), widest_first.end(),
                     [](const VertexStream *a, const VertexStream *b) { return a->dim > b->dim; });
    StreamValues spare;
    for (VertexStream *each : widest_first) {
        VertexStream &stream = *each;
        const std::size_t dim = static_cast<std::size_t>(stream.dim);
        spare.resize(kept * dim);
        scatter(stream.values.data(), spare.data(), remap, dim, kept == remap.size());
        stream.values.swap(spare);
    }
    // The spare (by now the last stream's old values) is let go first: the points' new order
    // takes its place rather than memory of its own.
    StreamValues().swap(spare);
    std::vector<int> points(kept);
    for (std::size_t v = 0; v < remap.size(); ++v)
        if (remap[v] != ~0u)
            points[remap[v]] = prim.vertex_point[v];
    prim.vertex_point = std::move(points);
    for (std::uint32_t &index : prim.indices)
        index = remap[index];
}

// How many vertices the indices use.
std::size_t used_vertices(const PrimitiveArrays &prim)
{
    std::vector<std::uint8_t> used(prim.vertex_count(), 0);
    for (const std::uint32_t index : prim.indices)
        used[index] = 1;
    return static_cast<std::size_t>(std::count(used.begin(), used.end(), std::uint8_t{1}));
}

} // namespace

const VertexStream *PrimitiveArrays::stream(const std::string &attribute) const
{
    for (const VertexStream &s : streams)
        if (s.attribute == attribute)
            return &s;
    return nullptr;
}

std::size_t triangle_count(const MeshArrays &mesh)
{
    std::size_t n = 0;
    for (const PrimitiveArrays &prim : mesh)
        n += prim.triangle_count();
    return n;
}

void optimise_vertex_order(PrimitiveArrays &prim, UnusedVertices unused,
                           const std::function<void(PrimitiveArrays &)> &in_first_order)
{
    const bool any = !prim.indices.empty() && prim.vertex_count() > 0;
    std::vector<std::uint32_t> sorted; // the cache order, where it is taken
    if (any && prim.triangles()) {
        // Tubes come ring by ring, which a vertex cache already likes; the optimiser's order is
        // kept only where its own measure says it does better. Where every vertex is already
        // transformed once only (leaves, quad by quad), no order can do better.
        const auto analyse = [&](const std::vector<std::uint32_t> &indices) {
            return meshopt_analyzeVertexCache(indices.data(), indices.size(), prim.vertex_count(), 16, 0, 0);
        };
        const meshopt_VertexCacheStatistics given = analyse(prim.indices);
        const std::size_t used = unused == UnusedVertices::none ? prim.vertex_count() : used_vertices(prim);
        if (given.vertices_transformed > used) {
            sorted.resize(prim.indices.size());
            meshopt_optimizeVertexCache(sorted.data(), prim.indices.data(), prim.indices.size(), prim.vertex_count());
            if (!(analyse(sorted).acmr < given.acmr))
                std::vector<std::uint32_t>().swap(sorted);
        }
    }
    if (in_first_order)
        in_first_order(prim);
    if (!any)
        return;
    if (!sorted.empty())
        prim.indices = std::move(sorted);
    if (!prim.triangles()) {
        // The fetch optimiser reads triangle lists; lines and points get the same first-use order.
        std::vector<unsigned> remap(prim.vertex_count(), ~0u);
        unsigned next = 0;
        for (std::uint32_t index : prim.indices)
            if (remap[index] == ~0u)
                remap[index] = next++;
        remap_vertices(prim, remap, next);
        return;
    }
    // Every entry is written by the optimiser.
    std::vector<unsigned, UnsetAllocator<unsigned>> remap(prim.vertex_count());
    const std::size_t kept = meshopt_optimizeVertexFetchRemap(remap.data(), prim.indices.data(),
                                                              prim.indices.size(), prim.vertex_count());
    // Vertices collected in the order the triangles first use them, where the triangles kept
    // their order, are in fetch order already.
    bool unchanged = kept == prim.vertex_count();
    for (std::size_t v = 0; unchanged && v < remap.size(); ++v)
        unchanged = remap[v] == v;
    if (!unchanged)
        remap_vertices(prim, remap, kept);
}

void optimise_vertex_order(MeshArrays &mesh)
{
    for (PrimitiveArrays &prim : mesh)
        optimise_vertex_order(prim);
}

void drop_unused_vertices(PrimitiveArrays &prim)
{
    std::vector<unsigned> remap(prim.vertex_count(), ~0u);
    for (std::uint32_t index : prim.indices)
        remap[index] = 0;
    std::size_t kept = 0;
    for (unsigned &r : remap)
        if (r != ~0u)
            r = static_cast<unsigned>(kept++);
    remap_vertices(prim, remap, kept);
}

} // namespace exporter
