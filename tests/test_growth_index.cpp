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
        std::string error;
        ASSERT_TRUE(host::load_obj_file(std::string(RAMULON_SOURCE_DIR) + "/samples/" + sample,
                                        crown.background, error))
            << error;
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
                st_tree t = default_params;
                t.num_bg_polys = polygons;
                t.num_branches = 700;
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
    st_tree t = default_params;
    t.num_bg_polys = polygons;
    t.num_branches = 4000;
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
    st_tree t = default_params;
    t.num_bg_polys = polygons;
    t.num_branches = 600;
    t.tip_jitter = 0;
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
