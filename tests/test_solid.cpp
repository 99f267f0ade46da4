// The solid tube mesh: rings, plain segments, forks with their stubs, caps, texture seams,
// weight blending, surfaces, colour tags and the per-point maps.
#include <gtest/gtest.h>

#include <cmath>

#include "support/recording_op.h"
#include "support/tree_builders.h"

namespace ramulon {
namespace {

struct Solid {
    random rnd;
    model_typ m;
    st_tree t = default_params;
    RecordingOp rec;

    Solid()
    {
        rnd.fixed(3);
        set_defaults(m, &rnd);
    }
};

// A trunk of three nodes standing at height 1, above the height that gets roots.
w_typ *short_trunk()
{
    w_typ *c = model_chain({{0, 1, 0}, {0, 2, 0}, {0, 3, 0}}, 1.0, 1);
    model_node(c, 2)->thickness = 0.5;
    model_node(c, 2)->age = 8;
    return c;
}

TEST(Solid, ShortTrunkGivesBaseRingTwoRingsAndCap)
{
    Solid s;
    add_chain(s.m, short_trunk());
    s.m.draw_solid(s.rec.op(), 0, &s.t);

    ASSERT_EQ(s.rec.points.size(), 12u);
    ASSERT_EQ(s.rec.polygons.size(), 9u);
    EXPECT_EQ(s.rec.count_type(ID_FACE), 9);
    EXPECT_EQ(s.rec.count_surface(surf_trunk), 8);
    EXPECT_EQ(s.rec.polygons[8].surface, surf_branch); // the tip cap
    EXPECT_EQ(s.rec.polygons[8].points, (std::vector<int>{8, 9, 10, 11}));
    EXPECT_EQ(s.rec.polygons[0].points, (std::vector<int>{0, 1, 5, 4}));
    ASSERT_EQ(s.rec.tags.size(), 8u);
    for (const auto &tag : s.rec.tags) {
        EXPECT_EQ(tag.type, ID_COLR);
        EXPECT_EQ(tag.value, colr_brown);
        EXPECT_NE(tag.polygon, 8);
    }

    // Base ring: range -1, thickness t0, u by index, v 0, the second node's direction, and
    // (num_segments, num_segments) as age.
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(s.rec.vmap_of(i, map_range), std::vector<float>{-1.0f});
        EXPECT_EQ(s.rec.vmap_of(i, map_thick), std::vector<float>{1.0f});
        EXPECT_EQ(s.rec.vmap_of(i, map_branch), (std::vector<float>{i * 0.25f, 0.0f}));
        EXPECT_EQ(s.rec.vmap_of(i, map_vectors), (std::vector<float>{0.0f, 1.0f, 0.0f}));
        EXPECT_EQ(s.rec.vmap_of(i, map_density), (std::vector<float>{8.0f, 8.0f}));
    }
    // Only the first chain's base is raised by its radius: the ring sits at 1 + 0.03.
    EXPECT_DOUBLE_EQ(s.m.chains->first->pos.y, 1.03);

