// --output FILE.obj|FILE.gltf|FILE.glb: the tree for other tools, with materials, texture
// coordinates and the per-point data of the build (export/export.h). The OBJ writer here replaces
// the plain points-and-polygons one.
#include "build.h"
#include "export/export.h"

namespace cli {
namespace {

using PlainWriter = std::string (*)(const host::Layer &, const std::string &);

const bool registered =
    register_output_format(".obj", exporter::write_obj, 1) &&
    register_output_format(".gltf", static_cast<PlainWriter>(exporter::write_gltf), 1) &&
    register_output_format(".glb", static_cast<PlainWriter>(exporter::write_glb), 1);

} // namespace
} // namespace cli
