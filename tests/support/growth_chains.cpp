#include "support/growth_chains.h"

#include "trees.h"

namespace ramulon {

galaz_typ &lay_chain(int i, const std::vector<Cxyz> &positions)
{
    galaz_typ &g = galezie[i];
    delete g.first;
    g.first = g.last = nullptr;
    for (const Cxyz &p : positions) {
        auto *n = new wezel_typ;
        n->pos = p;
        n->dir = Cxyz(1, 0, 0);
        (g.last ? g.last->next : g.first) = n;
        g.last = n;
    }
    return g;
}

} // namespace ramulon
