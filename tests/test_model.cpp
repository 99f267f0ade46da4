// The tree model: conversion of the grown skeleton, twigs, path lengths, profiles and the
// wire skeleton output.
#include <gtest/gtest.h>

#include <cmath>

#include "support/recording_op.h"
#include "support/tree_builders.h"

namespace ramulon {
namespace {

// Converts hand-made grown chains, without twigs (so without any random draw).
void convert(model_typ &m, galaz_typ *g, int branches, int trunks = 1)
{
    static random rnd;
    st_tree t = default_params;
    t.twig_type = 0;
    t.num_branches = branches;
    t.num_trunks = trunks;
    m.convert(g, &t, &rnd);
}

int chain_length(const w_typ *n)
{
    int k = 0;
    for (; n; n = n->next)
        k++;
    return k;
}

std::vector<const d_typ *> chain_records(const model_typ &m)
{
    std::vector<const d_typ *> v;
    for (const d_typ *d = m.chains; d; d = d->next)
        v.push_back(d);
    return v;
}

TEST(Convert, TrunkWithJoinedBranchBecomesBaseToTipChain)
{
    // Trunk t0 (top) .. t9 (ground); branch b0 (start) .. b3 joined t3.
    std::vector<Cxyz> trunk, branch;
    for (int k = 0; k < 10; k++)
        trunk.emplace_back(0.0, 9.0 - k, 0.0);
    for (int k = 0; k < 4; k++)
        branch.emplace_back(3.0 - k, 6.0, 0.0);
    galaz_typ g[2];
    g[0].first = grown_chain(trunk);
    g[1].first = grown_chain(branch);
    g[1].is_root = false;
    grown_node(g[0].first, 3)->joined = &g[1];

    model_typ m;
    convert(m, g, 2);

    ASSERT_EQ(chain_records(m).size(), 1u);
    w_typ *base = m.chains->first;
    EXPECT_EQ(m.chains->base_dist, 0.0);
    ASSERT_EQ(chain_length(base), 10);
    for (int k = 0; k < 10; k++) {
        w_typ *n = model_node(base, k);
        EXPECT_EQ(n->pos.y, static_cast<double>(k)) << k; // t9 .. t0
        EXPECT_EQ(n->trunk, 1);
        EXPECT_EQ(n->age, 9 - k);
        if (k != 6) {
            EXPECT_EQ(n->side, nullptr) << k;
        }
    }
    // Each vec points from the base side to the node; the base's is its dir negated.
    EXPECT_EQ(base->vec.y, 1.0);
    EXPECT_EQ(model_node(base, 6)->vec.y, 1.0);

    w_typ *side = model_node(base, 6)->side; // at t3
    ASSERT_NE(side, nullptr);
    ASSERT_EQ(chain_length(side), 4);
    for (int k = 0; k < 4; k++) {
        w_typ *n = model_node(side, k);
        EXPECT_EQ(n->pos.x, static_cast<double>(k)) << k; // b3 .. b0
        EXPECT_EQ(n->trunk, 0);
    }
    EXPECT_EQ(model_node(side, 3)->vec.x, 1.0); // b0 - b1
}

TEST(Convert, BranchJoinedAtAnotherChainsStartIsKept)
{
    galaz_typ g[2];
    g[0].first = grown_chain({{0, 3, 0}, {0, 2, 0}, {0, 1, 0}, {0, 0, 0}});
    g[1].first = grown_chain({{2, 3, 0}, {1, 3, 0}, {0, 3, 0}});
    g[1].is_root = false;
    g[0].first->joined = &g[1];

    model_typ m;
    convert(m, g, 2);

    ASSERT_NE(m.chains, nullptr);
    w_typ *tip = model_node(m.chains->first, 3);
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(tip->next, nullptr);
    ASSERT_NE(tip->side, nullptr);
    EXPECT_EQ(chain_length(tip->side), 3);
    EXPECT_EQ(model_node(tip->side, 2)->pos.x, 2.0);
}

TEST(Convert, ChainsOrderedByBaseHeightLaterFirstOnTies)
{
    galaz_typ g[5];
    g[0].first = grown_chain({{0, 5, 0}, {0, 2, 0}});
    g[1].first = grown_chain({{1, 5, 0}, {1, 1, 0}});
    g[2].first = grown_chain({{2, 5, 0}, {2, 1, 0}});
    g[3].first = grown_chain({{3, 5, 0}});              // a single node: no chain
    g[4].first = grown_chain({{4, 5, 0}, {4, 0, 0}});  // joined somewhere: no chain of its own
    g[4].is_root = false;

    model_typ m;
    convert(m, g, 5, 2);

    const auto recs = chain_records(m);
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[0]->first->pos.x, 2.0);
    EXPECT_EQ(recs[1]->first->pos.x, 1.0);
    EXPECT_EQ(recs[2]->first->pos.x, 0.0);
    EXPECT_EQ(recs[0]->first->trunk, 0); // index 2 is no trunk
    EXPECT_EQ(recs[1]->first->trunk, 1);
    EXPECT_EQ(recs[2]->first->next->trunk, 1);

