#include "serve/host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <limits>
#include <utility>
#include <variant>

#include "host/obj_loader.h"
#include "host/settings.h"
#include "host/xpanel.h"
#include "driver/panel_actions.h"
#include "driver/tree_budget.h"

#ifndef RAMULON_WEB_DIR
#define RAMULON_WEB_DIR ""
#endif
#ifndef RAMULON_SAMPLES_DIR
#define RAMULON_SAMPLES_DIR ""
#endif
#ifndef RAMULON_INSTALL_DATADIR
#define RAMULON_INSTALL_DATADIR "share"
#endif

namespace serve {

namespace fs = std::filesystem;

namespace {

// The source tree's folder when it is there, else the installed one beside this program.
fs::path data_dir(const char *source_dir, const char *installed_name)
{
    std::error_code ec;
    const fs::path source(source_dir);
    if (!source.empty() && fs::is_directory(source, ec))
        return source;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path installed =
            (exe.parent_path() / ".." / RAMULON_INSTALL_DATADIR / "ramulon" / installed_name).lexically_normal();
        if (fs::is_directory(installed, ec))
            return installed;
    }
    return source;
}

std::string quoted(const std::string &s) { return "\"" + s + "\""; }

} // namespace

fs::path default_web_dir() { return data_dir(RAMULON_WEB_DIR, "web"); }
fs::path default_samples_dir() { return data_dir(RAMULON_SAMPLES_DIR, "samples"); }

TreeHost::Lock TreeHost::acquire()
{
    Lock lock(mutex_, std::defer_lock);
    while (!lock.try_lock_for(std::chrono::milliseconds(20)))
        if (building_)
            refuse(ramulon::ErrorKind::conflict, "A build is running: try again when it has finished.");
    return lock;
}

// A stop asked for while a build runs ends the process between two of the build's steps: the
// files it writes are atomic, and temporaries of the shelf are swept at the next start.
void TreeHost::exit_if_asked() const
{
    if (exit_requested_ && building_) {
        std::fprintf(stderr, "ramulon: stopping in the middle of a build\n");
        std::fflush(nullptr);
        std::_Exit(0);
    }
}

ramulon::Status TreeHost::open(const ServeOptions &options)
{
    return caught_status([&] { open_session(options); });
}

void TreeHost::open_session(const ServeOptions &options)
{
    Lock lock(mutex_);
    samples_dir_ = options.samples.empty() ? default_samples_dir() : fs::path(options.samples);
    memory_limit_ = options.tool.memory_limit;
    driver::use_shelf_dir(options.shelf);

    host::Services &services = session_.services();
    services.echo_messages = false; // the page shows them
    services.show_progress = false;
    services.step_hook = [this](unsigned int done) {
        done_ = done;
        exit_if_asked();
    };
    services.write_hook = [this](std::size_t points) {
        written_ = points;
        exit_if_asked();
    };
    services.init_hook = [this](const std::string &title, unsigned int total) {
        {
            std::lock_guard<std::mutex> title_lock(title_mutex_);
            title_ = title;
            total_ = total;
            done_ = 0;
        }
        exit_if_asked();
    };
    session_.set_journal(false);

    std::string error = driver::load_background(session_, options.tool).message();
    if (error.empty())
        error = driver::open_tool(session_, options.tool).message();
    if (!error.empty())
        refuse(ramulon::ErrorKind::invalid_input, error);
    // A module that stayed resident in this process since an earlier session (the loader may
    // keep it) still holds that session's parameters: the page opens on the defaults.
    session_.event(LWT_EVENT_RESET);
    if (!session_.panel())
        refuse(ramulon::ErrorKind::internal, "the tool made no panel");
    background_name_ = options.tool.background.empty()
                           ? "round_crown"
                           : fs::path(options.tool.background).stem().string();
    build(); // the page opens on a tree
}

LWXPanelID TreeHost::panel()
{
    LWXPanelID p = session_.panel();
    if (!p)
        refuse(ramulon::ErrorKind::internal, "The tool has no panel.");
    return p;
}

