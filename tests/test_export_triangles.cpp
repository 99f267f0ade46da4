// How the writer cuts polygons into triangles and which normal each triangle corner takes.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "export/materials/materials.h"
#include "export/mesh/normals.h"
#include "support/export_files.h"

namespace {

exporter::CornerNormals normals_of(const host::Layer &layer, double crease = 60.0)
{
    return exporter::corner_normals(layer, exporter::collect_materials(layer), crease);
}

// The same normals without the cuts found beside them: triangulate finds each cut itself.
exporter::CornerNormals without_cuts(const exporter::CornerNormals &normals)
{
    exporter::CornerNormals bare = normals;
    bare.cut.clear();
    return bare;
}

host::Vec3 unit_normal(const host::Layer &layer, int a, int b, int c)
{
    const host::Vec3 &p = layer.points[static_cast<std::size_t>(a)], &q = layer.points[static_cast<std::size_t>(b)],
                     &r = layer.points[static_cast<std::size_t>(c)];
    const double e1[3] = {q.x - p.x, q.y - p.y, q.z - p.z}, e2[3] = {r.x - p.x, r.y - p.y, r.z - p.z};
    const host::Vec3 n{e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    const double l = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    return {n.x / l, n.y / l, n.z / l};
}

double dot(const std::array<float, 3> &a, const host::Vec3 &b) { return a[0] * b.x + a[1] * b.y + a[2] * b.z; }

std::vector<std::array<std::size_t, 3>> corners_of(const std::vector<exporter::Triangle> &triangles)
{
    std::vector<std::array<std::size_t, 3>> out;
    for (const exporter::Triangle &t : triangles)
        out.push_back({t[0].corner, t[1].corner, t[2].corner});
    return out;
}

bool same(const std::vector<exporter::Triangle> &a, const std::vector<exporter::Triangle> &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t t = 0; t < a.size(); ++t)
        for (std::size_t k = 0; k < 3; ++k)
            if (a[t][k].corner != b[t][k].corner || a[t][k].normal != b[t][k].normal)
                return false;
    return true;
}

} // namespace

TEST(ExportTriangles, DentedQuadIsCutAcrossItsDent)
{
    // A flat dart, dented at one corner: only the diagonal from the dent leaves both halves
    // facing up. The same dart with its corners named from the dent, and from the next corner.
    const host::Vec3 dart[4] = {{0.5, 0.0, 0.5}, {2.0, 0.0, 0.0}, {0.0, 0.0, 0.0}, {0.0, 0.0, 2.0}};
    for (const std::size_t dent : {0u, 1u}) {
        host::Layer layer;
        for (std::size_t i = 0; i < 4; ++i)
            layer.add_point(dart[(i + 4 - dent) % 4]);
        layer.add_polygon(ID_FACE, {0, 1, 2, 3}, "RM_trunk");
        const exporter::CornerNormals normals = normals_of(layer);
        for (const exporter::CornerNormals &given : {normals, without_cuts(normals)}) {
            std::vector<exporter::Triangle> triangles;
            exporter::triangulate(layer, 0, given, triangles);
            ASSERT_EQ(triangles.size(), 2u);
            const std::vector<std::array<std::size_t, 3>> expected =
                dent == 0 ? std::vector<std::array<std::size_t, 3>>{{0, 1, 2}, {0, 2, 3}}
                          : std::vector<std::array<std::size_t, 3>>{{1, 2, 3}, {1, 3, 0}};
            EXPECT_EQ(corners_of(triangles), expected) << dent;
            for (const exporter::Triangle &t : triangles) {
                const host::Vec3 n = unit_normal(layer, static_cast<int>(t[0].corner), static_cast<int>(t[1].corner),
                                                 static_cast<int>(t[2].corner));
                EXPECT_GT(n.y, 0.99) << dent; // both halves face the quad's way, up
                for (const exporter::TriangleCorner &c : t)
                    EXPECT_EQ(c.normal, normals.at(0, c.corner)) << dent; // flat: every corner keeps its own
            }
        }
    }
}