    model_typ empty;
    convert(empty, nullptr, 5, 2);
    EXPECT_EQ(empty.chains, nullptr);
}

TEST(Records, LongChainsAndLeafListsAreFreedWithoutDeepRecursion)
{
    // Deep enough that a recursive destructor would overflow the stack (under ASan surely).
    const int n = 300000;
    auto *first = new w_typ;
    w_typ *last = first;
    for (int i = 1; i < n; i++) {
        last->next = new w_typ;
        last = last->next;
    }
    first->side = new w_typ;
    delete first;

    auto *leaves = new l_typ;
    for (int i = 1; i < n; i++) {
        auto *l = new l_typ;
        l->next = leaves;
        leaves = l;
    }
    delete leaves;
}

// ---- twigs

struct TwigSetup {
    st_tree t = default_params;
    random rnd;
    model_typ m;
    w_typ *base = nullptr;

    // A horizontal branch of five nodes, ages 5, 4, 2, 1, 0 from the base to the tip.
    TwigSetup()
    {
        t.twig_type = 1;
        t.twig_segments = 3;
        t.twig_coverage = 1.0;
        t.twig_range = 0.4;
        t.num_segments = 8; // ages 0 .. 3 qualify
        rnd.fixed(7);
        base = model_chain({{0, 1, 0}, {1, 1, 0}, {2, 1, 0}, {3, 1, 0}, {4, 1, 0}});
        const int ages[5] = {5, 4, 2, 1, 0};
        for (int k = 0; k < 5; k++)
            model_node(base, k)->age = ages[k];
        add_chain(m, base);
    }
    std::vector<w_typ *> twigs() const
    {
        std::vector<w_typ *> v;
        for (w_typ *n = base; n; n = n->next)
            if (n->side)
                v.push_back(n->side);
        return v;
    }
};

TEST(Twigs, GrowOnQualifyingNodesWithTheirAges)
{
    TwigSetup s;
    s.m.add_secondary(s.base, &s.t, &s.rnd, 1);
    // The base (level 1), the tip (no next) and age 4 (not below 8 x 0.4) get none.
    const auto twigs = s.twigs();
    ASSERT_EQ(twigs.size(), 2u);
    EXPECT_EQ(model_node(s.base, 1)->side, nullptr);
    EXPECT_EQ(sec_index, 2);
    for (w_typ *b : twigs) {
        ASSERT_EQ(chain_length(b), 4);
        for (int k = 0; k < 4; k++) {
            w_typ *q = model_node(b, k);
            EXPECT_EQ(q->age, 4 - k);
            EXPECT_EQ(q->twig, 1);
            EXPECT_EQ(q->trunk, 0);
            EXPECT_EQ(q->thickness, 0.001);
            EXPECT_EQ(q->side, nullptr);
        }
    }
    EXPECT_EQ(twigs[0]->pos.x, 2.0); // at its carrying node
}

TEST(Twigs, CoverageSpacesTwigsAndAboveOneMeansEveryNode)
{
    TwigSetup half;
    half.t.twig_coverage = 0.5;
    half.m.add_secondary(half.base, &half.t, &half.rnd, 1);
    // Visiting order is deepest first: node 3 is counted 0 and gets a twig, node 2 not.
    EXPECT_EQ(half.twigs().size(), 1u);
    EXPECT_NE(model_node(half.base, 3)->side, nullptr);

    TwigSetup over;
    over.t.twig_coverage = 3.0;
    over.m.add_secondary(over.base, &over.t, &over.rnd, 1);
    EXPECT_EQ(over.twigs().size(), 2u);

    for (int variant = 0; variant < 4; variant++) {
        TwigSetup none;
        switch (variant) {
        case 0: none.t.twig_type = 0; break;
        case 1: none.t.twig_segments = 0; break;
        case 2: none.t.twig_coverage = 0.0; break;
        default: none.t.twig_range = 0.0; break;
        }
        none.m.add_secondary(none.base, &none.t, &none.rnd, 1);
        EXPECT_TRUE(none.twigs().empty()) << variant;
    }

    // A negative segment count still grows every twig, each its base node alone, of age
    // count + 1, one first step long along the parent.
    TwigSetup single;
    single.t.twig_segments = -2;
    single.m.add_secondary(single.base, &single.t, &single.rnd, 1);
    ASSERT_EQ(single.twigs().size(), 2u);
    for (const w_typ *b : single.twigs()) {
        EXPECT_EQ(b->next, nullptr);
        EXPECT_EQ(b->age, -1);
        EXPECT_EQ(b->twig, 1);
        EXPECT_NEAR(b->vec.len(), single.t.twig_fixed_length / 2, 1e-12);
    }
}

TEST(Twigs, RandomDrawsPerTwigType)
{
    // One qualifying node; draws: the type's own, one twist, two per segment.
    const int own[] = {0, 0, 2, 2, -1, 1, 0};
    for (int type = 1; type <= 7; type++) {
        if (own[type - 1] < 0)
            continue; // "random" draws one more only when its direction is near the parent
        st_tree t = default_params;
        t.twig_type = type;
        t.twig_segments = 2;
        t.twig_coverage = 1.0;
        random rnd, ref;
        rnd.fixed(11);
        ref.fixed(11);
        model_typ m;
        w_typ *chain = model_chain({{0, 1, 0}, {1, 1.5, 0}, {2, 2, 0}});
        add_chain(m, chain);
        m.add_secondary(chain, &t, &rnd, 1);
        ASSERT_NE(chain->next->side, nullptr) << type;
        for (int k = 0; k < own[type - 1] + 1 + 2 * 2; k++)
            ref.next();
        EXPECT_EQ(rnd.next(), ref.next()) << type;
    }
}

TEST(Twigs, BranchTypeFollowsTheParentSegment)
{
    TwigSetup s;
    s.t.twig_type = 4;
    s.t.twig_fixed = 1;
    s.t.twig_fixed_length = 0.6;
    s.m.add_secondary(s.base, &s.t, &s.rnd, 1);
    const w_typ *b = model_node(s.base, 3)->side;
    ASSERT_NE(b, nullptr);
    // E0 = L x unit(vec x 4 + unit vec) with L = 0.6 / 3, along the parent's +X.
    EXPECT_NEAR(b->vec.x, 0.2, 1e-12);
    EXPECT_NEAR(b->vec.y, 0.0, 1e-12);
    EXPECT_NEAR(b->next->pos.x, 3.2, 1e-12);
}

// ---- path lengths and profiles

TEST(Profiles, LongestPathCountsNoBaseVectors)
{
    model_typ m;
    EXPECT_EQ(m.calc_longest_branch(), 0.0);

    w_typ *c = model_chain({{0, 0, 0}, {0, 1, 0}, {0, 2, 0}, {0, 3, 0}});
    c->vec = Cxyz(0, 100, 0); // the first node's vec is never counted
    add_chain(m, c);
    EXPECT_DOUBLE_EQ(m.calc_longest_branch(), 0.9 * 3);

    // A longer side chain at node 1 decides; its base node (at the carrier) adds nothing.
    w_typ *side = model_chain({{0, 1, 0}, {3, 1, 0}, {6, 1, 0}});
    side->vec = Cxyz(50, 0, 0);
    model_node(c, 1)->side = side;
    EXPECT_DOUBLE_EQ(m.calc_longest_branch(), 0.9 * 7);
}

TEST(Profiles, FunctionsAtTheirBreakPoints)
{
    model_typ m;
    EXPECT_EQ(m.thickness_fun(0.0, 0.5), 1.0);
    EXPECT_EQ(m.thickness_fun(1.0, 0.5), 1 - std::sin(0.5 * PI2));
    EXPECT_EQ(m.thickness_fun(2.0, 0.5), 0.0);
    EXPECT_EQ(m.thickness_fun(0.0, 0.0), 0.0);
    EXPECT_EQ(m.thickness_fun(-0.1, 0.0), 1.0);

    EXPECT_EQ(m.leaf_density_fun(0.39, 0.5, 0.1), 1.0);
    EXPECT_NEAR(m.leaf_density_fun(0.4, 0.5, 0.1), 1.0, 1e-12);
    EXPECT_EQ(m.leaf_density_fun(0.5, 0.5, 0.1), 0.0);
    EXPECT_NEAR(m.leaf_density_fun(0.6, 0.5, 0.1), -1.0, 1e-12);
    EXPECT_EQ(m.leaf_density_fun(0.61, 0.5, 0.1), -1.0);
    // Zero width: a hard step, and 0 (not NaN) exactly on it.
    EXPECT_EQ(m.leaf_density_fun(0.49, 0.5, 0.0), 1.0);
    EXPECT_EQ(m.leaf_density_fun(0.51, 0.5, 0.0), -1.0);
    EXPECT_EQ(m.leaf_density_fun(0.5, 0.5, 0.0), 0.0);
}

// ---- skeleton output

TEST(Skeleton, PointsPreOrderPolygonsAfterTheirSubtree)
{
    model_typ m;
    w_typ *c = model_chain({{0, 0, 0}, {0, 1, 0}, {0, 2, 0}, {0, 3, 0}});
    model_node(c, 1)->side = model_chain({{0, 1, 0}, {1, 1, 0}});
    add_chain(m, c);
    RecordingOp rec;
    m.draw_skeleton(rec.op());

    ASSERT_EQ(rec.points.size(), 6u);
    EXPECT_EQ(rec.points[3].y, 3.0);
    EXPECT_EQ(rec.points[5].x, 1.0);
    const std::vector<std::vector<int>> expected = {{2, 3}, {1, 2}, {4, 5}, {1, 4}, {0, 1}};
    ASSERT_EQ(rec.polygons.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); i++) {
        EXPECT_EQ(rec.polygons[i].points, expected[i]) << i;
        EXPECT_TRUE(rec.polygons[i].face);
        EXPECT_EQ(rec.polygons[i].surface, "");
    }
    EXPECT_TRUE(rec.vmaps.empty());
    EXPECT_TRUE(rec.tags.empty());

    model_typ empty;
    RecordingOp none;
    empty.draw_skeleton(none.op());
    EXPECT_TRUE(none.calls.empty());
}

TEST(Skeleton, TwigAddsOnePointAndPolygonPerNode)
{
    TwigSetup s;
    s.t.twig_coverage = 0.4; // every second qualifying node: one twig (on node 3)
    s.m.add_secondary(s.base, &s.t, &s.rnd, 1);
    ASSERT_EQ(s.twigs().size(), 1u);
    RecordingOp rec;
    s.m.draw_skeleton(rec.op());
    EXPECT_EQ(rec.points.size(), 5u + 4u);
    EXPECT_EQ(rec.polygons.size(), 4u + 4u);
    // The twig's points follow its carrier's subtree along next; its first polygon joins the
    // carrier's point to the twig's base point, both at (3, 1, 0), after the twig's own.
    const std::vector<int> link = {3, 5};
    EXPECT_EQ(rec.polygons[4].points, link);
    EXPECT_EQ(rec.points[5].x, 3.0);
}

} // namespace
} // namespace ramulon
