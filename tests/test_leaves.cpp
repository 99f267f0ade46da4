// Leaves: the leaf shape templates, the leaf records on twigs and the leaf mesh.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "leaf.h"
#include "model.h"
#include "support/recording_op.h"

namespace ramulon {
namespace {

TEST(LeafTemplate, FiveShapesFaceTheRaisedSide)
{
    const int points[5] = {4, 6, 4, 5, 5}, polys[5] = {1, 2, 2, 3, 4};
    const double a = 0.3, b = 0.2;
    for (int s = 0; s < 5; s++) {
        leaf_typ leaf;
        leaf.make(s, a, b);
        ASSERT_EQ(leaf.num_points, points[s]);
        EXPECT_EQ(leaf.num_polys, polys[s]);
        EXPECT_EQ(leaf.quads, s < 2);
        const int k = leaf.points_per_poly();
        for (int p = 0; p < leaf.num_polys; p++) {
            Cxyz n; // Newell's normal in the listed winding
            for (int i = 0; i < k; i++) {
                const Cxyz &u = leaf.points[leaf.polys[p * k + i]];
                const Cxyz &v = leaf.points[leaf.polys[p * k + (i + 1) % k]];
                n = n + Cxyz((u.y - v.y) * (u.z + v.z), (u.z - v.z) * (u.x + v.x), (u.x - v.x) * (u.y + v.y));
            }
            EXPECT_GT(n.y, 0.0) << s << " " << p;
        }
        for (int i = 0; i < leaf.num_points; i++) { // v 0 at the stem, 1 at the tip; u across
            const Cxyz &p = leaf.points[i];
            EXPECT_TRUE(p.z != 0.0 || leaf.uv[i][1] == 0.0f) << s << " " << i;
            EXPECT_TRUE(p.z != a || leaf.uv[i][1] == 1.0f) << s << " " << i;
            EXPECT_FLOAT_EQ(leaf.uv[i][0], static_cast<float>(p.x / b + 0.5));
        }
    }
    leaf_typ leaf;
    leaf.make(2, a, b);
    leaf.make(5, a, b);
    EXPECT_TRUE(leaf.num_points == 0 && leaf.points == nullptr);
    leaf.make(0, a, b); // a remake keeps the triangle flag
    EXPECT_FALSE(leaf.quads);
}

TEST(LeafTemplate, EachTemplateKeepsItsOwnPoints)
{
    // Templates made side by side, and a template made again, hold their own points: one
    // template's remake never shows through another's.
    leaf_typ small, large;
    small.make(1, 0.3, 0.2);
    large.make(1, 0.6, 0.4);
    EXPECT_EQ(small.points[2].z, 0.3);
    EXPECT_EQ(large.points[2].z, 0.6);
    EXPECT_NE(small.points, large.points);
    large.make(4, 0.9, 0.6); // "rhombus2": five points, twelve indices
    ASSERT_EQ(large.num_points, 5);
    EXPECT_EQ(large.points[2].z, 0.9);
    EXPECT_EQ(large.polys[11], 3);
    EXPECT_EQ(small.num_points, 6);
    EXPECT_EQ(small.points[2].z, 0.3);
    EXPECT_EQ(small.polys[7], 0);
}

TEST(LeafRecords, OnePerTwigNodeWithThreeDrawsEach)
{
    st_tree t = default_params; // 8 segments, twig range 0.4
    random rnd;
    rnd.fixed(11);
    model_typ m;
    m.chains = new d_typ;
    w_typ *carrier = m.chains->first = new w_typ;
    carrier->pos = Cxyz(0.0, 2.0, 0.0);
    w_typ **link = &carrier->side;
    for (int age = 4; age >= 1; age--) { // a twig of three segments
        *link = new w_typ;
        (*link)->twig = 1;
        (*link)->age = age;
        (*link)->pos = carrier->pos;
        link = &(*link)->next;
    }
    m.add_leaves(carrier, &t, &rnd);
    std::vector<const l_typ *> list;
    for (const l_typ *l = m.leaves; l; l = l->next)
        list.push_back(l);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0]->owner, carrier->side); // the twig base first
    EXPECT_DOUBLE_EQ(list[0]->rel_age, 4.0 / 8 / 0.4);
    EXPECT_EQ(list[0]->tip + list[1]->tip + list[2]->tip, 0);
    EXPECT_EQ(list[3]->tip, 1);
    random ref; // the tip's record draws first: flip, spin, spin's sign
    ref.fixed(11);
    for (int i = 3; i >= 0; i--) {
        EXPECT_EQ(list[i]->flip, ref.TorF());
        const double spin = ref.percent();
        EXPECT_EQ(list[i]->spin, ref.TorF() ? -spin : spin);
    }
}

