// Files that belong together (a glTF and its buffer, an OBJ and its materials) appear together
// or not at all: the host's staged files write each to a temporary beside its target and rename
// them into place only when every one is complete.
//
// The path helpers here cannot fail; the staged files' own calls fail with a one-line reason
// (the writers pass it on as an error of kind io).
#pragma once

#include <string>

#include "host/files.h"

namespace exporter {

using StagedFiles = host::StagedFiles;

// The path with its extension replaced ("out/tree.gltf", ".bin" -> "out/tree.bin").
std::string sibling_path(const std::string &path, const std::string &extension);
// The last component of a path ("out/tree.bin" -> "tree.bin").
std::string file_name(const std::string &path);

} // namespace exporter
