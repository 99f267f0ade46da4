// Smooth bark: Catmull-Clark subdivision of the tubes and roots (OpenSubdiv), so that tools
// which only show polygons see the smooth tree a SubD cage stands for. The woody polygons are
// refined as one surface: a point that several of them share stays one vertex at every level,
// so trunk, branches and roots stay joined. "RM_branch" is carried as face-varying data, so
// the texture seam (u = 1.0 on one side, 0 on the other) stays a clean seam, and so are the
// bark coordinates when given; the other vertex maps are carried as smooth per-point values.
// Leaves and everything else are copied as they are.
#pragma once

#include <string>

#include "common/error.h"
#include "export/mesh/bark_coordinates.h"
#include "host/mesh.h"
#include "export/mesh/layer_view.h"

namespace exporter {

// levels 0 copies nothing and returns true with out untouched (the caller keeps its layer).
// Otherwise out becomes the refined layer: the points the untouched polygons use, then the
// refined surface's vertices; polygons in the order of the layer, each woody polygon replaced
// by its refined quads with its surface and tags. With bark (the cage's bark coordinates),
// refined_bark becomes those of out. The only error condition is a cage OpenSubdiv refuses
// (invalid_input, one line).
ramulon::Status subdivide(const host::Layer &layer, const Materials &materials, int levels, host::Layer &out,
                          const BarkCoordinates *bark = nullptr, BarkCoordinates *refined_bark = nullptr);

} // namespace exporter
