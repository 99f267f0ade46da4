// Wavefront OBJ into a layer (the background crown envelope): every `v` becomes a point in file
// order, every `f` a FACE polygon in file order, then every two-point `l` a two-point polygon
// and every longer `l` an open CURV polygon. Groups, materials and texture data mean nothing to
// a background layer and are ignored.
#pragma once

#include <string>
#include <string_view>

#include "common/error.h"
#include "mesh.h"

namespace host {

// Replaces the layer's contents: on success it holds one point per `v` and one polygon per `f`
// and `l`, every corner a point of the layer, and nothing else; on failure it is empty. The only
// error conditions are those of read_regular_file (load_obj_file alone) and text that is no
// OBJ or uses what a crown cannot (invalid_input, "crown.obj:12: ..."; name stands for the
// file in messages).
ramulon::Status load_obj_file(const std::string &path, Layer &layer);
ramulon::Status load_obj_text(std::string_view text, const std::string &name, Layer &layer);

// The built-in default crown (samples/round_crown.obj, embedded at build time).
std::string_view default_crown_obj();

} // namespace host
