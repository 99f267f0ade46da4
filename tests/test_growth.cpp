// Skeleton growth: capture of the crown, start points, trunks and branches.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "host/edit_op.h"
#include "host/mesh.h"
#include "host/obj_loader.h"
#include "support/growth_chains.h"
#include "trees.h"

// The huge-count test asks for more memory than any machine has; under AddressSanitizer the
// allocation must fail the way it does without it, by returning null.
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1"; }

namespace ramulon {
namespace {

// A background layer of the stand-in modeller, for the tool to count and capture.
struct Background {
    host::Mesh mesh;

    void add(HostID type, const std::vector<Cxyz> &corners)
    {
        std::vector<int> points;
        for (const Cxyz &c : corners)
            points.push_back(mesh.background.add_point({c.x, c.y, c.z}));
        mesh.background.add_polygon(type, points);
    }
    void face(const std::vector<Cxyz> &corners) { add(ID_FACE, corners); }
};

// Every node position of every chain, compared exactly.
using Skeleton = std::vector<std::vector<std::array<double, 3>>>;

Skeleton snapshot()
{
    Skeleton s;
    for (int i = 0; i < galezie_count; i++) {
        s.emplace_back();
        for (const wezel_typ *n = galezie[i].first; n; n = n->next)
            s.back().push_back({n->pos.x, n->pos.y, n->pos.z});
    }
    return s;
}

int count_nodes(const galaz_typ &g)
{
    int n = 0;
    for (const wezel_typ *w = g.first; w; w = w->next)
        n++;
    return n;
}

wezel_typ *node_at(const galaz_typ &g, int index)
{
    wezel_typ *w = g.first;
    while (index-- > 0)
        w = w->next;
    return w;
}

// Replaces chain i by nodes at the given positions, each node's dir pointing along +x.
galaz_typ &make_chain(int i, const std::vector<Cxyz> &positions) { return lay_chain(i, positions); }

struct MonitorCount {
    LWMonitor mon{};
    unsigned steps = 0;
    MonitorCount()
    {
        mon.data = this;
        mon.step = [](void *d, unsigned inc) {
            static_cast<MonitorCount *>(d)->steps += inc;
            return 0;
        };
    }
};

class Growth : public ::testing::Test {
protected:
    void SetUp() override
    {
        free_memory();
        free_BG();
        t = default_params;
    }
    void TearDown() override
    {
        free_memory();
        free_BG();
    }
    // Counts and captures the background the way a build does.
    void capture(Background &bg)
    {
        host::EditOp edit(bg.mesh, nullptr);
        MeshEditOp *op = edit.op();
        num_polys = op->polyCount(op->state, OPLYR_BG, EDCOUNT_ALL);
        op->polyScan(op->state, check_for_nurbs, nullptr, OPLYR_BG);
        t.num_bg_polys = num_polys;
        copy_BG(num_polys, op);
    }
    // The default round crown.
    void capture_crown()
    {
        ASSERT_EQ(host::load_obj_text(host::default_crown_obj(), "round_crown.obj",
                                        crown.mesh.background).message(), "");
        capture(crown);
    }
    // The next value of a random source, leaving the source where it was.
    static int32_t peek(const random &r = losoj)
    {
        random copy = r;
        return copy.next();
    }

