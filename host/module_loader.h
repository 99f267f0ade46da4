// Plug-in modules: a shared object exporting HOST_MODULE_SYMBOL, or a descriptor linked into the
// program itself (tests link the plug-in directly). Loading checks the descriptor and runs the
// module's startup; destruction runs its shutdown and unloads the file.
#pragma once

#include <memory>
#include <string>

#include "plugin_api.h"

namespace host {

class Module {
public:
    // Null with a one-line error when the file cannot be loaded, is not a module of this host,
    // or its startup fails.
    static std::unique_ptr<Module> open(const std::string &path, std::string &error);
    // A module linked into this program, known by its descriptor.
    static std::unique_ptr<Module> linked(const ModuleDescriptor &descriptor,
                                          const std::string &name, std::string &error);
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
    bool start(std::string &error);

    std::string name_;
    void *handle_ = nullptr; // from dlopen; null for a linked module
    const ModuleDescriptor *descriptor_ = nullptr;
    void *server_data_ = nullptr;
};

} // namespace host