    // Texture seams: the last quad of every ring pair sees u = 1.0 at both ring points 0.
    ASSERT_EQ(s.rec.vpmaps.size(), 4u);
    const double longest = 0.9 * 2;
    const int seam_poly[4] = {3, 3, 7, 7};
    const int seam_point[4] = {4, 0, 8, 4};
    const double seam_v[4] = {1 / longest, 0.0, 2 / longest, 1 / longest};
    for (int k = 0; k < 4; k++) {
        const auto &vp = s.rec.vpmaps[k];
        EXPECT_EQ(vp.polygon, seam_poly[k]);
        EXPECT_EQ(vp.point, seam_point[k]);
        EXPECT_EQ(vp.values, (std::vector<float>{1.0f, static_cast<float>(seam_v[k])}));
    }
}

TEST(Solid, WeightsBlendAlongTheChain)
{
    Solid s;
    w_typ *c = short_trunk();
    add_chain(s.m, c);
    s.m.draw_solid(s.rec.op(), 0, &s.t);

    const w_typ *n1 = model_node(c, 1), *n2 = model_node(c, 2);
    // The first drawn node keeps its raw values: age 0 is below the range step.
    EXPECT_EQ(n1->range_val, 1.0f);
    const float thick1 = static_cast<float>(1 - std::sin(1.0 / 4.0 * PI2));
    EXPECT_EQ(n1->thick_val, thick1);
    // The next one blends 0.3 of its own (age 8 of 8: range -1) with 0.7 of the previous.
    const float range2 = static_cast<float>(0.3 * -1.0f + 0.7 * 1.0f);
    const float thick2 =
        static_cast<float>(0.3 * static_cast<float>(1 - std::sin(0.5 / 4.0 * PI2)) + 0.7 * thick1);
    EXPECT_EQ(n2->range_val, range2);
    EXPECT_EQ(n2->thick_val, thick2);
    for (int i = 8; i < 12; i++) {
        EXPECT_EQ(s.rec.vmap_of(i, map_range), std::vector<float>{range2});
        EXPECT_EQ(s.rec.vmap_of(i, map_thick), std::vector<float>{thick2});
        EXPECT_EQ(s.rec.vmap_of(i, map_density), (std::vector<float>{8.0f, 8.0f}));
    }
}

TEST(Solid, SubdDiffersOnlyInPolygonType)
{
    Solid poly, subd;
    add_chain(poly.m, short_trunk());
    add_chain(subd.m, short_trunk());
    poly.m.draw_solid(poly.rec.op(), 0, &poly.t);
    subd.m.draw_solid(subd.rec.op(), 1, &subd.t);

    ASSERT_EQ(poly.rec.polygons.size(), subd.rec.polygons.size());
    EXPECT_EQ(subd.rec.count_type(ID_PTCH), 9);
    for (std::size_t i = 0; i < poly.rec.polygons.size(); i++) {
        EXPECT_EQ(poly.rec.polygons[i].points, subd.rec.polygons[i].points);
        EXPECT_EQ(poly.rec.polygons[i].surface, subd.rec.polygons[i].surface);
    }
    EXPECT_EQ(poly.rec.calls, subd.rec.calls);
    ASSERT_EQ(poly.rec.points.size(), subd.rec.points.size());
    for (std::size_t i = 0; i < poly.rec.points.size(); i++)
        EXPECT_EQ(poly.rec.points[i].y, subd.rec.points[i].y);
    EXPECT_EQ(poly.rec.vmaps.size(), subd.rec.vmaps.size());
}

TEST(Solid, SkippedChainsAndEmptyModelsWriteNothing)
{
    Solid s;
    w_typ *with_side = model_chain({{0, 1, 0}, {0, 2, 0}, {0, 3, 0}});
    with_side->side = model_chain({{0, 1, 0}, {1, 1, 0}});
    add_chain(s.m, with_side);
    add_chain(s.m, model_chain({{2, 1, 0}, {2, 2, 0}}));
    s.m.draw_solid(s.rec.op(), 0, &s.t);
    EXPECT_TRUE(s.rec.calls.empty());

    Solid empty;
    empty.m.draw_solid(empty.rec.op(), 0, &empty.t);
    EXPECT_TRUE(empty.rec.calls.empty());

    // Without the assign flags, tube points carry no weights but still their other maps.
    Solid flags;
    flags.m.assign_range_wmap = 0;
    flags.m.assign_thick_wmap = 0;
    add_chain(flags.m, short_trunk());
    flags.m.draw_solid(flags.rec.op(), 0, &flags.t);
    EXPECT_EQ(flags.rec.count_vmap(map_range), 0);
    EXPECT_EQ(flags.rec.count_vmap(map_thick), 0);
    EXPECT_EQ(flags.rec.count_vmap(map_branch), 12);
    EXPECT_EQ(flags.rec.count_vmap(map_vectors), 12);
}

// ---- forks, drawn from one node W at the origin heading +X, in a frame equal to the world's

struct Fork : Solid {
    w_typ *w = nullptr;
    LWPntID prev[4];

    // W with its next node at (1, 0, 0) and a side chain to `side_to`.
    Fork(Cxyz side_to, double next_thickness, double side_thickness, char twig = 0)
    {
        m.longest = 10.0;
        w = model_chain({{0, 0, 0}, {1, 0, 0}});
        w->vec = Cxyz(1, 0, 0);
        w->next->thickness = next_thickness;
        w->side = model_chain({{0, 0, 0}, side_to}, side_thickness);
        w->side->twig = twig;
        w->side->next->twig = twig;
        for (int i = 0; i < 4; i++) {
            Cxyz o;
            prev[i] = rec.op()->addPoint(rec.op()->state, &o.x);
        }
    }
    ~Fork() { delete w; }

