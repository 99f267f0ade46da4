// The geometry kernel: vectors, frames, areas and the random source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "includes/area.h"
#include "includes/axis.h"
#include "includes/random.h"

namespace ramulon {
namespace {

TEST(Cxyz, ZeroVectorNeverBecomesNaN)
{
    const Cxyz zero;
    const Cxyz u = ~zero;
    EXPECT_EQ(u.x, 0.0);
    EXPECT_EQ(u.y, 0.0);
    EXPECT_EQ(u.z, 0.0);
    const Cxyz d = Cxyz(1, 2, 3) / 0.0;
    EXPECT_EQ(d.x, 0.0);
    EXPECT_EQ(d.z, 0.0);
}

TEST(Cxyz, AnglesBetweenVectors)
{
    EXPECT_EQ(Cxyz().calc_angle(Cxyz(1, 0, 0)), 0.0);
    EXPECT_EQ(Cxyz(2, 0, 0).calc_angle(Cxyz(5, 0, 0)), 0.0);
    EXPECT_DOUBLE_EQ(Cxyz(1, 0, 0).calc_angle(Cxyz(-1, 0, 0)), std::acos(-1.0));
    // Nearly opposite vectors whose cosine rounds below -1 still give pi, not NaN.
    const Cxyz a(0.1, 0.7, 0.3), b = !a * 3.0;
    EXPECT_FALSE(std::isnan(a.calc_angle(b)));
    EXPECT_NEAR(a.calc_angle(Cxyz(0.0, 1.0, 0.0)), std::acos(0.7 / a.len()), 1e-15);
}

TEST(Cxyz, CrossProductAndRotations)
{
    const Cxyz c = Cxyz(1, 0, 0) * Cxyz(0, 1, 0);
    EXPECT_EQ(c.x, 0.0);
    EXPECT_EQ(c.y, 0.0);
    EXPECT_EQ(c.z, 1.0);
    // Each rotation turns by -t: rotate_Z by +pi/2 carries +x onto -y.
    Cxyz r(1, 0, 0);
    r.rotate_Z(PI2);
    EXPECT_NEAR(r.x, 0.0, 1e-12);
    EXPECT_NEAR(r.y, -1.0, 1e-12);
    Cxyz same(1, 2, 3);
    same.rotate_X(0.0).rotate_Z(0.0);
    EXPECT_EQ(same.y, 2.0);
    EXPECT_EQ(same.z, 3.0);
    EXPECT_TRUE(Cxyz(0, 0, NAN) != 0.0);
    EXPECT_FALSE(Cxyz(0, 0, 0) != 0.0);
}

TEST(Caxis, LocalAndGlobalAreInverse)
{
    Caxis f;
    f.x_axis = Cxyz(1, 2, 0.5);
    f.y_axis = ~(Cxyz(0, 0, 1) * f.x_axis);
    f.z_axis = f.x_axis * f.y_axis;
    f.calc_transf_angles();
    Cxyz pts[2] = {Cxyz(0.3, -1.2, 4.0), Cxyz(-2, 0, 1)};
    const Cxyz orig[2] = {pts[0], pts[1]};
    const Cxyz origin(5, 6, 7);
    f.to_local(pts, origin, 2);
    f.to_global(pts, origin, 2);
    for (int i = 0; i < 2; i++) {
        EXPECT_NEAR(pts[i].x, orig[i].x, 1e-12);
        EXPECT_NEAR(pts[i].y, orig[i].y, 1e-12);
        EXPECT_NEAR(pts[i].z, orig[i].z, 1e-12);
    }
    // Local X goes onto the direction of x_axis.
    Cxyz ex(1, 0, 0);
    f.to_global(&ex, Cxyz(), 1);
    const Cxyz want = ~f.x_axis;
    EXPECT_NEAR(ex.x, want.x, 1e-12);
    EXPECT_NEAR(ex.y, want.y, 1e-12);
    EXPECT_NEAR(ex.z, want.z, 1e-12);
}

// The same double to the last bit: -0 and +0 differ here, as the host's points keep them.
bool same_bits(double a, double b) { return std::signbit(a) == std::signbit(b) && (a == b || a != a); }

bool same_points(const Cxyz &a, const Cxyz &b)
{
    return same_bits(a.x, b.x) && same_bits(a.y, b.y) && same_bits(a.z, b.z);
}

Caxis worked_out(Cxyz x_axis, Cxyz y_axis)
{
    Caxis f;
    f.x_axis = x_axis;
    f.y_axis = y_axis;
    f.z_axis = x_axis * y_axis;
    f.calc_transf_angles();
    return f;
}

// A frame places points by its three angles alone: angles written after the working-out (or a
// frame never worked out at all) must not be placed with turns kept from before.
TEST(Caxis, PlacingFollowsTheAnglesAsTheyAreNow)
{
    const Caxis steep = worked_out(Cxyz(0.3, 0.9, -0.2), Cxyz(-0.9, 0.3, 0.1));
    const Cxyz origin(5, -6, 7);
    const Cxyz start[3] = {Cxyz(0.3, -1.2, 4.0), Cxyz(-2, 0, 1), Cxyz(0.5, 0.25, -0.125)};

    // A frame worked out for other axes, then given the steep frame's angles one by one: once
    // all three are written it places (both ways) exactly as the steep frame does.
    Caxis f = worked_out(Cxyz(1, 2, 0.5), ~(Cxyz(0, 0, 1) * Cxyz(1, 2, 0.5)));
    f.angle_x = steep.angle_x;
    f.angle_y = steep.angle_y;
    f.angle_z = steep.angle_z;
    Cxyz want[3], got[3];
    std::copy(start, start + 3, want);
    std::copy(start, start + 3, got);
    steep.to_global(want, origin, 3);
    f.to_global(got, origin, 3);
    for (int i = 0; i < 3; i++)
        EXPECT_TRUE(same_points(got[i], want[i])) << "to_global " << i;
    std::copy(start, start + 3, want);
    std::copy(start, start + 3, got);
    steep.to_local(want, origin, 3);
    f.to_local(got, origin, 3);
    for (int i = 0; i < 3; i++)
        EXPECT_TRUE(same_points(got[i], want[i])) << "to_local " << i;

    // One angle written alone is followed too: a quarter turn about y carries +x onto +z.
    Caxis quarter;
    quarter.angle_y = PI2;
    Cxyz ex(1, 0, 0);
    quarter.to_global(&ex, Cxyz(), 1);
    EXPECT_NEAR(ex.z, 1.0, 1e-12);
    EXPECT_NEAR(ex.x, 0.0, 1e-12);
}

// The turns a frame keeps from its working-out are the very turns its angles give: a frame
// worked out and a frame handed the same three angles place every point to the same bits.
TEST(Caxis, WorkedOutFramesPlaceAsTheirAnglesAlone)
{
    const Cxyz axes[][2] = {{Cxyz(1, 2, 0.5), Cxyz(0.2, -0.1, 1)},
                            {Cxyz(-0.3, -0.9, 0.2), Cxyz(0.9, -0.3, -0.4)},
                            {Cxyz(-2, 0.1, -3), Cxyz(0.5, 4, 0.25)},
                            {Cxyz(0, 0, -1), Cxyz(0, 1, 0)}};
    const Cxyz start[3] = {Cxyz(0.3, -1.2, 4.0), Cxyz(-2, 0, 1), Cxyz(1e-3, 7.5, -0.125)};
    const Cxyz origin(-1.5, 0.25, 3);
    for (const auto &a : axes) {
        const Caxis worked = worked_out(a[0], a[1]);
        Caxis handed;
        handed.angle_x = worked.angle_x;
        handed.angle_y = worked.angle_y;
        handed.angle_z = worked.angle_z;
        for (bool global : {true, false}) {
            Cxyz got[3], want[3];
            std::copy(start, start + 3, got);
            std::copy(start, start + 3, want);
            if (global) {
                worked.to_global(got, origin, 3);
                handed.to_global(want, origin, 3);
            } else {
                worked.to_local(got, origin, 3);
                handed.to_local(want, origin, 3);
            }
            for (int i = 0; i < 3; i++)
                EXPECT_TRUE(same_points(got[i], want[i])) << a[0].x << " " << global << " " << i;
        }
    }
}

TEST(Caxis, ZeroAnglesKeepTheSignsOfZeroCoordinates)
{
    const Cxyz minus_zero(-0.0, -0.0, -0.0);
    // A frame never worked out turns about y by sin(-0) = -0: a -0 across stays -0.
    const Caxis fresh;
    Cxyz p(-0.0, 2.0, 0.0);
    fresh.to_global(&p, minus_zero, 1);
    EXPECT_TRUE(same_points(p, Cxyz(-0.0, 2.0, 0.0)));
    // The way back turns by sin(+0) = +0: -0 plus +0 gives +0.
    Cxyz q(-0.0, 2.0, 1.0);
    fresh.to_local(&q, Cxyz(), 1);
    EXPECT_TRUE(same_points(q, Cxyz(0.0, 2.0, 1.0)));
    // An angle of -0 is another angle than +0: sin(+0) = +0 there, and the -0 becomes +0.
    Caxis turned;
    turned.angle_y = -0.0;
    Cxyz r(-0.0, 2.0, 0.0);
    turned.to_global(&r, minus_zero, 1);
    EXPECT_TRUE(same_points(r, Cxyz(0.0, 2.0, 0.0)));
}

TEST(Caxis, NewAxesAlongPreviousZCollapse)
{
    Caxis prev;
    prev.z_axis = Cxyz(0, 0, 1);
    const Caxis a = calc_new_axes(&prev, Cxyz(0, 0, 3));
    EXPECT_EQ(a.y_axis.len(), 0.0);
    EXPECT_EQ(a.z_axis.len(), 0.0);
    EXPECT_EQ(a.angle_x, 0.0);
}

TEST(Random, GlibcSequenceForSeed30)
{
    random r;
    r.fixed(30);
    EXPECT_EQ(r.next(), 493850533);
    EXPECT_EQ(r.next(), 1867792571);
    EXPECT_EQ(r.next(), 1191308030);
    // Seed 0 is taken as 1; fixed() leaves only the last seed in effect.
    random a, b;
    a.fixed(0);
    b.seed(1);
    EXPECT_EQ(a.next(), b.next());
}

TEST(Random, EqualBoundsDrawNothing)
{
    random a, b;
    a.fixed(7);
    b.fixed(7);
    EXPECT_EQ(a.z_zakresu(5, 5), 5);
    EXPECT_EQ(a.z_zakresu(2.5, 2.5), 2.5);
    EXPECT_EQ(a.next(), b.next());
}

TEST(Random, RangesIgnoreBoundOrder)
{
    random a, b;
    a.fixed(11);
    b.fixed(11);
    for (int i = 0; i < 100; i++) {
        EXPECT_EQ(a.z_zakresu(7, 3), b.z_zakresu(3, 7));
        EXPECT_EQ(a.z_zakresu(1.0, -1.0), b.z_zakresu(-1.0, 1.0));
    }
    // z_zakresu(0, 1) is 0 below one half of the draw and 1 above.
    random c, d;
    c.fixed(99);
    d.fixed(99);
    for (int i = 0; i < 200; i++) {
        const int32_t raw = d.next();
        EXPECT_EQ(c.z_zakresu(0, 1), static_cast<float>(raw) / 2147483648.0f >= 0.5f ? 1 : 0);
    }
}

TEST(Random, PercentAndTorF)
{
    random a, b;
    a.fixed(3);
    b.fixed(3);
    for (int i = 0; i < 100; i++) {
        const float p = a.percent();
        EXPECT_GE(p, 0.0f);
        EXPECT_LE(p, 1.0f);
        EXPECT_EQ(p, static_cast<float>(b.next()) / 2147483648.0f);
        EXPECT_EQ(a.TorF(), b.next() < 1073741823 ? 1 : 0);
    }
}

face6_typ polygon(std::initializer_list<Cxyz> pts, Cxyz normal)
{
    face6_typ f;
    f.num = static_cast<int>(pts.size());
    f.points.reset(new Cxyz[pts.size()]);
    int i = 0;
    for (const Cxyz &p : pts)
        f.points[i++] = p;
    f.normal = normal;
    return f;
}

TEST(Area, SquareAndDegenerate)
{
    face6_typ sq[2];
    sq[0] = polygon({Cxyz(0, 0, 0), Cxyz(1, 0, 0), Cxyz(1, 0, 1), Cxyz(0, 0, 1)}, Cxyz(0, 1, 0));
    sq[1] = polygon({Cxyz(0, 0, 0), Cxyz(1, 0, 0)}, Cxyz(0, 1, 0));
    EXPECT_DOUBLE_EQ(calc_poly_area(0, sq), 1.0);
    EXPECT_EQ(calc_poly_area(1, sq), 0.0);
    EXPECT_DOUBLE_EQ(calc_area(sq, 2), 1.0);
    // Collinear points: Heron's product may round below zero; the area is 0, never NaN.
    const double a = calc_triangle_area(Cxyz(0, 0, 0), Cxyz(0.1, 0.2, 0.3), Cxyz(0.3, 0.6, 0.9));
    EXPECT_FALSE(std::isnan(a));
    EXPECT_NEAR(a, 0.0, 1e-9);
}

TEST(Random, PointOnPolygonStaysInside)
{
    random r;
    r.fixed(5);
    const face6_typ tri = polygon({Cxyz(0, 1, 0), Cxyz(2, 1, 0), Cxyz(0, 3, 2)}, Cxyz(0, -1, 1));
    for (int i = 0; i < 500; i++) {
        const Cxyz p = r.z_polygonu(&tri);
        // the triangle's plane: z = y - 1
        EXPECT_NEAR(p.z, p.y - 1.0, 1e-9);
        EXPECT_GE(p.x, -1e-9);
        EXPECT_GE(p.z, -1e-9);
        EXPECT_LE(p.x + p.z, 2.0 + 1e-9);
    }
    const face6_typ two = polygon({Cxyz(1, 1, 1), Cxyz(2, 2, 2)}, Cxyz(0, 1, 0));
    random s, t;
    s.fixed(5);
    t.fixed(5);
    const Cxyz none = s.z_polygonu(&two);
    EXPECT_EQ(none.len(), 0.0);
    EXPECT_EQ(s.next(), t.next());
}

TEST(Random, PointOnPolygonWithEdgeAlongTheSamplingLine)
{
    // A square whose first edge runs along local z: an edge with p.x == q.x that the walk
    // meets must not divide by zero.
    random r;
    r.fixed(8);
    const face6_typ sq =
        polygon({Cxyz(0, 0, 0), Cxyz(1, 0, 0), Cxyz(1, 0, 1), Cxyz(0, 0, 1)}, Cxyz(0, 1, 0));
    for (int i = 0; i < 500; i++) {
        const Cxyz p = r.z_polygonu(&sq);
        EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
        EXPECT_NEAR(p.y, 0.0, 1e-12);
        EXPECT_GE(p.x, -1e-9);
        EXPECT_LE(p.x, 1.0 + 1e-9);
        EXPECT_GE(p.z, -1e-9);
        EXPECT_LE(p.z, 1.0 + 1e-9);
    }
}

} // namespace
} // namespace ramulon
