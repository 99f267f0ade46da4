// The tree as downloadable bytes: the exporters write into a folder of their own under the
// system's temporary folder, the bytes are read back and the folder is removed.
#pragma once

#include <string>

#include "export/gltf/gltf_options.h"
#include "host/mesh.h"

namespace serve {

struct ExportFiles {
    std::string error; // empty on success
    std::string glb;
    std::string obj, mtl;
    std::string bark_png, bark_normal_png, leaf_png; // the textures the MTL names, beside tree.obj
};

// The layer as one GLB file, with textures, levels of detail, far card and compression as asked.
ExportFiles export_glb(const host::Layer &layer, const exporter::GltfOptions &options = {});
// The layer as tree.obj with its material library tree.mtl and the textures it names.
ExportFiles export_obj(const host::Layer &layer);

} // namespace serve
