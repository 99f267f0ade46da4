// Guards on parameter records that a preset or a typed entry can carry but no tree can use.
#pragma once

#include "st_tree.h"

namespace ramulon {

// The label of the first double parameter that is NaN or infinite, or null when all are finite.
const char *non_finite_parameter(const st_tree &t);

} // namespace ramulon
