// Chains of the growth's chain array laid by hand, for tests of joints and trunk contacts.
#pragma once

#include <vector>

#include "branch.h"

namespace ramulon {

// Replaces chain i of galezie by nodes at the given positions, each node's dir along +x.
galaz_typ &lay_chain(int i, const std::vector<Cxyz> &positions);

} // namespace ramulon
