#include "serve/export.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "export/cancel.h"
#include "export/export.h"
#include "export/export_cost.h"
#include "export/out_of_memory.h"
#include "driver/tree_budget.h"
#include "export/obj_writer.h"
#include "serve/failure.h"
#include "serve/host.h"
#include "serve/http.h"

namespace serve {

namespace fs = std::filesystem;

namespace {

constexpr const char *folder_prefix = "ramulon-serve-";

// How long a request waits for the export before it.
constexpr std::chrono::seconds turn_wait{3};

// A new empty folder, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder()
    {
        static std::atomic<unsigned long> serial{0};
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        for (int attempt = 0; !ec && attempt < 100 && path_.empty(); ++attempt) {
            const fs::path candidate = base / (folder_prefix + std::to_string(getpid()) + "-" + std::to_string(serial++));
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

const char *part_name(ObjPart part)
{
    switch (part) {
    case ObjPart::obj:
        return "tree.obj";
    case ObjPart::mtl:
        return "tree.mtl";
    case ObjPart::bark:
        return "tree_bark.png";
    case ObjPart::bark_normal:
        return "tree_bark_normal.png";
    case ObjPart::leaf:
        return "tree_leaf.png";
    }
    return "tree.obj";
}

// About the size of a layer's OBJ text, erring high: a line of three numbers per point, about as
// many texture coordinates and normals as points, each of some thirty bytes, and some twenty
// bytes per corner of the faces (a tube tree of 8390 points writes 1.62 MB for 1.74 estimated).
double obj_text_bytes(const host::Layer &layer)
{
    return 96.0 * static_cast<double>(layer.points.size()) + 28.0 * static_cast<double>(layer.corners.size());
}

} // namespace

// ---- Download

struct Download::File {
    int fd = -1;
    ~File()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

Download Download::of_bytes(std::string bytes)
{
    Download d;
    d.size_ = bytes.size();
    d.owned_ = std::make_shared<std::string>(std::move(bytes));
    return d;
}

Download Download::of_shared(std::shared_ptr<const std::string> bytes)
{
    Download d;
    d.size_ = bytes->size();
    d.shared_ = std::move(bytes);
    return d;
}

ramulon::Result<Download> Download::of_file(const std::string &path)
{
    auto file = std::make_shared<File>();
    file->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (file->fd < 0 || ::fstat(file->fd, &info) != 0)
        return ramulon::fail(ramulon::ErrorKind::io, "cannot read back " + path + ": " + std::strerror(errno));
    Download d;
    d.file_ = std::move(file);
    d.size_ = static_cast<std::size_t>(info.st_size);
    return d;
}

bool Download::read(std::size_t offset, std::size_t length, std::string &out) const
{
    if (const std::string *bytes = owned_ ? owned_.get() : shared_.get()) {
        out.assign(*bytes, std::min(offset, bytes->size()), length);
        return true;
    }
    out.resize(length);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(file_->fd, out.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    return done == length;
}

// ---- the desk

// One build's OBJ set, in memory.
struct ExportDesk::ObjSet {
    int build = 0;
    exporter::ObjFiles files;
};

ExportDesk::Turn::Turn(ExportDesk &desk) : desk_(desk)
{
    std::unique_lock<std::mutex> lock(desk_.mutex_);
    const auto until = std::chrono::steady_clock::now() + turn_wait;
    while (desk_.busy_) {
        if (answer_abandoned()) {
            ++desk_.given_up_;
            refuse(ramulon::ErrorKind::cancelled, given_up_message);
        }
        if (std::chrono::steady_clock::now() >= until)
            refuse(ramulon::ErrorKind::busy, "Another export is running: try again in a few seconds.");
        desk_.turn_over_.wait_for(lock, std::chrono::milliseconds(100));
    }
    desk_.busy_ = true;
}

ExportDesk::Turn::~Turn()
{
    {
        std::lock_guard<std::mutex> lock(desk_.mutex_);
        desk_.busy_ = false;
    }
    desk_.turn_over_.notify_all();
}

void ExportDesk::Turn::done()
{
    std::lock_guard<std::mutex> lock(desk_.mutex_);
    ++desk_.made_;
}

// What a writer's error means for the client: a writer that fails on a tree the server built
// is the server's own fault.
void ExportDesk::refuse_failed_export(const ramulon::Error &error)
{
    switch (error.kind) {
    case ramulon::ErrorKind::cancelled: {
        std::lock_guard<std::mutex> lock(mutex_);
        ++given_up_;
        refuse(ramulon::ErrorKind::cancelled, given_up_message);
    }
    case ramulon::ErrorKind::out_of_memory:
        refuse(ramulon::ErrorKind::out_of_memory, out_of_memory_message);
    default:
        refuse(ramulon::ErrorKind::internal, error.message);
    }
}

ExportDesk::ExportDesk(std::size_t memory_limit) : memory_limit_(memory_limit) {}

ExportDesk::~ExportDesk() = default;

bool ExportDesk::running() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return busy_;
}

unsigned long ExportDesk::made() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return made_;
}

unsigned long ExportDesk::given_up() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return given_up_;
}

void ExportDesk::price(const BuiltTree &tree, const exporter::WriteOptions &options, bool obj) const
{
    exporter::ExportCost cost =
        exporter::export_cost(*tree.layer, options, obj ? exporter::Format::obj : exporter::Format::gltf);
    if (obj) // the writer's price is of text written a block at a time; the server keeps it whole
        cost.bytes += obj_text_bytes(*tree.layer);
    // The tree is held by the exports of its build, and a build the page asks for meanwhile
    // grows another about as large; and the OBJ set kept for its build, unless this export is
    // the one that replaces it.
    const double held = 2 * exporter::layer_bytes(*tree.layer) + (obj ? 0.0 : kept_obj_bytes());
    const std::string refused =
        driver::check_export_size(cost.bytes, cost.triangles, driver::export_budget(memory_limit_, held)).message();
    if (!refused.empty()) // the export would not fit in the memory the server may use
        refuse(ramulon::ErrorKind::out_of_memory, refused);
}

ramulon::Result<Download> ExportDesk::glb(const BuiltTree &tree, const exporter::WriteOptions &options)
{
    return caught<Download>([&] { return make_glb(tree, options); });
}

Download ExportDesk::make_glb(const BuiltTree &tree, const exporter::WriteOptions &options)
{
    Turn turn(*this);
    price(tree, options, false);
    exporter::CancelCheck cancel(answer_abandoned);
    if (options.plain()) {
        // Straight to memory: the page's copy need not pass through a file.
        ramulon::Result<std::string> bytes = exporter::write_tree_to_memory(*tree.layer, options);
        if (!bytes)
            refuse_failed_export(bytes.error());
        turn.done();
        return Download::of_bytes(std::move(*bytes));
    }
    // Levels, the far card and compression are written by the game-ready writer, file by file.
    TempFolder folder;
    if (folder.path().empty())
        refuse(ramulon::ErrorKind::io, "cannot make a temporary folder for the export");
    const std::string path = (folder.path() / "tree.glb").string();
    if (const ramulon::Status written = exporter::write_tree(*tree.layer, path, options); !written)
        refuse_failed_export(written.error());
    Download download = take(Download::of_file(path)); // open: the folder may go, the file stays readable
    turn.done();
    return download;
}

double ExportDesk::kept_obj_bytes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!obj_set_)
        return 0.0;
    double bytes = static_cast<double>(obj_set_->files.obj.size() + obj_set_->files.mtl.size());
    for (const auto &[name, image] : obj_set_->files.images)
        bytes += static_cast<double>(image.size());
    return bytes;
}

