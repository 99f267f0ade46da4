// The tree as downloadable files. Exports are the server's largest work, so they go through one
// desk: one export at a time (another waits a few seconds for its turn, then is answered 503
// with Retry-After), each priced before it starts against the memory the server may use and
// refused at once when it does not fit, each given up when its client has gone or the server
// stops, and the OBJ with its material library and textures made once per build and handed out
// file by file. The plain GLB of the view is made in memory; every other export is written by
// the exporters into a folder of its own under the system's temporary folder and streamed from
// there (a folder a killed server left behind is removed by the next server).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "common/error.h"
#include "export/write_options.h"
#include "host/mesh.h"

namespace serve {

// The tree of one build, as exports read it.
struct BuiltTree {
    std::shared_ptr<const host::Layer> layer;
    int build = 0; // the build's number (BuildInfo::count)
};

// A file to hand out: bytes in memory, or a file on the disk read as it is sent.
class Download {
public:
    static Download of_bytes(std::string bytes);
    // False with the error when the file cannot be opened.
    static bool of_file(const std::string &path, Download &out, std::string &error);

    std::size_t size() const { return size_; }
    bool in_memory() const { return bytes_ != nullptr; }
    std::string take_bytes() { return std::move(*bytes_); }
    // Up to length bytes from offset; false when the file cannot be read.
    bool read(std::size_t offset, std::size_t length, std::string &out) const;

private:
    struct File;
    std::shared_ptr<std::string> bytes_;
    std::shared_ptr<File> file_;
    std::size_t size_ = 0;
};

// The files of the OBJ set.
enum class ObjPart { obj, mtl, bark, bark_normal, leaf };

class ExportDesk {
public:
    // memory_limit: the server's --memory-limit (0: the available memory less a margin).
    explicit ExportDesk(std::size_t memory_limit);
    ~ExportDesk();
    ExportDesk(const ExportDesk &) = delete;
    ExportDesk &operator=(const ExportDesk &) = delete;

    // Each throws ApiError: 503 busy (with Retry-After), too large, out of memory or given up.
    Download glb(const BuiltTree &tree, const exporter::WriteOptions &options);
    // One file of the build's OBJ set; a part the tree has no use for (a bark texture without
    // tubes) answers 404.
    Download obj(const BuiltTree &tree, ObjPart part);
    // The size of a part when that build's set is made already.
    std::optional<std::size_t> made_size(int build, ObjPart part);

    bool running() const;         // an export is being made now
    unsigned long made() const;     // exports run to the end so far
    unsigned long given_up() const; // exports whose client went or whose server stopped

    // The desk's one export at a time: a turn waits while another export holds one, a few
    // seconds at most (then ApiError 503 with Retry-After), or until its client has gone.
    class Turn {
    public:
        explicit Turn(ExportDesk &desk);
        ~Turn();
        Turn(const Turn &) = delete;
        Turn &operator=(const Turn &) = delete;
        void done(); // the export ran to its end

    private:
        ExportDesk &desk_;
    };

private:
    struct ObjSet;
    [[noreturn]] void refuse_failed_export(const ramulon::Error &error);
    void price(const BuiltTree &tree, const exporter::WriteOptions &options, bool obj) const;
    std::string part_path(ObjPart part) const;

    std::size_t memory_limit_;
    mutable std::mutex mutex_;
    std::condition_variable turn_over_;
    bool busy_ = false;
    unsigned long made_ = 0, given_up_ = 0;
    std::unique_ptr<ObjSet> obj_set_; // the last build's, under mutex_
};

// Removes the export folders of servers that are no longer running.
void sweep_export_folders();

} // namespace serve
