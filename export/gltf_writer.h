// The glTF writers behind export.h's entry point, with its contract and its error conditions.
// Internal to the writers.
#pragma once

#include <string>

#include "common/error.h"
#include "export/write_options.h"
#include "host/mesh.h"

namespace exporter {

// path as a GLB (binary) or a .gltf with its .bin and images beside it, and the level files.
ramulon::Status write_gltf(const host::Layer &layer, const std::string &path, bool binary, const WriteOptions &options,
                           WriteReport *report);

// The GLB a file named name would hold, in bytes (replaced).
ramulon::Status glb_in_memory(const host::Layer &layer, const std::string &name, const WriteOptions &options,
                              std::string &bytes, WriteReport *report);

} // namespace exporter
