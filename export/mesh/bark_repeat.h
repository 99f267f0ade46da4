// How often the bark repeats along the tree so that a square bark image is not stretched.
#pragma once

#include "export/materials/materials.h"
#include "host/mesh.h"

namespace exporter {

// How many times the bark repeats along v for once around u, so that a square bark image keeps
// its aspect on the trunk: the path length one unit of "RM_branch" v spans over the tube
// circumference one unit of u spans, averaged over the trunk's faces (every woody face when
// there is no trunk) weighted by area, rounded to hundredths. 1 when the layer has no woody
// polygon with usable texture coordinates.
double bark_repeat(const host::Layer &layer, const Materials &materials);

} // namespace exporter
