// How a tree is written: the look every format shares (textures, subdivision, normals) and, for
// glTF, what a file holds beyond the tree as built: levels of detail for game engines, a far-view
// card, and compact storage. The default is the tree as built: one level, no card, plain floats.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/error.h"
#include "export/mesh/export_options.h"

namespace exporter {

// Engines' LOD groups rarely go beyond a handful of levels; more would only add files nobody loads.
inline constexpr int max_levels = 8;

// How compact the buffers are, and so who can read the file.
enum class Compression {
    none,
    // Quantised positions and normals (KHR_mesh_quantization) and every buffer view compressed
    // by meshoptimizer (EXT_meshopt_compression): the smallest files, for three.js, Babylon.js
    // and engines with a meshopt decoder; Blender reads them only from its 5.x series on.
    meshopt,
    // The quantised positions and normals alone, in plain buffer views: readers of
    // KHR_mesh_quantization, Blender 3.x's importer among them.
    quantize,
};

// The one record of a write. An OBJ reads `look` only; the other fields ask for glTF.
struct WriteOptions {
    int levels = 1;           // LOD0 (the tree) and levels - 1 simplified copies
    bool level_files = false; // each level (and the card) in a file of its own
    bool impostor = false;    // the far-view card, "<name>_LOD_FAR"
    Compression compress = Compression::none;
    // Vertex cache and fetch order. Always on for the files people get; off only to look at the
    // vertices in the order the writer collects them from the layer.
    bool vertex_order = true;
    ExportOptions look{}; // textures, subdivision, normals: as for every format

    // The tree as built: nothing a plain glTF or an OBJ cannot hold.
    bool plain() const { return levels == 1 && !level_files && !impostor && compress == Compression::none; }
};

// Whether the glTF fields make sense together (levels 1 to max_levels). The only error is
// invalid_input, worded for the command line ("--lod must be between ...").
ramulon::Status check_options(const WriteOptions &options);

// What a write produced, for the summary people read.
struct WriteReport {
    struct File {
        std::string path;
        std::size_t bytes = 0;
    };
    std::vector<File> files;                  // every file written, the main one first
    std::vector<std::size_t> level_triangles; // per level, LOD0 first (glTF only)
    std::size_t far_triangles = 0;            // the card's, when there is one
};

// One line per file and the triangles per level, e.g. for the command line's output.
std::string report_text(const WriteReport &report);

} // namespace exporter
