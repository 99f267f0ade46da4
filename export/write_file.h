// Writing a tree to the file a path names, with every option `ramulon build --output` takes:
// the look of every format (textures, subdivision, creases, wind colours) and, for glTF, levels
// of detail, the far-view card and compression. The command line, `ramulon batch` and the
// library all write through here, so the same options give the same bytes.
#pragma once

#include <string>

#include "export/mesh/export_options.h"
#include "export/gltf/gltf_options.h"
#include "host/mesh.h"

namespace exporter {

struct FileOptions {
    ExportOptions look;  // every format
    GltfOptions gltf;    // .gltf and .glb only (its own `look` is replaced by the one above)
};

// "builtin", "none", or a folder holding bark.png, leaves.png and leaf.png.
void choose_textures(ExportOptions &look, const std::string &textures);

// Whether these options can write this path: a known format, the glTF-only options only for
// glTF, values in their ranges, a texture folder whose images load. Empty, or a one-line error
// (nothing has been written then).
std::string check_file_options(const std::string &path, const FileOptions &options);

// The known extensions (".glb", ".gltf", ".obj"), for messages.
std::string file_format_list();

// Writes the layer in the format of path's extension (case-insensitive). Empty on success, else
// a one-line error; a failed write leaves nothing behind. report, when given, receives a glTF
// write's files and triangles.
std::string write_file(const host::Layer &layer, const std::string &path, const FileOptions &options,
                       GltfReport *report = nullptr);

} // namespace exporter
