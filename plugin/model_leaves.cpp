// Leaves: one record per twig node with its random traits, and their geometry, written as
// copies of a leaf template sized and bent by age, jittered, hung against the twig and placed
// along its segment.
#include <cmath>

#include "leaf.h"
#include "model.h"

namespace ramulon {

void model_typ::add_leaves(w_typ *n, st_tree *t, random *r)
{
    if (!n)
        return;
    if (n->next)
        add_leaves(n->next, t, r);
    if (n->side)
        add_leaves(n->side, t, r);
    if (n->twig == 0)
        return;

    l_typ *leaf = new l_typ;
    leaf->next = leaves;
    leaves = leaf;
    leaf->pos = n->pos;
    leaf->dir = n->vec;
    if (!n->next && !n->side)
        leaf->tip = 1;
    if (r->TorF())
        leaf->flip = 1;
    leaf->spin = r->percent();
    if (r->TorF())
        leaf->spin = -leaf->spin;
    leaf->owner = n;
    leaf->rel_age = static_cast<double>(n->age) / t->num_segments / t->twig_range;
}

namespace {

constexpr int max_copies = 10;

// The cell of the 3 x 3 leaf atlas along one axis: the source truncated toward zero, kept
// inside the atlas (ages from 1.5 up, and values that are no number at all, included).
int atlas_cell(double source)
{
    const double cell = std::trunc(source);
    if (cell >= 2.0)
        return 2;
    if (!(cell >= 0.0))
        return 0;
    return static_cast<int>(cell);
}

// Jitter: every copy twisted and scaled a little differently.
void jitter_copy(leaf_typ &tpl, double randomness, double spin, int k)
{
    const double angle = randomness * std::sin(6.0 * spin + 1.7 * k);
    const Turn tz(0.3 * angle), tx(0.8 * angle), ty(angle);
    for (int i = 0; i < tpl.num_points; i++) {
        Cxyz &p = tpl.points[i];
        p.rotate_Z(tz);
        p.rotate_X(tx);
        p.rotate_Y(ty);
        p = p + p * angle;
    }
}

// A leaf's frame: its length along the twig direction d, tilted down by its hang and, off the
// tip, turned outward from the tree; a mirrored copy faces the other side.
Caxis leaf_frame(const Cxyz &up, const Cxyz &d, const Cxyz &outward, double hang, double side,
                 bool tip, bool mirror)
{
    Caxis f;
    if (tip) {
        f.y_axis = up;
        f.x_axis = f.y_axis * d;
        f.z_axis = f.y_axis * f.x_axis;
        f.y_axis = ~(f.y_axis * (1 - hang) - f.z_axis * (side * hang));
    } else {
        f.y_axis = up;
        f.z_axis = d * f.y_axis;
        if (mirror)
            f.z_axis = !f.z_axis;
        f.y_axis = ~(f.y_axis * (1 - hang) + f.z_axis * (side * hang));
        f.z_axis = d * f.y_axis;
        if (mirror)
            f.z_axis = !f.z_axis;
        f.z_axis = ~(f.z_axis + outward);
        f.x_axis = f.y_axis * f.z_axis;
    }
    f.calc_transf_angles();
    return f;
}

} // namespace

void model_typ::draw_leaves(MeshEditOp *op, st_tree *tree)
{
    if (tree->leaf_shape == 0)
        return;
    const int per = tree->leaf_twin != 0 ? 2 : 1;
    // In 64 bits: a typed density near the int limit must not wrap round when doubled.
    long long asked = static_cast<long long>(tree->leaf_density) * per;
    if (asked > max_copies)
        asked = max_copies;
    const int copies = asked < 0 ? 0 : static_cast<int>(asked);
    // Shapes count from 1 on the panel and from 0 in the template; a negative one (only a preset
    // carries it) has no template, and the lowest int must not wrap round to the highest.
    const int template_shape = tree->leaf_shape > 0 ? tree->leaf_shape - 1 : -1;

    const Cxyz up(0.0, 1.0, 0.0);
    for (l_typ *leaf = leaves; leaf; leaf = leaf->next) {
        // Young leaves near the tip are small and hang little; old ones grow to full size.
        const double s = std::sqrt(leaf->rel_age);
        double hang = (1 - s) * tree->leaf_tip_hang + s * tree->leaf_hang;
        double side = 1.0;
        if (hang < 0) {
            side = -1.0;
            hang = -hang;
        }
        const double size = (1 - s) * tree->leaf_size_tip + s * tree->leaf_size;

        const bool jitter = leaf->spin * tree->leaf_randomness != 0;
        const Cxyz d = ~leaf->dir;
        const Cxyz outward = ~leaf->pos * tree->leaf_out;

        // A tip carries one leaf; elsewhere twins share a position and successive pairs step
        // along the segment. Each copy is made, bent, framed, placed and written in turn: no
        // copy's values depend on another's, and only the writing reaches the host.
        const int written = leaf->tip ? 1 : copies;
        Caxis frames[2];
        for (int k = 0; k < written; k++) {
            // The template stays empty (and writes nothing) for a copy the density does not
            // ask for.
            leaf_typ tpl;
            if (k < copies) {
                tpl.make(template_shape, tree->leaf_length * size, tree->leaf_width * size);
                tpl.atlas_column = leaf->spin;
                tpl.atlas_row = leaf->rel_age;
                if (jitter)
                    jitter_copy(tpl, tree->leaf_randomness, leaf->spin, k);
            }

            // The frame: the leaf's length along the twig, tilted down by its hang and, off
            // the tip, turned outward from the tree; twins face opposite sides. A frame depends
            // on the copy only through the side it faces (k % per): every later pair is framed
            // as the first one, so the first pair's frames are worked out and kept.
            if (k < per)
                frames[k] = leaf_frame(up, d, outward, hang, side, leaf->tip != 0,
                                       (leaf->flip && per == 1) || (per == 2 && k % 2 == 0));
            const Caxis &f = frames[k % per];

            const int j = k / per;
            const Cxyz origin = leaf->pos.move(leaf->dir * j / tree->leaf_density);
            f.to_global(tpl.points, origin, tpl.num_points);
#if RAMULON_GENERATION == 9
            draw_leaf(op, &tpl);
#else
            const w_typ *owner = leaf->owner;
            draw_leaf(op, &tpl, owner ? owner->thick_val : -10.0f,
                      owner ? owner->range_val : -10.0f);
#endif
        }
    }
}

#if RAMULON_GENERATION == 9
void model_typ::draw_leaf(MeshEditOp *op, leaf_typ *leaf)
#else
void model_typ::draw_leaf(MeshEditOp *op, leaf_typ *leaf, float thick_value, float range_value)
#endif
{
#if RAMULON_GENERATION != 9
    // The owner node was never drawn as a tube: its leaves stay unwritten.
    if (thick_value == -10.0f && range_value == -10.0f)
        return;
#endif
    if (!leaf || leaf->num_points < 1)
        return;

    const int column = atlas_cell((leaf->atlas_column + 1.0) * 1.5);
    const int row = atlas_cell(leaf->atlas_row * 2.0);
    // The cell's corner and the point count are the same for every point of the leaf; the
    // host's calls between the points cannot change them, so they are read once.
    const double column_corner = static_cast<double>(column) / 3;
    const double row_corner = static_cast<double>(row) / 3;
    const int points = leaf->num_points < 6 ? leaf->num_points : 6;
    LWPntID ids[6];
    for (int i = 0; i < points; i++) {
        ids[i] = draw_point(op, &leaf->points[i].x);
        const double u = leaf->uv[i][0], v = leaf->uv[i][1];
        float own[2] = {leaf->uv[i][0], leaf->uv[i][1]};
        op->pntVMap(op->state, ids[i], ID_TXUV, map_leaf, 2, own);
        float atlas[2] = {static_cast<float>(column_corner + u / 3),
                          static_cast<float>(row_corner + v / 3)};
        op->pntVMap(op->state, ids[i], ID_TXUV, map_all_leaves, 2, atlas);
#if RAMULON_GENERATION != 9
        float range = static_cast<float>(range_value * v * 0.3 + range_value);
        op->pntVMap(op->state, ids[i], ID_WGHT, map_range, 1, &range);
        float thick = static_cast<float>(thick_value * v * 0.3 + thick_value);
        op->pntVMap(op->state, ids[i], ID_WGHT, map_thick, 1, &thick);
#endif
    }

    const int per_poly = leaf->points_per_poly();
    for (int p = 0; p < leaf->num_polys; p++) {
        LWPntID pts[4];
        for (int i = 0; i < per_poly; i++)
            pts[i] = ids[leaf->polys[p * per_poly + i]];
        const LWPolID pol = op->addFace(op->state, surf_leaf, per_poly, pts);
        op->polTag(op->state, pol, ID_COLR, colr_green);
    }
}

} // namespace ramulon
