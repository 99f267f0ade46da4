// The roots of one trunk: a ring of start points just below the trunk base and one short chain
// per root that spreads outward and bends down. Positions are relative to the trunk base.
#include <memory>

#include "model.h"

namespace ramulon {

void model_typ::roots_make(int n, double r)
{
    root_radius = r;
    const double R = (r * trunk_thickness + tips_thickness) * 1.2; // ring radius

    // A ring needs at least one root; a preset may still carry fewer. Then the trunk simply
    // has no roots and no draw is made.
    if (n < 1) {
        delete[] root_ring;
        root_ring = nullptr;
        root_ring_count = 0;
        delete roots;
        roots = nullptr;
        return;
    }

    // The ring: uneven gaps of about an even share each, halved while the sum would close the
    // full turn, so the last root never passes the first.
    const double a = PI_2X / n;
    const double v = a / 6;
    double acc = 0.0;
    std::unique_ptr<Cxyz[]> ring(new Cxyz[n]);
    ring[0] = Cxyz(R, 0.0, 0.0);
    for (int i = 1; i < n; i++) {
        double t = rnd->z_zakresu(a - v / 3, a + v);
        while (acc + t >= PI_2X)
            t = t / 2;
        acc = acc + t;
        ring[i] = ring[i - 1];
        ring[i].rotate_Y(-t);
    }
    delete[] root_ring;
    root_ring = ring.release();
    root_ring_count = n;
    delete roots;
    roots = nullptr;

    // Base nodes: midway between neighbouring ring points, as thick as half their chord so
    // that neighbouring roots touch, sunk below the trunk base and pushed a little outward.
    d_typ **tail = &roots;
    for (int j = 0; j < n; j++) {
        const int k = j + 1 < n ? j + 1 : 0;
        w_typ *b = new w_typ;
        // A branch thickness of 0 (a preset can hold one) makes the roots infinitely thin
        // anyway; the relative thickness stays 0 rather than dividing by it.
        if (branch_thickness != 0.0)
            b->thickness = (root_ring[j] - root_ring[k]).len() / 2 / branch_thickness;
        b->pos = (root_ring[j] + root_ring[k]) / 2;
        b->pos.y = (-R / 2 - branch_thickness * b->thickness) - trunk_thickness * root_radius;
        Cxyz flat = b->pos;
        flat.y = 0.0;
        b->vec = ~flat;
        b->pos = b->pos + b->vec * R / 5;

        d_typ *d = new d_typ;
        d->first = b;
        *tail = d;
        tail = &d->next;
    }
    *tail = new d_typ; // the empty record that ends the list

    // Five segments per root, each of random length, pulled down by gravity, jittered and
    // turned about the vertical, thinning by a random divisor.
    for (d_typ *d = roots; d && d->first; d = d->next) {
        w_typ *c = d->first;
        for (int s = 0; s < 5; s++) {
            const double span = roots_length * (R / 3 + R / 3);
            const double len = roots_length * R + rnd->z_zakresu(-span, span);

            Cxyz dir = c->vec;
            const double g = roots_gravity;
            dir.y = dir.y - g;
            dir.y = dir.y + rnd->z_zakresu(g / 1.5, g / -5.0);

            const double rise = g * (roots_crookedness / PI4);
            dir.y = dir.y + rnd->z_zakresu(-rise, rise);

            dir = ~dir;
            dir.rotate_Y(rnd->z_zakresu(-2 * roots_crookedness, 2 * roots_crookedness));

            w_typ *next = new w_typ;
            next->vec = dir;
            next->pos = c->pos + dir * len;
            const int m = rnd->z_zakresu(4, 10);
            next->thickness = c->thickness - c->thickness / m;
            c->next = next;
            c = next;
        }
    }
}

} // namespace ramulon