void TreeHost::build()
{
    // The last tree goes, unless an export is writing it still. When none is, its arrays are the
    // room the next tree grows in: a slider's next tree is much like the last, and is written
    // into pages the process holds already rather than fresh ones the kernel must clear.
    if (built_ && built_.use_count() == 1)
        session_.mesh().foreground = std::move(*built_);
    built_.reset();
    {
        std::lock_guard<std::mutex> title_lock(title_mutex_);
        title_.clear();
    }
    done_ = 0;
    total_ = 0;
    const std::size_t shown_before = session_.messages().size();
    std::string refused;
    if (LWXPanelID p = session_.panel()) {
        host::Binding bind(session_.services());
        refused = driver::check_tree_size(p, driver::memory_budget(memory_limit_)).message();
    }
    if (!refused.empty()) {
        // Refused before the tool grows anything: the last tree goes, as after a failed build.
        session_.mesh().foreground = host::Layer{};
        last_ = BuildInfo{last_.count + 1, 0.0, 0, 0, 0, refused};
        note("error", refused);
        return;
    }
    written_ = 0;
    if (LWXPanelID p = session_.panel()) {
        host::Binding bind(session_.services());
        const std::optional<driver::TreeEstimate> e = driver::estimate_tree(p);
        estimated_points_ = e ? static_cast<std::size_t>(std::min(e->points, 4e9)) : 0;
    }
    building_ = true;
    const auto begin = std::chrono::steady_clock::now();
    const ramulon::Status built = session_.build();
    const std::optional<std::string> error = built ? std::nullopt : std::optional(built.message());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    building_ = false;
    if (error) {
        // What the tool said while refusing or failing the build reaches the page as an error.
        std::vector<host::Message> &shown = session_.services().messages;
        for (std::size_t k = shown_before; k < shown.size(); ++k)
            shown[k].kind = "error";
        if (shown.size() == shown_before)
            note("error", "The build failed: " + *error);
    }

    host::Layer &fg = session_.mesh().foreground;
    last_.count += 1;
    last_.seconds = took.count();
    last_.points = fg.points.size();
    last_.polygons = fg.polygon_count();
    last_.leaves = 0;
    if (const int leaf = fg.names.find("VF_leaf"); leaf >= 0)
        last_.leaves = static_cast<std::size_t>(
            std::count(fg.polygon_surface.begin(), fg.polygon_surface.end(), leaf));
    last_.error = error;
    // The tree moves from the session to its exports: the session's next build starts from an
    // empty layer anyway, so the tree is held once and never copied.
    if (!error && !fg.empty())
        built_ = std::make_shared<host::Layer>(std::exchange(fg, host::Layer{}));
}

bool TreeHost::rebuild_if_asked()
{
    if (session_.test() != LWT_TEST_UPDATE)
        return false;
    build();
    return true;
}

void TreeHost::note(const std::string &kind, const std::string &line1, const std::string &line2)
{
    session_.services().messages.push_back(host::Message{kind, line1, line2});
}

nlohmann::json TreeHost::changed(bool rebuilt)
{
    nlohmann::json body = state_locked();
    body["rebuilt"] = rebuilt;
    return body;
}

ramulon::Result<nlohmann::json> TreeHost::state()
{
    return caught<nlohmann::json>([&] {
        Lock lock = acquire();
        return state_locked();
    });
}

nlohmann::json TreeHost::progress() const
{
    const bool building = building_;
    nlohmann::json body{{"building", building}, {"done", done_.load()}, {"total", total_.load()}};
    // Once the tool writes the mesh, the step of its own: the points written against the
    // estimate (which errs high, so the bar ends short of full).
    const std::size_t written = written_;
    if (building && written > 0)
        body["step"] = {{"title", "Writing the mesh..."},
                        {"done", written},
                        {"total", std::max(written, estimated_points_.load())}};
    std::lock_guard<std::mutex> title_lock(title_mutex_);
    body["title"] = title_;
    return body;
}

ramulon::Result<BuiltTree> TreeHost::built(std::optional<int> wanted)
{
    return caught<BuiltTree>([&] { return snapshot(wanted); });
}

