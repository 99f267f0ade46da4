#include "module_loader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <set>
#include <sys/mman.h>
#include <unistd.h>

#include "common/index_cast.h"
#include "file_read.h"
#include "mesh.h"

namespace host {

using ramulon::ErrorKind;
using ramulon::Status;

namespace {

// dlerror texts can span lines; a one-line error keeps only the first.
std::string first_line(const char *text)
{
    std::string s = text ? text : "unknown error";
    const auto nl = s.find('\n');
    if (nl != std::string::npos)
        s.resize(nl);
    return s;
}

} // namespace

ModuleResult Module::open(const std::string &path)
{
    std::unique_ptr<Module> m(new Module);
    m->name_ = path;
    // A name without a slash would be searched for on the library path; this host loads the
    // file it was given.
    Status status = m->load_file(path.find('/') == std::string::npos ? "./" + path : path);
    if (status)
        status = m->find_descriptor();
    if (status)
        status = m->start();
    if (!status)
        return status.error();
    return m;
}

Status Module::load_file(const std::string &file)
{
    dlerror();
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_)
        return {};
    std::string why = first_line(dlerror());
    if (why.rfind(file + ": ", 0) == 0) // the loader names the file; the name says more
        why.erase(0, file.size() + 2);
    // The loader's text is all it tells; whether the file is there tells the two cases apart.
    const auto kind = ::access(file.c_str(), F_OK) == 0 ? ErrorKind::invalid_input : ErrorKind::not_found;
    return ramulon::fail(kind, "cannot load module " + name_ + ": " + why);
}

Status Module::find_descriptor()
{
    descriptor_ = static_cast<const ModuleDescriptor *>(dlsym(handle_, HOST_MODULE_SYMBOL));
    if (!descriptor_)
        return ramulon::fail(ErrorKind::invalid_input,
                             name_ + " is not a plug-in module: it exports no " HOST_MODULE_SYMBOL);
    return {};
}

namespace {

bool write_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(ramulon::index_cast<std::size_t>(n));
    }
    return true;
}

// The largest module file taken: the three modules are a few megabytes each.
constexpr std::size_t max_module_bytes = 256u * 1024u * 1024u;

// The loaded objects that are copies, each some Module's own.
std::mutex copies_mutex;
std::set<void *> copies;

} // namespace

ModuleResult Module::open_copy(const std::string &path)
{
    const auto bytes = read_regular_file(path, max_module_bytes);
    if (!bytes)
        return ramulon::prefixed("cannot load module " + path + ": ", bytes.error());
    return open_copy(*bytes, path);
}

ModuleResult Module::open_copy(std::string_view bytes, const std::string &name)
{
    std::unique_ptr<Module> m(new Module);
    m->name_ = name;
    // The dynamic loader hands out the object it has loaded already for a name or a file it
    // knows, so a copy comes from a file of its own under a name no loaded object has: an
    // anonymous memory file, open for as long as the copy is loaded so that no other copy's
    // descriptor (the number in its name) is the same; or, without /proc, a temporary file.
    std::string file;
    int fd = ::access("/proc/self/fd", F_OK) == 0 ? ::memfd_create("ramulon-module", MFD_CLOEXEC) : -1;
    if (fd >= 0) {
        file = "/proc/self/fd/" + std::to_string(fd);
        m->copy_fd_ = fd;
    } else {
        const char *dir = std::getenv("TMPDIR");
        file = std::string(dir && *dir ? dir : "/tmp") + "/ramulon-module-XXXXXX";
        fd = ::mkstemp(file.data());
        if (fd < 0)
            return ramulon::fail(ErrorKind::io, "cannot load module " + name + ": no room for its copy (" +
                                                    std::strerror(errno) + ")");
    }
    const bool written = write_all(fd, bytes);
    const Status loaded = written ? m->load_file(file)
                                  : ramulon::fail(ErrorKind::io, "cannot load module " + name +
                                                                     ": its copy could not be written");
    if (m->copy_fd_ < 0) {
        ::close(fd);
        ::unlink(file.c_str()); // the loader keeps its mapping
    }
    if (!loaded)
        return loaded.error();
    {
        std::lock_guard lock(copies_mutex);
        if (!copies.insert(m->handle_).second) {
            // Only an object the loader never unloaded can answer to a live name; it is another
            // copy's, and must not be shared.
            dlclose(m->handle_);
            m->handle_ = nullptr;
            return ramulon::fail(ErrorKind::internal,
                                 "cannot load module " + name + ": the loader gave back a copy already in use");
        }
        m->copy_ = true;
    }
    Status status = m->find_descriptor();
    if (status)
        status = m->start();
    if (!status)
        return status.error();
    return m;
}

ModuleResult Module::linked(const ModuleDescriptor &descriptor, const std::string &name)
{
    std::unique_ptr<Module> m(new Module);
    m->name_ = name;
    m->descriptor_ = &descriptor;
    if (Status started = m->start(); !started)
        return started.error();
    return m;
}

Status Module::start()
{
    if (descriptor_->sysSync != HOST_MODULE_SYNC) {
        descriptor_ = nullptr;
        return ramulon::fail(ErrorKind::invalid_input,
                             name_ + " is not a plug-in module of this host: its descriptor does not match");
    }
    if (descriptor_->startup) {
        server_data_ = descriptor_->startup();
        if (!server_data_) {
            descriptor_ = nullptr;
            return ramulon::fail(ErrorKind::internal, name_ + ": the module's startup failed");
        }
    }
    return {};
}

Module::~Module()
{
    if (descriptor_ && descriptor_->shutdown)
        descriptor_->shutdown(server_data_);
    if (handle_) {
        dlclose(handle_);
        module_unloaded(); // names held by pointers into its text
    }
    if (copy_) {
        std::lock_guard lock(copies_mutex);
        copies.erase(handle_);
    }
    if (copy_fd_ >= 0)
        ::close(copy_fd_);
}

const ServerRecord *Module::server(const char *class_name) const
{
    if (!descriptor_)
        return nullptr;
    for (const ServerRecord *r = descriptor_->serverDefs; r && r->className; ++r)
        if (std::strcmp(r->className, class_name) == 0)
            return r;
    return nullptr;
}

} // namespace host
