// The host's global services, looked up by name as a plug-in asks for them at activation. Which
// names answer depends on the host generation emulated (11 by default, or 10 or 9). The
// monitor, the information messages and the object and file tables are here; the panel, shelf
// and image services come from host/host_services.h.
//
// A plug-in reaches the services through plain C functions without a context argument, so one
// Services object at a time in each thread is "bound": the one those functions answer for in
// that thread (Binding below). Nothing here fails in our terms: a service the generation lacks
// is a null table to the plug-in, and the name is kept in refused().
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "plugin_api.h"

namespace host {

// The service names a host of this generation offers, in the order a plug-in asks for them.
std::vector<std::string> offered_services(int generation);

struct Message {
    std::string kind; // "info", "error" or "warning"
    std::string line1, line2;
};

class Services {
public:
    explicit Services(int generation = 11);
    ~Services();
    Services(const Services &) = delete;
    Services &operator=(const Services &) = delete;

    int generation() const { return generation_; }
    // Starts over as a host of this generation: nothing withheld, nothing refused yet.
    void set_generation(int generation);

    // The lookup refuses this name from now on, as a host without that service would.
    void withhold(const std::string &name) { withheld_.insert(name); }

    // The service table for a name, or null; a refused name is remembered.
    void *lookup(const char *name, int use_mode);
    const std::vector<std::string> &refused() const { return refused_; }

    // The lookup to hand to an activation function; it answers for the bound Services.
    static GlobalFunc global();

    // Messages the plug-in showed, in order.
    std::vector<Message> messages;
    // Print messages on stderr as they come (the terminal user's view of the message box).
    bool echo_messages = true;
    // Draw a progress bar on stderr while a monitor runs; only ever drawn when stderr is a tty.
    bool show_progress = true;
    // Called on every monitor step with the steps done so far; the build is still running.
    std::function<void(unsigned int done)> step_hook;
    // Called when a monitor is initialised, with its caption (its title when it has one) and
    // total; the build is running.
    std::function<void(const std::string &caption, unsigned int total)> init_hook;
    // Called every few thousand points a build writes, with the points written so far.
    std::function<void(std::size_t points)> write_hook;

    // The Services bound in this thread (the one the plug-in's C callbacks reach), or null.
    static Services *bound();

private:
    friend class Binding;
    int generation_;
    std::set<std::string> withheld_;
    std::vector<std::string> refused_;
};

// Binds a Services for the lifetime of the object and restores the previous one after, so that
// nested calls (a step hook asking the tool something) keep working.
class Binding {
public:
    explicit Binding(Services &services);
    ~Binding();
    Binding(const Binding &) = delete;
    Binding &operator=(const Binding &) = delete;

private:
    Services *previous_;
};

} // namespace host
