// Wavefront OBJ into a layer (the background crown envelope): every `v` becomes a point in file
// order, every `f` a FACE polygon in file order, then every two-point `l` a two-point polygon
// and every longer `l` an open CURV polygon. Groups, materials and texture data mean nothing to
// a background layer and are ignored.
#pragma once

#include <string>
#include <string_view>

#include "mesh.h"

namespace host {

// Replaces the layer's contents. False with a one-line error ("crown.obj:12: ...") when the file
// is missing, unreadable or malformed; the layer is left empty then.
bool load_obj_file(const std::string &path, Layer &layer, std::string &error);
bool load_obj_text(std::string_view text, const std::string &name, Layer &layer,
                   std::string &error);

// The built-in default crown (samples/round_crown.obj, embedded at build time).
std::string_view default_crown_obj();

} // namespace host
