// Levels of detail of a tree: each level a copy of LOD0 with fewer triangles. The wood is
// simplified within a bound (no vertex moved, so every kept vertex keeps its texture coordinates
// and weights); where that is not enough, the leaves give up more than their share and then the
// thinnest wood goes, twigs first, never the trunk or the roots and never what holds up wood that
// is kept. The leaves are thinned: a spread of the leaf cards, picked by the leaf's own order, is
// kept and each kept card grown so that the crown covers about as much as before.
//
// Nothing here fails by its own errors: a cancelled export throws Cancelled and memory running
// out std::bad_alloc, which the writers' entry point turns into
// errors of kind cancelled and out_of_memory.
#pragma once

#include "export/mesh/mesh_arrays.h"

namespace exporter {

// The share of LOD0's triangles a level aims at: 1, 0.5, 0.2, 0.05, then 0.4 of the one before.
double level_fraction(int level);

// A level of fraction (0, 1] of LOD0's triangles. looks: per material. Vertices come back
// compacted, in the order LOD0 had them.
MeshArrays make_level(const MeshArrays &lod0, const std::vector<MaterialLook> &looks, double fraction);

} // namespace exporter