    st_tree t{};
    Background crown;
};

// ---------------------------------------------------------------- capture and start points

TEST_F(Growth, CaptureKeepsFacesOfThreePointsOrMore)
{
    Background bg;
    for (int i = 0; i < 10; i++)
        bg.face({Cxyz(i, 0, 0), Cxyz(i + 1, 0, 0), Cxyz(i, 1, 0)});
    for (int i = 0; i < 5; i++)
        bg.face({Cxyz(i, 2, 0), Cxyz(i, 3, 0)});
    bg.add(ID_CURV, {Cxyz(0, 0, 0), Cxyz(1, 1, 1), Cxyz(2, 0, 0)});
    bg.add(ID_PTCH, {Cxyz(0, 0, 0), Cxyz(1, 1, 1), Cxyz(2, 0, 0), Cxyz(0, 1, 0)});
    capture(bg);
    EXPECT_EQ(t.num_bg_polys, 10);
    EXPECT_EQ(poly_num, 10);
    EXPECT_EQ(poly_data[9].num, 3);
    EXPECT_EQ(poly_data[9].points[1].x, 10.0);
    EXPECT_EQ(poly_data[9].normal.z, 1.0);

}

TEST_F(Growth, HeightIsTheHighestVertexAndNeverNegative)
{
    Background bg;
    bg.face({Cxyz(0, 1, 0), Cxyz(1, 3, 0), Cxyz(0, 2, 1)});
    bg.face({Cxyz(0, 3, 0), Cxyz(1, 2, 0), Cxyz(0, 2, 1)});
    bg.face({Cxyz(0, -1, 0), Cxyz(1, -3, 0), Cxyz(0, -2, 1)});
    capture(bg);
    const face6_typ *highest = nullptr;
    EXPECT_EQ(calc_height(poly_data, 2, &highest), 3.0);
    EXPECT_EQ(highest, &poly_data[0]); // the first to reach it
    highest = nullptr;
    EXPECT_EQ(calc_height(poly_data + 2, 1, &highest), 0.0);
    EXPECT_EQ(highest, nullptr);
}

TEST_F(Growth, SearchListPlacesEqualXAfterExistingOnes)
{
    wezel_typ *list = nullptr;
    wezel_typ *a = add_item(Cxyz(2, 0, 0), &list);
    add_item(Cxyz(1, 0, 0), &list);
    wezel_typ *b = add_item(Cxyz(2, 1, 0), &list);
    wezel_typ *c = add_item(Cxyz(2, 2, 0), &list);
    EXPECT_EQ(list->next, a);
    EXPECT_EQ(a->next, b);
    EXPECT_EQ(b->next, c);
    EXPECT_EQ(c->next, nullptr);
    delete list;
}

TEST_F(Growth, SpacingAcceptsExactlyTheDistance)
{
    wezel_typ *list = nullptr;
    add_item(Cxyz(0, 0, 0), &list);
    add_item(Cxyz(40, 0, 0), &list);
    t.relative_spacing = 0;
    EXPECT_TRUE(check_pos(Cxyz(3, 4, 0), 1.0, 5.0, list, &t));
    EXPECT_FALSE(check_pos(Cxyz(3, 4, 0), 1.0, 5.000001, list, &t));

    // The random form draws one acceptance value per test, and none when it refuses outright.
    t.relative_spacing = 1;
    losoj.fixed(7);
    random hand = losoj;
    check_pos(Cxyz(20, 0, 0), 1.0, 1.0, list, &t);
    hand.next();
    EXPECT_EQ(peek(), peek(hand));
    EXPECT_FALSE(check_pos(Cxyz(20, 0, 0), -1.0, 1.0, list, &t));
    EXPECT_EQ(peek(), peek(hand));
    delete list;
}

TEST_F(Growth, SortingKeepsEqualHeightsInScatteredOrder)
{
    t.num_branches = 4;
    ASSERT_EQ(reserve_memory(4), 0);
    const double ys[] = {1, 3, 2, 3};
    for (int i = 0; i < 4; i++)
        make_chain(i, {Cxyz(i, ys[i], 0)});
    sort_positions(&t);
    const double xs[] = {1, 3, 2, 0};
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(galezie[i].first->pos.x, xs[i]) << i;
}

TEST_F(Growth, FirstStepSumsToTheEstimatedPath)
{
    // A low start point with no bend: the planned steps cover 0.7 of its distance to the axis.
    Background bg;
    bg.face({Cxyz(3, 0.5, -1), Cxyz(4, 0.5, -1), Cxyz(4, 0.5, 1), Cxyz(3, 0.5, 1)});
    capture(bg);
    t.branch_bend = 0;
    t.tip_jitter = 0;
    t.tree_height = 0.5;
    t.tree_center = 2;
    ASSERT_EQ(reserve_memory(2), 0);
    set_positions(2, poly_data, 1, &t);
    double sum = 0, step = 1;
    for (int i = 0; i < t.num_segments; i++, step *= t.bias / t.num_segments + 1)
        sum += step;
    for (int i = 0; i < 2; i++) {
        const Cxyz p = galezie[i].first->pos;
        EXPECT_NEAR(galezie[i].step_len, std::hypot(p.x, p.z) / sum * 0.7, 1e-12);
        EXPECT_EQ(galezie[i].high, 0);
        EXPECT_EQ(galezie[i].first->next, nullptr);
        EXPECT_EQ(galezie[i].grow_vect.len(), 0.0);
    }
}

// ------------------------------------------------------------------------- the driver

TEST_F(Growth, SameSeedGrowsTheSameTreeAndSeedZeroDoesNot)
{
    capture_crown();
    ASSERT_EQ(TreeMake(&t, nullptr, 0), 0);
    const Skeleton first = snapshot();
    ASSERT_EQ(first.size(), 150u);
    ASSERT_EQ(TreeMake(&t, nullptr, 1), 0);
    EXPECT_EQ(first, snapshot());
    EXPECT_TRUE(skeleton_is_finite());

    t.random_seed = 0;
    ASSERT_EQ(TreeMake(&t, nullptr, 0), 0);
    const Skeleton second = snapshot();
    ASSERT_EQ(TreeMake(&t, nullptr, 0), 0);
    EXPECT_NE(second, snapshot());
}

TEST_F(Growth, DriverMatchesChainByChainGrowth)
{
    // The driver passes over far chains when looking for joints; growing the same chains one
    // by one, where every chain is walked, must give the very same tree.
    capture_crown();
    t.num_branches = 600;
    t.num_trunks = 2;
    t.sort_branches = 1;
    ASSERT_EQ(TreeMake(&t, nullptr, 0), 0);
    const Skeleton driven = snapshot();
    std::vector<bool> roots;
    for (int i = 0; i < galezie_count; i++)
        roots.push_back(galezie[i].is_root);

    free_memory();
    losoj.fixed(t.random_seed);
    t.tree_height = calc_height(poly_data, t.num_bg_polys, nullptr);
    ASSERT_EQ(reserve_memory(600), 0);
    set_positions(600, poly_data, t.num_bg_polys, &t);
    sort_positions(&t);
    trunks_offset = 1.0;
    for (int i = 0; i < 2; i++) {
        grow_trunk(&galezie[i], &t, &losoj);
        trunks_offset = 0.75;
    }
    for (int i = 2; i < 600; i++)
        grow_branch(&galezie[i], &t, &losoj);
    EXPECT_EQ(driven, snapshot());
    int joined = 0;
    for (int i = 0; i < galezie_count; i++) {
        EXPECT_EQ(galezie[i].is_root, roots[i]) << i;
        joined += !roots[i];
    }
    EXPECT_GT(joined, 300);
}

TEST_F(Growth, OutputOnlyChangeKeepsSkeletonAndDrawsNothing)
{
    capture_crown();
    ASSERT_EQ(TreeMake(&t, nullptr, 2), 0); // no skeleton yet: grows anyway
    ASSERT_NE(galezie, nullptr);
    const galaz_typ *array = galezie;
    const Skeleton grown = snapshot();
    const int32_t next = peek();
    t.random_seed = 99;
    ASSERT_EQ(TreeMake(&t, nullptr, 2), 0);
    EXPECT_EQ(galezie, array);
    EXPECT_EQ(grown, snapshot());
    EXPECT_EQ(peek(), next);
}

TEST_F(Growth, MonitorAdvancesOncePlusOncePerBranch)
{
    capture_crown();
    t.num_branches = 20;
    t.num_trunks = 2;
    MonitorCount m;
    ASSERT_EQ(TreeMake(&t, &m.mon, 0), 0);
    EXPECT_EQ(m.steps, 1u + 18u);

    // More trunks than chains: every chain is a trunk and the record is corrected.
    t.num_trunks = 30;
    MonitorCount all;
    ASSERT_EQ(TreeMake(&t, &all.mon, 0), 0);
    EXPECT_EQ(t.num_trunks, 20);
    EXPECT_EQ(all.steps, 1u);
    for (int i = 0; i < 20; i++)
        EXPECT_TRUE(galezie[i].is_root);
}

TEST_F(Growth, HighestStartGoesFirstAndTiesKeepScatteredOrder)
{
    capture_crown();
    ASSERT_EQ(TreeMake(&t, nullptr, 0), 0);
    for (int i = 1; i < galezie_count; i++)
        EXPECT_LE(galezie[i].first->pos.y, galezie[0].first->pos.y);

    // A flat crown gives every start the same height: no exchange may happen, sorted or not.
    Background flat;
    // Wound to face up, so that the sampling frame needs no rotation about x and keeps y exact.
    flat.face({Cxyz(-2, 4, -2), Cxyz(-2, 4, 2), Cxyz(2, 4, 2), Cxyz(2, 4, -2)});
    capture(flat);
    t.tip_jitter = 0;
    t.num_branches = 30;
    free_memory();
    losoj.fixed(t.random_seed);
    t.tree_height = 4;
    ASSERT_EQ(reserve_memory(30), 0);
    set_positions(30, poly_data, 1, &t);
    Skeleton scattered = snapshot();
    for (const auto &chain : scattered)
        ASSERT_EQ(chain[0][1], 4.0);
    for (int sort : {0, 1}) {
        t.sort_branches = sort;
        ASSERT_EQ(TreeMake(&t, nullptr, 0), 0);
        for (int i = 0; i < 30; i++) {
            EXPECT_EQ(galezie[i].first->pos.x, scattered[i][0][0]) << sort << " " << i;
            EXPECT_EQ(galezie[i].first->pos.z, scattered[i][0][2]) << sort << " " << i;
        }
    }
}

TEST_F(Growth, HugeBranchCountFailsWithoutHalfASkeleton)
{
    capture_crown();
    ASSERT_EQ(TreeMake(&t, nullptr, 0), 0);
    t.num_branches = INT_MAX;
    EXPECT_EQ(TreeMake(&t, nullptr, 0), 1);
    EXPECT_EQ(galezie, nullptr);
    EXPECT_EQ(galezie_count, 0);
}

// Counts below the panel's limits grow as many chains as they ask for, each with a start node,
// and a finite skeleton; a negative chain count is an array that cannot be made.
TEST_F(Growth, CountsBelowThePanelsLimitsGrowAsAsked)
{
    capture_crown();
    struct Case {
        const char *what;
        void (*set)(st_tree &);
        int chains;
    } cases[] = {
        {"no segments", [](st_tree &r) { r.num_segments = 0; }, 40},
        {"negative segments", [](st_tree &r) { r.num_segments = -3; }, 40},
        {"no sub-segments", [](st_tree &r) { r.sub_segments = 0; }, 40},
        {"no iterations", [](st_tree &r) { r.iterations = -1; }, 40},
        {"no branches", [](st_tree &r) { r.num_branches = 0; }, 0},
        {"one branch", [](st_tree &r) { r.num_branches = 1; }, 1},
        {"negative trunks", [](st_tree &r) { r.num_trunks = -2; }, 40},
        {"no bias", [](st_tree &r) { r.bias = 0; }, 40},
        {"random spacing", [](st_tree &r) { r.relative_spacing = 1; }, 40},
    };
    for (const Case &c : cases) {
        t = default_params;
        t.num_bg_polys = poly_num;
        t.num_branches = 40;
        c.set(t);
        ASSERT_EQ(TreeMake(&t, nullptr, 0), 0) << c.what;
        EXPECT_EQ(galezie_count, c.chains) << c.what;
        EXPECT_NE(galezie, nullptr) << c.what;
        EXPECT_LE(t.num_trunks, c.chains) << c.what;
        EXPECT_TRUE(skeleton_is_finite()) << c.what;
        for (int i = 0; i < galezie_count; i++)
            ASSERT_NE(galezie[i].first, nullptr) << c.what;
    }
    t = default_params;
    t.num_bg_polys = poly_num;
    t.num_branches = -1;
    EXPECT_EQ(TreeMake(&t, nullptr, 0), 1);
    EXPECT_EQ(galezie, nullptr);
}

// ---------------------------------------------------------------------------- trunks

class Trunk : public Growth {
protected:
    galaz_typ &start(Cxyz p, double step_len, Cxyz grow_vect)
    {
        t.num_branches = 2;
        if (!galezie) {
            EXPECT_EQ(reserve_memory(2), 0);
        }
        galaz_typ &g = make_chain(0, {p});
        g.first->thickness = g.thickness = t.branch_thickness;
        g.step_len = step_len;
        g.grow_vect = grow_vect;
        g.steps = 0;
        trunks_offset = 1.0;
        t.tree_height = 5;
        return g;
    }
};

TEST_F(Trunk, LowStartWhoseFirstStepGoesUnderGroundStaysOneNode)
{
    galaz_typ &g = start(Cxyz(1, 0.05, 0), 1.0, Cxyz(0, -1, 0));
    grow_trunk(&g, &t, &losoj);
    EXPECT_EQ(g.first, g.last);
    EXPECT_EQ(g.steps, 0);
}

TEST_F(Trunk, StopsAfterEightTimesTheSegmentsAboveGround)
{
    // Tiny steps from high up: the ground is never reached, every planned step is made.
    galaz_typ &g = start(Cxyz(0.5, 50, 0), 0.002, Cxyz());
    t.trunk_crookedness = 0;
    t.sub_segments = 1;
    losoj.fixed(3);
    random hand = losoj;
    grow_trunk(&g, &t, &losoj);
    const int k = t.num_segments;
    EXPECT_EQ(g.steps, 8 * k);
    EXPECT_EQ(count_nodes(g), 1 + 8 * k);
    EXPECT_GT(g.last->pos.y, 0.1);
    EXPECT_EQ(node_at(g, k / 2)->age, k / 2 - 1);
    EXPECT_EQ(node_at(g, k / 2 + 1)->age, k);
    // No angle is drawn without crookedness, but each step still tosses its two signs.
    for (int i = 0; i < 2 * 8 * k; i++)
        hand.next();
    EXPECT_EQ(peek(), peek(hand));

    // Sub-segments add nodes; without crookedness their jitter draws nothing either.
    galaz_typ &h = start(Cxyz(0.5, 50, 0), 0.002, Cxyz());
    t.sub_segments = 3;
    t.branch_crookedness = 0;
    hand = losoj;
    grow_trunk(&h, &t, &losoj);
    EXPECT_EQ(count_nodes(h), 1 + 8 * k * 3);
    for (int i = 0; i < 2 * 8 * k; i++)
        hand.next();
    EXPECT_EQ(peek(), peek(hand));
}

// --------------------------------------------------------------------------- branches

class Branch : public Growth {
protected:
    // Chain 0 is a trunk; chains 1 and 2 are finished branches; chains 3 and 4 grow.
    void SetUp() override
    {
        Growth::SetUp();
        t.num_branches = 5;
        t.num_trunks = 1;
        t.sub_segments = 2;
        ASSERT_EQ(reserve_memory(5), 0);
        make_chain(0, {Cxyz(0, 2, 0), Cxyz(0, 1, 0), Cxyz(0, 0, 0)});
    }
    galaz_typ &grower(int i, int steps)
    {
        galaz_typ &g = make_chain(i, {Cxyz(0, 0, 0), Cxyz(0, 0, 0)});
        g.steps = steps;
        g.step_len = 1.0;
        g.grow_vect = Cxyz(1, 0, 0);
        g.thickness = 0.5;
        return g;
    }
};

TEST_F(Branch, JoinTakesTheLaterOfEqualCandidatesAndNeverAJoinedNode)
{
    // From the origin toward p = (1, 0, 0). Chain 1 (its index equals num_trunks: every node
    // counts) holds A; chain 2 holds a closer node that is too young and B, as far as A.
    galaz_typ &one = make_chain(1, {Cxyz(1, 0.5, 0), Cxyz(2, 0.5, 0)});
    galaz_typ &two =
        make_chain(2, {Cxyz(9, 9, 9), Cxyz(1, 0.1, 0), Cxyz(1, -0.5, 0), Cxyz(2, -0.5, 0)});
    wezel_typ *a = one.first, *b = node_at(two, 2);
    for (wezel_typ *n = two.first; n; n = n->next)
        n->thickness = 0.1;

    galaz_typ &g = grower(3, 1);
    Cxyz p(1, 0, 0), from(0, 0, 0);
    ASSERT_EQ(join_branches(&g, &t, &p, &from), 1);
    EXPECT_EQ(p.y, -0.5);
    EXPECT_EQ(b->joins, 1);
    EXPECT_EQ(b->joined, &g);
    EXPECT_FALSE(g.is_root);
    EXPECT_EQ(g.last->joins, 1);
    EXPECT_EQ(g.last->join_node, b);
    // The parent thickens from the joint to its end: 0.5 - 0.1 + 0.2 * 0.5.
    EXPECT_DOUBLE_EQ(b->thickness, 0.6);
    EXPECT_DOUBLE_EQ(two.last->thickness, 0.6);
    EXPECT_EQ(node_at(two, 1)->thickness, 0.1);

    galaz_typ &h = grower(4, 1);
    p = Cxyz(1, 0, 0);
    ASSERT_EQ(join_branches(&h, &t, &p, &from), 1);
    EXPECT_EQ(h.last->join_node, a);
    EXPECT_EQ(b->joins, 1);
}

TEST_F(Branch, JoiningWaitsForTheLastForkDistance)
{
    make_chain(1, {Cxyz(1, 0.5, 0), Cxyz(2, 0.5, 0)});
    Cxyz from(0, 0, 0);
    t.last_fork_distance = 0;
    Cxyz p(1, 0, 0);
    EXPECT_EQ(join_branches(&grower(3, 0), &t, &p, &from), 0); // the first step never joins

    t.last_fork_distance = 0.5; // 0.9 * 8 * 0.5 = 3.6 steps
    p = Cxyz(1, 0, 0);
    EXPECT_EQ(join_branches(&grower(3, 3), &t, &p, &from), 0);
    EXPECT_EQ(join_branches(&grower(3, 4), &t, &p, &from), 1);
}

TEST_F(Branch, TrunkContactAndNearestTrunkNode)
{
    // Equidistant from the trunk's first two nodes: join_trunk takes the later, the nearest
    // trunk node the earlier.
    Cxyz p(0.5, 1.5, 0), from(1, 1.5, 0);
    galaz_typ &g = grower(3, 1);
    EXPECT_EQ(join_trunk(&g, &t, &p, &from), node_at(galezie[0], 1));
    EXPECT_EQ(get_closest_point_on_trunk(&p, &t), galezie[0].first);
    // Near only the trunk's last node: no contact, it has nothing to follow.
    p = Cxyz(0.5, -0.2, 0);
    EXPECT_EQ(join_trunk(&g, &t, &p, &from), nullptr);
    // Too young: (2 * 0 + 0.1) * 8 exceeds 0 steps.
    p = Cxyz(0.5, 1.5, 0);
    EXPECT_EQ(join_trunk(&grower(3, 0), &t, &p, &from), nullptr);
    Cxyz far(2e7, 0, 0);
    EXPECT_EQ(get_closest_point_on_trunk(&far, &t), nullptr);
}

TEST_F(Branch, LonelyBranchUsesAllItsStepsAndStaysARoot)
{
    // Far from the trunk, pulled up and kept above its crown centre, with no crookedness:
    // 2k steps of s nodes, and two sign draws per step.
    make_chain(0, {Cxyz(1000, 0, 0)});
    galaz_typ &g = make_chain(1, {Cxyz(3, 5, 0)});
    g.first->thickness = t.branch_thickness;
    g.step_len = 0.2;
    t.trunk_influence = 0;
    t.normals_influence = 0;
    t.tree_center = 3;
    t.tree_center_variation = 0;
    t.tree_height = 10;
    t.trunk_connection_bend = 0;
    t.branch_crookedness = 0;
    losoj.fixed(11);
    random hand = losoj;
    grow_branch(&g, &t, &losoj);
    const int k = t.num_segments;
    EXPECT_EQ(g.steps, 2 * k);
    EXPECT_TRUE(g.is_root);
    EXPECT_EQ(count_nodes(g), 1 + 2 * k * 2);
    // Main node of step i sits at 2 (i + 1), the node before it shares its age.
    EXPECT_EQ(g.last->age, k);
    EXPECT_EQ(node_at(g, 2 * k)->age, k - 1);
    EXPECT_EQ(node_at(g, 2 * k - 1)->age, k - 1);
    EXPECT_EQ(node_at(g, 2 * k + 2)->age, k);
    for (int i = 0; i < 2 * 2 * k; i++)
        hand.next();
    EXPECT_EQ(peek(), peek(hand));
}

} // namespace
} // namespace ramulon
