#include "serve/export.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "export/cancel.h"
#include "export/export.h"
#include "export/export_cost.h"
#include "export/out_of_memory.h"
#include "driver/tree_budget.h"
#include "serve/host.h"
#include "serve/http.h"

namespace serve {

namespace fs = std::filesystem;

namespace {

constexpr const char *folder_prefix = "ramulon-serve-";

// How long a request waits for the export before it, and when its client should try again.
constexpr std::chrono::seconds turn_wait{3};
constexpr int retry_seconds = 5;

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

constexpr const char *given_up_message = "The export was given up: its client has gone or the server is stopping.";

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
    d.bytes_ = std::make_shared<std::string>(std::move(bytes));
    return d;
}

bool Download::of_file(const std::string &path, Download &out, std::string &error)
{
    auto file = std::make_shared<File>();
    file->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (file->fd < 0 || ::fstat(file->fd, &info) != 0) {
        error = "cannot read back " + path + ": " + std::strerror(errno);
        return false;
    }
    out = Download{};
    out.file_ = std::move(file);
    out.size_ = static_cast<std::size_t>(info.st_size);
    return true;
}

bool Download::read(std::size_t offset, std::size_t length, std::string &out) const
{
    if (bytes_) {
        out.assign(*bytes_, std::min(offset, bytes_->size()), length);
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

// One OBJ set: its build and the folder holding its files.
struct ExportDesk::ObjSet {
    int build = 0;
    TempFolder folder;
};

ExportDesk::Turn::Turn(ExportDesk &desk) : desk_(desk)
{
    std::unique_lock<std::mutex> lock(desk_.mutex_);
    const auto until = std::chrono::steady_clock::now() + turn_wait;
    while (desk_.busy_) {
        if (answer_abandoned()) {
            ++desk_.given_up_;
            throw ApiError(503, given_up_message);
        }
        if (std::chrono::steady_clock::now() >= until)
            throw ApiError(503, "Another export is running: try again in a few seconds.", retry_seconds);
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

// What a writer's error means for the client.
void ExportDesk::refuse_failed_export(const ramulon::Error &error)
{
    if (error.kind == ramulon::ErrorKind::cancelled) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++given_up_;
        throw ApiError(503, given_up_message);
    }
    if (error.kind == ramulon::ErrorKind::out_of_memory)
        throw ApiError(503, out_of_memory_message);
    throw ApiError(500, error.message);
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
    const exporter::ExportCost cost =
        exporter::export_cost(*tree.layer, options, obj ? exporter::Format::obj : exporter::Format::gltf);
    // The tree is held twice: by the session and by the exports of its build.
    const std::string refused = driver::check_export_size(
        cost.bytes, cost.triangles, driver::export_budget(memory_limit_, 2 * exporter::layer_bytes(*tree.layer)));
    if (!refused.empty())
        throw ApiError(503, refused);
}

Download ExportDesk::glb(const BuiltTree &tree, const exporter::WriteOptions &options)
{
    Turn turn(*this);
    price(tree, options, false);
    exporter::CancelCheck cancel(answer_abandoned);
    if (options.plain()) {
        // Straight to memory: the page's copy need not pass through a file.
        ramulon::Result<std::string> bytes = exporter::write_tree_to_memory(*tree.layer);
        if (!bytes)
            refuse_failed_export(bytes.error());
        turn.done();
        return Download::of_bytes(std::move(*bytes));
    }
    // Levels, the far card and compression are written by the game-ready writer, file by file.
    TempFolder folder;
    if (folder.path().empty())
        throw ApiError(500, "cannot make a temporary folder for the export");
    const std::string path = (folder.path() / "tree.glb").string();
    if (const ramulon::Status written = exporter::write_tree(*tree.layer, path, options); !written)
        refuse_failed_export(written.error());
    Download download;
    std::string error;
    if (!Download::of_file(path, download, error)) // open: the folder may go, the file stays readable
        throw ApiError(500, error);
    turn.done();
    return download;
}

std::string ExportDesk::part_path(ObjPart part) const { return (obj_set_->folder.path() / part_name(part)).string(); }

std::optional<std::size_t> ExportDesk::made_size(int build, ObjPart part)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::error_code ec;
    if (!obj_set_ || obj_set_->build != build)
        return std::nullopt;
    const std::uintmax_t size = fs::file_size(part_path(part), ec);
    return ec ? std::nullopt : std::optional<std::size_t>(size);
}

Download ExportDesk::obj(const BuiltTree &tree, ObjPart part)
{
    const auto made_part = [&](Download &download) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!obj_set_ || obj_set_->build != tree.build)
            return false;
        std::string error;
        if (!Download::of_file(part_path(part), download, error))
            throw ApiError(404, std::string("This tree has no ") + part_name(part) + ".");
        return true;
    };
    Download download;
    if (made_part(download))
        return download;
    Turn turn(*this);
    if (made_part(download)) // made while this request waited its turn
        return download;
    price(tree, exporter::WriteOptions{}, true);
    exporter::CancelCheck cancel(answer_abandoned);
    auto set = std::make_unique<ObjSet>();
    set->build = tree.build;
    if (set->folder.path().empty())
        throw ApiError(500, "cannot make a temporary folder for the export");
    if (const ramulon::Status written = exporter::write_tree(*tree.layer, (set->folder.path() / "tree.obj").string());
        !written)
        refuse_failed_export(written.error());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        obj_set_ = std::move(set); // the earlier build's set goes
    }
    turn.done();
    if (!made_part(download))
        throw ApiError(500, "the OBJ set was made and is gone");
    return download;
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
