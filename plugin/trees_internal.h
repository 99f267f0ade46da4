// Helpers shared by the growth files: the counts a tree can actually grow with, and the
// nodes laid between two main nodes of a chain.
#pragma once

#include "branch.h"
#include "includes/random.h"
#include "st_tree.h"

namespace ramulon {

// A preset can carry counts below the panel's limits, and growth uses them as they are: a loop
// over a count of 0 or less runs no times, so a chain with no segments keeps its start node
// and a step with fewer than two sub-segments lays no node between. Only a count of 0 that
// would divide (a step rate, a step length, a share per node) has no quotient; there it is
// read as the panel's lowest value.
inline int segments_divisor(const st_tree *t) { return t->num_segments == 0 ? 4 : t->num_segments; }
inline int sub_segments_divisor(const st_tree *t) { return t->sub_segments == 0 ? 1 : t->sub_segments; }

// A branch joins a node only when its own growth points within join_angle of the way to the
// node, and the parent grew on from there within join_parent_angle of that way.
constexpr double join_angle = 0.78539816339745;
constexpr double join_parent_angle = 1.41371669411541;

// Records allocated in poly_data by the last capture.
extern int poly_capacity;

// The box around each finished chain lets a joining branch pass over chains that lie farther
// than one step away without walking their nodes. Positions of a finished chain never change;
// a chain whose box was never noted is always walked.
void note_chain_bounds(int index);
void forget_chain_bounds();

// Links a fresh main node after the chain's last node and makes it the chain's end.
// Returns the node growth left before it.
wezel_typ *append_main_node(galaz_typ *g);

// Deflects a growth vector by two random angles between 2a/3 and a, each with a random sign:
// the first about X (or about Z when the vector runs mostly along x), the second, doubled,
// about Y. Draws angle, sign, angle, sign; an angle of 0 is not drawn, its sign still is.
void crook(Cxyz &v, double a, random *rnd);

// Lays s - 1 nodes between prev and the main node n that follows it, each one segment
// delta beyond its predecessor plus a random jitter. A trunk's nodes keep the direction of
// the node before them and jitter by min(|delta|, dt); a branch's jitter by |delta| and point
// along their own segment.
enum class sub_node_style { trunk, branch };
void add_sub_nodes(wezel_typ *prev, wezel_typ *n, int s, double crookedness, sub_node_style style,
                   random *rnd);

} // namespace ramulon
