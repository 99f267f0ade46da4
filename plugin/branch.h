// The grown skeleton: chains (galaz_typ) of nodes (wezel_typ), from a start point on the crown
// inward to a joint or the ground.
#pragma once

#include <cstdint>

#include "includes/xyz.h"

namespace ramulon {

// Deletes the records that follow along next one after the other, never recursively: a trunk
// may hold thousands of nodes and a tree many thousands of leaves.
template <class T> void free_following(T *&next)
{
    T *n = next;
    next = nullptr;
    while (n) {
        T *following = n->next;
        n->next = nullptr;
        delete n;
        n = following;
    }
}

struct galaz_typ;

struct wezel_typ {
    int32_t age = 0;
    galaz_typ *joined = nullptr;    // the chain that joined this node; not owned
    wezel_typ *join_node = nullptr; // on a joined chain's last node: the node it joined
    Cxyz pos;
    Cxyz dir;
    int32_t joins = 0;
    double thickness = 0.0;
    wezel_typ *next = nullptr;      // owned

    wezel_typ() = default;
    wezel_typ(const wezel_typ &) = delete;
    wezel_typ &operator=(const wezel_typ &) = delete;
    // Deletes the rest of the chain one node after the other, never recursively: a trunk
    // can hold thousands of nodes.
    virtual ~wezel_typ();
};

struct galaz_typ {
    bool on_trunk = false;
    double center_ratio = 0.0;
    int32_t steps = 0;
    double step_len = 0.0;
    int32_t high = 0;
    bool is_root = true;
    double thickness = 0.0;
    Cxyz normal;
    wezel_typ *last = nullptr;  // growth goes on here; not owned on its own
    wezel_typ *first = nullptr; // owns the chain
    Cxyz grow_vect;

    galaz_typ() = default;
    galaz_typ(const galaz_typ &) = delete;
    // Copies every field, both node pointers included; only the exchange of two chains uses
    // it (swap_chains), through a temporary whose pointers are cleared before it dies.
    galaz_typ &operator=(const galaz_typ &) = default;
    virtual ~galaz_typ();
};

// Exchanges two elements of the chain array without deleting or duplicating a chain.
void swap_chains(galaz_typ &a, galaz_typ &b);

} // namespace ramulon