BuiltTree TreeHost::snapshot(std::optional<int> wanted)
{
    Lock lock = acquire();
    if (!built_) // a failed build left nothing to export
        refuse(ramulon::ErrorKind::not_found, "No tree is built yet.");
    if (wanted && *wanted != last_.count)
        refuse(ramulon::ErrorKind::conflict, "The tree has been rebuilt since build " + std::to_string(*wanted) + ": build " +
                                std::to_string(last_.count) + " is the current one.");
    return {built_, last_.count};
}

namespace {

// The value a control's setter takes, from the page's number in display units.
std::variant<int, double> stored_value(const host::panel_control &c, const nlohmann::json &value)
{
    const std::string what = quoted(c.label.empty() ? std::to_string(c.id) : c.label);
    if (c.is_boolean() && value.is_boolean())
        return value.get<bool>() ? 1 : 0;
    if (!value.is_number())
        refuse(ramulon::ErrorKind::invalid_input, "The value for " + what + " must be a number.");
    const double v = value.get<double>();
    if (!std::isfinite(v))
        refuse(ramulon::ErrorKind::invalid_input, "The value for " + what + " must be a finite number.");
    if (!c.holds_int()) {
        // 1e308 degrees is a finite number that is no finite angle in radians.
        const double stored = host::from_display(c, v);
        if (!std::isfinite(stored))
            refuse(ramulon::ErrorKind::invalid_input, "The value for " + what + " is too large.");
        return stored;
    }
    if (v != std::floor(v) || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        refuse(ramulon::ErrorKind::invalid_input, "The value for " + what + " must be a whole number.");
    const int i = static_cast<int>(v);
    if (c.is_choice() && (i < 0 || static_cast<std::size_t>(i) >= c.choices.size()))
        refuse(ramulon::ErrorKind::invalid_input, "The value for " + what + " must be a choice index from 0 to " +
                                std::to_string(c.choices.size() - 1) + ".");
    if (c.is_boolean() && i != 0 && i != 1)
        refuse(ramulon::ErrorKind::invalid_input, "The value for " + what + " must be 0 (off) or 1 (on).");
    return i;
}

// The control with this id that the user can reach now; throws otherwise.
const host::panel_control &usable_control(LWXPanelID panel, unsigned long id)
{
    const host::panel_control *c = host::find_control(panel, id);
    if (!c)
        refuse(ramulon::ErrorKind::not_found, "The panel has no control with the id " + std::to_string(id) + ".");
    if (!host::control_enabled(panel, id))
        refuse(ramulon::ErrorKind::conflict, quoted(c->label) + " is greyed out: " + host::disabled_text(panel, id));
    return *c;
}

} // namespace

ramulon::Result<nlohmann::json> TreeHost::set(unsigned long id, const nlohmann::json &value)
{
    return caught<nlohmann::json>([&] {
        Lock lock = acquire();
        host::Binding bind(session_.services());
        LWXPanelID p = panel();
        const host::panel_control &c = usable_control(p, id);
        if (c.is_button())
            refuse(ramulon::ErrorKind::invalid_input, quoted(c.label) + " is a button: press it instead.");
        if (c.is_info() || c.hidden)
            refuse(ramulon::ErrorKind::invalid_input, "The control with the id " + std::to_string(id) + " takes no value.");
        const std::variant<int, double> v = stored_value(c, value);
        const int answer = std::visit([&](auto x) { return host::set_value(p, id, x); }, v);
        if (answer <= 0)
            refuse(ramulon::ErrorKind::invalid_input, "The tool did not take the value for " + quoted(c.label) + ".");
        return changed(rebuild_if_asked());
    });
}

ramulon::Result<nlohmann::json> TreeHost::press(unsigned long id)
{
    return caught<nlohmann::json>([&] {
        Lock lock = acquire();
        host::Binding bind(session_.services());
        LWXPanelID p = panel();
        const host::panel_control &c = usable_control(p, id);
        if (!c.is_button())
            refuse(ramulon::ErrorKind::invalid_input, quoted(c.label) + " is no button.");
        if (!host::click(p, id))
            refuse(ramulon::ErrorKind::invalid_input, quoted(c.label) + " does nothing.");
        return changed(rebuild_if_asked());
    });
}

ramulon::Result<nlohmann::json> TreeHost::build_now()
{
    return caught<nlohmann::json>([&] {
        Lock lock = acquire();
        build();
        return changed(true);
    });
}

} // namespace serve
