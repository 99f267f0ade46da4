// What a writer is asked to add to the mesh it writes: the textures of the materials, how far
// the woody cage is subdivided, and where normals break into sharp edges.
#pragma once

#include <string>

#include "export/materials/textures.h"

namespace exporter {

// Subdivision levels asked of a writer that picks its own default: two for a SubD cage written to
// glTF (which carries triangles only), none otherwise.
inline constexpr int automatic_subdivision = -1;

struct ExportOptions {
    TextureChoice textures = TextureChoice::builtin;
    std::string texture_folder;
    int subdivide = automatic_subdivision; // Catmull-Clark levels on tubes and roots
    double crease_angle = 60.0;            // degrees: faces further apart meet at a sharp edge
    // The wind weights also in COLOR_0, for tools that keep vertex colours but drop custom
    // attributes; glTF viewers multiply the base colour by it, so the tree looks tinted.
    bool wind_colours = false;
};

// The most levels a writer accepts: each level multiplies the woody faces by four.
inline constexpr int max_subdivision = 4;

} // namespace exporter
