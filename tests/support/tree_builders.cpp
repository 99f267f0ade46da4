#include "support/tree_builders.h"

namespace ramulon {

namespace {

// Links one new node per position along next, first position first; fill sets up each node
// from its position and the node before it (null for the first).
template <class Node, class Fill> Node *link_chain(const std::vector<Cxyz> &pts, Fill fill)
{
    Node *first = nullptr, *last = nullptr;
    for (std::size_t i = 0; i < pts.size(); i++) {
        auto *n = new Node;
        n->pos = pts[i];
        fill(n, last, static_cast<int>(i));
        if (last)
            last->next = n;
        else
            first = n;
        last = n;
    }
    return first;
}

template <class Node> Node *nth(Node *first, int index)
{
    while (index-- > 0 && first)
        first = first->next;
    return first;
}

} // namespace

wezel_typ *grown_chain(const std::vector<Cxyz> &pts, double thickness)
{
    return link_chain<wezel_typ>(pts, [&](wezel_typ *n, const wezel_typ *before, int i) {
        n->dir = before ? n->pos - before->pos : Cxyz(0.0, -1.0, 0.0);
        n->age = i;
        n->thickness = thickness;
    });
}

wezel_typ *grown_node(wezel_typ *first, int index) { return nth(first, index); }

w_typ *model_chain(const std::vector<Cxyz> &pts, double thickness, char trunk)
{
    return link_chain<w_typ>(pts, [&](w_typ *n, const w_typ *before, int) {
        n->vec = before ? n->pos - before->pos : Cxyz(0.0, 1.0, 0.0);
        n->thickness = thickness;
        n->trunk = trunk;
    });
}

w_typ *model_node(w_typ *first, int index) { return nth(first, index); }

void add_chain(model_typ &m, w_typ *first)
{
    auto *d = new d_typ;
    d->first = first;
    d_typ **end = &m.chains;
    while (*end)
        end = &(*end)->next;
    *end = d;
}

void set_defaults(model_typ &m, random *rnd)
{
    // Converting no branches copies the parameters and makes nothing else.
    st_tree t = default_params;
    t.num_branches = 0;
    galaz_typ none[1];
    m.convert(none, &t, rnd);
}

} // namespace ramulon
