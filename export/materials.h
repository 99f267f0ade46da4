// How each surface looks in other tools: trunk, branches and roots share one bark, twigs the same
// bark a little lighter, leaves a double-sided, alpha-masked leaf texture; anything else keeps
// its sketch colour.
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
inline const std::string root_surface = "RM_root";

} // namespace exporter
