// A branch grows from its tip on the crown inward until it joins an earlier chain, runs down
// along the trunk, reaches the ground or uses up its steps.
#include <algorithm>
#include <cmath>
#include <vector>

#include "trees.h"
#include "trees_index.h"
#include "trees_internal.h"

namespace ramulon {

namespace {

constexpr double turn_limit = 1.25663706143592; // the sharpest turn a branch makes in one step

struct chain_box {
    Cxyz lo, hi;
    bool valid = false;
};
std::vector<chain_box> chain_boxes;

// True when no node inside the box can lie within D of p. The slack covers the rounding of
// the coordinate differences, so a node at a distance of exactly D is never passed over.
bool beyond_reach(const chain_box &b, const Cxyz &p, double D)
{
    auto apart = [D](double v, double lo, double hi) {
        const double slack =
            1e-9 * (std::fabs(v) + std::max(std::fabs(lo), std::fabs(hi)) + D) + 1e-300;
        return lo - v > D + slack || v - hi > D + slack;
    };
    return apart(p.x, b.lo.x, b.hi.x) || apart(p.y, b.lo.y, b.hi.y) || apart(p.z, b.lo.z, b.hi.z);
}

// Number of trunks that exist as chains: a record can ask for none, or for more than grew.
int trunks_held(const st_tree *t) { return std::clamp(t->num_trunks, 0, chains_held(t)); }

// Turns the growth halfway toward the trunk's own direction d, one step long, from prev.
void follow_trunk(galaz_typ *g, const Cxyz &d, const wezel_typ *prev, Cxyz *p)
{
    const Cxyz v = (g->grow_vect + ~d * g->step_len) / 2;
    *p = prev->pos + v;
    g->grow_vect = v;
}

// Walks every node of every earlier chain for the joint: the last candidate within the best
// distance so far that the branch and the parent both point toward.
wezel_typ *walk_for_joint(const galaz_typ *g, const st_tree *t, const Cxyz *p, const Cxyz *from)
{
    // Each node walked is 1/s of a step from the tip; with a negative s the count runs
    // backward, and no node of an ordinary branch is ever old enough to join.
    const double per_node = 1.0 / sub_segments_divisor(t);
    double D = g->step_len;
    wezel_typ *best = nullptr;
    const long own = galezie && g >= galezie && g < galezie + galezie_count ? g - galezie : 0;
    for (long j = 0; j < own; j++) {
        if (static_cast<std::size_t>(j) < chain_boxes.size() && chain_boxes[j].valid &&
            beyond_reach(chain_boxes[j], *p, D))
            continue;
        double f = 0;
        for (wezel_typ *n = galezie[j].first; n && n->next; n = n->next, f += per_node) {
            if ((f < g->steps && j > t->num_trunks) || n->joins > 0)
                continue;
            const double d = n->pos.calc_distance(*p);
            if (d <= D) {
                const Cxyz toward = n->pos - *from;
                const double a1 = g->grow_vect.calc_angle(toward);
                const double a2 = n->next->dir.calc_angle(toward);
                if (a1 < join_angle && a2 < join_parent_angle) {
                    best = n;
                    D = d;
                }
            }
        }
    }
    return best;
}

} // namespace

void note_chain_bounds(int index)
{
    if (!galezie || index < 0 || index >= galezie_count)
        return;
    if (chain_boxes.size() <= static_cast<std::size_t>(index))
        chain_boxes.resize(static_cast<std::size_t>(index) + 1);
    chain_box b;
    b.valid = galezie[index].first != nullptr;
    for (const wezel_typ *n = galezie[index].first; n && b.valid; n = n->next) {
        const Cxyz &q = n->pos;
        if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z)) {
            b.valid = false;
        } else if (n == galezie[index].first) {
            b.lo = b.hi = q;
        } else {
            b.lo = Cxyz(std::min(b.lo.x, q.x), std::min(b.lo.y, q.y), std::min(b.lo.z, q.z));
            b.hi = Cxyz(std::max(b.hi.x, q.x), std::max(b.hi.y, q.y), std::max(b.hi.z, q.z));
        }
    }
    chain_boxes[static_cast<std::size_t>(index)] = b;
}

void forget_chain_bounds() { chain_boxes.clear(); }

