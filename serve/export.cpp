#include "serve/export.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <unistd.h>

#include "export/export.h"

namespace serve {

namespace fs = std::filesystem;

namespace {

// A new empty folder, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder()
    {
        static std::atomic<unsigned long> serial{0};
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        for (int attempt = 0; !ec && attempt < 100 && path_.empty(); ++attempt) {
            const fs::path candidate = base / ("ramulon-serve-" + std::to_string(getpid()) + "-" +
                                               std::to_string(serial++));
            if (fs::create_directory(candidate, ec))
                path_ = candidate;
        }
    }
    ~TempFolder()
    {
        std::error_code ec;
        if (!path_.empty())
            fs::remove_all(path_, ec);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

bool read_bytes(const fs::path &path, std::string &bytes, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    if (in)
        out << in.rdbuf();
    if (!in) {
        error = "cannot read back " + path.string();
        return false;
    }
    bytes = out.str();
    return true;
}

// One file a writer makes: optional ones (textures a tree without tubes or leaves lacks) are
// read only when they were written.
struct Output {
    const char *name;
    std::string *bytes;
    bool optional = false;
};

// Runs the writer on tree.<ext> in a new temporary folder and reads back the files it made.
std::string write_and_read(const std::function<std::string(const host::Layer &, const std::string &)> &writer,
                           const host::Layer &layer, const std::string &file,
                           std::initializer_list<Output> outputs)
{
    TempFolder folder;
    if (folder.path().empty())
        return "cannot make a temporary folder for the export";
    std::string error = writer(layer, (folder.path() / file).string());
    for (const Output &output : outputs)
        if (error.empty() && (!output.optional || fs::exists(folder.path() / output.name)))
            read_bytes(folder.path() / output.name, *output.bytes, error);
    return error;
}

} // namespace

ExportFiles export_glb(const host::Layer &layer, const exporter::GltfOptions &options)
{
    // Straight to memory: the page's copy need not pass through a file, let alone be synced to disk.
    ExportFiles files;
    if (options.plain()) {
        files.error = exporter::glb_bytes(layer, files.glb);
        return files;
    }
    // Levels, the far card and compression are written by the game-ready writer, file by file.
    const auto writer = [&options](const host::Layer &l, const std::string &path) {
        return exporter::write_glb(l, path, options);
    };
    files.error = write_and_read(writer, layer, "tree.glb", {{"tree.glb", &files.glb}});
    return files;
}

ExportFiles export_obj(const host::Layer &layer)
{
    ExportFiles files;
    const auto writer = [](const host::Layer &l, const std::string &path) { return exporter::write_obj(l, path); };
    files.error = write_and_read(writer, layer, "tree.obj",
                                 {{"tree.obj", &files.obj},
                                  {"tree.mtl", &files.mtl},
                                  {"tree_bark.png", &files.bark_png, true},
                                  {"tree_bark_normal.png", &files.bark_normal_png, true},
                                  {"tree_leaf.png", &files.leaf_png, true}});
    return files;
}

} // namespace serve
