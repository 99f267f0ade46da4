// Small hand-made skeletons and model chains for tests of the tree model and its writers.
#pragma once

#include <vector>

#include "branch.h"
#include "model.h"

namespace ramulon {

// A grown chain through the positions, start node first, as growth leaves it: each node's
// dir is the step that led to it (the start node's points down), ages count the nodes.
wezel_typ *grown_chain(const std::vector<Cxyz> &pts, double thickness = 1.0);

// The node of a grown chain at the given index.
wezel_typ *grown_node(wezel_typ *first, int index);

// A model chain through the positions, base first, with vec = step from the node before (the
// base's vec points up), the given relative thickness and age 0; trunk flags when asked.
w_typ *model_chain(const std::vector<Cxyz> &pts, double thickness = 1.0, char trunk = 0);

// The node of a model chain at the given index along next.
w_typ *model_node(w_typ *first, int index);

// Appends a chain record to the model's chain list (at the end).
void add_chain(model_typ &m, w_typ *first);

// A model with the defaults' output parameters copied in, as convert would leave it, but
// without chains.
void set_defaults(model_typ &m, random *rnd);

} // namespace ramulon
