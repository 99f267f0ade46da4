// Renumbering a primitive's vertices moves each stream's values with their vertex, whatever the
// streams' widths and the order they come in (the widest is moved first, into a spare that each
// narrower one then fits), where every vertex is kept and where unused ones are dropped; a
// stream still to be filled stays empty.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "export/mesh/vertex_order.h"

namespace ramulon {
namespace {

using exporter::PrimitiveArrays;

// The value a vertex of point p holds at component i of a stream dim wide.
float label(int p, std::size_t dim, std::size_t i)
{
    return static_cast<float>(p * 100 + static_cast<int>(dim * 10 + i));
}

// Six vertices of points 10 to 15, in streams of widths 2, 4, 1, 5 and 3 (a width without a
// loop of its own), and a POSITION still to be filled.
PrimitiveArrays labelled(int mode, std::vector<std::uint32_t> indices)
{
    PrimitiveArrays prim;
    prim.mode = mode;
    prim.streams.push_back({"POSITION", 3, {}});
    for (const int dim : {2, 4, 1, 5, 3}) {
        exporter::VertexStream stream{"_S" + std::to_string(dim), dim, {}};
        for (int p = 10; p < 16; ++p)
            for (std::size_t i = 0; i < static_cast<std::size_t>(dim); ++i)
                stream.values.push_back(label(p, static_cast<std::size_t>(dim), i));
        prim.streams.push_back(std::move(stream));
    }
    prim.vertex_point = {10, 11, 12, 13, 14, 15};
    prim.indices = std::move(indices);
    return prim;
}

// Every stream holds each vertex's own point's values, and the indices name the same points in
// the same order as before.
void expect_values_follow_their_vertices(const PrimitiveArrays &prim, const std::vector<int> &indexed_points)
{
    EXPECT_TRUE(prim.streams[0].values.empty());
    for (std::size_t s = 1; s < prim.streams.size(); ++s) {
        const exporter::VertexStream &stream = prim.streams[s];
        const auto dim = static_cast<std::size_t>(stream.dim);
        ASSERT_EQ(stream.values.size(), prim.vertex_count() * dim) << stream.attribute;
        for (std::size_t v = 0; v < prim.vertex_count(); ++v)
            for (std::size_t i = 0; i < dim; ++i)
                EXPECT_EQ(stream.values[v * dim + i], label(prim.vertex_point[v], dim, i))
                    << stream.attribute << " vertex " << v;
    }
    std::vector<int> points;
    for (const std::uint32_t index : prim.indices)
        points.push_back(prim.vertex_point[index]);
    EXPECT_EQ(points, indexed_points);
}

TEST(VertexOrder, StreamsOfEveryWidthMoveWithTheirVertices)
{
    // Every vertex kept, first used in the reverse of their order.
    PrimitiveArrays all = labelled(4, {5, 4, 3, 3, 4, 2, 1, 0, 2});
    exporter::optimise_vertex_order(all, exporter::UnusedVertices::none);
    EXPECT_EQ(all.vertex_point, (std::vector<int>{15, 14, 13, 12, 11, 10}));
    expect_values_follow_their_vertices(all, {15, 14, 13, 13, 14, 12, 11, 10, 12});

    // Vertex 2 unused: dropped, the rest in the order the triangles first use them.
    PrimitiveArrays some = labelled(4, {5, 4, 3, 1, 0, 3});
    exporter::optimise_vertex_order(some);
    EXPECT_EQ(some.vertex_point, (std::vector<int>{15, 14, 13, 11, 10}));
    expect_values_follow_their_vertices(some, {15, 14, 13, 11, 10, 13});

    // Lines in first-use order; the compaction alone keeps the vertices' order.
    PrimitiveArrays lines = labelled(1, {3, 1, 1, 0, 0, 2});
    exporter::optimise_vertex_order(lines);
    EXPECT_EQ(lines.vertex_point, (std::vector<int>{13, 11, 10, 12}));
    expect_values_follow_their_vertices(lines, {13, 11, 11, 10, 10, 12});
    PrimitiveArrays compacted = labelled(1, {5, 1, 1, 3});
    exporter::drop_unused_vertices(compacted);
    EXPECT_EQ(compacted.vertex_point, (std::vector<int>{11, 13, 15}));
    expect_values_follow_their_vertices(compacted, {15, 11, 11, 13});
}

} // namespace
} // namespace ramulon
