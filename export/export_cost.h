// What an export costs in memory, asked before it starts: the tree's own mesh is held already,
// the export adds the subdivided cage, the arrays of the file's vertices and triangles, the
// simplified levels, the far card's pictures and the compressed buffers. The estimate is a
// price per triangle of the written mesh (and per refined face of the cage, and per triangle and
// level of detail for the game-ready files), measured as the peak resident size of exports less
// the size before them over the shipped presets (bench/export_peaks.cpp) and rounded up so that
// none of them is under-estimated.
//
// An estimate: it cannot fail, and reads the layer only (no subdivision, no textures loaded).
#pragma once

#include "export/write_options.h"
#include "export/mesh/prepared_mesh.h"
#include "host/mesh.h"

namespace exporter {

struct ExportCost {
    double bytes = 0.0;     // the export's peak memory beyond the layer it reads
    double triangles = 0.0; // of the written mesh (LOD0), after subdivision
    int subdivision = 0;    // levels applied
};

// The cost of writing the layer in the format with these options (an OBJ reads options.look
// only).
ExportCost export_cost(const host::Layer &layer, const WriteOptions &options, Format format);

// What the layer itself holds in memory (a copy of it costs as much).
double layer_bytes(const host::Layer &layer);

} // namespace exporter