std::shared_ptr<const ExportDesk::ObjSet> ExportDesk::made_set(int build) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return obj_set_ && obj_set_->build == build ? obj_set_ : nullptr;
}

std::shared_ptr<const ExportDesk::ObjSet> ExportDesk::make_obj_set(const BuiltTree &tree)
{
    price(tree, exporter::WriteOptions{}, true);
    exporter::CancelCheck cancel(answer_abandoned);
    {
        // The earlier build's set goes first (answers still sending it keep their share).
        std::lock_guard<std::mutex> lock(mutex_);
        obj_set_.reset();
    }
    auto set = std::make_shared<ObjSet>();
    set->build = tree.build;
    ramulon::Result<exporter::ObjFiles> files = exporter::obj_files(*tree.layer, part_name(ObjPart::obj), {});
    if (!files)
        refuse_failed_export(files.error());
    set->files = std::move(files).value();
    std::lock_guard<std::mutex> lock(mutex_);
    obj_set_ = set;
    return set;
}

namespace {

// The bytes of one part of a set, shared with the set; null when the set has no such file.
std::shared_ptr<const std::string> part_bytes(const std::shared_ptr<const exporter::ObjFiles> &files, ObjPart part)
{
    if (part == ObjPart::obj)
        return {files, &files->obj};
    if (part == ObjPart::mtl)
        return {files, &files->mtl};
    for (const auto &[name, bytes] : files->images)
        if (name == part_name(part))
            return {files, &bytes};
    return nullptr;
}

} // namespace

std::optional<std::size_t> ExportDesk::made_size(int build, ObjPart part)
{
    const std::shared_ptr<const ObjSet> set = made_set(build);
    if (!set)
        return std::nullopt;
    const std::shared_ptr<const std::string> bytes = part_bytes({set, &set->files}, part);
    return bytes ? std::optional<std::size_t>(bytes->size()) : std::nullopt;
}

ramulon::Result<Download> ExportDesk::obj(const BuiltTree &tree, ObjPart part)
{
    return caught<Download>([&] {
        std::shared_ptr<const ObjSet> set = made_set(tree.build);
        if (!set) {
            Turn turn(*this);
            set = made_set(tree.build); // made while this request waited its turn
            if (!set) {
                set = make_obj_set(tree);
                turn.done();
            }
        }
        std::shared_ptr<const std::string> bytes = part_bytes({set, &set->files}, part);
        if (!bytes)
            refuse(ramulon::ErrorKind::not_found, std::string("This tree has no ") + part_name(part) + ".");
        return Download::of_shared(std::move(bytes));
    });
}

void sweep_export_folders()
{
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec)
        return;
    const std::string prefix = folder_prefix;
    for (const auto &entry : fs::directory_iterator(base, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0 || !entry.is_directory(ec))
            continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        // A server that is gone: no process has its number any more.
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            fs::remove_all(entry.path(), ec);
    }
}

} // namespace serve