struct Leaves {
    st_tree t = default_params;
    model_typ m;
    w_typ owner;
    RecordingOp rec;

    Leaves(int shape, int density, int twin)
    {
        t.leaf_shape = shape;
        t.leaf_density = density;
        t.leaf_twin = twin;
        t.leaf_randomness = t.leaf_out = t.leaf_hang = t.leaf_tip_hang = 0.0;
        owner.thick_val = 0.5f;
        owner.range_val = 0.25f;
    }
    void add(bool tip, char flip = 0)
    {
        l_typ *l = new l_typ;
        l->pos = Cxyz(1, 2, 0.5);
        l->dir = Cxyz(0.2, 0.1, 0.0);
        l->rel_age = 0.5;
        l->tip = tip;
        l->flip = flip;
        l->owner = &owner;
        l->next = m.leaves;
        m.leaves = l;
    }
    int draw()
    {
        m.draw_leaves(rec.op(), &t);
        return static_cast<int>(rec.polygons.size());
    }
    Cxyz rib(int k) const { return rec.points[k * 6 + 3] - rec.points[k * 6]; } // "two polys"
};

TEST(LeafMesh, CopiesByShapeDensityTwinsAndOwner)
{
    struct {
        int shape, density, twin;
        bool tip;
        int polygons;
    } cases[] = {{1, 6, 1, false, 10}, {1, 3, 0, false, 3}, {3, 2, 1, false, 8},
                 {1, 6, 1, true, 1},   {0, 1, 0, false, 0}, {1, 0, 1, true, 0}};
    for (const auto &c : cases) {
        Leaves s(c.shape, c.density, c.twin);
        s.add(c.tip);
        EXPECT_EQ(s.draw(), c.polygons) << c.shape << " " << c.density << " " << c.tip;
    }
    Leaves undrawn(1, 1, 1); // an owner no tube step reached
    undrawn.owner.thick_val = undrawn.owner.range_val = -10.0f;
    undrawn.add(false);
    undrawn.add(true);
    EXPECT_EQ(undrawn.draw(), 0);
}

TEST(LeafMesh, TwinsShareAPositionAndFaceOppositeSides)
{
    Leaves s(2, 2, 1);
    s.add(false);
    ASSERT_EQ(s.draw(), 8);
    const Cxyz pos(1, 2, 0.5), second = pos + Cxyz(0.2, 0.1, 0.0) * 1 / 2;
    EXPECT_TRUE(s.rec.points[0].x == pos.x && s.rec.points[6].y == pos.y);
    EXPECT_NEAR((s.rec.points[12] - second).len() + (s.rec.points[18] - second).len(), 0.0, 1e-15);
    // dir x up points to +Z: the first twin turns away from it, the second toward it; level.
    EXPECT_TRUE(s.rib(0).z < 0.0 && s.rib(1).z > 0.0);
    EXPECT_NEAR(s.rib(0).z + s.rib(1).z, 0.0, 1e-12);
    EXPECT_NEAR(s.rib(0).y, 0.0, 1e-12);
    for (char flip : {char(0), char(1)}) { // a single leaf follows its flip
        Leaves one(2, 1, 0);
        one.add(false, flip);
        one.draw();
        EXPECT_EQ(one.rib(0).z < 0.0, flip == 1);
    }
}

// Pairs further along the twig turn as the first pair: twins alternate sides pair after pair,
// and single copies all face their flip's side.
TEST(LeafMesh, EveryPairIsFramedAsTheFirst)
{
    for (int twin : {1, 0}) {
        Leaves s(2, twin == 1 ? 3 : 6, twin); // six copies of "two polys" either way
        s.t.leaf_out = 0.3;
        s.t.leaf_hang = 0.4;
        s.add(false, 1);
        ASSERT_EQ(s.draw(), 12);
        const int per = twin == 1 ? 2 : 1;
        for (int k = per; k < 6; k++) {
            const Cxyz first = s.rib(k % per), rib = s.rib(k);
            EXPECT_NEAR(rib.x, first.x, 1e-12) << twin << " " << k;
            EXPECT_NEAR(rib.y, first.y, 1e-12) << twin << " " << k;
            EXPECT_NEAR(rib.z, first.z, 1e-12) << twin << " " << k;
        }
        if (twin == 1) {
            EXPECT_LT(s.rib(0).z * s.rib(1).z, 0.0);
        }
    }
}

TEST(LeafMesh, TipLeavesContinueTheTwigAndHangDown)
{
    for (double hang : {0.0, 0.5}) {
        Leaves s(2, 6, 1);
        s.t.leaf_hang = hang;
        s.add(true);
        s.draw();
        EXPECT_GT(s.rib(0).x, 1e-3);
        EXPECT_EQ(s.rib(0).y < -1e-3, hang > 0.0);
    }
}

