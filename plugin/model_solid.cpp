// Square tubes around every chain: a ring of four points per node, four quads between rings,
// a short box with a stub where a side chain leaves its parent, and a cap at every tip. The
// same cage serves as polygons and as subdivision patches.
#include <cmath>
#include <cstring>

#include "model.h"

namespace ramulon {

namespace {

const Cxyz origin(0.0, 0.0, 0.0);

LWPntID add_point(MeshEditOp *op, Cxyz p) { return draw_point(op, &p.x); }

// A texture value that belongs to one polygon only: it closes the seam where u wraps to 1.
void seam_value(MeshEditOp *op, LWPntID point, LWPolID pol, double u, double v)
{
    float uv[2] = {static_cast<float>(u), static_cast<float>(v)};
    op->pntVPMap(op->state, point, pol, ID_TXUV, map_branch, 2, uv);
}

bool same_name(const char *a, const char *b) { return a && b && std::strcmp(a, b) == 0; }

// The short box of a fork, indices 0-3 into the near square and 4-7 into the far one. One row
// per side the side chain may leave by: the stub grows out of that face, and the three other
// faces close the box.
struct fork_face {
    int corner[2];      // far corners pulled back toward the axis
    int stub[4];        // the face the stub starts from
    int closing[3][4];  // the box's other three sides
    bool narrow_across_y; // the stub narrows in y (faces +Z and -Z) or in z
};

const fork_face fork_faces[4] = {
    {{0, 1}, {0, 1, 5, 4}, {{5, 1, 2, 6}, {2, 3, 7, 6}, {7, 3, 0, 4}}, true},  // +Z open
    {{1, 2}, {5, 1, 2, 6}, {{0, 1, 5, 4}, {2, 3, 7, 6}, {7, 3, 0, 4}}, false}, // -Y open
    {{2, 3}, {7, 6, 2, 3}, {{0, 1, 5, 4}, {5, 1, 2, 6}, {7, 3, 0, 4}}, true},  // -Z open
    {{3, 0}, {0, 4, 7, 3}, {{0, 1, 5, 4}, {5, 1, 2, 6}, {2, 3, 7, 6}}, false}, // +Y open
};

// The box side whose quad crosses the texture seam (ring point 0 on both squares).
bool is_seam_quad(const int *q) { return q[0] == 7 && q[1] == 3 && q[2] == 0 && q[3] == 4; }

int select_face(double cy, double cz)
{
    if (cz >= cy && cz >= -cy)
        return 0;
    if (-cy > cz && cz > cy)
        return 1;
    if (cy >= cz && -cy >= cz)
        return 2;
    return 3;
}

} // namespace

double model_typ::node_radius(const w_typ *n) const
{
    if (n->trunk == 1)
        return trunk_thickness * n->thickness + tips_thickness;
    if (n->twig == 1)
        return trunk_thickness * n->thickness + tips_thickness / 2;
    return branch_thickness * n->thickness + tips_thickness;
}

const char *model_typ::surface_of(const w_typ *n)
{
    if (n->trunk == 1)
        return surf_trunk;
    if (n->twig == 1)
        return surf_twig;
    return surf_branch;
}

double model_typ::path_v(double dist) const
{
    // A model without any length has no path to measure along, and neither has one whose
    // length overflowed (a crown reaching toward the largest double).
    if (longest == 0.0 || !std::isfinite(longest))
        return 0.0;
    return dist / longest;
}

void model_typ::make_points(Cxyz *pts, double a, double b, double rot_z, double rot_y)
{
    pts[0] = Cxyz(0.0, b, a);
    pts[1] = Cxyz(0.0, -b, a);
    pts[2] = Cxyz(0.0, -b, -a);
    pts[3] = Cxyz(0.0, b, -a);
    if (rot_z != 0.0) {
        const Turn turn(rot_z);
        for (int i = 0; i < 4; i++)
            pts[i].rotate_Z(turn);
    }
    if (rot_y != 0.0) {
        const Turn turn(rot_y);
        for (int i = 0; i < 4; i++)
            pts[i].rotate_Y(turn);
    }
}

void model_typ::make_poly(MeshEditOp *op, LWPntID *ring_a, LWPntID *ring_b, const char *surface,
                          char subd, float v_b, float v_a)
{
    const HostID type = solid_poly_type(subd);
    const char *colour = nullptr;
    if (same_name(surface, surf_twig))
        colour = colr_blue;
    else if (same_name(surface, surf_trunk))
        colour = colr_brown;

    LWPolID pol = nullptr;
    for (int i = 0; i < 4; i++) {
        const int j = (i + 1) % 4;
        const LWPntID pts[4] = {ring_a[i], ring_a[j], ring_b[j], ring_b[i]};
        pol = op->addPoly(op->state, type, nullptr, surface, 4, pts);
        if (colour)
            op->polTag(op->state, pol, ID_COLR, colour);
    }
    // The last quad closes the ring from point 3 back to point 0, where u wraps to 1.
    seam_value(op, ring_b[0], pol, 1.0, v_b);
    seam_value(op, ring_a[0], pol, 1.0, v_a);
}

void model_typ::draw_solid(MeshEditOp *op, char subd, st_tree *tree)
{
    if (!chains)
        return;
    longest = calc_longest_branch();

    // The main trunk stands on the ground with its base ring, not with its axis.
    if (w_typ *b0 = chains->first)
        b0->pos = b0->pos + Cxyz(0.0, b0->thickness * trunk_thickness, 0.0);

    // The base ring's thickness weight. Thickness ratios of 0 / 0 (a preset without any
    // thickness) would make it NaN; such a trunk gets weight 0 there.
    double base_falloff = wg_thick_max / (trunk_thickness / branch_thickness);
    if (std::isnan(base_falloff))
        base_falloff = 0.0;

    for (d_typ *d = chains; d; d = d->next) {
        w_typ *b = d->first;
        if (!b || b->side || !b->next || !b->next->next)
            continue;
        w_typ *n = b->next;
        const Cxyz dir = ~n->vec;

        Caxis frame;
        frame.x_axis = ~(dir + Cxyz(0.0, 1.0, 0.0));
        frame.y_axis = Cxyz(0.0, 0.0, 1.0) * frame.x_axis;
        frame.z_axis = frame.x_axis * frame.y_axis;
        frame.calc_transf_angles();

        Cxyz sq[4];
        const double r = n->thickness * trunk_thickness;
        make_points(sq, r, r, 0.0, 0.0);
        frame.to_global(sq, b->pos, 4);

        const double t0 = thickness_fun(d->base_dist, base_falloff);
        LWPntID ring[4];
        for (int i = 0; i < 4; i++) {
            ring[i] = add_point(op, sq[i]);
            add_v_maps(op, ring[i], -1.0f, static_cast<float>(t0), static_cast<float>(i * 0.25),
                       0.0f, dir, num_segments, num_segments);
        }

        // Roots are made for every drawn chain, so their draws never depend on the height.
        roots_make(num_roots, n->thickness);
        if (b->pos.y < 0.5)
            draw_roots(op, subd, ring, b->pos, 0.0);

        draw_solid_sgm(op, ring, n, subd, frame, 0.0, nullptr);
    }

    draw_leaves(op, tree);
}

void model_typ::draw_solid_sgm(MeshEditOp *op, LWPntID *prev_ring, w_typ *w, char subd,
                               const Caxis &frame, double dist, [[maybe_unused]] w_typ *prev_node)
{
    const HostID type = solid_poly_type(subd);
    if (!w) {
        op->addPoly(op->state, type, nullptr, surf_branch, 4, prev_ring);
        return;
    }

    const Caxis f = calc_new_axes(&frame, w->vec);
    Cxyz sq[8]; // near square, then the far square of a fork
    const double radius = node_radius(w);
    make_points(sq, radius, radius, 0.0, 0.0);

    const double v_a = path_v(dist);
    dist += w->vec.len();
    const double v_b = path_v(dist);

    // Weight values: the range step by age and the thickness falloff.
    double t = num_segments != 0 ? static_cast<double>(w->age) / static_cast<double>(num_segments)
                                 : 1.0;
    if (t > 1.0)
        t = 1.0;
    float range = static_cast<float>(leaf_density_fun(t, wg_range, wg_hardness));
    float thick = static_cast<float>(thickness_fun(w->thickness, wg_thick_max));
#if RAMULON_GENERATION != 9
    // A running blend along the chain; the leaves read the values from their owner nodes.
    if (prev_node) {
        range = static_cast<float>(0.3 * range + 0.7 * prev_node->range_val);
        thick = static_cast<float>(0.3 * thick + 0.7 * prev_node->thick_val);
    }
    w_typ *const receivers[4] = {w, w->next, w->side, w->side ? w->side->next : nullptr};
    for (w_typ *n : receivers) {
        if (n) {
            n->thick_val = thick;
            n->range_val = range;
        }
    }
#endif

    LWPntID ring[4];
    // A side chain without a second node has no segment to draw; its node is drawn plainly.
    if (!w->side || !w->next || !w->side->next) {
        f.to_global(sq, w->pos, 4);
        for (int i = 0; i < 4; i++) {
            ring[i] = add_point(op, sq[i]);
            add_v_maps(op, ring[i], range, thick, static_cast<float>(i * 0.25),
                       static_cast<float>(v_b), w->vec, w->age, num_segments);
        }
        make_poly(op, prev_ring, ring, surface_of(w), subd, static_cast<float>(v_b),
                  static_cast<float>(v_a));
        draw_solid_sgm(op, ring, w->next, subd, f, dist, w);
        return;
    }

    // Fork: a short box beyond the node, out of one of whose sides the side chain grows.
    w_typ *s = w->side;
    w_typ *s2 = s->next;
    w->next->vec = w->next->pos - w->pos;
    s->vec = s2->pos - w->pos;

    Cxyz c = ~s->vec;
    f.to_local(&c, origin, 1);
    const int open_side = select_face(c.y, c.z);
    const fork_face &face = fork_faces[open_side];

    const double rs = branch_thickness * s2->thickness +
                      (s->twig == 1 ? tips_thickness / 2 : tips_thickness);
    const double rn = (w->trunk == 1 ? trunk_thickness : branch_thickness) * w->next->thickness +
                      tips_thickness;

    // The more the side chain follows its parent, the farther the box's open side leans out.
    const double angle = w->vec.calc_angle(s->vec);
    const double d = std::fabs((PI2 - angle) * 3 / PI) * rs;

    for (int i = 0; i < 4; i++)
        sq[4 + i] = sq[i] + Cxyz(2 * rs, 0.0, 0.0);
    for (int k : face.corner) {
        Cxyz &p = sq[4 + k];
        p.x += d;
        switch (open_side) {
        case 0: p.z -= d; break;
        case 1: p.y += d; break;
        case 2: p.z += d; break;
        default: p.y -= d; break;
        }
    }

    Cxyz stub[4];
    for (int i = 0; i < 4; i++)
        stub[i] = sq[face.stub[i]] + c * (0.5 * rs);
    // A parent thicker than the side chain: the stub narrows to the side chain's size.
    if (rn > rs) {
        const double e = rn - rs;
        if (face.narrow_across_y) {
            stub[0].y -= e;
            stub[3].y -= e;
            stub[1].y += e;
            stub[2].y += e;
        } else {
            stub[0].z -= e;
            stub[1].z -= e;
            stub[2].z += e;
            stub[3].z += e;
        }
    }

    f.to_global(sq, w->pos, 4);
    f.to_global(sq + 4, w->pos, 4);
    f.to_global(stub, w->pos, 4);

    const double v_far = path_v(dist + 2 * rs);
    const double v_stub = path_v(dist + 0.5 * rs);

    LWPntID ids[8]; // near ring, far ring
    LWPntID stub_ring[4];
    for (int i = 0; i < 4; i++) {
        const float u = static_cast<float>(i * 0.25);
        ids[i] = add_point(op, sq[i]);
        add_v_maps(op, ids[i], range, thick, u, static_cast<float>(v_b), w->vec, w->age,
                   num_segments);
        ids[4 + i] = add_point(op, sq[4 + i]);
        add_v_maps(op, ids[4 + i], range, thick, u, static_cast<float>(v_far), w->vec, w->age,
                   num_segments);
        stub_ring[i] = add_point(op, stub[i]);
        add_v_maps(op, stub_ring[i], range, thick, u, static_cast<float>(v_stub), w->vec, w->age,
                   num_segments);
    }

    const char *surface = surface_of(w);
    make_poly(op, prev_ring, ids, surface, subd, static_cast<float>(v_b), static_cast<float>(v_a));

    LWPntID face_ids[4];
    for (int i = 0; i < 4; i++)
        face_ids[i] = ids[face.stub[i]];
    for (int i = 0; i < 4; i++) {
        const int j = (i + 1) % 4;
        const LWPntID pts[4] = {face_ids[i], face_ids[j], stub_ring[j], stub_ring[i]};
        const LWPolID pol = op->addPoly(op->state, type, nullptr, surface, 4, pts);
        seam_value(op, face_ids[i], pol, i * 0.25, v_b);
        seam_value(op, face_ids[j], pol, (i + 1) * 0.25, v_b);
        if (i == 3)
            seam_value(op, stub_ring[0], pol, 1.0, v_stub);
    }

    for (const int *q : face.closing) {
        const LWPntID pts[4] = {ids[q[0]], ids[q[1]], ids[q[2]], ids[q[3]]};
        const LWPolID pol = op->addPoly(op->state, type, nullptr, surface, 4, pts);
        if (is_seam_quad(q)) {
            seam_value(op, ids[0], pol, 1.0, v_b);
            seam_value(op, ids[4], pol, 1.0, v_far);
        }
    }

    // The rest of the parent chain first, then the side chain from the stub.
    draw_solid_sgm(op, ids + 4, w->next, subd, f, dist, w);
    draw_solid_sgm(op, stub_ring, s2, subd, f, dist, w);
}

} // namespace ramulon
