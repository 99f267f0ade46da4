// The wire skeleton: a point per model node and a two-point polygon per segment.
#include "model.h"

namespace ramulon {

namespace {

LWPntID add_point(MeshEditOp *op, Cxyz p) { return draw_point(op, &p.x); }

} // namespace

void model_typ::draw_skeleton(MeshEditOp *op)
{
    for (d_typ *d = chains; d; d = d->next) {
        w_typ *f = d->first;
        if (!f)
            continue;
        const LWPntID p = add_point(op, f->pos);
        draw_skeleton_sgm(op, p, f->next);
        draw_skeleton_sgm(op, p, f->side);
    }
}

void model_typ::draw_skeleton_sgm(MeshEditOp *op, LWPntID parent, w_typ *n)
{
    if (!n)
        return;
    const LWPntID q = add_point(op, n->pos);
    draw_skeleton_sgm(op, q, n->next);
    draw_skeleton_sgm(op, q, n->side);
    // The segment's polygon comes after everything beyond it.
    const LWPntID pts[2] = {parent, q};
    op->addFace(op->state, nullptr, 2, pts);
}

} // namespace ramulon