// Each copy of a jittered leaf is bent by its own number alone: the first pair of copies, both
// at the leaf's own position, comes out the same whatever the density, and a tip's single leaf
// is the first copy whatever the density asks for.
TEST(LeafMesh, JitteredCopiesDependOnTheirNumberOnly)
{
    auto points_of = [](int density, int twin, bool tip) {
        Leaves s(2, density, twin); // "two polys"
        s.t.leaf_randomness = 0.6;
        s.t.leaf_out = 0.3;
        s.add(tip);
        s.m.leaves->spin = 0.4;
        s.draw();
        return s.rec.points;
    };
    const auto one_pair = points_of(1, 1, false), three_pairs = points_of(3, 1, false);
    ASSERT_EQ(one_pair.size(), 12u);
    ASSERT_EQ(three_pairs.size(), 36u);
    for (std::size_t i = 0; i < one_pair.size(); i++) {
        EXPECT_EQ(one_pair[i].x, three_pairs[i].x) << i;
        EXPECT_EQ(one_pair[i].y, three_pairs[i].y) << i;
        EXPECT_EQ(one_pair[i].z, three_pairs[i].z) << i;
    }
    // The twins are scaled differently from each other: by 1 + 0.6 sin(6 spin + 1.7 k).
    const double rib0 = (one_pair[3] - one_pair[0]).len(), rib1 = (one_pair[9] - one_pair[6]).len();
    EXPECT_NEAR(rib0 / rib1, (1 + 0.6 * std::sin(2.4)) / (1 + 0.6 * std::sin(4.1)), 1e-9);

    const auto tip_of_many = points_of(6, 1, true), tip_of_one = points_of(1, 0, true);
    ASSERT_EQ(tip_of_many.size(), 6u);
    ASSERT_EQ(tip_of_one.size(), 6u);
    for (std::size_t i = 0; i < tip_of_one.size(); i++) {
        EXPECT_EQ(tip_of_many[i].x, tip_of_one[i].x) << i;
        EXPECT_EQ(tip_of_many[i].y, tip_of_one[i].y) << i;
        EXPECT_EQ(tip_of_many[i].z, tip_of_one[i].z) << i;
    }
}

TEST(LeafMesh, PointMapsAtlasCellsAndCallOrder)
{
    Leaves s(1, 1, 0);
    s.add(false);
    s.draw();
    using C = RecordingOp::Call;
    std::vector<C> calls;
    for (int i = 0; i < 4; i++)
        calls.insert(calls.end(), {C::point, C::vmap, C::vmap, C::vmap, C::vmap});
    calls.insert(calls.end(), {C::face, C::tag});
    EXPECT_EQ(s.rec.calls, calls);
    EXPECT_EQ(s.rec.vmaps[1].name, "RM_all_leaves");
    EXPECT_EQ(s.rec.vmap_of(1, "RM_leaf"), (std::vector<float>{0.0f, 1.0f}));
    EXPECT_EQ(s.rec.vmap_of(1, "RM_range"), std::vector<float>{static_cast<float>(0.25 * 1.0 * 0.3 + 0.25)});
    EXPECT_EQ(s.rec.vmap_of(1, "RM_thick"), std::vector<float>{static_cast<float>(0.5 * 1.0 * 0.3 + 0.5)});
    EXPECT_TRUE(s.rec.polygons[0].face && s.rec.polygons[0].surface == "VF_leaf");
    EXPECT_TRUE(s.rec.tags[0].type == ID_COLR && s.rec.tags[0].value == "Green");

    // Atlas cells: column by spin, row by age, both kept inside the 3 x 3 atlas.
    const double cells[][4] = {{-1.0, 0.0, 0, 0}, {-0.34, 0.49, 0, 0}, {-0.3, 0.5, 1, 1},
                               {0.33, 0.99, 1, 1}, {0.34, 1.0, 2, 2},  {1.0, 1.7, 2, 2}};
    for (const auto &c : cells) {
        RecordingOp rec;
        leaf_typ leaf;
        leaf.make(0, 1.0, 1.0);
        leaf.atlas_column = c[0];
        leaf.atlas_row = c[1];
        s.m.draw_leaf(rec.op(), &leaf, 0.0f, 0.0f);
        EXPECT_EQ(rec.vmap_of(2, "RM_all_leaves"), // the leaf's own (1, 1)
                  (std::vector<float>{static_cast<float>(c[2] / 3 + 1.0 / 3),
                                      static_cast<float>(c[3] / 3 + 1.0 / 3)}))
            << c[0] << " " << c[1];
    }
}

} // namespace
} // namespace ramulon
