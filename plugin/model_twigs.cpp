// Secondary twigs: short wandering chains on the outer nodes of every branch, the only
// carriers of leaves.
#include <climits>

#include "model.h"

namespace ramulon {

namespace {

const Cxyz origin(0.0, 0.0, 0.0);

// Every how many qualifying nodes a twig grows. A coverage above 1 (possible from a preset)
// would make this 0; a coverage so small that the quotient leaves the int range is capped.
int twig_spacing(double coverage)
{
    const double m = 1.0 / coverage;
    if (!(m >= 1.0))
        return 1;
    if (m >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(m);
}

// The direction a twig leaves its parent node in, by twig type, with the type's own draws.
Cxyz twig_direction(int type, const w_typ *n, const Caxis &f, random *r)
{
    Cxyz d;
    switch (type) {
    case 1: // up
        d = Cxyz(0.0, 1.0, 0.0);
        break;
    case 2: // down
        d = Cxyz(0.0, -1.0, 0.0);
        break;
    case 3: { // horizontal: the parent's heading turned aside by 45 to 90 degrees
        d = n->vec;
        d.y = 0.0;
        double a = r->z_zakresu(PI4, PI2);
        if (r->TorF())
            a = -a;
        d = ~d;
        d.rotate_Y(a);
        break;
    }
    case 4: { // branch: along the parent segment; the turn about it changes nothing
        d = n->vec;
        f.to_local(&d, origin, 1);
        double a = r->z_zakresu(PI8, PI4);
        if (r->TorF())
            a = -a;
        d.rotate_Z(a);
        f.to_global(&d, origin, 1);
        break;
    }
    case 5: { // random, but never closer than 22.5 degrees to the parent segment
        const int a = r->z_zakresu(-1, 1);
        const int b = r->z_zakresu(-1, 1);
        const int c = r->z_zakresu(-1, 1);
        d = ~Cxyz(a, b, c);
        if (d.calc_angle(n->vec) < PI8) {
            f.to_local(&d, origin, 1);
            double t = r->z_zakresu(PI8, PI4);
            if (d.x < 0.0)
                t = -t;
            d.rotate_Z(t);
            f.to_global(&d, origin, 1);
        }
        break;
    }
    case 6: { // side: square to the parent's heading turned about the vertical
        const double a = r->z_zakresu(-PI2, PI2);
        Cxyz turned = n->vec;
        turned.rotate_Y(a);
        d = turned * Cxyz(0.0, 1.0, 0.0);
        if (a > 0.0)
            d = !d;
        d = ~d;
        break;
    }
    default: // off, or a type no panel offers: no direction of its own
        break;
    }
    return d;
}

} // namespace

void model_typ::add_secondary(w_typ *n, st_tree *t, random *r, int level)
{
    // A negative segment count still grows twigs: each is its base node alone.
    if (t->twig_segments == 0 || t->twig_coverage == 0.0 || t->twig_length == 0.0 ||
        t->twig_range == 0.0 || t->twig_type == 0)
        return;

    // The whole subtree first, deepest along next first; twigs made there are not revisited.
    if (n->next)
        add_secondary(n->next, t, r, 0);
    if (n->side)
        add_secondary(n->side, t, r, 0);

    if (level != 0 || !n->next || !(t->num_segments * t->twig_range > n->age) || n->side)
        return;

    const int k = sec_index;
    sec_index++;
    if (k % twig_spacing(t->twig_coverage) != 0)
        return;

    // Frame of the parent segment: the segment lies along local -Z.
    Caxis f;
    f.z_axis = ~n->vec;
    const Cxyz ref = n->vec.calc_angle(Cxyz(0.0, 1.0, 0.0)) <= PI4 ? Cxyz(1.0, 0.0, 0.0)
                                                                  : Cxyz(0.0, 1.0, 0.0);
    f.y_axis = f.z_axis * ref;
    f.x_axis = f.z_axis * f.y_axis;
    f.calc_transf_angles();

    Cxyz d = twig_direction(t->twig_type, n, f, r);

    // Twist about the parent segment.
    f.to_local(&d, origin, 1);
    d.rotate_Z(r->z_zakresu(-PI4, PI4));
    f.to_global(&d, origin, 1);

    const int segs = t->twig_segments;
    double len;
    if (t->twig_fixed == 0)
        len = t->twig_length * n->vec.len() / segs;
    else
        len = t->twig_fixed_length / segs;

    const Cxyz e0 = ~(d * (segs + 1) + ~n->vec) * len;

    w_typ *b = new w_typ;
    b->pos = n->pos;
    b->vec = e0;
    b->age = segs + 1;
    b->thickness = 0.001;
    b->twig = 1;
    n->side = b;

    w_typ *p = b;
    Cxyz e = e0;
    for (int i = 0; i < segs; i++) {
        w_typ *q = new w_typ;
        q->age = segs - i;
        q->thickness = 0.001;
        q->pos = p->pos + e;
        q->twig = 1;
        p->next = q;

        e = ~(~e + ~d + ~n->vec * 0.6);
        f.to_local(&e, origin, 1);
        e.rotate_Y(r->z_zakresu(-PI4, PI4));
        e.rotate_X(r->z_zakresu(-PI4, PI4));
        f.to_global(&e, origin, 1);

        e = e * len;
        q->vec = e;
        p = q;
    }
}

} // namespace ramulon
