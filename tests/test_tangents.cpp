// The bark's tangents, made while the triangles are walked and written as each vertex's last
// triangle passes, against the plainest way: every vertex's sums held until all triangles are
// in. The two must agree to the bit (same sums, added in the same order) whatever order the
// triangles reach their vertices in: a vertex a triangle comes back to long after, vertices
// numbered ahead of their first triangle, vertices no triangle uses, a corner named twice, every
// vertex open at once. The positions are read off the vertices' points, narrowed to float.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "export/gltf/tangents.h"
#include "host/mesh.h"

namespace ramulon {
namespace {

using exporter::PrimitiveArrays;

// The whole-sums reading: sums for every vertex over every triangle, then each tangent.
std::vector<float> whole_sums_tangents(const PrimitiveArrays &prim, std::size_t uv_stream)
{
    const auto &xyz = prim.streams[0].values, &normal = prim.streams[1].values, &uv = prim.streams[uv_stream].values;
    const std::size_t count = prim.vertex_count();
    std::vector<double> along_u(count * 3, 0.0), along_t(count * 3, 0.0);
    for (std::size_t i = 0; i + 2 < prim.indices.size(); i += 3) {
        const std::size_t a = prim.indices[i], b = prim.indices[i + 1], c = prim.indices[i + 2];
        double e1[3], e2[3];
        for (std::size_t k = 0; k < 3; ++k) {
            e1[k] = static_cast<double>(xyz[b * 3 + k]) - xyz[a * 3 + k];
            e2[k] = static_cast<double>(xyz[c * 3 + k]) - xyz[a * 3 + k];
        }
        const double du1 = static_cast<double>(uv[b * 2]) - uv[a * 2], dt1 = static_cast<double>(uv[a * 2 + 1]) - uv[b * 2 + 1];
        const double du2 = static_cast<double>(uv[c * 2]) - uv[a * 2], dt2 = static_cast<double>(uv[a * 2 + 1]) - uv[c * 2 + 1];
        const double det = du1 * dt2 - du2 * dt1;
        if (!(std::fabs(det) > 1e-20))
            continue;
        const double sign = det > 0.0 ? 1.0 : -1.0;
        for (std::size_t k = 0; k < 3; ++k) {
            const double u = (e1[k] * dt2 - e2[k] * dt1) * sign, t = (e2[k] * du1 - e1[k] * du2) * sign;
            for (const std::size_t v : {a, b, c}) {
                along_u[v * 3 + k] += u;
                along_t[v * 3 + k] += t;
            }
        }
    }
    std::vector<float> out(count * 4);
    for (std::size_t v = 0; v < count; ++v) {
        const double n[3] = {normal[v * 3], normal[v * 3 + 1], normal[v * 3 + 2]};
        const double *u = &along_u[v * 3], *t = &along_t[v * 3];
        const double dot = u[0] * n[0] + u[1] * n[1] + u[2] * n[2];
        double x[3] = {u[0] - dot * n[0], u[1] - dot * n[1], u[2] - dot * n[2]};
        double length = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
        if (!(length > 1e-12) || !std::isfinite(length)) {
            const std::size_t k = std::fabs(n[0]) < std::fabs(n[1]) ? (std::fabs(n[0]) < std::fabs(n[2]) ? 0 : 2)
                                                                    : (std::fabs(n[1]) < std::fabs(n[2]) ? 1 : 2);
            double axis[3] = {0.0, 0.0, 0.0};
            axis[k] = 1.0;
            x[0] = axis[1] * n[2] - axis[2] * n[1];
            x[1] = axis[2] * n[0] - axis[0] * n[2];
            x[2] = axis[0] * n[1] - axis[1] * n[0];
            length = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
        }
        const double across[3] = {n[1] * x[2] - n[2] * x[1], n[2] * x[0] - n[0] * x[2], n[0] * x[1] - n[1] * x[0]};
        out[v * 4] = static_cast<float>(x[0] / length);
        out[v * 4 + 1] = static_cast<float>(x[1] / length);
        out[v * 4 + 2] = static_cast<float>(x[2] / length);
        out[v * 4 + 3] = across[0] * t[0] + across[1] * t[1] + across[2] * t[2] < 0.0 ? -1.0f : 1.0f;
    }
    return out;
}

std::vector<std::uint32_t> bits(const std::vector<float> &values)
{
    std::vector<std::uint32_t> out;
    for (const float v : values)
        out.push_back(std::bit_cast<std::uint32_t>(v));
    return out;
}

// A tube of rings around y, each ring's vertices then the next's, the bark's u around and t
// along (stored as 1 - t), with the outward normals slightly tilted so that no sum is tidy.
PrimitiveArrays tube(std::size_t rings, std::size_t around)
{
    PrimitiveArrays prim;
    prim.streams = {{"POSITION", 3, {}}, {"NORMAL", 3, {}}, {"TEXCOORD_1", 2, {}}};
    for (std::size_t r = 0; r < rings; ++r)
        for (std::size_t a = 0; a < around; ++a) {
            const double angle = 6.283185307179586 * static_cast<double>(a) / static_cast<double>(around);
            const double radius = 1.0 - 0.03 * static_cast<double>(r) + 0.01 * static_cast<double>(a % 3);
            const float x = static_cast<float>(std::cos(angle) * radius), z = static_cast<float>(std::sin(angle) * radius);
            const float y = 0.7f * static_cast<float>(r) + 0.05f * static_cast<float>(a % 2);
            prim.streams[0].values.insert(prim.streams[0].values.end(), {x, y, z});
            const float tilt = 0.1f * static_cast<float>(r % 4);
            const float l = std::sqrt(x * x + z * z + tilt * tilt);
            prim.streams[1].values.insert(prim.streams[1].values.end(), {x / l, tilt / l, z / l});
            const float u = static_cast<float>(a) / static_cast<float>(around);
            const float t = 0.37f * static_cast<float>(r) + 0.02f * static_cast<float>(a % 5);
            prim.streams[2].values.insert(prim.streams[2].values.end(), {u, 1.0f - t});
            prim.vertex_point.push_back(static_cast<int>(prim.vertex_point.size()));
        }
    for (std::size_t r = 0; r + 1 < rings; ++r)
        for (std::size_t a = 0; a < around; ++a) {
            const auto at = [&](std::size_t ring, std::size_t k) { return static_cast<std::uint32_t>(ring * around + k % around); };
            prim.indices.insert(prim.indices.end(), {at(r, a), at(r, a + 1), at(r + 1, a + 1)});
            prim.indices.insert(prim.indices.end(), {at(r, a), at(r + 1, a + 1), at(r + 1, a)});
        }
    return prim;
}

// Points whose narrowing to float is the POSITION stream, one per vertex.
std::vector<host::Vec3> points_of(const PrimitiveArrays &prim)
{
    std::vector<host::Vec3> points;
    const auto &xyz = prim.streams[0].values;
    for (std::size_t v = 0; v < prim.vertex_count(); ++v)
        points.push_back({xyz[v * 3], xyz[v * 3 + 1], xyz[v * 3 + 2]});
    return points;
}

// The tangents both ways, bit for bit, and that TANGENT is appended as the fourth stream. The
// tangents are made without POSITION, as the writer makes them, from points the stream's floats
// widened (narrowed again, each is its float).
void expect_same_as_whole_sums(PrimitiveArrays prim)
{
    const std::vector<float> expected = whole_sums_tangents(prim, 2);
    const std::vector<host::Vec3> points = points_of(prim);
    prim.streams[0].values = {};
    exporter::add_tangents(prim, points.data(), 2);
    ASSERT_EQ(prim.streams.size(), 4u);
    EXPECT_EQ(prim.streams[3].attribute, "TANGENT");
    EXPECT_EQ(prim.streams[3].dim, 4);
    const std::vector<float> made(prim.streams[3].values.begin(), prim.streams[3].values.end());
    EXPECT_EQ(bits(made), bits(expected));
}

TEST(Tangents, FlatBarkRunsAlongUWithTGrowingAcrossTheNormal)
{
    PrimitiveArrays prim;
    prim.streams = {{"POSITION", 3, {0, 0, 0, 2, 0, 0, 2, 1, 0, 0, 1, 0}},
                    {"NORMAL", 3, {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1}},
                    {"TEXCOORD_1", 2, {0, 1, 1, 1, 1, 0, 0, 0}}}; // t = 0, 0, 1, 1 stored as 1 - t
    prim.vertex_point = {0, 1, 2, 3};
    prim.indices = {0, 1, 2, 0, 2, 3};
    const std::vector<host::Vec3> points = points_of(prim);
    exporter::add_tangents(prim, points.data(), 2);
    const std::vector<float> made(prim.streams[3].values.begin(), prim.streams[3].values.end());
    EXPECT_EQ(made, (std::vector<float>{1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1}));
}

TEST(Tangents, MadeAsTheTrianglesPassAreTheWholeSums)
{
    // The triangles walk the tube ring after ring: each vertex is final two rings on.
    expect_same_as_whole_sums(tube(40, 12));

    // The last triangles come back to the first ring: every vertex stays open to the end, and
    // the open sums outgrow their first room many times over.
    PrimitiveArrays back = tube(120, 16);
    back.indices.insert(back.indices.end(), {0, 17, 1, 1919, 0, 1903});
    expect_same_as_whole_sums(back);

    // The triangles taken from the far end of the tube first: a triangle reaches vertices far
    // beyond any it has used, which are open (and cleared) long before their first triangle.
    PrimitiveArrays reversed = tube(60, 10);
    std::vector<std::uint32_t> turned;
    for (std::size_t i = reversed.indices.size(); i >= 3; i -= 3)
        turned.insert(turned.end(), reversed.indices.begin() + static_cast<long>(i - 3),
                      reversed.indices.begin() + static_cast<long>(i));
    reversed.indices = std::move(turned);
    expect_same_as_whole_sums(reversed);

    // Triangles mixed from both ends in turn.
    PrimitiveArrays mixed = tube(50, 8);
    std::vector<std::uint32_t> alternate;
    const std::size_t triangles = mixed.indices.size() / 3;
    for (std::size_t k = 0; k < triangles; ++k) {
        const std::size_t from = k % 2 == 0 ? k / 2 : triangles - 1 - k / 2;
        alternate.insert(alternate.end(), mixed.indices.begin() + static_cast<long>(from * 3),
                         mixed.indices.begin() + static_cast<long>(from * 3 + 3));
    }
    mixed.indices = std::move(alternate);
    expect_same_as_whole_sums(mixed);
}

TEST(Tangents, VerticesWithoutTrianglesOrFlatOnesTakeADirectionSquareToTheirNormal)
{
    // Vertices 5 and 7 of the middle ring belong to no triangle; the last ring's vertices lie
    // past every triangle. A triangle naming one corner twice, and one mapped onto a line of
    // the bark (its u and t all alike), add nothing.
    PrimitiveArrays prim = tube(6, 8);
    std::vector<std::uint32_t> kept;
    for (std::size_t i = 0; i + 2 < prim.indices.size(); i += 3) {
        const std::uint32_t *tri = prim.indices.data() + i;
        const bool unused = std::any_of(tri, tri + 3, [](std::uint32_t v) { return v == 21 || v == 23 || v >= 40; });
        if (!unused)
            kept.insert(kept.end(), tri, tri + 3);
    }
    prim.indices = std::move(kept);
    prim.indices.insert(prim.indices.end(), {3, 3, 12, 9, 10, 11});
    auto &uv = prim.streams[2].values;
    for (const std::size_t v : {9, 10, 11}) {
        uv[v * 2] = 0.25f;
        uv[v * 2 + 1] = 0.5f;
    }
    expect_same_as_whole_sums(prim);

    PrimitiveArrays empty = tube(3, 4);
    empty.indices.clear();
    expect_same_as_whole_sums(empty);
}

TEST(Tangents, VerticesLongOpenKeepTheirSumsWhileOthersComeAndGo)
{
    // A fork: the tube walked ring by ring, then a branch's triangles that come back to a
    // middle ring and the first one. Those vertices stay open throughout while every other
    // vertex opens and closes, each taking a place another has just given up.
    PrimitiveArrays fork = tube(40, 8);
    fork.indices.insert(fork.indices.end(), {160, 1, 161, 161, 1, 2, 0, 163, 7, 164, 165, 166});
    expect_same_as_whole_sums(fork);

    // Every vertex open at once: the whole tube's triangles, then all of them again, so that
    // no vertex is final before the second half.
    PrimitiveArrays twice = tube(12, 10);
    const std::vector<std::uint32_t> once = twice.indices;
    twice.indices.insert(twice.indices.end(), once.begin(), once.end());
    expect_same_as_whole_sums(twice);

    // The same, the second walk backwards: the first vertices opened are the last closed.
    PrimitiveArrays returning = tube(12, 10);
    for (std::size_t i = once.size(); i >= 3; i -= 3)
        returning.indices.insert(returning.indices.end(), once.begin() + static_cast<long>(i - 3),
                                 once.begin() + static_cast<long>(i));
    expect_same_as_whole_sums(returning);

    // The walk's first triangles are the last of a vertex each names twice: that vertex gives
    // its place up once, so that the many vertices opened after it each have a place of their own.
    PrimitiveArrays doubled = tube(6, 8);
    std::vector<std::uint32_t> first = {40, 40, 41, 42, 43, 43};
    for (std::size_t i = 0; i + 2 < doubled.indices.size(); i += 3)
        if (doubled.indices[i] < 40 && doubled.indices[i + 1] < 40 && doubled.indices[i + 2] < 40)
            first.insert(first.end(), doubled.indices.begin() + static_cast<long>(i),
                         doubled.indices.begin() + static_cast<long>(i + 3));
    doubled.indices = std::move(first);
    expect_same_as_whole_sums(doubled);
}

TEST(Tangents, VertexZeroWithoutTrianglesAndVerticesUsedOnceEach)
{
    // Vertex 0 belongs to no triangle while triangle 0 exists, and vertices 4 and 5 neither,
    // between used ones: each takes the direction square to its normal. Vertices 6 and 7 open
    // and close within the middle triangle, while 1 and 3 stay open from the first to the last.
    PrimitiveArrays prim;
    prim.streams = {{"POSITION", 3, {9, 9, 9, 0, 0, 0, 2, 0, 0, 2, 1, 0, 0, 1, 0, 5, 5, 5, 0, 0, 1, 3, 0, 1}},
                    {"NORMAL", 3, {0, 1, 0, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 0, 1}},
                    {"TEXCOORD_1", 2, {0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0.5f, 1, 0.25f}}};
    prim.vertex_point = {0, 1, 2, 3, 4, 5, 6, 7};
    prim.indices = {1, 2, 3, 6, 2, 7, 3, 2, 1};
    expect_same_as_whole_sums(prim);
    const std::vector<host::Vec3> points = points_of(prim);
    exporter::add_tangents(prim, points.data(), 2);
    const auto &made = prim.streams[3].values;
    // Across the normal's smallest component (z, the last of equals): z x n.
    EXPECT_EQ((std::vector<float>(made.begin(), made.begin() + 4)), (std::vector<float>{-1, 0, 0, 1}));
    EXPECT_EQ((std::vector<float>(made.begin() + 20, made.begin() + 24)), (std::vector<float>{0, 1, 0, 1}));
}

TEST(Tangents, PositionsAreTheVerticesPointsNarrowedToFloat)
{
    // Two vertices of one point (a seam of the bark), points in another order than the
    // vertices and one no vertex names; coordinates a float does not hold, so that a position
    // read wider than POSITION holds it, or off the wrong point, changes the bits.
    PrimitiveArrays prim;
    prim.streams = {{"POSITION", 3, {}},
                    {"NORMAL", 3, {0, 0, 1, 0, 0.1f, 0.99f, 0.1f, 0, 0.99f, 0, 0, 1, 0, 0, 1}},
                    {"TEXCOORD_1", 2, {0, 1, 0.9f, 0.95f, 0.8f, 0.1f, 0.1f, 0.2f, 1, 1}}};
    prim.vertex_point = {3, 0, 2, 4, 3};
    prim.indices = {0, 1, 2, 0, 2, 3, 1, 4, 2};
    const std::vector<host::Vec3> points = {{2.0000001, 0.1, 0.3}, {7, 7, 7}, {2.1, 1.3000001, 0.1},
                                            {0.1, 0.2, 0.3}, {0.7, 1.1, 0.2}};
    PrimitiveArrays widened = prim;
    for (const int p : prim.vertex_point) {
        const host::Vec3 &point = points[static_cast<std::size_t>(p)];
        widened.streams[0].values.insert(widened.streams[0].values.end(), {static_cast<float>(point.x),
                                         static_cast<float>(point.y), static_cast<float>(point.z)});
    }
    const std::vector<float> expected = whole_sums_tangents(widened, 2);
    exporter::add_tangents(prim, points.data(), 2);
    EXPECT_TRUE(prim.streams[0].values.empty());
    const std::vector<float> made(prim.streams[3].values.begin(), prim.streams[3].values.end());
    EXPECT_EQ(bits(made), bits(expected));
}

} // namespace
} // namespace ramulon
