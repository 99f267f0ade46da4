// The growth driver and its working memory: the chain array kept from one build to the next.
#include "trees.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "trees_index.h"
#include "trees_internal.h"

namespace ramulon {

galaz_typ *galezie = nullptr;
int galezie_count = 0;
random losoj;
double trunks_offset = 1.0;

namespace {

void advance_monitor(LWMonitor *mon)
{
    if (mon)
        mon->step(mon->data, 1);
}

// The highest start point goes first: it becomes the main trunk. Ties keep the chain that
// was scattered first.
void highest_first(int n)
{
    for (int i = 1; i < n; i++)
        if (galezie[i].first->pos.y > galezie[0].first->pos.y)
            swap_chains(galezie[0], galezie[i]);
}

} // namespace

int chains_held(const st_tree *t)
{
    if (!galezie)
        return 0;
    return std::clamp(t->num_branches, 0, galezie_count);
}

int reserve_memory(int count)
{
    if (galezie)
        return 0;
    if (count < 0)
        return 1;
    forget_chain_bounds();
    the_growth_index.reset();
    galezie = new (std::nothrow) galaz_typ[count];
    if (!galezie)
        return 1;
    galezie_count = count;
    return 0;
}

void free_memory()
{
    if (!galezie)
        return;
    delete[] galezie;
    galezie = nullptr;
    galezie_count = 0;
    forget_chain_bounds();
    the_growth_index.reset();
}

wezel_typ *add_item(Cxyz p, wezel_typ **list)
{
    auto *node = new wezel_typ;
    node->pos = p;
    wezel_typ **link = list;
    while (*link && (*link)->pos.x <= p.x)
        link = &(*link)->next;
    node->next = *link;
    *link = node;
    return node;
}

bool skeleton_is_finite()
{
    if (!galezie)
        return true;
    auto finite = [](const Cxyz &v) {
        return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
    };
    for (int i = 0; i < galezie_count; i++)
        for (const wezel_typ *n = galezie[i].first; n; n = n->next)
            if (!finite(n->pos) || !finite(n->dir) || !std::isfinite(n->thickness))
                return false;
    return true;
}

wezel_typ *append_main_node(galaz_typ *g)
{
    auto *n = new wezel_typ;
    wezel_typ *prev = g->last;
    prev->next = n;
    g->last = n;
    return prev;
}

void crook(Cxyz &v, double a, random *rnd)
{
    double theta1 = rnd->z_zakresu((2 * a) / 3, a);
    if (rnd->TorF() == 1)
        theta1 = -theta1;
    if (std::fabs(v.x) <= 0.5)
        v.rotate_X(theta1);
    else
        v.rotate_Z(theta1);
    double theta2 = rnd->z_zakresu((2 * a) / 3, a);
    if (rnd->TorF() == 1)
        theta2 = -theta2;
    v.rotate_Y(2 * theta2);
}

void add_sub_nodes(wezel_typ *prev, wezel_typ *n, int s, double crookedness, sub_node_style style,
                   random *rnd)
{
    // One sub-segment or fewer per step lays nothing between: the segment is never divided.
    if (s < 2)
        return;
    const Cxyz delta = (n->pos - prev->pos) / s;
    const double dt = std::fabs(prev->thickness - n->thickness) / s;
    const double e = style == sub_node_style::trunk ? std::min(delta.len(), dt) * crookedness
                                                    : delta.len() * crookedness;
    wezel_typ *pred = prev;
    for (int j = 0; j < s - 1; j++) {
        auto *x = new wezel_typ;
        x->next = pred->next;
        pred->next = x;
        x->thickness = pred->thickness + dt;
        x->dir = pred->dir;
        x->pos = pred->pos + delta;
        const double jx = rnd->z_zakresu(-e, e);
        const double jy = rnd->z_zakresu(-e, e);
        const double jz = rnd->z_zakresu(-e, e);
        x->pos = x->pos.move(Cxyz(jx, jy, jz));
        if (style == sub_node_style::branch)
            x->dir = x->pos - pred->pos;
        x->age = n->age;
        pred = x;
    }
}

int TreeMake(st_tree *t, LWMonitor *mon, char mode)
{
    if (mode == 2 && galezie)
        return 0;
    trunks_offset = 1.0;
    const int polygons = std::min(t->num_bg_polys, poly_capacity);
    if (!poly_data || polygons < 1)
        return 0;
    if (t->random_seed != 0)
        losoj.fixed(t->random_seed);
    const face6_typ *highest = nullptr;
    t->tree_height = calc_height(poly_data, polygons, &highest);

    // The chains asked for, as many as the record says: none grows nothing, and a negative
    // count is an array that cannot be made.
    free_memory();
    const int n = t->num_branches;
    if (reserve_memory(n) == 1)
        return 1;

    // A node that cannot be allocated ends the growth like a chain array that cannot: no
    // half-grown skeleton is left behind.
    try {
        set_positions(n, poly_data, polygons, t);
        if (t->sort_branches != 0)
            sort_positions(t);
        else
            highest_first(n);
        advance_monitor(mon);

        if (t->num_trunks > n)
            t->num_trunks = n;
        for (int i = 0; i < t->num_trunks; i++) {
            grow_trunk(&galezie[i], t, &losoj);
            note_chain_bounds(i);
            trunks_offset = 0.75;
        }
        if (growth_use_index) {
            the_growth_index.begin(galezie, galezie_count);
            the_growth_index.trunks_done(t, std::max(t->num_trunks, 0), n);
        }
        for (int i = std::max(t->num_trunks, 0); i < n; i++) {
            grow_branch(&galezie[i], t, &losoj);
            // Only the walk reads the box around a chain: the index holds every node itself.
            if (!the_growth_index.chain_done(i))
                note_chain_bounds(i);
            advance_monitor(mon);
        }
    } catch (const std::bad_alloc &) {
        free_memory();
        return 1;
    }
    // Once grown, the skeleton may be reshaped by the model: later look-ups walk the chains.
    the_growth_index.reset();
    return 0;
}

} // namespace ramulon
