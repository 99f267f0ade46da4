// A host session: one plug-in module, one activated "MeshEditTool", one mesh. The session
// drives the tool as the modeller does: the user picks the tool (start), events arrive, the
// panel is made once, the host asks test() and builds when it answers 1.
//
//     host::Session s;
//     if (!s.load(path) || s.activate() != AFUNC_OK) fail(s.error());
//     if (auto crown = host::load_obj_file("crown.obj", s.mesh().background); !crown) fail(crown.message());
//     s.start();
//     if (auto built = s.build(); !built) fail(built.message());
//     if (auto written = s.journal().write("journal.txt"); !written) fail(written.message());
//
// After a successful build the foreground holds the tree the tool wrote, its arrays consistent
// (Layer::check_consistent) and trimmed to size; after a failed one it is empty. The journal
// holds one line per call of the last build that the edit operation took.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "journal.h"
#include "mesh.h"
#include "module_loader.h"
#include "plugin_api.h"
#include "services.h"

namespace host {

// What stops a build that cancel() asked to stop (see there).
struct BuildCancelled : std::bad_alloc {
    const char *what() const noexcept override { return "build cancelled"; }
};

class Session {
public:
    Session();
    ~Session(); // destroys the panel, lets the tool free its memory, unloads the module
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // ---- loading and activation; on failure error() also holds the one-line description.
    // The only error conditions are those of Module::open (and its copies), a module without a
    // "MeshEditTool" server and a session that has a module already (invalid_input).
    ramulon::Status load(const std::string &module_path);
    ramulon::Status load(const ModuleDescriptor &linked, const std::string &name = "linked plug-in");
    // A copy of the module of its own (Module::open_copy), from a file or from a module file's
    // bytes: for sessions that run side by side in one process.
    ramulon::Status load_copy(const std::string &module_path);
    ramulon::Status load_copy(std::string_view module_bytes, const std::string &name);

    // Activates the module's "MeshEditTool" server against a host of this generation, without
    // the withheld services. Returns the activation result (AFUNC_OK, AFUNC_BADVERSION,
    // AFUNC_BADGLOBAL, or another code of the plug-in), or -1 when there is nothing to activate.
    int activate(int generation = 11, const std::vector<std::string> &withheld = {},
                 long version = HOST_INTERFACE_VERSION);
    bool activated() const { return activated_; }
    const std::string &error() const { return error_; }

    // ---- the tool, as the host drives it (each requires a successful activation)
    int start();             // the user picks the tool
    void event(int code);    // LWT_EVENT_DROP, LWT_EVENT_RESET, LWT_EVENT_ACTIVATE
    LWXPanelID panel();      // calls the tool's panel callback the first time, then keeps it
    int test();
    // Clears the foreground and runs the tool's build in one edit operation. Success when the
    // tool answers with no text (also when it did nothing). The only error conditions are a
    // session without an active tool (invalid_input), a build cancel() stopped (cancelled,
    // with cancelled_text), the tool's failed allocation (out_of_memory) and any other text
    // the tool answers with (invalid_input); the message is the tool's text as it gave it, and
    // the foreground is left empty.
    ramulon::Status build();
    // Room for the first tree: what a build makes at once in the foreground's arrays when no
    // tree was built before (after one, the next build makes room for a tree like the last).
    // An upper bound costs nothing but address space: room a tree leaves unused is never
    // touched and is given back when it is complete.
    void expect(const Layer::Counts &counts)
    {
        if (!built_once_)
            last_counts_ = counts;
    }
    // Asks the build running now (in another thread) to stop; any thread may call it. The tool
    // never asks its monitor whether the user wants to stop, so the host stops it where the tool
    // already recovers from a failed allocation: at a step of the growth, or at a point it
    // writes. The build then returns cancelled_text and leaves the foreground empty. A call
    // while no build runs does nothing.
    void cancel() { cancel_requested_.store(true); }
    static constexpr const char *cancelled_text = "Build cancelled";
    // Whether cancel() stopped the last build.
    bool cancelled() const { return cancelled_; }
    void drop() { event(LWT_EVENT_DROP); }
    void end(int keep = 0);
    const char *help();
    int count();
    int dirty();
    void draw();

    // ---- what the host keeps
    Mesh &mesh() { return mesh_; }
    const Journal &journal() const { return journal_; } // of the last build
    // Calls of the last build the edit operation refused (unknown IDs, null data).
    const std::vector<std::string> &rejected_calls() const { return rejected_; }
    const std::vector<Message> &messages() const { return services_.messages; }
    Services &services() { return services_; }
    LWMeshEditTool &tool() { return tool_; }
    const Module *module() const { return module_.get(); }

    // Record the journal of each build (on by default).
    void set_journal(bool on) { record_journal_ = on; }
    // Runs on every progress step of a build, while the build is still running.
    void set_step_hook(std::function<void(unsigned int done)> hook);

private:
    ramulon::Status attach(ModuleResult module);
    bool loaded(ramulon::Status &refusal); // a module is loaded already: refusal says so
    bool ready(const char *what);
    LWToolFuncs *funcs(); // the tool's callbacks, or an empty table before activation
    template <typename Fallback, typename Fn, typename... Args>
    auto call(const char *what, Fallback fallback, Fn fn, Args... args);

    Services services_;
    std::unique_ptr<Module> module_;
    const ServerRecord *server_ = nullptr;
    LWMeshEditTool tool_{};
    bool activated_ = false;
    LWXPanelID panel_ = nullptr;
    bool panel_made_ = false;
    Mesh mesh_;
    Layer::Counts last_counts_; // of the last tree built: room the next build makes at once
    bool built_once_ = false;   // a tree was built, and last_counts_ are its counts
    Journal journal_;
    bool record_journal_ = true;
    std::vector<std::string> rejected_;
    std::string error_;
    std::atomic<bool> cancel_requested_{false};
    bool cancelled_ = false;
};

// The one-line explanation of an activation result.
std::string activation_message(int result, const Services &services);

} // namespace host
