#include "services.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "host_services.h"

namespace host {

namespace {

// Bound per thread: sessions driven from different threads each reach their own services while
// their tools run at the same time.
thread_local Services *current = nullptr;

// ------------------------------------------------------------------ "LWM: Dynamic Monitor"

struct MonitorState {
    LWMonitor monitor;
    std::string title, caption;
    unsigned int total = 0;
    unsigned int done = 0;
    bool drawing = false; // a bar is on the terminal and needs its line ended
    int shown_percent = -1;
};

bool terminal_progress()
{
    return current && current->show_progress && isatty(STDERR_FILENO);
}

void draw_bar(MonitorState &m)
{
    constexpr unsigned int width = 30;
    const unsigned int shown = std::min(m.done, m.total);
    const unsigned int filled = m.total ? shown * width / m.total : 0;
    const unsigned int percent = m.total ? shown * 100 / m.total : 0;
    if (static_cast<int>(percent) == m.shown_percent)
        return; // nothing visible changed
    m.shown_percent = static_cast<int>(percent);
    std::fprintf(stderr, "\r%s [%s%s] %3u%%", m.caption.c_str(), std::string(filled, '#').c_str(),
                 std::string(width - filled, ' ').c_str(), percent);
    std::fflush(stderr);
    m.drawing = true;
}

void monitor_init(void *data, unsigned int total)
{
    auto &m = *static_cast<MonitorState *>(data);
    m.total = total;
    m.done = 0;
    m.shown_percent = -1;
    if (terminal_progress())
        draw_bar(m);
    if (current && current->init_hook)
        current->init_hook(m.title.empty() ? m.caption : m.title, total);
}

int monitor_step(void *data, unsigned int increment)
{
    auto &m = *static_cast<MonitorState *>(data);
    m.done += increment;
    if (terminal_progress())
        draw_bar(m);
    if (current && current->step_hook)
        current->step_hook(m.done);
    return 0; // this host has no stop button
}

void monitor_done(void *data)
{
    auto &m = *static_cast<MonitorState *>(data);
    if (m.drawing) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m.drawing = false;
    }
}

LWMonitor *monitor_create(const char *title, const char *caption)
{
    auto *m = new MonitorState;
    m->title = title ? title : "";
    m->caption = caption ? caption : "";
    m->monitor.data = m;
    m->monitor.init = monitor_init;
    m->monitor.step = monitor_step;
    m->monitor.done = monitor_done;
    return &m->monitor;
}

void monitor_destroy(LWMonitor *monitor)
{
    if (!monitor)
        return;
    auto *m = static_cast<MonitorState *>(monitor->data);
    monitor_done(m);
    delete m;
}

LWMonitorFuncs monitor_funcs{monitor_create, monitor_destroy};

// ------------------------------------------------------------------------ "Info Messages"

void show(const char *kind, const char *line1, const char *line2)
{
    Message m{kind, line1 ? line1 : "", line2 ? line2 : ""};
    if (!current || current->echo_messages) {
        std::fprintf(stderr, "%s\n", m.line1.c_str());
        if (!m.line2.empty())
            std::fprintf(stderr, "%s\n", m.line2.c_str());
    }
    if (current)
        current->messages.push_back(std::move(m));
}

void message_info(const char *a, const char *b) { show("info", a, b); }
void message_error(const char *a, const char *b) { show("error", a, b); }
void message_warning(const char *a, const char *b) { show("warning", a, b); }

LWMessageFuncs message_funcs{message_info, message_error, message_warning};

// ----------------------------------------------------- "Scene Objects" and "File IO": unused

int num_objects() { return 0; }
LWObjectFuncs object_funcs{num_objects};
LWFileIOFuncs fileio_funcs_3{3};
LWFileIOFuncs fileio_funcs_2{2};

void *global_lookup(const char *name, int use_mode)
{
    return current ? current->lookup(name, use_mode) : nullptr;
}

} // namespace

std::vector<std::string> offered_services(int generation)
{
    std::vector<std::string> names;
    if (generation == 10)
        names = {"LWXPanel", "Scene Objects 6", "File IO 2", "Info Messages 2"};
    else
        names = {"LWXPanel 2", "Scene Objects 7", "File IO 3", "Info Messages 3"};
    names.insert(names.end(), {"LWShelfFuncs", "LWM: Dynamic Monitor", "Image Utility 3"});
    return names;
}

Services::Services(int generation) : generation_(generation) {}

void Services::set_generation(int generation)
{
    generation_ = generation;
    withheld_.clear();
    refused_.clear();
}

Services::~Services()
{
    if (current == this)
        current = nullptr;
}

void *Services::lookup(const char *name, int)
{
    const std::string key = name ? name : "";
    const std::vector<std::string> offered = offered_services(generation_);
    void *table = nullptr;
    if (!withheld_.count(key) && std::find(offered.begin(), offered.end(), key) != offered.end()) {
        // The names differ by generation, the tables do not (File IO states its version).
        if (key.rfind("LWXPanel", 0) == 0)
            table = xpanel_service();
        else if (key.rfind("Scene Objects", 0) == 0)
            table = &object_funcs;
        else if (key == "File IO 3")
            table = &fileio_funcs_3;
        else if (key == "File IO 2")
            table = &fileio_funcs_2;
        else if (key.rfind("Info Messages", 0) == 0)
            table = &message_funcs;
        else if (key == "LWShelfFuncs")
            table = shelf_service();
        else if (key == "LWM: Dynamic Monitor")
            table = &monitor_funcs;
        else if (key == "Image Utility 3")
            table = image_service();
    }
    if (!table)
        refused_.push_back(key);
    return table;
}

GlobalFunc Services::global() { return global_lookup; }

Services *Services::bound() { return current; }

Binding::Binding(Services &services) : previous_(current) { current = &services; }

Binding::~Binding() { current = previous_; }

} // namespace host