TEST(ExportTriangles, CornersLeaningAwayTakeTheirTrianglesNormal)
{
    // A leaf twisted into a saddle: its face normal points up, but both ways of cutting it give
    // halves that lean almost flat, so every corner takes its own half's normal.
    host::Layer layer;
    for (const host::Vec3 p : {host::Vec3{0, 0, 0}, host::Vec3{0, 10, 1}, host::Vec3{1, 0, 1}, host::Vec3{1, 10, 0}})
        layer.add_point(p);
    layer.add_polygon(ID_FACE, {0, 1, 2, 3}, "VF_leaf");
    // And a pentagon of a tube whose third corner's normal is turned down by hand.
    for (const host::Vec3 p : {host::Vec3{3, 0, 0}, host::Vec3{4, 0, 0}, host::Vec3{4.5, 0, 1}, host::Vec3{3.5, 0, 2},
                               host::Vec3{2.5, 0, 1}})
        layer.add_point(p);
    layer.add_polygon(ID_FACE, {4, 8, 7, 6, 5}, "RM_trunk");
    const exporter::CornerNormals normals = normals_of(layer);
    for (std::size_t c = 0; c < 4; ++c)
        EXPECT_NEAR(normals.at(0, c)[1], 1.0f, 1e-6f) << c; // the leaf's own normal, up

    exporter::CornerNormals turned = normals;
    turned.normal.push_back({0.0f, -1.0f, 0.0f});
    turned.normal_index[turned.first[1] + 2] = static_cast<std::uint32_t>(turned.normal.size() - 1);
    // Normals changed after the cut was found are cut again.
    for (const exporter::CornerNormals &given : {normals, without_cuts(normals), without_cuts(turned)}) {
        std::vector<exporter::Triangle> leaf, pentagon;
        exporter::triangulate(layer, 0, given, leaf);
        exporter::triangulate(layer, 1, given, pentagon);
        ASSERT_EQ(leaf.size(), 2u);
        for (const exporter::Triangle &t : leaf) {
            const std::span<const int> poly = layer.polygon_points(0);
            const host::Vec3 own = unit_normal(layer, poly[t[0].corner], poly[t[1].corner], poly[t[2].corner]);
            EXPECT_LT(std::abs(own.y), 0.1); // the halves stand nearly on edge
            for (const exporter::TriangleCorner &c : t)
                EXPECT_GT(dot(c.normal, own), 0.999) << c.corner;
        }
        // A fan from the first corner; the corner turned down faces its triangles again, the
        // others keep their own.
        ASSERT_EQ(pentagon.size(), 3u);
        EXPECT_EQ(corners_of(pentagon), (std::vector<std::array<std::size_t, 3>>{{0, 1, 2}, {0, 2, 3}, {0, 3, 4}}));
        for (const exporter::Triangle &t : pentagon)
            for (const exporter::TriangleCorner &c : t) {
                EXPECT_GT(c.normal[1], 0.99f) << c.corner;
                if (c.corner != 2) {
                    EXPECT_EQ(c.normal, given.at(1, c.corner)) << c.corner;
                }
            }
    }
}

TEST(ExportTriangles, RealTreesCutAsTheirNormalsSay)
{
    // The cut found beside the corner normals is the cut triangulate finds on its own, on the
    // polygonal tubes, a SubD cage and the leaves, at a sharp and a smooth crease angle.
    for (const char *render : {"render_type=1", "render_type=2"}) {
        host::Layer layer;
        std::string error;
        ASSERT_TRUE(ramulon::build_real_tree({render, "twig_type=6", "leaf_shape=2"}, layer, error)) << error;
        for (const double crease : {10.0, 60.0, 170.0}) {
            const exporter::CornerNormals normals = normals_of(layer, crease);
            const exporter::CornerNormals bare = without_cuts(normals);
            std::vector<exporter::Triangle> kept, found;
            std::size_t second = 0, turned = 0;
            for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
                exporter::triangulate(layer, p, normals, kept);
                exporter::triangulate(layer, p, bare, found);
                ASSERT_TRUE(same(kept, found)) << render << " " << crease << " polygon " << p;
                second += !kept.empty() && kept[0][0].corner == 1;
                for (const exporter::Triangle &t : kept)
                    for (const exporter::TriangleCorner &c : t)
                        turned += c.normal != normals.at(p, c.corner);
            }
            EXPECT_GT(second, 0u) << render << " " << crease; // both diagonals are taken
            if (crease > 90.0) {
                EXPECT_GT(turned, 0u) << render; // past a right angle some corners lean away
            }
        }
    }
}

