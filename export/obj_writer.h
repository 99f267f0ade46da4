// Wavefront OBJ with its material library and the textures the library names, as files on the
// disk or as bytes in memory (the server's downloads).
//
// What a set holds, for an OBJ named NAME.obj:
// - NAME.obj: "mtllib NAME.mtl", the points in the layer's order, the shared texture coordinates
//   and normals, then the polygons in their order (faces `f`, two-point polygons `l`, one-point
//   polygons `p`) with `usemtl` wherever the surface changes.
// - NAME.mtl: one material per surface in the order the surfaces first appear.
// - the images the materials use, each named NAME_IMAGE ("tree_bark.png", "tree_bark_normal.png",
//   "tree_leaf.png"): the bark and its normal map only when the tree has woody faces with bark
//   coordinates, the leaf only when it has leaves with leaf coordinates; none with colours only.
// Both forms make the very same bytes for the same layer, name and options.
//
// The only error conditions are: the layer is corrupt, a texture of the options is refused or
// the cage cannot be subdivided (invalid_input); a file cannot be written (io, on the disk only);
// memory ran out (out_of_memory); the calling thread's export was cancelled (cancelled, see
// cancel.h). Messages read "cannot write PATH: why". A failed write leaves no file behind and any
// earlier files at the paths untouched.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/error.h"
#include "export/mesh/export_options.h"
#include "host/mesh.h"

namespace exporter {

struct ObjFiles {
    std::string obj, mtl;
    std::vector<std::pair<std::string, std::string>> images; // file name, PNG bytes
};

// path plus its material library beside it (path with ".mtl"; "NAME.mtl.mtl" for a path that
// ends in .mtl already) and its images beside it.
ramulon::Status write_obj(const host::Layer &layer, const std::string &path, const ExportOptions &options = {});

// The set write_obj would write at a path whose file name is `name`, kept in memory.
ramulon::Result<ObjFiles> obj_files(const host::Layer &layer, const std::string &name, const ExportOptions &options);

} // namespace exporter
