// How each surface looks in other tools: trunk, branches and roots share one bark, twigs the same
// bark a little lighter, leaves a double-sided, alpha-masked leaf texture; anything else keeps
// its sketch colour. Also how often the bark repeats along the tree so that it is not stretched.
#pragma once

#include <string>

#include "host/mesh.h"
#include "layer_view.h"

namespace exporter {

enum class Finish {
    plain, // a colour only (the skeleton's "Default", unknown surfaces)
    bark,  // "RM_trunk", "RM_branch", "RM_root"
    twig,  // "RM_twig": the bark, lighter
    leaf,  // "VF_leaf"
};

Finish finish_of(const Material &material);

// The base colour of a material: with a texture, the factor that multiplies it; without, the
// colour itself.
Colour base_colour(const Material &material, bool textured);

// Tubes and roots: the surfaces that carry the bark texture and that subdivision smooths.
bool woody(const Material &material);

inline const std::string trunk_surface = "RM_trunk";

// The trunk and the roots: what every simpler level keeps, as everything else stands on them.
bool holds_tree(const Material &material);

// How many times the bark repeats along v for once around u, so that a square bark image keeps
// its aspect on the trunk: the path length one unit of "RM_branch" v spans over the tube
// circumference one unit of u spans, averaged over the trunk's faces (every woody face when
// there is no trunk) weighted by area, rounded to hundredths. 1 when the layer has no woody
// polygon with usable texture coordinates.
double bark_repeat(const host::Layer &layer, const Materials &materials);

} // namespace exporter