TEST(ExportNormals, FaceNamingAPointTwiceGetsOneNormalThere)
{
    // A bow of two smooth quads; the second names point 0 at two corners.
    host::Layer layer;
    for (const host::Vec3 p : {host::Vec3{0, 0, 0}, host::Vec3{1, 0, 0}, host::Vec3{1, 1, 0}, host::Vec3{0, 1, 0},
                               host::Vec3{-1, 0, 0.2}, host::Vec3{-1, -1, 0.2}})
        layer.add_point(p);
    layer.add_polygon(ID_FACE, {0, 1, 2, 3}, "RM_trunk");
    layer.add_polygon(ID_FACE, {0, 4, 0, 5}, "RM_trunk");
    layer.add_polygon(ID_FACE, {3, 4, 0}, "RM_trunk");
    const exporter::CornerNormals normals = normals_of(layer, 170.0);
    EXPECT_EQ(normals.at(1, 0), normals.at(1, 2));
    for (std::size_t p = 0; p < 3; ++p)
        for (std::size_t c = 0; c < layer.polygon_points(p).size(); ++c) {
            const std::array<float, 3> &n = normals.at(p, c);
            EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0f, 1e-5f) << p << " " << c;
        }
}

TEST(ExportTriangles, LeavesFoldedEveryWayAreCutAsTheirNormalsSay)
{
    // Leaves folded up or down at either diagonal, or twisted, gently to past a right angle: a
    // leaf's one face normal at every corner gives the cut and the turned corners triangulate
    // finds alone.
    host::Layer layer;
    for (const double lift : {-3.0, -1.5, -0.4, 0.2, 0.9, 2.5, 12.0}) {
        // A unit square with corner 2 raised, or corner 3 (folded along the diagonal that leaves
        // it out), or corners 1 and 3 (a saddle).
        const double raised[3][4] = {{0, 0, lift, 0}, {0, 0, 0, lift}, {0, lift, 0, lift}};
        for (const auto &y : raised) {
            const int first = static_cast<int>(layer.points.size());
            layer.add_point({0, y[0], 0});
            layer.add_point({1, y[1], 0});
            layer.add_point({1, y[2], 1});
            layer.add_point({0, y[3], 1});
            layer.add_polygon(ID_FACE, {first, first + 1, first + 2, first + 3}, "VF_leaf");
        }
    }
    const exporter::CornerNormals normals = normals_of(layer);
    const exporter::CornerNormals bare = without_cuts(normals);
    std::size_t second = 0, turned = 0;
    std::vector<exporter::Triangle> kept, found;
    for (std::size_t p = 0; p < layer.polygon_count(); ++p) {
        for (std::size_t c = 1; c < 4; ++c)
            EXPECT_EQ(normals.at(p, c), normals.at(p, 0)) << p; // one normal per leaf
        exporter::triangulate(layer, p, normals, kept);
        exporter::triangulate(layer, p, bare, found);
        ASSERT_TRUE(same(kept, found)) << "leaf " << p;
        second += kept[0][0].corner == 1;
        for (const exporter::Triangle &t : kept)
            for (const exporter::TriangleCorner &c : t)
                turned += c.normal != normals.at(p, c.corner);
    }
    EXPECT_GT(second, 0u);                         // both diagonals are taken
    EXPECT_LT(second, layer.polygon_count());
    EXPECT_GT(turned, 0u);                         // the sharpest folds lean past the margin
}
