// The root mesh of one trunk: a collar of point pairs around the trunk base, one square tube per
// root starting from two neighbouring collar pairs, and a fan that joins the trunk's base ring
// to the collar.
#include <cmath>
#include <memory>

#include "model.h"

namespace ramulon {

namespace {

// Writes one texture value of a point that holds only on the given polygon (texture seams).
void seam_value(MeshEditOp *op, LWPntID pnt, LWPolID pol, float u, float v)
{
    float uv[2] = {u, v};
    op->pntVPMap(op->state, pnt, pol, ID_TXUV, map_branch, 2, uv);
}

LWPolID joint_poly(MeshEditOp *op, char subd, int count, const LWPntID *pts)
{
    return op->addPoly(op->state, solid_poly_type(subd), nullptr, surf_trunk, count, pts);
}

} // namespace

void model_typ::draw_roots(MeshEditOp *op, char subd, LWPntID *base_ring, Cxyz base_pos,
                           double angle)
{
    const int n = root_ring_count;
    if (!base_ring || !root_ring || n < 1 || !roots || !roots->first)
        return;

    // The collar: pair k lies under ring point k, its low point sunk below the trunk base,
    // its high point a root's thickness above it.
    const double h = roots->first->thickness * branch_thickness * 2.0;
    const double drop = root_radius * trunk_thickness + tips_thickness + h;
    std::unique_ptr<LWPntID[]> high(new LWPntID[n]);
    LWPntID low0 = nullptr;
    auto make_pair = [&](int k, LWPntID &lo, LWPntID &hi) {
        Cxyz p = root_ring[k];
        p.rotate_Y(angle);
        p = p + base_pos;
        p.y -= drop;
        lo = draw_point(op, &p.x);
        p.y += h;
        hi = draw_point(op, &p.x);
        double u = static_cast<double>(k) / n + 0.375;
        if (u > 1.0)
            u -= 1.0;
        add_v_maps(op, lo, -1.0f, 0.0f, static_cast<float>(u), 0.0f, Cxyz(), 15, 0);
        add_v_maps(op, hi, -1.0f, 0.0f, static_cast<float>(u), 0.0f, Cxyz(), 15, 0);
        high[k] = hi;
    };
    make_pair(0, low0, high[0]);

    // One tube per root, its first ring made of the previous and the current collar pair;
    // the last root closes the collar back to pair 0.
    LWPntID prev_low = low0, prev_high = high[0];
    int next_pair = 1;
    for (d_typ *r = roots; r && r->first; r = r->next) {
        LWPntID cur_low = low0, cur_high = high[0];
        const bool last = !r->next || !r->next->first;
        if (!last && next_pair < n)
            make_pair(next_pair++, cur_low, cur_high);

        Caxis frame;
        frame.x_axis = ~r->first->vec;
        frame.z_axis = ~(frame.x_axis * Cxyz(0.0, 1.0, 0.0));
        frame.y_axis = ~(frame.x_axis * frame.z_axis);
        LWPntID ring[4] = {prev_high, prev_low, cur_low, cur_high};
        draw_root_sgm(op, ring, r->first, subd, frame, 0.0, base_pos, angle);
        prev_low = cur_low;
        prev_high = cur_high;
    }

    // Quarters around the trunk: the first collar point of the second, third and fourth
    // quarter, walking from +X through -Z, -X and +Z.
    static const int quarter_sx[4] = {1, -1, -1, 1};
    static const int quarter_sz[4] = {-1, -1, 1, 1};
    int c = 0; // quarter changes found; the state is quarter c
    for (int k = 0; k < n && c < 3; k++) {
        if (quarter_sx[c] * root_ring[k].x < 0 || quarter_sz[c] * root_ring[k].z < 0) {
            root_quarter[c] = k;
            c += 1;
        }
    }
    root_quarter[3] = n + 1;
    // With fewer than five roots a quarter can stay empty; the fan then has no sound shape
    // and the roots stand on their collar alone.
    if (c < 3 || root_quarter[0] < 1)
        return;

    const int s = static_cast<int>(std::floor((n + 1) - (n + 1) * 0.375));
    const float v_joint = static_cast<float>(path_v(root_radius * trunk_thickness));

    // Fans: each base corner joins the collar points of its own quarter.
    int corner = 2, j = 1;
    for (int q = 0; q < 4; q++) {
        while (j < root_quarter[q]) {
            if (!(q > 0 && j == root_quarter[q - 1])) {
                const LWPntID tri[3] = {base_ring[corner], high[j - 1], j == n ? high[0] : high[j]};
                const LWPolID pol = joint_poly(op, subd, 3, tri);
                if (corner == 0 && j <= s)
                    seam_value(op, base_ring[0], pol, 1.0f, v_joint);
                if (j == s)
                    seam_value(op, tri[2], pol, 1.1f, 0.0f);
            }
            j += 1;
        }
        corner = (corner + 1) % 4;
    }

    // Closing polygons bridge neighbouring quarters.
    const int q0 = root_quarter[0], q1 = root_quarter[1], q2 = root_quarter[2];
    const LWPntID tri[3] = {base_ring[2], base_ring[1], high[0]};
    joint_poly(op, subd, 3, tri);
    const LWPntID quad0[4] = {base_ring[3], base_ring[2], high[q0 - 1], high[q0]};
    joint_poly(op, subd, 4, quad0);
    const LWPntID quad1[4] = {base_ring[0], base_ring[3], high[q1 - 1], high[q1]};
    seam_value(op, base_ring[0], joint_poly(op, subd, 4, quad1), 1.1f, v_joint);
    const LWPntID quad2[4] = {base_ring[1], base_ring[0], high[q2 - 1], high[q2]};
    joint_poly(op, subd, 4, quad2);
}

void model_typ::draw_root_sgm(MeshEditOp *op, LWPntID *prev_ring, w_typ *node, char subd,
                              const Caxis &frame, double count, Cxyz offset, double angle)
{
    // Root tips stay open.
    if (!node)
        return;

    const Caxis f = calc_new_axes(&frame, node->vec);
    Cxyz pts[4];
    const double a = node->thickness * branch_thickness;
    make_points(pts, a, a, 0.0, 0.0);
    f.to_global(pts, node->pos, 4);

    const float v_prev = static_cast<float>(count / 10);
    count += 1;
    const float v_new = static_cast<float>(count / 10);

    LWPntID ring[4];
    for (int i = 0; i < 4; i++) {
        Cxyz p = pts[i];
        p.rotate_Y(angle);
        p = p + offset;
        ring[i] = draw_point(op, &p.x);
        add_v_maps(op, ring[i], -1.0f, 0.0f, static_cast<float>(i * 0.25), v_new, Cxyz(), 15, 0);
    }
    make_poly(op, prev_ring, ring, surf_root, subd, v_new, v_prev);
    draw_root_sgm(op, ring, node->next, subd, f, count, offset, angle);
}

} // namespace ramulon