void grow_branch(galaz_typ *g, st_tree *t, random *rnd)
{
    const int k = t->num_segments;
    const int s = t->sub_segments;

    g->thickness = 0;
    const double spread = t->tree_center * t->tree_center_variation;
    g->center_ratio = rnd->z_zakresu(t->tree_center - spread, spread + t->tree_center);
    const double q = t->bias / segments_divisor(t) + 1;

    for (int i = 0; i < 2.0 * k; i++) {
        const double r = std::min(1.0, static_cast<double>(i) / k);
        calc_grow_vect(g, i, t, rnd);
        Cxyz p = g->last->pos + g->grow_vect;
        wezel_typ *prev = append_main_node(g);
        wezel_typ *n = g->last;

        bool stop = false;
        if (join_branches(g, t, &p, &prev->pos) == 1) {
            stop = true;
        } else if (p.y < 0) {
            stop = true;
        } else if (g->on_trunk) {
            if (const wezel_typ *c = get_closest_point_on_trunk(&p, t))
                follow_trunk(g, c->next ? c->next->pos - c->pos : c->dir, prev, &p);
        } else if (const wezel_typ *c = join_trunk(g, t, &p, &prev->pos)) {
            g->on_trunk = true;
            follow_trunk(g, c->next->pos - c->pos, prev, &p);
        }

        n->pos = p;
        g->thickness += std::sin(r * 3.1415926535898) * g->step_len;
        n->thickness = g->thickness;
        n->dir = n->pos - prev->pos;
        n->age = i < k ? i : k;
        if (i < k)
            g->step_len *= q;
        g->steps++;

        add_sub_nodes(prev, n, s, t->branch_crookedness, sub_node_style::branch, rnd);
        if (stop)
            break;
    }
}

void calc_grow_vect(galaz_typ *g, int i, st_tree *t, random *rnd)
{
    const int k = segments_divisor(t);
    const double r = std::min(1.0, static_cast<double>(i) / k);
    const double r2 = std::min(1.0, i / (2.0 * k));
    const Cxyz last = g->last->pos;

    // Only the trunk influences look for the nearest trunk node; the search changes nothing.
    const wezel_typ *c = t->trunk_influence == 1 || t->trunk_influence == 2
                             ? get_closest_point_on_trunk(&g->last->pos, t)
                             : nullptr;
    Cxyz T;
    switch (t->trunk_influence) {
    case 1:
        if (c)
            T = c->pos;
        break;
    case 2:
        if (c)
            T = c->pos;
        T = T * r;
        break;
    default:
        break;
    }

    Cxyz A = ~Cxyz(T.x - last.x, 0.0, T.z - last.z);
    A.y = (1 - r2) * t->branch_bend - std::pow(r, 8) * t->trunk_connection_bend;

    // Branches below their own crown centre sag toward it.
    double down = (t->tree_height * g->center_ratio - last.y) * (r * r);
    if (down >= 0)
        down = 0;

    const Cxyz P = g->grow_vect;
    g->grow_vect = g->grow_vect * (1 - r) + A;
    const double ni = t->normals_influence;
    g->grow_vect = g->grow_vect -
                   g->normal * ni * (ni * std::cos(r * 1.5707963267949) + (1 - ni) * (1 - r));

    crook(g->grow_vect, (1 - r) * t->branch_crookedness, rnd);

    g->grow_vect = ~g->grow_vect * g->step_len * (1 - t->trunk_offset);
    g->grow_vect.y += down;

    for (int turn = 0; turn < 5 && g->grow_vect.calc_angle(P) > turn_limit; turn++) {
        const double L = g->grow_vect.len();
        g->grow_vect = ~(g->grow_vect + P) * L;
    }
}

int join_branches(galaz_typ *g, st_tree *t, Cxyz *p, Cxyz *from)
{
    const int k = t->num_segments;
    if (0.9 * k * t->last_fork_distance > g->steps)
        return 0;
    if (g->steps == 0)
        return 0;

    wezel_typ *best = nullptr;
    if (!growth_use_index || !the_growth_index.join_branches(g, t, *p, *from, &best))
        best = walk_for_joint(g, t, p, from);
    if (!best)
        return 0;

    *p = best->pos;
    best->joins += 1;
    best->joined = g;
    g->is_root = false;
    g->last->joins += 1;
    g->last->join_node = best;
    // The parent carries the joined branch from the joint down to its base.
    const double inc = std::max(0.0, g->thickness - best->thickness) + 0.2 * g->thickness;
    for (wezel_typ *n = best; n; n = n->next)
        n->thickness += inc;
    return 1;
}

wezel_typ *join_trunk(galaz_typ *g, st_tree *t, Cxyz *p, Cxyz *)
{
    const int k = t->num_segments;
    if ((2 * t->last_fork_distance + 0.1) * k > g->steps)
        return nullptr;
    if (!galezie || galezie_count < 1)
        return nullptr;
    wezel_typ *best = nullptr;
    if (!growth_use_index || !the_growth_index.join_trunk(g, *p, &best)) {
        double D = g->step_len;
        for (wezel_typ *n = galezie[0].first; n; n = n->next) {
            const double d = n->pos.calc_distance(*p);
            if (d <= D) {
                best = n;
                D = d;
            }
        }
    }
    return best && best->next ? best : nullptr;
}

wezel_typ *get_closest_point_on_trunk(Cxyz *p, st_tree *t)
{
    const int trunks = trunks_held(t);
    wezel_typ *best = nullptr;
    if (growth_use_index && the_growth_index.closest_on_trunk(*p, trunks, &best))
        return best;
    double closest = 10000000;
    for (int j = 0; j < trunks; j++)
        for (wezel_typ *n = galezie[j].first; n; n = n->next) {
            const double d = n->pos.calc_distance(*p);
            if (d < closest) {
                best = n;
                closest = d;
            }
        }
    return best;
}

} // namespace ramulon
