#include "session.h"

#include <type_traits>

#include "edit_op.h"
#include "host_services.h"

namespace host {

using ramulon::ErrorKind;
using ramulon::Status;

Session::Session() = default;

Session::~Session()
{
    Binding bind(services_);
    LWXPanelFuncs *xpanel = xpanel_service();
    if (panel_ && xpanel && xpanel->destroy)
        xpanel->destroy(panel_);
    if (activated_ && tool_.tool && tool_.tool->done)
        tool_.tool->done(tool_.instance);
    module_.reset(); // shutdown and unload while the services are still bound
}

Status Session::attach(ModuleResult module)
{
    if (!module) {
        error_ = module.error().message;
        return module.error();
    }
    server_ = (*module)->server("MeshEditTool");
    if (!server_ || !server_->activate) {
        error_ = (*module)->name() + " has no \"MeshEditTool\" server";
        return ramulon::fail(ErrorKind::invalid_input, error_);
    }
    module_ = std::move(module).value();
    error_.clear();
    return {};
}

bool Session::loaded(Status &refusal)
{
    if (!module_)
        return false;
    error_ = "a module is already loaded";
    refusal = ramulon::fail(ErrorKind::invalid_input, error_);
    return true;
}

Status Session::load(const std::string &module_path)
{
    if (Status refusal; loaded(refusal))
        return refusal;
    return attach(Module::open(module_path));
}

Status Session::load(const ModuleDescriptor &linked, const std::string &name)
{
    if (Status refusal; loaded(refusal))
        return refusal;
    return attach(Module::linked(linked, name));
}

Status Session::load_copy(const std::string &module_path)
{
    if (Status refusal; loaded(refusal))
        return refusal;
    return attach(Module::open_copy(module_path));
}

Status Session::load_copy(std::string_view module_bytes, const std::string &name)
{
    if (Status refusal; loaded(refusal))
        return refusal;
    return attach(Module::open_copy(module_bytes, name));
}

std::string activation_message(int result, const Services &services)
{
    switch (result) {
    case AFUNC_OK:
        return "activated";
    case AFUNC_BADVERSION:
        return "the plug-in refused the host's interface version " +
               std::to_string(HOST_INTERFACE_VERSION);
    case AFUNC_BADGLOBAL: {
        std::string names;
        for (const std::string &name : services.refused())
            names += (names.empty() ? "\"" : ", \"") + name + "\"";
        if (names.empty())
            return "the plug-in is missing a host service";
        return "the plug-in is missing a host service: " + names + " (host generation " +
               std::to_string(services.generation()) + ")";
    }
    default:
        return "the plug-in's activation failed with code " + std::to_string(result);
    }
}

int Session::activate(int generation, const std::vector<std::string> &withheld, long version)
{
    if (!module_ || !server_) {
        error_ = "no module is loaded";
        return -1;
    }
    // The refusals of this activation alone name what it missed.
    services_.set_generation(generation);
    for (const std::string &name : withheld)
        services_.withhold(name);

    Binding bind(services_);
    LWMeshEditTool record{};
    const int result = server_->activate(version, Services::global(), &record,
                                         module_->server_data());
    if (result != AFUNC_OK) {
        error_ = module_->name() + ": " + activation_message(result, services_);
        return result;
    }
    tool_ = record;
    activated_ = tool_.tool != nullptr && tool_.build != nullptr;
    if (!activated_) {
        error_ = module_->name() + ": the activation left the tool's callbacks unset";
        return -1;
    }
    error_.clear();
    return result;
}

namespace {

// The tool answers a build with text alone; its one text for a failed allocation is the only
// way to tell that apart from a refused record.
ErrorKind build_error_kind(const char *result, bool cancelled)
{
    if (cancelled)
        return ErrorKind::cancelled;
    if (std::string_view(result) == "Memory allocation error")
        return ErrorKind::out_of_memory;
    return ErrorKind::invalid_input;
}

} // namespace

bool Session::ready(const char *what)
{
    if (activated_)
        return true;
    error_ = std::string("cannot ") + what + ": no tool is active";
    return false;
}

void Session::set_step_hook(std::function<void(unsigned int)> hook)
{
    services_.step_hook = std::move(hook);
}

// Calls one of the tool's callbacks, with the services bound, after the host's checks; the
// fallback answers when no tool is active or it left that callback unset.
template <typename Fallback, typename Fn, typename... Args>
auto Session::call(const char *what, Fallback fallback, Fn fn, Args... args)
{
    using Result = decltype(fn(tool_.instance, args...));
    if (!ready(what) || !fn) {
        if constexpr (std::is_void_v<Result>)
            return;
        else
            return static_cast<Result>(fallback);
    }
    Binding bind(services_);
    return fn(tool_.instance, args...);
}

LWToolFuncs *Session::funcs()
{
    static LWToolFuncs none{};
    return tool_.tool ? tool_.tool : &none;
}

int Session::start()
{
    LWToolEvent ev{};
    return call("start the tool", 0, funcs()->start, &ev);
}

void Session::event(int code) { call("send an event", 0, funcs()->event, code); }

LWXPanelID Session::panel()
{
    if (!panel_made_ && ready("make the panel")) {
        panel_ = call("make the panel", nullptr, funcs()->panel);
        panel_made_ = true;
    }
    return panel_;
}

int Session::test() { return call("test the tool", LWT_TEST_NOTHING, tool_.test); }

Status Session::build()
{
    if (!ready("build"))
        return ramulon::fail(ErrorKind::invalid_input, error_);
    Binding bind(services_);
    // A build replaces what the last one made.
    mesh_.foreground.clear();
    try {
        mesh_.foreground.reserve(last_counts_);
    } catch (const std::bad_alloc &) {
        mesh_.foreground = Layer{}; // no room made ahead: the tree grows its arrays as it goes
    }
    journal_.clear();
    cancel_requested_.store(false);

    // The tool steps its monitor once before it grows, at every chain it grows, and once after
    // the tree is written; it writes the first point (the write hook's first call) only after
    // growing. So a step after the first and before any point lies inside the growth, where
    // the tool frees a half-grown skeleton on a failed allocation, and every point lies inside
    // the writing, where it frees its model: the two places a cancelled build can stop.
    bool drawing = false, stopped = false;
    const auto stop_if_asked = [&] {
        if (cancel_requested_.load(std::memory_order_relaxed)) {
            stopped = true;
            throw BuildCancelled();
        }
    };
    struct Hooks {
        Services &services;
        decltype(Services::step_hook) step = services.step_hook;
        decltype(Services::write_hook) write = services.write_hook;
        ~Hooks()
        {
            services.step_hook = std::move(step);
            services.write_hook = std::move(write);
        }
    } saved{services_};
    services_.step_hook = [&](unsigned int done) {
        if (saved.step)
            saved.step(done);
        if (done >= 2 && !drawing)
            stop_if_asked();
    };
    services_.write_hook = [&](std::size_t points) {
        drawing = true;
        if (saved.write)
            saved.write(points);
        stop_if_asked();
    };

    EditOp op(mesh_, record_journal_ ? &journal_ : nullptr);
    const char *result = nullptr;
    try {
        result = tool_.build(tool_.instance, op.op());
    } catch (const BuildCancelled &) {
        stopped = true;
        // Only a tool that steps after growing without writing a point (no chains, an unknown
        // render type) lets it through; its tree is empty, and the next build starts afresh.
        result = cancelled_text;
    }
    if (stopped)
        result = cancelled_text;
    cancelled_ = stopped;
    rejected_ = op.rejected();
    if (!result) {
        // The arrays grew by half again at a time while the tree was made; what follows a
        // build (the writers) needs that room more.
        mesh_.foreground.shrink_to_fit();
        mesh_.foreground.check_consistent();
        last_counts_ = mesh_.foreground.counts();
        built_once_ = true;
        return {};
    }
    // A failed build is undone, as the modeller undoes a failed edit: no half-built tree stays
    // in the foreground, and its memory goes back.
    mesh_.foreground = Layer{};
    return ramulon::fail(build_error_kind(result, stopped), result);
}

void Session::end(int keep) { call("end the tool", 0, tool_.end, keep); }

const char *Session::help()
{
    LWToolEvent ev{};
    return call("ask for help", nullptr, funcs()->help, &ev);
}

int Session::count()
{
    LWToolEvent ev{};
    return call("count handles", 0, funcs()->count, &ev);
}

int Session::dirty() { return call("ask what is dirty", 0, funcs()->dirty); }

void Session::draw()
{
    LWWireDrawAccess access{};
    call("draw", 0, funcs()->draw, &access);
}

} // namespace host
