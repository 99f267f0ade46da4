// Guards on parameter records that a preset or a typed entry can carry but no tree can use.
#pragma once

#include "st_tree.h"

namespace ramulon {

// The label of the first double parameter that is NaN or infinite, or null when all are finite.
const char *non_finite_parameter(const st_tree &t);

// The label of the first double parameter that is no measure of a tree, its magnitude beyond a
// million or closer to zero than 1e-30 without being 0, or null; problem then tells which. A few
// such values multiplied or divided overflow the output.
const char *out_of_scale_parameter(const st_tree &t, const char *&problem);

// The label of the count that makes the tree too large to grow and write in a host session (too
// many start-point tries, nodes in one chain, nodes in all, or mesh points), or null when the
// tree is within bounds. Every count the panel's sliders reach is far inside them.
const char *oversized_parameter(const st_tree &t);

} // namespace ramulon
