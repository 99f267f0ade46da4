// Plug-in modules: a shared object exporting HOST_MODULE_SYMBOL, or a descriptor linked into the
// program itself (tests link the plug-in directly). Loading checks the descriptor and runs the
// module's startup; destruction runs its shutdown and unloads the file.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/error.h"
#include "plugin_api.h"

namespace host {

class Module;
using ModuleResult = ramulon::Result<std::unique_ptr<Module>>;

class Module {
public:
    // A loaded module whose startup has run. The only error conditions are a file that is not
    // there (not_found), one the loader refuses or that is not a module of this host
    // (invalid_input), a copy that cannot be written (io) and a startup that fails (internal).
    static ModuleResult open(const std::string &path);
    // A copy of the module of its own, even when the file is loaded already: the module keeps
    // its tool's state in file-level globals (the record, the grown chains, the random source),
    // and a copy gets its own set of them, so that tools loaded side by side (one per thread)
    // never share one. The copy lives in an anonymous memory file (or, where there is none, a
    // temporary file removed once loaded).
    static ModuleResult open_copy(const std::string &path);
    // The same from the bytes of a module file held in memory; name appears in messages.
    static ModuleResult open_copy(std::string_view bytes, const std::string &name);
    // A module linked into this program, known by its descriptor.
    static ModuleResult linked(const ModuleDescriptor &descriptor, const std::string &name);
    ~Module();
    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;

    const std::string &name() const { return name_; }
    const ModuleDescriptor &descriptor() const { return *descriptor_; }
    void *server_data() const { return server_data_; }

    // The first server record of this class, or null.
    const ServerRecord *server(const char *class_name) const;

private:
    Module() = default;
    ramulon::Status load_file(const std::string &file); // dlopen, named name_ in errors
    ramulon::Status find_descriptor();
    ramulon::Status start();

    std::string name_;
    void *handle_ = nullptr; // from dlopen; null for a linked module
    bool copy_ = false;      // a copy of its own (open_copy)
    int copy_fd_ = -1;       // the memory file a copy was loaded from, open while it is loaded
    const ModuleDescriptor *descriptor_ = nullptr;
    void *server_data_ = nullptr;
};

} // namespace host
