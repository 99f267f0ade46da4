// A trunk grows from its start point high in the crown down to the ground, drawn toward the
// vertical axis through the origin.
#include <algorithm>
#include <cmath>

#include "trees.h"
#include "trees_internal.h"

namespace ramulon {

void grow_trunk(galaz_typ *g, st_tree *t, random *rnd)
{
    const int k = t->num_segments;
    const int s = t->sub_segments;

    // Trunks lengthen their steps at half the rate of branches, and start at half the step.
    // Without segments the trunk makes no step; rate and cap are then never used.
    const double q = t->bias / (2.0 * segments_divisor(t)) + 1;
    g->step_len = g->step_len / 2;
    g->grow_vect.x = -g->last->pos.x;
    g->grow_vect.z = -g->last->pos.z;
    g->grow_vect = ~g->grow_vect;
    const double m = g->first->pos.len() / (2.0 * segments_divisor(t));
    const Cxyz start_offset(-g->first->pos.x, 0.0, -g->first->pos.z);

    for (int i = 0; i < 8.0 * k; i++) {
        const double r = std::min(1.0, static_cast<double>(i) / k);
        const double r2 = std::min(1.0, i / (2.0 * k));
        const Cxyz last = g->last->pos;

        // Toward the axis, the harder the fewer planned steps remain.
        Cxyz A = Cxyz(-last.x, 0.0, -last.z) * trunks_offset;
        const double L = A.len();
        int c = k - i;
        if (c <= 0)
            c = 1;
        const double pull = 2.0 / c;
        A = A * pull;

        // Downward, damped above the crown centre while the trunk is still far from the axis.
        double v = -last.y;
        bool level = false;
        if (last.y > t->tree_height * t->tree_center) {
            const double from_axis = start_offset.len();
            if (from_axis == 0.0) {
                // A trunk that starts on the axis has no distance to measure its approach by.
                level = true;
            } else {
                const double f = 1 - L / from_axis;
                const double w = ((1 - t->tree_center) + 0.2) / 1.2;
                v = v * ((1 - w) * f + w);
            }
        }
        if (!level && v < 0)
            A.y = pull * v;
        else
            A.y = g->grow_vect.y;

        const Cxyz B = Cxyz(-last.x, 0.0, -last.z) * t->trunk_bend;
        const Cxyz P = g->grow_vect;
        g->grow_vect = ~(A + B);

        crook(g->grow_vect, t->trunk_crookedness * r, rnd);

        g->grow_vect = (g->grow_vect + ~P) / 2 * g->step_len;

        const Cxyz p = last + g->grow_vect;
        if (p.y < 0 && last.y < 0.1)
            break;

        wezel_typ *prev = append_main_node(g);
        wezel_typ *n = g->last;
        n->pos = p;
        n->dir = g->grow_vect;

        if (t->trunk_thick_type == 0)
            g->thickness += r2 * r2 * g->step_len;
        else if (t->trunk_thick_type == 1)
            g->thickness += std::cos(r * 1.5707963267949) * g->step_len;
        n->thickness = g->thickness;
        n->age = 2.0 * i < k ? i : k;

        if (i <= k)
            g->step_len *= q;
        if (g->step_len > m)
            g->step_len = m;
        g->steps++;

        add_sub_nodes(prev, n, s, t->branch_crookedness, sub_node_style::trunk, rnd);
    }
}

} // namespace ramulon
