// The tree model's records and the conversion of the grown skeleton into base-to-tip chains.
#include "model.h"

#include <cmath>

#include "trees.h"

namespace ramulon {

int32_t sec_index = 0;
bool drew_out_of_range = false;

LWPntID draw_point(MeshEditOp *op, double *xyz)
{
    if (!std::isfinite(xyz[0]) || !std::isfinite(xyz[1]) || !std::isfinite(xyz[2]))
        drew_out_of_range = true;
    return op->addPoint(op->state, xyz);
}

w_typ::~w_typ()
{
    free_following(next); // each node takes its own side chain with it
    delete side;
    side = nullptr;
}

d_typ::~d_typ()
{
    delete first;
    first = nullptr;
    free_following(next);
}

l_typ::~l_typ()
{
    free_following(next);
    owner = nullptr;
}

model_typ::model_typ() { sec_index = 0; }

model_typ::~model_typ()
{
    delete chains;
    chains = nullptr;
    delete leaves;
    leaves = nullptr;
    delete roots;
    roots = nullptr;
    delete[] root_ring;
    root_ring = nullptr;
}

void model_typ::copy_data(w_typ *n, wezel_typ *s)
{
    n->pos = s->pos;
    // Growth runs toward the base, so both vectors point from the base side to the node.
    if (s->next)
        n->vec = s->pos - s->next->pos;
    else
        n->vec = !s->dir;
    n->thickness = s->thickness;
    n->age = s->age;
}

w_typ *model_typ::add_next(w_typ *before, wezel_typ *s)
{
    // Each new node points back at the one made before it, so the chain comes out reversed:
    // the start of growth becomes the tip and the last grown node the base, which is returned.
    // A branch that joined a node becomes a whole chain of its own, based at the joint.
    w_typ *made = nullptr;
    for (; s; s = s->next) {
        w_typ *n = new w_typ;
        copy_data(n, s);
        n->next = before;
        if (s->joined)
            n->side = add_next(nullptr, s->joined->first);
        before = n;
        made = n;
    }
    return made;
}

void model_typ::convert(galaz_typ *branches, st_tree *t, random *r)
{
    if (!branches)
        return;
    rnd = r;
    roots_crookedness = t->roots_crookedness;
    num_roots = t->num_roots;
    roots_gravity = t->roots_gravity;
    roots_length = t->roots_length;
    wg_thick_max = t->wg_thick_max;
    assign_thick_wmap = t->assign_thick_wmap;
    assign_range_wmap = t->assign_range_wmap;
    wg_hardness = t->wg_hardness;
    wg_range = t->wg_range;
    tips_thickness = t->tips_thickness;
    trunk_thickness = t->trunk_thickness;
    branch_thickness = t->branch_thickness;
    num_segments = t->num_segments;
    sec_index = 0;
    delete chains;
    chains = nullptr;

    // The grown array holds what growth made: never read past it.
    const int count = branches == galezie ? chains_held(t) : t->num_branches;
    for (int i = 0; i < count; i++) {
        galaz_typ &g = branches[i];
        if (!g.is_root || !g.first)
            continue;
        w_typ *tip = new w_typ;
        copy_data(tip, g.first);
        // A branch may have joined this chain at its very start node; it hangs from the tip
        // like from any other node, or it would vanish with everything on it.
        if (g.first->joined)
            tip->side = add_next(nullptr, g.first->joined->first);
        w_typ *base = add_next(tip, g.first->next);
        if (!base) {
            delete tip; // a single node makes no chain
            continue;
        }
        if (i < t->num_trunks)
            for (w_typ *n = base; n; n = n->next)
                n->trunk = 1;

        // Keep the chains in ascending height of their bases; a later chain goes in front of
        // earlier ones of the same height.
        d_typ *d = new d_typ;
        d->first = base;
        if (!chains) {
            chains = d;
        } else if (chains->first->pos.y >= base->pos.y) {
            d->next = chains;
            chains = d;
        } else {
            d_typ *p = chains;
            while (p->next && p->next->first->pos.y < base->pos.y)
                p = p->next;
            d->next = p->next;
            p->next = d;
        }
    }

    // All twigs before any leaf: the order of the random draws depends on it.
    for (d_typ *d = chains; d; d = d->next)
        add_secondary(d->first, t, r, 1);
    for (d_typ *d = chains; d; d = d->next)
        add_leaves(d->first, t, r);
}

} // namespace ramulon
