// The tree as downloadable files. Exports are the server's largest work, so they go through one
// desk: one export at a time (another waits a few seconds for its turn, then is refused busy),
// each priced before it starts against the memory the server may use and refused at once when
// it does not fit, each given up when its client has gone or the server stops. The OBJ with its
// material library and textures is made in memory once per build, from the build's shared
// snapshot of the tree, and handed out file by file to every request of that build at once.
// The plain GLB of the view is made in memory; the game-ready GLB is written by its writer into
// a folder of its own under the system's temporary folder and streamed from there (a folder a
// killed server left behind is removed by the next server).
//
// The only error conditions of an export are: another export holds the desk longer than a
// request waits (busy, retry after a few seconds); the export would not fit in the memory the
// server may use, or memory ran out while it was made (out_of_memory); its client has gone or
// the server is stopping (cancelled); the tree has no such file (not_found); a writer failed
// (internal).
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

// The tree of one build, as exports read it: one read-only snapshot shared by every export of
// the build, while the session goes on to the next.
struct BuiltTree {
    std::shared_ptr<const host::Layer> layer;
    int build = 0; // the build's number (BuildInfo::count)
};

// A file to hand out: bytes of its own (taken over by the answer), bytes shared with other
// answers, or a file on the disk; the last two are read as they are sent.
class Download {
public:
    static Download of_bytes(std::string bytes);
    static Download of_shared(std::shared_ptr<const std::string> bytes);
    // The only error condition is a file that cannot be opened (io).
    static ramulon::Result<Download> of_file(const std::string &path);

    std::size_t size() const { return size_; }
    bool owned() const { return owned_ != nullptr; }
    std::string take_bytes() { return std::move(*owned_); } // only when owned()
    // Up to length bytes from offset; false when the file cannot be read.
    bool read(std::size_t offset, std::size_t length, std::string &out) const;

private:
    struct File;
    std::shared_ptr<std::string> owned_;
    std::shared_ptr<const std::string> shared_;
    std::shared_ptr<File> file_;
    std::size_t size_ = 0;
};

// The options of the page's view of the tree: those of the download but the vertex order. The
// view is drawn, never saved: its triangles and vertices stay in the order they are collected
// from the layer, tube ring by ring and leaf by leaf, which a GPU's vertex cache takes nearly as
// well as the optimiser's order, so that an edit is answered without the optimiser's passes.
// Downloads keep the order engines are given.
inline exporter::WriteOptions view_options(exporter::WriteOptions download)
{
    download.vertex_order = false;
    return download;
}

// The files of the OBJ set.
enum class ObjPart { obj, mtl, bark, bark_normal, leaf };

class ExportDesk {
public:
    // memory_limit: the server's --memory-limit (0: the available memory less a margin).
    explicit ExportDesk(std::size_t memory_limit);
    ~ExportDesk();
    ExportDesk(const ExportDesk &) = delete;
    ExportDesk &operator=(const ExportDesk &) = delete;

    ramulon::Result<Download> glb(const BuiltTree &tree, const exporter::WriteOptions &options);
    // One file of the build's OBJ set; a part the tree has no use for (a bark texture without
    // tubes) is not_found.
    ramulon::Result<Download> obj(const BuiltTree &tree, ObjPart part);
    // The size of a part when that build's set is made already.
    std::optional<std::size_t> made_size(int build, ObjPart part);

    bool running() const;         // an export is being made now
    unsigned long made() const;     // exports run to the end so far
    unsigned long given_up() const; // exports whose client went or whose server stopped

    // The desk's one export at a time: a turn waits while another export holds one, a few
    // seconds at most, or until its client has gone; then it throws Refused (busy, cancelled),
    // which the desk's calls return as their error.
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
    Download make_glb(const BuiltTree &tree, const exporter::WriteOptions &options);
    std::shared_ptr<const ObjSet> made_set(int build) const;
    double kept_obj_bytes() const;
    std::shared_ptr<const ObjSet> make_obj_set(const BuiltTree &tree);

    std::size_t memory_limit_;
    mutable std::mutex mutex_;
    std::condition_variable turn_over_;
    bool busy_ = false;
    unsigned long made_ = 0, given_up_ = 0;
    std::shared_ptr<const ObjSet> obj_set_; // the last build's, under mutex_
};

// Removes the export folders of servers that are no longer running.
void sweep_export_folders();

} // namespace serve
