#include "module_loader.h"

#include <cstring>
#include <dlfcn.h>

namespace host {

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

std::unique_ptr<Module> Module::open(const std::string &path, std::string &error)
{
    std::unique_ptr<Module> m(new Module);
    m->name_ = path;
    // A name without a slash would be searched for on the library path; this host loads the
    // file it was given.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    dlerror();
    m->handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m->handle_) {
        error = "cannot load module " + path + ": " + first_line(dlerror());
        return nullptr;
    }
    const auto *descriptor =
        static_cast<const ModuleDescriptor *>(dlsym(m->handle_, HOST_MODULE_SYMBOL));
    if (!descriptor) {
        error = path + " is not a plug-in module: it exports no " HOST_MODULE_SYMBOL;
        return nullptr;
    }
    m->descriptor_ = descriptor;
    if (!m->start(error))
        return nullptr;
    return m;
}

std::unique_ptr<Module> Module::linked(const ModuleDescriptor &descriptor, const std::string &name,
                                       std::string &error)
{
    std::unique_ptr<Module> m(new Module);
    m->name_ = name;
    m->descriptor_ = &descriptor;
    if (!m->start(error))
        return nullptr;
    return m;
}

bool Module::start(std::string &error)
{
    if (descriptor_->sysSync != HOST_MODULE_SYNC) {
        error = name_ + " is not a plug-in module of this host: its descriptor does not match";
        descriptor_ = nullptr;
        return false;
    }
    if (descriptor_->startup) {
        server_data_ = descriptor_->startup();
        if (!server_data_) {
            error = name_ + ": the module's startup failed";
            descriptor_ = nullptr;
            return false;
        }
    }
    return true;
}

Module::~Module()
{
    if (descriptor_ && descriptor_->shutdown)
        descriptor_->shutdown(server_data_);
    if (handle_)
        dlclose(handle_);
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
