// Roots: the root model around a trunk base and its mesh (collar, joint fans, root tubes).
#include <gtest/gtest.h>

#include <algorithm>

#include "model.h"
#include "support/recording_op.h"

namespace ramulon {
namespace {

struct Roots {
    random rnd;
    model_typ m;
    RecordingOp rec;

    Roots(int n, int seed = 30, double gravity = 0.23, double crookedness = 0.4)
    {
        rnd.fixed(seed);
        m.rnd = &rnd;
        m.num_roots = n;
        m.roots_gravity = gravity;
        m.roots_crookedness = crookedness;
        m.roots_length = 0.5;
        m.trunk_thickness = m.branch_thickness = 0.03;
        m.tips_thickness = 0.005;
        m.assign_range_wmap = m.assign_thick_wmap = 1;
        m.longest = 10.0;
        m.roots_make(n, 1.0);
    }
    // Base ring corners 0..3 toward (-X +Z), (+X +Z), (+X -Z), (-X -Z), as under an upright trunk.
    void draw()
    {
        LWPntID ring[4];
        const double c[4][2] = {{-1, 1}, {1, 1}, {1, -1}, {-1, -1}};
        for (int i = 0; i < 4; i++) {
            double p[3] = {0.01 * c[i][0], 0.0, 0.01 * c[i][1]};
            ring[i] = rec.op()->addPoint(rec.op()->state, p);
        }
        m.draw_roots(rec.op(), 0, ring, Cxyz(0.0, 0.2, 0.0), 0.0);
    }
    // The model's source must stand `draws` values past the seed.
    void expect_draws(int seed, int draws)
    {
        random ref;
        ref.fixed(seed);
        for (int i = 0; i < draws; i++)
            ref.next();
        EXPECT_EQ(rnd.next(), ref.next());
    }
};

int count_nodes(const w_typ *w) { return w ? 1 + count_nodes(w->next) : 0; }

TEST(RootModel, FiveChainsOfSixNodesThenAnEmptyRecord)
{
    Roots t(5);
    const double R = (1.0 * 0.03 + 0.005) * 1.2;
    const d_typ *d = t.m.roots;
    for (int j = 0; j < 5; j++, d = d->next) {
        ASSERT_EQ(count_nodes(d->first), 6);
        const w_typ *b = d->first;
        // Sunk by half the ring radius, its own radius and the trunk radius; neighbours touch.
        EXPECT_NEAR(b->pos.y, -R / 2 - 0.03 * b->thickness - 0.03 * 1.0, 1e-15);
        const Cxyz chord = t.m.root_ring[(j + 1) % 5] - t.m.root_ring[j];
        EXPECT_NEAR(b->thickness * 0.03, chord.len() / 2, 1e-15);
        for (const w_typ *w = b; w->next; w = w->next)
            EXPECT_TRUE(w->next->thickness >= w->thickness * 0.75 - 1e-15 &&
                        w->next->thickness <= w->thickness * 0.9 + 1e-15);
    }
    EXPECT_TRUE(d->first == nullptr && d->next == nullptr);
    t.expect_draws(30, 4 + 5 * 5 * 5); // ring gaps, then five draws per segment

    // Root 0's first segment from its draws: length, gravity, rise, turn, thinning.
    random ref;
    ref.fixed(30);
    for (int i = 0; i < 4; i++)
        ref.next();
    const w_typ *b = t.m.roots->first;
    const double len = 0.5 * R + ref.z_zakresu(-0.5 * (R / 3 + R / 3), 0.5 * (R / 3 + R / 3));
    Cxyz v = b->vec;
    v.y = v.y - 0.23 + ref.z_zakresu(0.23 / 1.5, 0.23 / -5.0);
    v.y += ref.z_zakresu(-0.23 * (0.4 / PI4), 0.23 * (0.4 / PI4));
    v = ~v;
    v.rotate_Y(ref.z_zakresu(-0.8, 0.8));
    EXPECT_EQ(b->next->pos.y, (b->pos + v * len).y);
    EXPECT_EQ(b->next->thickness, b->thickness - b->thickness / ref.z_zakresu(4, 10));

    t.m.roots_make(7, 1.5); // a second call keeps only its own roots
    EXPECT_EQ(t.m.root_ring_count, 7);
    int records = 0;
    for (d = t.m.roots; d; d = d->next)
        records++;
    EXPECT_EQ(records, 8);
}

TEST(RootModel, StraightAndLevelWithoutGravityOrCrookedness)
{
    Roots t(6, 7, 0.0, 0.0);
    const double R = (1.0 * 0.03 + 0.005) * 1.2;
    for (const d_typ *d = t.m.roots; d->first; d = d->next)
        for (const w_typ *c = d->first; c->next; c = c->next) {
            EXPECT_EQ(c->next->pos.y, c->pos.y);
            EXPECT_NEAR(c->next->vec.x, d->first->vec.x, 1e-15);
            const double len = (c->next->pos - c->pos).len();
            EXPECT_TRUE(len >= 0.5 * R / 3 - 1e-12 && len <= 0.5 * 5 * R / 3 + 1e-12);
        }
    t.expect_draws(7, 5 + 6 * 5 * 2); // only length and thinning draw
}

TEST(RootModel, BelowOneRootNothingIsMadeOrWritten)
{
    Roots t(0);
    EXPECT_TRUE(t.m.root_ring == nullptr && t.m.roots == nullptr);
    t.draw();
    EXPECT_EQ(t.rec.calls.size(), 4u); // the base ring alone
}

TEST(RootMesh, CollarTextureWrapsAndTubesStartOnNeighbouringPairs)
{
    Roots t(8);
    t.draw();
    // Collar points are the only root points with v = 0; each pair shares its u.
    std::vector<float> u;
    for (const auto &v : t.rec.vmaps)
        if (v.point >= 4 && v.name == "RM_branch" && v.values[1] == 0.0f)
            u.push_back(v.values[0]);
    const std::vector<float> expected = {0.375f, 0.375f, 0.5f, 0.5f, 0.625f, 0.625f, 0.75f, 0.75f,
                                         0.875f, 0.875f, 1.0f, 1.0f, 0.125f, 0.125f, 0.25f, 0.25f};
    EXPECT_EQ(u, expected);
    EXPECT_EQ(t.rec.count_vmap("RM_vectors"), 0);
    // Pair 0 = points 4, 5 (low, high); pair 1 = 6, 7; root 0's first ring 8..11.
    EXPECT_EQ(t.rec.polygons[0].points, (std::vector<int>{5, 4, 9, 8}));
    EXPECT_EQ(t.rec.polygons[2].points, (std::vector<int>{6, 7, 11, 10}));
    EXPECT_EQ(t.rec.count_surface("RM_root"), 8 * 6 * 4); // open tips: no caps
    EXPECT_TRUE(t.rec.tags.empty());
}

TEST(RootMesh, JointClosesTheCollarAroundTheBaseRing)
{
    for (int n : {5, 7, 12})
        for (int seed : {3, 30, 77}) {
            Roots t(n, seed);
            t.draw();
            std::vector<const RecordingOp::Polygon *> joint;
            for (const auto &p : t.rec.polygons)
                if (p.surface == "RM_trunk")
                    joint.push_back(&p);
            // A triangle per collar gap but the three quarter starts, a closing triangle and
            // three bridging quads.
            ASSERT_EQ(joint.size(), static_cast<std::size_t>(n + 1));
            std::vector<int> high; // high collar points in pair order
            for (const auto &v : t.rec.vmaps)
                if (v.name == "RM_branch" && v.values[1] == 0.0f && v.point >= 4 && v.point % 2)
                    high.push_back(v.point);
            for (int k = 0; k < n; k++) {
                int found = 0;
                for (const auto *p : joint)
                    found += std::count(p->points.begin(), p->points.end(), high[k]) &&
                             std::count(p->points.begin(), p->points.end(), high[(k + 1) % n]);
                EXPECT_EQ(found, 1) << n << " " << seed << " gap " << k;
            }
            for (const auto *p : joint) // fans stay in their base corner's quarter
                for (std::size_t i = 1; p->points.size() == 3 && p->points[1] >= 4 && i < 3; i++) {
                    const Cxyz &c = t.rec.points[p->points[0]], &h = t.rec.points[p->points[i]];
                    EXPECT_TRUE(c.x * h.x >= -1e-12 && c.z * h.z >= -1e-12) << n << " " << seed;
                }
        }
}

TEST(RootMesh, FewerThanThreeQuartersWriteRootsWithoutTheJoint)
{
    for (int n : {1, 2, 3}) {
        Roots t(n);
        t.draw();
        EXPECT_EQ(t.rec.count_surface("RM_root"), n * 24);
        EXPECT_EQ(t.rec.count_surface("RM_trunk"), 0);
    }
}

} // namespace
} // namespace ramulon
