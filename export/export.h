// Writing a built tree out of the modeller for the tools artists use: Wavefront OBJ (+ MTL) and
// glTF 2.0 (.gltf + .bin, or .glb). Every writer reads the foreground layer as the build left it:
// points, polygons with their surfaces and colour tags, and the vertex maps; the options
// (export_options.h) add textures, subdivide the woody cage and split normals at sharp edges.
//
// What goes where:
// - One material per surface ("RM_trunk", "RM_branch", "RM_twig", "RM_root", "VF_leaf"), in the
//   order the surfaces first appear; polygons without a surface share the material "Default".
//   Trunk, branches and roots look alike (bark), twigs a lighter bark, leaves a double-sided,
//   alpha-masked leaf (materials.h); any other surface the colour of its sketch colour tag
//   (COLR) that most of its tagged polygons carry, light grey without one.
// - Textures (textures.h): Ramulon's own or the user's, inside a .glb, beside a .gltf or .obj.
// - Texture coordinates: "RM_leaf" on "VF_leaf" polygons, "RM_branch" on every other surface.
//   A corner whose (point, polygon) pair has a polygon-specific value uses it (the seams of the
//   tubes), every other corner the point's continuous value.
// - Normals per corner (normals.h), in both formats.
// - OBJ keeps polygons as they are (quads stay quads, SubD cages are written as their cage
//   unless subdivision is asked for), two-point polygons become `l` lines and one-point
//   polygons `p` points.
// - glTF: one primitive per surface and kind (triangles, lines, points), polygons triangulated
//   (normals.h: triangulate). A vertex is one point with one set of corner values, so a point
//   is split where its polygon-specific values or normals differ. See gltf_writer.cpp for the
//   attributes. Triangles and vertices are then put in the order a GPU's vertex cache and fetch
//   like (vertex_order.h), so the buffers are not in the layer's order.
//
// Each writer returns an empty string on success, else a one-line error; a failed write leaves
// no file behind (and any earlier file at the path untouched).
#pragma once

#include <string>

#include "export/gltf/gltf_options.h"
#include "export/mesh/export_options.h"
#include "export/obj_writer.h" // write_obj and obj_files
#include "host/mesh.h"

namespace exporter {

// path.gltf plus its binary buffer beside it (same name, ".bin").
std::string write_gltf(const host::Layer &layer, const std::string &path);
// One self-contained binary file.
std::string write_glb(const host::Layer &layer, const std::string &path);
// The bytes write_glb would write, kept in memory (for the page's view of the tree).
std::string glb_bytes(const host::Layer &layer, std::string &bytes);

// The same with textures, levels of detail, the far-view card and compression as asked
// (gltf_options.h; its `look` holds the ExportOptions); report, when given, receives the files
// and their sizes.
std::string write_gltf(const host::Layer &layer, const std::string &path, const GltfOptions &options,
                       GltfReport *report = nullptr);
std::string write_glb(const host::Layer &layer, const std::string &path, const GltfOptions &options,
                      GltfReport *report = nullptr);
// The same with textures, subdivision and normals as options ask (the forms above use the
// defaults of ExportOptions). Textures go beside a .gltf or .obj as NAME_bark.png,
// NAME_leaves.png, NAME_leaf.png and inside a .glb.
std::string write_gltf(const host::Layer &layer, const std::string &path, const ExportOptions &options);
std::string write_glb(const host::Layer &layer, const std::string &path, const ExportOptions &options);

} // namespace exporter