    void draw()
    {
        Caxis frame;
        frame.x_axis = Cxyz(1, 0, 0);
        frame.y_axis = Cxyz(0, 1, 0);
        frame.z_axis = Cxyz(0, 0, 1);
        frame.calc_transf_angles();
        m.draw_solid_sgm(rec.op(), prev, w, 0, frame, 0.0, nullptr);
    }
    // Points after the previous ring: near i, far i, stub i for i = 0..3.
    const Cxyz &near(int i) const { return rec.points[4 + 3 * i]; }
    const Cxyz &far(int i) const { return rec.points[5 + 3 * i]; }
    const Cxyz &stub(int i) const { return rec.points[6 + 3 * i]; }
};

void expect_near(const Cxyz &p, double x, double y, double z)
{
    EXPECT_NEAR(p.x, x, 1e-12);
    EXPECT_NEAR(p.y, y, 1e-12);
    EXPECT_NEAR(p.z, z, 1e-12);
}

TEST(Fork, ParallelSideChainOpensPlusZAndPullsFarCorners)
{
    Fork f(Cxyz(1, 0, 0), 2.0, 1.0); // rn = 0.065 > rs = 0.035: the stub narrows
    f.draw();
    const double r = 0.035, rs = 0.035, d = 1.5 * rs, e = 0.03;
    ASSERT_EQ(f.rec.points.size(), 4u + 12u + 4u + 4u);
    ASSERT_EQ(f.rec.polygons.size(), 4u + 4u + 3u + 5u + 5u);

    expect_near(f.far(0), 2 * rs + d, r, r - d);
    expect_near(f.far(1), 2 * rs + d, -r, r - d);
    expect_near(f.far(2), 2 * rs, -r, -r);
    expect_near(f.far(3), 2 * rs, r, -r);
    // Stub face (near 0, near 1, far 1, far 0) pushed out by rs / 2, narrowed across y.
    expect_near(f.stub(0), 0.5 * rs, r - e, r);
    expect_near(f.stub(1), 0.5 * rs, -r + e, r);
    expect_near(f.stub(2), 2.5 * rs + d, -r + e, r - d);
    expect_near(f.stub(3), 2.5 * rs + d, r - e, r - d);

    // Stub quads after the four ring quads; closing quads (5,1,2,6), (2,3,7,6), (7,3,0,4).
    EXPECT_EQ(f.rec.polygons[4].points, (std::vector<int>{4, 7, 9, 6}));
    EXPECT_EQ(f.rec.polygons[8].points, (std::vector<int>{8, 7, 10, 11}));
    EXPECT_EQ(f.rec.polygons[10].points, (std::vector<int>{14, 13, 4, 5}));
    for (int p = 4; p <= 10; p++)
        EXPECT_EQ(f.rec.polygons[p].surface, surf_branch);
    EXPECT_TRUE(f.rec.tags.empty());

    // Seam values: u = 1.0 on the last stub quad and on the box's seam quad.
    const float v_b = 0.1f;
    const float v_far = static_cast<float>((1.0 + 2 * rs) / 10.0);
    const float v_stub = static_cast<float>((1.0 + 0.5 * rs) / 10.0);
    EXPECT_EQ(f.rec.vpmap_of(5, 7, map_branch), (std::vector<float>{0.75f, v_b}));
    EXPECT_EQ(f.rec.vpmap_of(4, 7, map_branch), (std::vector<float>{1.0f, v_b}));
    EXPECT_EQ(f.rec.vpmap_of(6, 7, map_branch), (std::vector<float>{1.0f, v_stub}));
    EXPECT_EQ(f.rec.vpmap_of(4, 10, map_branch), (std::vector<float>{1.0f, v_b}));
    EXPECT_EQ(f.rec.vpmap_of(5, 10, map_branch), (std::vector<float>{1.0f, v_far}));
    EXPECT_EQ(f.rec.vmap_of(5, map_branch), (std::vector<float>{0.0f, v_far}));

    // The parent continues from the far ring, the side chain from the stub ring.
    EXPECT_EQ(f.rec.polygons[11].points, (std::vector<int>{5, 8, 17, 16}));
    EXPECT_EQ(f.rec.polygons[16].points, (std::vector<int>{6, 9, 21, 20}));
}

TEST(Fork, RightAngleKeepsFarSquareAndThickSideIsNotNarrowed)
{
    Fork f(Cxyz(0, 1, 0), 1.0, 2.0, 1); // a twig side chain, rs = 0.06 + 0.0025 >= rn
    f.draw();
    const double r = 0.035, rs = 0.0625;
    for (int i = 0; i < 4; i++) {
        const Cxyz &n = f.near(i);
        expect_near(f.far(i), n.x + 2 * rs, n.y, n.z);
    }
    // +Y opens: stub face (near 0, far 0, far 3, near 3) pushed up by rs / 2, not narrowed.
    expect_near(f.stub(0), 0.0, r + 0.5 * rs, r);
    expect_near(f.stub(1), 2 * rs, r + 0.5 * rs, r);
    expect_near(f.stub(2), 2 * rs, r + 0.5 * rs, -r);
    expect_near(f.stub(3), 0.0, r + 0.5 * rs, -r);

    // No seam quad among the closing ones of +Y: (0,1,5,4), (5,1,2,6), (2,3,7,6).
    EXPECT_EQ(f.rec.polygons[8].points, (std::vector<int>{4, 7, 8, 5}));
    EXPECT_TRUE(f.rec.vpmap_of(4, 8, map_branch).empty());
    // Only the twig's own tube quads carry a colour.
    ASSERT_EQ(f.rec.tags.size(), 4u);
    for (const auto &tag : f.rec.tags) {
        EXPECT_EQ(tag.value, colr_blue);
        EXPECT_EQ(f.rec.polygons[tag.polygon].surface, surf_twig);
    }
}

} // namespace
} // namespace ramulon
