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
//   is split where its polygon-specific values or normals differ. See gltf/gltf_collect.h for the
//   attributes. Triangles and vertices are then put in the order a GPU's vertex cache and fetch
//   like (vertex_order.h), so the buffers are not in the layer's order.
//
// Sizes: a GLB is at most 4 GiB (its length is a 32-bit field); indices are 16-bit while a
// primitive has at most 65535 vertices, else 32-bit.
#pragma once

#include <string>

#include "common/error.h"
#include "export/mesh/export_options.h"
#include "export/write_options.h"
#include "host/mesh.h"

namespace exporter {

// Writes the layer to path in the format of its extension (case-insensitive):
// - ".obj": path, its material library beside it ("NAME.mtl") and its images ("NAME_bark.png",
//   "NAME_bark_normal.png", "NAME_leaf.png", as the materials use them); reads options.look only.
// - ".gltf": path, its buffer beside it ("NAME.bin"; none for a tree without polygons) and its
//   images beside it as for OBJ ("NAME_leaves.png" for the leaf atlas).
// - ".glb": one self-contained file, images inside.
// With levels, a far card or compression (options.plain() false; glTF only), the levels hang
// under a node NAME as "NAME_LOD0" ... and the card as "NAME_LOD_FAR"; with level_files each is a
// file of its own beside path ("NAME_LOD1.glb", "NAME_LOD_FAR.glb"), path holding LOD0.
// report, when given, receives a glTF write's files (the main one first) with their sizes and the
// triangles per level and of the card.
//
// The same layer and options give the same bytes. A failed write leaves no file behind and any
// earlier files at the paths untouched.
//
// The only error conditions are: an unknown extension, options out of range or asked of the
// wrong format, a texture folder whose images do not load, a corrupt layer, a far card asked of a
// tree without surfaces, a tree larger than a GLB can hold (invalid_input); a file that cannot be
// written (io); memory running out (out_of_memory); the calling thread's export cancelled
// (cancelled, cancel.h); the glTF serialiser or the PNG encoder failing (internal). Every message
// reads "cannot write PATH: why", but for the options' own ("--lod must be between ...",
// "subdivision levels must be 0 to ...").
ramulon::Status write_tree(const host::Layer &layer, const std::string &path, const WriteOptions &options = {},
                           WriteReport *report = nullptr);

// The bytes write_tree would write to a .glb whose file name is name (the group node's name comes
// from it), kept in memory: for the page's view of the tree and the server's downloads. The same
// error conditions but io; level files (invalid_input) need a path.
ramulon::Result<std::string> write_tree_to_memory(const host::Layer &layer, const WriteOptions &options = {},
                                                  const std::string &name = "tree.glb", WriteReport *report = nullptr);

// Whether write_tree could write path with these options, asked before the tree is built:
// nothing is written. The errors are write_tree's invalid_input ones that do not need the tree.
ramulon::Status check_write(const std::string &path, const WriteOptions &options);

// "builtin", "none", or a folder holding bark.png, leaves.png and leaf.png.
void choose_textures(ExportOptions &look, const std::string &textures);

// The known extensions (".glb, .gltf, .obj"), for messages.
std::string file_format_list();

} // namespace exporter
