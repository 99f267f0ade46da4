// Writing output files so that a reader never sees half a file: everything goes to a temporary
// file in the same folder, which is renamed over the target only when complete and on the disk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// Calls fill with an open temporary file; when fill returns true and everything reached the
// disk, renames the file to path. Returns false with a one-line error otherwise, leaving any
// previous file at path untouched.
bool write_file_atomically(const std::string &path, const std::function<bool(std::FILE *)> &fill,
                           std::string &error);

bool write_text_file(const std::string &path, const std::string &text, std::string &error);

// Files that belong together (a preset and its thumbnail, a glTF and its buffer, an OBJ and its
// materials) appear together or not at all: each is written to a temporary beside its target,
// and only when every one is complete are they renamed into place.
class StagedFiles {
public:
    StagedFiles() = default;
    ~StagedFiles(); // removes every temporary that was not committed
    StagedFiles(const StagedFiles &) = delete;
    StagedFiles &operator=(const StagedFiles &) = delete;

    // Writes the bytes to a temporary file in path's folder. False with a one-line error.
    bool stage(const std::string &path, const std::string &bytes, std::string &error);
    // The same for a file written in pieces, one after another (a large file need not be
    // gathered into one string first).
    bool stage(const std::string &path, std::initializer_list<std::string_view> pieces,
               std::string &error);
    bool stage(const std::string &path, std::span<const std::string_view> pieces, std::string &error);
    // A file written in place while its bytes are made, so that a large one need not be held
    // in memory at all: open() stages a temporary and returns its handle (-1 with an error),
    // write_at() puts pieces one after another from a byte offset, finish() puts the file on
    // the disk. Every opened file is finished before commit.
    int open(const std::string &path, std::string &error);
    bool write_at(int file, std::uint64_t offset, std::span<const std::string_view> pieces,
                  std::string &error);
    bool finish(int file, std::string &error);
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
        int fd = -1; // open while the file is written in place
    };
    std::vector<Entry> entries_;
};

} // namespace host
