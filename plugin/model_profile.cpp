// Path lengths through the model and the two profiles that become weight values: a
// quarter-sine falloff for thickness and a smooth step for the range.
#include <cmath>

#include "model.h"

namespace ramulon {

double model_typ::calc_longest_sgm(w_typ *n, double before)
{
    if (!n)
        return before;
    const double acc = before + n->vec.len();
    const double a = calc_longest_sgm(n->next, acc);
    double b = 0.0;
    // A side chain's base sits at the carrying node: its vec is no segment and is not counted.
    if (n->side)
        b = calc_longest_sgm(n->side->next, acc);
    return b > a ? b : a;
}

double model_typ::calc_longest_branch()
{
    double m = 0.0;
    for (d_typ *d = chains; d; d = d->next) {
        w_typ *f = d->first;
        if (!f)
            continue;
        const double r1 = calc_longest_sgm(f->next, 0.0);
        if (r1 > m)
            m = r1;
        // A side chain at a chain's base is entered at its own base node.
        const double r2 = calc_longest_sgm(f->side, 0.0);
        if (r2 > m)
            m = r2;
    }
    return m * 0.9;
}

double model_typ::thickness_fun(double t, double l)
{
    const double L = 4 * l;
    if (t >= L)
        return 0.0;
    if (t < 0)
        return 1.0;
    return 1 - std::sin(t / L * PI2);
}

double model_typ::leaf_density_fun(double x, double c, double w)
{
    if (c - w > x)
        return 1.0;
    if (x > c + w)
        return -1.0;
    // A zero half-width is a hard step; exactly on it the quotient would be 0 / 0.
    if (w == 0.0)
        return 0.0;
    const double s = std::sin((0.5 / w) * ((x - c) * PI));
    return (1 - s) - 1;
}

} // namespace ramulon
