// Files that belong together (a glTF and its buffer, an OBJ and its materials) appear together
// or not at all: each is written to a temporary beside its target, and only when every one is
// complete are they renamed into place.
#pragma once

#include <string>
#include <vector>

namespace exporter {

class StagedFiles {
public:
    StagedFiles() = default;
    ~StagedFiles(); // removes every temporary that was not committed
    StagedFiles(const StagedFiles &) = delete;
    StagedFiles &operator=(const StagedFiles &) = delete;

    // Writes the bytes to a temporary file in path's folder. False with a one-line error.
    bool stage(const std::string &path, const std::string &bytes, std::string &error);
    // Renames the temporaries onto their targets, in staging order. If one rename fails, the
    // targets already replaced get their earlier file back (or are removed when there was none),
    // so that no half of a set is left.
    bool commit(std::string &error);

private:
    struct Entry {
        std::string target;
        std::string temporary;
        std::string backup; // a second name of the earlier target file, while committing
        bool renamed = false;
    };
    std::vector<Entry> entries_;
};

// The path with its extension replaced ("out/tree.gltf", ".bin" -> "out/tree.bin").
std::string sibling_path(const std::string &path, const std::string &extension);
// The last component of a path ("out/tree.bin" -> "tree.bin").
std::string file_name(const std::string &path);

} // namespace exporter
