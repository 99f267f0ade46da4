// The spatial index must grow the very tree the walk over every node grows.
#include <gtest/gtest.h>

#include <cstdint>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/edit_op.h"
#include "host/journal.h"
#include "host/mesh.h"
#include "host/obj_loader.h"
#include "support/growth_chains.h"
#include "tool.h"
#include "trees.h"
#include "trees_index.h"

namespace ramulon {
namespace {

uint64_t bits(double v)
{
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

void put(std::vector<uint64_t> &out, const Cxyz &v)
{
    out.push_back(bits(v.x));
    out.push_back(bits(v.y));
    out.push_back(bits(v.z));
}

// Where a node sits: chain index and position along the chain, or -1 -1 when null.
std::pair<long, long> locate(const wezel_typ *w)
{
    if (!w)
        return {-1, -1};
    for (int i = 0; i < galezie_count; i++) {
        long k = 0;
        for (const wezel_typ *n = galezie[i].first; n; n = n->next, k++)
            if (n == w)
                return {i, k};
    }
    return {-2, -2};
}

// Every field of every chain and node, bit for bit, with links turned into indices.
std::vector<uint64_t> skeleton_bits()
{
    std::vector<uint64_t> out;
    for (int i = 0; i < galezie_count; i++) {
        const galaz_typ &g = galezie[i];
        out.insert(out.end(), {0xC4A1, uint64_t(g.on_trunk), bits(g.center_ratio), uint64_t(g.steps),
                               bits(g.step_len), uint64_t(g.high), uint64_t(g.is_root),
                               bits(g.thickness)});
        put(out, g.normal);
        put(out, g.grow_vect);
        out.push_back(static_cast<uint64_t>(locate(g.last).second));
        for (const wezel_typ *n = g.first; n; n = n->next) {
            out.insert(out.end(), {uint64_t(n->age), uint64_t(n->joins), bits(n->thickness)});
            put(out, n->pos);
            put(out, n->dir);
            out.push_back(static_cast<uint64_t>(n->joined ? n->joined - galezie : -1));
            const auto at = locate(n->join_node);
            out.push_back(static_cast<uint64_t>(at.first));
            out.push_back(static_cast<uint64_t>(at.second));
        }
    }
    return out;
}

struct Grown {
    std::vector<uint64_t> skeleton;
    std::vector<std::string> journal;
    int joined = 0;
};

class GrowthIndex : public ::testing::Test {
protected:
    void SetUp() override
    {
        free_memory();
        free_BG();
    }
    void TearDown() override
    {
        growth_use_index = true;
        free_memory();
        free_BG();
    }

    // Grows the tree from the captured crown, then writes its skeleton into a fresh mesh.
    Grown grow(st_tree t, bool indexed)
    {
        growth_use_index = indexed;
        Grown g;
        if (TreeMake(&t, nullptr, 0) != 0) {
            ADD_FAILURE() << "growth failed";
            return g;
        }
        g.skeleton = skeleton_bits();
        for (int i = 0; i < galezie_count; i++)
            g.joined += !galezie[i].is_root;
        host::Mesh out;
        host::Journal journal;
        host::EditOp edit(out, &journal);
        t.render_type = 0;
        TreeDraw(edit.op(), &t);
        g.journal = journal.lines();
        free_memory();
        return g;
    }

    // Grows the tree both ways and expects the same skeleton and journal; returns the walk's.
    Grown expect_same_tree(const st_tree &t)
    {
        const Grown walked = grow(t, false);
        const Grown indexed = grow(t, true);
        EXPECT_TRUE(walked.skeleton == indexed.skeleton);
        EXPECT_TRUE(walked.journal == indexed.journal);
        return walked;
    }

    void capture(const std::string &sample)
    {
        ASSERT_EQ(host::load_obj_file(std::string(RAMULON_SOURCE_DIR) + "/samples/" + sample,
                                        crown.background).message(), "");
        capture_layer();
    }
    // Counts and copies the crown's polygons the way a build does.
    void capture_layer()
    {
        host::EditOp edit(crown, nullptr);
        MeshEditOp *op = edit.op();
        num_polys = op->polyCount(op->state, OPLYR_BG, EDCOUNT_ALL);
        op->polyScan(op->state, check_for_nurbs, nullptr, OPLYR_BG);
        polygons = num_polys;
        copy_BG(num_polys, op);
        ASSERT_GT(poly_num, 0);
    }

    // The defaults with the captured crown and the given number of chains.
    st_tree crown_params(int branches) const
    {
        st_tree t = default_params;
        t.num_bg_polys = polygons;
        t.num_branches = branches;
        return t;
    }

    host::Mesh crown;
    int polygons = 0;
};

TEST_F(GrowthIndex, SameTreeOnEveryCrownSeedAndParameterSet)
{
    struct Variant {
        const char *name;
        void (*apply)(st_tree &);
    };
    const Variant variants[] = {
        {"defaults", [](st_tree &) {}},
        {"fork distance 1", [](st_tree &t) { t.last_fork_distance = 1.0; }},
        {"three trunks, nearest", [](st_tree &t) {
             t.num_trunks = 3;
             t.trunk_influence = 1;
             t.sort_branches = 1;
         }},
        {"no influence, relative spacing", [](st_tree &t) {
             t.trunk_influence = 0;
             t.relative_spacing = 1;
         }},
        {"no trunk", [](st_tree &t) { t.num_trunks = 0; }},
        {"finer steps, two trunks", [](st_tree &t) {
             t.num_segments = 5;
             t.sub_segments = 3;
             t.num_trunks = 2;
             t.last_fork_distance = 0.3;
         }},
    };
    for (const char *sample : {"round_crown.obj", "flat_crown.obj", "tall_crown.obj", "two_lobes.obj"}) {
        free_BG();
        capture(sample);
        for (int seed : {30, 7}) {
            for (const Variant &v : variants) {
                st_tree t = crown_params(700);
                t.random_seed = seed;
                v.apply(t);
                SCOPED_TRACE(std::string(sample) + " seed " + std::to_string(seed) + " " + v.name);
                const Grown walked = expect_same_tree(t);
                EXPECT_GT(walked.joined, 0);
                EXPECT_FALSE(walked.journal.empty());
            }
        }
    }
}

TEST_F(GrowthIndex, DenseCrownStillGrowsTheSameTree)
{
    // Many branches crowd the grid cells, and many joints land on ties of distance.
    capture("round_crown.obj");
    st_tree t = crown_params(4000);
    t.num_trunks = 2;
    EXPECT_GT(expect_same_tree(t).joined, 2000);
}

TEST_F(GrowthIndex, StartPointsSharingTheirXKeepTheirSpacing)
{
    // A crown standing in the plane x = 1, with no jitter off it: every start point has the
    // same x, so the spacing test sees nothing but ties along its list.
    const int a = crown.background.add_point({1, 2, -3}), b = crown.background.add_point({1, 2, 3});
    const int c = crown.background.add_point({1, 8, 3}), d = crown.background.add_point({1, 8, -3});
    crown.background.add_polygon(ID_FACE, {a, b, c, d});
    capture_layer();
    st_tree t = crown_params(600);
    t.tip_jitter = 0;
    expect_same_tree(t);
}

// Adds a box of the given corners to the crown, its faces pointing outward.
void add_box(host::Layer &layer, const Cxyz &lo, const Cxyz &hi)
{
    int v[8];
    for (int i = 0; i < 8; i++)
        v[i] = layer.add_point({i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z});
    const int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto &f : faces)
        layer.add_polygon(ID_FACE, {v[f[0]], v[f[1]], v[f[2]], v[f[3]]});
}

TEST_F(GrowthIndex, ManyBranchesInASmallCrown)
{
    // Thousands of tips on a crown a metre wide: the nodes crowd every cell, most nearby nodes
    // are taken by earlier joints, and branches join after a step or two.
    add_box(crown.background, Cxyz(-0.5, 2, -0.5), Cxyz(0.5, 3, 0.5));
    capture_layer();
    for (int variant = 0; variant < 3; variant++) {
        st_tree t = crown_params(3000);
        if (variant == 1) {
            t.sub_segments = 3;
            t.last_fork_distance = 0.3;
            t.num_trunks = 2;
        } else if (variant == 2) {
            t.random_seed = 7;
            t.trunk_influence = 1;
            t.sort_branches = 1;
        }
        SCOPED_TRACE(variant);
        EXPECT_GT(expect_same_tree(t).joined, 2000);
    }
}

TEST_F(GrowthIndex, SortingKeepsEqualStartHeightsInScatteredOrder)
{
    // A level crown without jitter: every start point has the same height, so sorting must
    // leave the chains exactly as scattered.
    const int a = crown.background.add_point({-3, 5, -3}), b = crown.background.add_point({-3, 5, 3});
    const int c = crown.background.add_point({3, 5, 3}), d = crown.background.add_point({3, 5, -3});
    crown.background.add_polygon(ID_FACE, {a, b, c, d});
    add_box(crown.background, Cxyz(-1, 6, -1), Cxyz(1, 6.5, 1));
    capture_layer();
    st_tree t = crown_params(500);
    t.tip_jitter = 0;
    t.sort_branches = 1;
    t.num_trunks = 3;
    expect_same_tree(t);
}

TEST_F(GrowthIndex, CrownWithAPointAtNaNGrowsTheSameTree)
{
    // A polygon with a corner at NaN: the crown's area, and with it the spacing, is NaN, so the
    // spacing grid gives up and the ascending list decides; start points drawn on that polygon
    // have no height, so sorting them falls back to the exchanges themselves.
    for (int i = 0; i < 4; i++)
        add_box(crown.background, Cxyz(-2 + i, 3 + i, -2), Cxyz(2 + i, 6 + i, 2));
    const int a = crown.background.add_point({0, 4, 0}), b = crown.background.add_point({1, 4, 0});
    const int c = crown.background.add_point({0, std::nan(""), 1});
    crown.background.add_polygon(ID_FACE, {a, b, c});
    capture_layer();
    st_tree t = crown_params(400);
    t.sort_branches = 1;
    expect_same_tree(t);
}

// Chains laid by hand, indexed as growth indexes them, against the walk.
class HandIndex : public ::testing::Test {
protected:
    void SetUp() override
    {
        free_memory();
        ASSERT_EQ(reserve_memory(5), 0);
        t = default_params;
        t.num_trunks = 1;
        t.sub_segments = 1;
    }
    void TearDown() override
    {
        the_growth_index.reset();
        growth_use_index = true;
        free_memory();
    }
    void chain(int i, const std::vector<Cxyz> &positions) { lay_chain(i, positions); }
    // The node the walk over every chain joins, with the index switched off.
    wezel_typ *walk_result(galaz_typ &g, Cxyz p, Cxyz from)
    {
        growth_use_index = false;
        const int joined = join_branches(&g, &t, &p, &from);
        growth_use_index = true;
        if (joined != 1)
            return nullptr;
        wezel_typ *n = g.last->join_node;
        // Undo the joint, so that the index and the walk keep seeing the same chains.
        n->joins -= 1;
        n->joined = nullptr;
        g.is_root = true;
        g.last->joins -= 1;
        g.last->join_node = nullptr;
        return n;
    }
    st_tree t{};
};

TEST_F(HandIndex, TiesFollowTheWalk)
{
    // A trunk along y and two branches whose nodes sit at equal distances from the query
    // point, spread over a box wide enough for many cells.
    chain(0, {Cxyz(0, 3, 0), Cxyz(0, 2, 0), Cxyz(0, 1, 0), Cxyz(0, 0, 0)});
    chain(1, {Cxyz(40, 40, 40), Cxyz(2, 1.5, 0), Cxyz(3, 1.5, 0)});
    chain(2, {Cxyz(-40, -1, -40), Cxyz(2, 0.5, 0), Cxyz(1, 1, 1), Cxyz(3, 0.5, 0)});
    galezie[3].first = galezie[3].last = new wezel_typ;
    galezie[3].first->pos = Cxyz(1, 1, 0);
    galezie[4].first = galezie[4].last = new wezel_typ;
    galezie[4].first->pos = Cxyz(9, 9, 9);

    the_growth_index.begin(galezie, galezie_count);
    the_growth_index.trunks_done(&t, 1, 5);
    the_growth_index.chain_done(1);
    the_growth_index.chain_done(2);

    galaz_typ &g = galezie[3];
    g.steps = 1; // chain 2's second node is one step from its tip: a candidate
    g.step_len = 1.5;
    g.grow_vect = Cxyz(1, 0, 0);
    const Cxyz p(2, 1, 0), from(1, 1, 0);
    wezel_typ *found = nullptr;
    ASSERT_TRUE(the_growth_index.join_branches(&g, &t, p, from, &found));
    // (2, 1.5, 0) and (2, 0.5, 0) are both 0.5 away; chain 2 comes later in the walk.
    EXPECT_EQ(found, galezie[2].first->next);

    // Halfway between the trunk's first two nodes: the nearest node is the first of them,
    // the trunk contact the later.
    const Cxyz mid(0.5, 2.5, 0);
    ASSERT_TRUE(the_growth_index.closest_on_trunk(mid, 1, &found));
    EXPECT_EQ(found, galezie[0].first);
    ASSERT_TRUE(the_growth_index.join_trunk(&g, mid, &found));
    EXPECT_EQ(found, galezie[0].first->next);

    // A question the index was not built for is left to the walk.
    EXPECT_FALSE(the_growth_index.join_branches(&galezie[4], &t, p, from, &found));
    EXPECT_FALSE(the_growth_index.closest_on_trunk(mid, 2, &found));
}

TEST_F(HandIndex, NearestRingsFirstAndJoinedNodesLeave)
{
    // Cells half a metre wide (the branches' first step). Two branches each hold a node 0.25
    // from the query point: chain 1's in the query's own cell, chain 2's, later in the walk's
    // order, one cell over, where the ring search reaches it second.
    t.num_segments = 100; // enough planned nodes for cells as fine as the step
    chain(0, {Cxyz(3, 3, 3), Cxyz(3, 2, 3), Cxyz(3, 0, 3)});
    chain(1, {Cxyz(-3, 0, -3), Cxyz(0.875, 0.25, 0.25), Cxyz(2.5, 2.5, 2.5), Cxyz(3, 2, 3)});
    chain(2, {Cxyz(-3, -1, -3), Cxyz(0.375, 0.25, 0.25), Cxyz(2.5, 1.5, 2.5), Cxyz(3, 1, 3)});
    const Cxyz p(0.625, 0.25, 0.25), from(0.625, 0.25, -0.25);
    for (int i = 1; i <= 2; i++)
        galezie[i].first->next->next->dir = galezie[i].first->next->pos - from;
    galezie[3].first = galezie[3].last = new wezel_typ;
    galezie[3].first->pos = from;
    galezie[4].first = galezie[4].last = new wezel_typ;
    galezie[4].first->pos = Cxyz(-1, 0, -1);
    for (int i = 1; i < 5; i++)
        galezie[i].step_len = 0.5;
    the_growth_index.begin(galezie, galezie_count);
    the_growth_index.trunks_done(&t, 1, 5);
    ASSERT_TRUE(the_growth_index.chain_done(1));
    ASSERT_TRUE(the_growth_index.chain_done(2));

    galaz_typ &g = galezie[3];
    g.grow_vect = Cxyz(0, 0, 1);
    // Each node found is joined, as growth joins it: the index drops it, the walk skips it.
    auto look = [&](int steps) {
        g.steps = steps;
        wezel_typ *found = nullptr;
        EXPECT_TRUE(the_growth_index.join_branches(&g, &t, p, from, &found));
        EXPECT_EQ(walk_result(g, p, from), found);
        if (found)
            found->joins = 1;
        return found;
    };
    EXPECT_EQ(look(1), galezie[2].first->next);
    // Two steps on, chain 2's node would be too young anyway; chain 1 (index num_trunks) takes
    // a joint from a branch of any age.
    EXPECT_EQ(look(2), galezie[1].first->next);
    EXPECT_EQ(look(1), nullptr);
}

TEST_F(HandIndex, SpacingGridAgreesWithTheListWalk)
{
    // Points on a lattice, some exactly the spacing apart from the probes: a node exactly d
    // away does not refuse, one a hair nearer does.
    spacing_grid near;
    near.setup(Cxyz(0, 0, 0), Cxyz(10, 10, 10), 1.0, 1000);
    wezel_typ *list = nullptr;
    for (int x = 0; x <= 10; x += 2)
        for (int y = 0; y <= 10; y += 2) {
            add_item(Cxyz(x, y, 5), &list);
            near.add(Cxyz(x, y, 5));
        }
    t.relative_spacing = 0;
    for (double px = -1; px <= 11; px += 0.25)
        for (double d : {0.0, 0.5, 1.0, 1.25, 2.0, 3.0}) {
            const Cxyz p(px, 4, 5 + (px > 5 ? 1.0 : 0.0));
            bool clear = false;
            ASSERT_TRUE(near.clear_of(p, d, &clear));
            EXPECT_EQ(clear, check_pos(p, 1.0, d, list, &t)) << px << " " << d;
        }
    bool clear = false;
    EXPECT_FALSE(near.clear_of(Cxyz(0, 0, 0), std::nan(""), &clear));
    delete list; // a node deletes the nodes after it
}

} // namespace
} // namespace ramulon
