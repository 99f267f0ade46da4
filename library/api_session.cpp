// The C interface's sessions: opening a tool, its crown, its panel, presets and the shelf, and
// the build.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "driver/panel_actions.h"
#include "driver/tool_setup.h"
#include "embedded_modules.h"
#include "handles.h"
#include "host/file_read.h"
#include "host/obj_loader.h"
#include "host/settings.h"
#include "host/shelf.h"
#include "host/shelf_store.h"
#include "host/xpanel.h"
#include "ramulon/ramulon.h"
#include "tree.h"

using namespace library;

namespace {

// The session of a handle, held by this call; empty (with the failure recorded in status) when
// the handle is no live session or another thread is building with it.
struct Call {
    explicit Call(const ramulon_session *handle) : session(find_session(handle))
    {
        if (!session) {
            status = bad_handle("session");
            return;
        }
        use = std::unique_lock(session->use, std::try_to_lock);
        if (!use.owns_lock()) {
            status = library::fail(RAMULON_ERROR_BUSY, "the session is building in another thread", session.get());
            session.reset();
        }
    }
    explicit operator bool() const { return session != nullptr; }
    Session *operator->() const { return session.get(); }
    int fail(int code, const std::string &message) const { return library::fail(code, message, session.get()); }

    std::shared_ptr<Session> session;
    std::unique_lock<std::mutex> use;
    int status = RAMULON_OK;
};

// Runs a call's work on the session of a handle, turning what C++ throws into a status: no
// exception crosses the interface.
template <typename Work> int on_session(const ramulon_session *handle, Work &&work)
{
    const Call call(handle);
    if (!call)
        return call.status;
    try {
        return work(call);
    } catch (const std::bad_alloc &) {
        return call.fail(RAMULON_ERROR_MEMORY, "out of memory");
    } catch (const std::exception &e) {
        return call.fail(RAMULON_ERROR_ARGUMENT, e.what());
    }
}

int null_argument(const Call &call, const char *what)
{
    return call.fail(RAMULON_ERROR_ARGUMENT, std::string(what) + " is NULL");
}

int kind_of(const host::panel_control &c)
{
    const std::string &t = c.control_type;
    if (c.is_choice())
        return RAMULON_CONTROL_CHOICE;
    if (c.is_boolean())
        return RAMULON_CONTROL_CHECKBOX;
    if (c.is_button())
        return RAMULON_CONTROL_BUTTON;
    if (c.is_info())
        return RAMULON_CONTROL_INFO;
    if (t == "integer")
        return RAMULON_CONTROL_INTEGER;
    if (t == "distance")
        return RAMULON_CONTROL_DISTANCE;
    if (t == "angle")
        return RAMULON_CONTROL_ANGLE;
    if (t == "percent")
        return RAMULON_CONTROL_PERCENT;
    return RAMULON_CONTROL_NUMBER;
}

// The panel's controls as the interface describes them, once per session: their texts live as
// long as the panel.
void describe_controls(Session &s)
{
    for (const host::panel_control *c : host::panel_controls(s.panel)) {
        if (c->hidden)
            continue;
        ControlInfo info;
        ramulon_control &out = info.info;
        out.id = static_cast<std::uint32_t>(c->id);
        out.name = host::setting_field_name(c->id);
        out.label = c->label.c_str();
        out.tab = c->tab.c_str();
        out.kind = kind_of(*c);
        out.has_range = c->has_range ? 1 : 0;
        // The hint holds an angle's range in degrees already, every other in stored units.
        out.min = out.kind == RAMULON_CONTROL_ANGLE ? c->min : host::to_display(*c, c->min);
        out.max = out.kind == RAMULON_CONTROL_ANGLE ? c->max : host::to_display(*c, c->max);
        for (const std::string &choice : c->choices)
            info.choices.push_back(choice.c_str());
        s.controls.push_back(std::move(info));
    }
    for (ControlInfo &info : s.controls) {
        info.info.choice_count = info.choices.size();
        info.info.choices = info.choices.empty() ? nullptr : info.choices.data();
    }
}

int control_out(const Call &call, const ControlInfo &info, ramulon_control *out)
{
    *out = info.info;
    std::lock_guard lock(host_lock());
    out->enabled = host::control_enabled(call->panel, info.info.id) ? 1 : 0;
    return RAMULON_OK;
}

const ControlInfo *control_of(const Session &s, std::uint32_t id)
{
    for (const ControlInfo &info : s.controls)
        if (info.info.id == id)
            return &info;
    return nullptr;
}

// The status of an edit the panel refused: a name it does not know, or a value it does not take.
int setting_failure(const Call &call, const ramulon::Error &error)
{
    const bool unknown = error.kind == ramulon::ErrorKind::not_found;
    return call.fail(unknown ? RAMULON_ERROR_NOT_FOUND : RAMULON_ERROR_ARGUMENT, error.message);
}

// Shelf calls reach the host's one shelf; the session's folder is put in place for each.
void use_session_shelf(const Session &s) { host::set_shelf_dir(s.shelf); }

int open_session(Session &s, const char *module, int generation, std::string &error)
{
    s.host = std::make_unique<host::Session>();
    host::Session &hs = *s.host;
    hs.services().echo_messages = false;
    hs.services().show_progress = false;
    hs.set_journal(false);
    const ramulon::Status loaded = module ? hs.load_copy(std::string(module))
                               : hs.load_copy(embedded_module(generation), embedded_module_name(generation));
    if (!loaded) {
        error = hs.error();
        return RAMULON_ERROR_MODULE;
    }
    if (const auto crown = host::load_obj_text(host::default_crown_obj(), "built-in crown", hs.mesh().background);
        !crown) {
        error = crown.message();
        return RAMULON_ERROR_MODULE;
    }
    std::lock_guard lock(host_lock());
    if (hs.activate(generation) != AFUNC_OK) {
        error = hs.error();
        return RAMULON_ERROR_MODULE;
    }
    hs.start();
    s.panel = hs.panel();
    if (!s.panel) {
        error = "the tool made no panel";
        return RAMULON_ERROR_MODULE;
    }
    describe_controls(s);
    return RAMULON_OK;
}

// Puts a new crown in place of the old one only when it has faces to grow from.
int take_crown(const Call &call, host::Layer &layer, const std::string &what)
{
    if (!driver::has_faces(layer))
        return call.fail(RAMULON_ERROR_ARGUMENT,
                         "cannot grow a tree in " + what + ": it has no faces (polygons of three or more points)");
    call->host->mesh().background = std::move(layer);
    return RAMULON_OK;
}

} // namespace

extern "C" {

const char *ramulon_version(void) { return RAMULON_VERSION; }

int ramulon_version_number(void)
{
    return RAMULON_VERSION_MAJOR * 10000 + RAMULON_VERSION_MINOR * 100 + RAMULON_VERSION_PATCH;
}

const char *ramulon_last_error(const ramulon_session *handle)
{
    if (!handle)
        return thread_error();
    const std::shared_ptr<Session> s = find_session(handle);
    if (!s)
        return "not a live session (null, freed, or never one)";
    std::lock_guard lock(s->error_mutex);
    return s->error.c_str();
}

const char *ramulon_status_name(int status)
{
    static const char *const names[] = {"ok",        "argument", "not_found", "module", "io",    "refused",
                                        "cancelled", "busy",     "no_tree",   "memory", "handle"};
    return status >= 0 && status <= RAMULON_ERROR_HANDLE ? names[status] : "unknown";
}

int ramulon_session_new(const char *module, int generation, ramulon_session **out)
{
    if (!out)
        return fail(RAMULON_ERROR_ARGUMENT, "out is NULL");
    *out = nullptr;
    if (generation != 9 && generation != 10 && generation != 11)
        return fail(RAMULON_ERROR_ARGUMENT,
                    "the host generation must be 9, 10 or 11, not " + std::to_string(generation));
    try {
        auto session = std::make_shared<Session>();
        std::string error;
        if (const int status = open_session(*session, module, generation, error); status != RAMULON_OK)
            return fail(status, error);
        *out = add_session(std::move(session));
        return RAMULON_OK;
    } catch (const std::bad_alloc &) {
        return fail(RAMULON_ERROR_MEMORY, "out of memory");
    }
}

void ramulon_session_free(ramulon_session *handle)
{
    const std::shared_ptr<Session> s = remove_session(handle);
    if (s && s->host)
        s->host->cancel(); // a build in another thread stops; the session goes when it has
}

// ---------------------------------------------------------------------------------- crown

int ramulon_load_crown_file(ramulon_session *handle, const char *path)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!path)
            return null_argument(call, "path");
        // Read apart from parsed: a file that cannot be read is the system's refusal, one that
        // does not parse is the caller's.
        const auto text = host::read_regular_file(path, host::max_input_bytes);
        if (!text)
            return call.fail(RAMULON_ERROR_IO, text.error().message);
        host::Layer layer;
        if (const auto loaded = host::load_obj_text(*text, path, layer); !loaded)
            return call.fail(RAMULON_ERROR_ARGUMENT, loaded.message());
        return take_crown(call, layer, path);
    });
}

int ramulon_load_crown_arrays(ramulon_session *handle, const double *points, size_t point_count,
                              const uint64_t *offsets, const int32_t *corners, size_t polygon_count)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!points && point_count > 0)
            return null_argument(call, "points");
        if (!offsets)
            return null_argument(call, "offsets");
        if (point_count > static_cast<size_t>(INT32_MAX))
            return call.fail(RAMULON_ERROR_ARGUMENT, "too many points for a crown");
        host::Layer layer;
        for (size_t i = 0; i < point_count; ++i) {
            const double *p = points + 3 * i;
            if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
                return call.fail(RAMULON_ERROR_ARGUMENT,
                                 "crown point " + std::to_string(i) + " has a coordinate that is not a finite number");
            layer.add_point(host::Vec3{p[0], p[1], p[2]});
        }
        if (offsets[0] != 0)
            return call.fail(RAMULON_ERROR_ARGUMENT, "the polygon offsets must start at 0");
        if (polygon_count > 0 && offsets[polygon_count] > 0 && !corners)
            return null_argument(call, "corners");
        for (size_t f = 0; f < polygon_count; ++f) {
            if (offsets[f + 1] < offsets[f])
                return call.fail(RAMULON_ERROR_ARGUMENT,
                                 "the polygon offsets decrease at polygon " + std::to_string(f));
            const int32_t *first = corners + offsets[f];
            const size_t n = offsets[f + 1] - offsets[f];
            for (size_t k = 0; k < n; ++k)
                if (first[k] < 0 || static_cast<size_t>(first[k]) >= point_count)
                    return call.fail(RAMULON_ERROR_ARGUMENT,
                                     "polygon " + std::to_string(f) + " has the corner " + std::to_string(first[k]) +
                                         ", not a point of the " + std::to_string(point_count) + " given");
            layer.add_polygon(ID_FACE, first, n, -1);
        }
        return take_crown(call, layer, "the crown given");
    });
}

int ramulon_load_crown_default(ramulon_session *handle)
{
    return on_session(handle, [&](const Call &call) -> int {
        host::Layer layer;
        if (const auto loaded = host::load_obj_text(host::default_crown_obj(), "built-in crown", layer); !loaded)
            return call.fail(RAMULON_ERROR_ARGUMENT, loaded.message());
        return take_crown(call, layer, "the built-in crown");
    });
}

// ---------------------------------------------------------------------------------- panel

int ramulon_control_count(ramulon_session *handle, size_t *count)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!count)
            return null_argument(call, "count");
        *count = call->controls.size();
        return RAMULON_OK;
    });
}

int ramulon_control_at(ramulon_session *handle, size_t index, ramulon_control *out)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!out)
            return null_argument(call, "out");
        if (index >= call->controls.size())
            return call.fail(RAMULON_ERROR_ARGUMENT, "no control at index " + std::to_string(index) + " (the panel has " +
                                                         std::to_string(call->controls.size()) + ")");
        return control_out(call, call->controls[index], out);
    });
}

int ramulon_control_by_id(ramulon_session *handle, uint32_t id, ramulon_control *out)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!out)
            return null_argument(call, "out");
        const ControlInfo *info = control_of(*call.session, id);
        if (!info)
            return call.fail(RAMULON_ERROR_NOT_FOUND, "the panel has no control with the id " + std::to_string(id));
        return control_out(call, *info, out);
    });
}

int ramulon_control_find(ramulon_session *handle, const char *name, ramulon_control *out)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!name)
            return null_argument(call, "name");
        if (!out)
            return null_argument(call, "out");
        const ramulon::Result<unsigned long> id = [&] {
            std::lock_guard lock(host_lock());
            return host::find_setting(call->panel, name);
        }();
        if (!id)
            return setting_failure(call, id.error());
        const ControlInfo *info = control_of(*call.session, static_cast<uint32_t>(*id));
        if (!info)
            return call.fail(RAMULON_ERROR_NOT_FOUND, std::string("\"") + name +
                                                          "\" is a field without a control on the panel: set it with ramulon_set");
        return control_out(call, *info, out);
    });
}

int ramulon_set(ramulon_session *handle, const char *name, const char *value)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!name)
            return null_argument(call, "name");
        if (!value)
            return null_argument(call, "value");
        std::lock_guard lock(host_lock());
        host::Binding bind(call->host->services()); // the setter may show messages
        if (const auto id = host::find_setting(call->panel, name); !id)
            return setting_failure(call, id.error());
        const ramulon::Status applied = host::apply_setting(call->panel, std::string(name) + "=" + value);
        return applied ? RAMULON_OK : setting_failure(call, applied.error());
    });
}

int ramulon_set_by_id(ramulon_session *handle, uint32_t id, const char *value)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!value)
            return null_argument(call, "value");
        std::lock_guard lock(host_lock());
        host::Binding bind(call->host->services());
        const ramulon::Status applied = host::apply_setting(call->panel, id, value);
        return applied ? RAMULON_OK : setting_failure(call, applied.error());
    });
}

int ramulon_set_number(ramulon_session *handle, uint32_t id, double value)
{
    std::string text;
    if (const std::shared_ptr<Session> s = find_session(handle)) {
        const ControlInfo *info = control_of(*s, id);
        const int kind = info ? info->info.kind : RAMULON_CONTROL_NUMBER;
        const bool whole = kind == RAMULON_CONTROL_INTEGER || kind == RAMULON_CONTROL_CHOICE || kind == RAMULON_CONTROL_CHECKBOX;
        if (!std::isfinite(value))
            return fail(RAMULON_ERROR_ARGUMENT, "the value for the control " + std::to_string(id) + " is not a finite number",
                        s.get());
        if (whole && (value != std::floor(value) || std::fabs(value) > 2147483647.0))
            return fail(RAMULON_ERROR_ARGUMENT,
                        "the control " + std::to_string(id) + (info ? " (\"" + std::string(info->info.label) + "\")" : "") +
                            " takes a whole number, not " + std::to_string(value),
                        s.get());
        char buffer[40];
        if (whole)
            std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(value));
        else
            std::snprintf(buffer, sizeof buffer, "%.17g", value);
        text = buffer;
    }
    return ramulon_set_by_id(handle, id, text.c_str());
}

int ramulon_get_number(ramulon_session *handle, uint32_t id, double *value)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!value)
            return null_argument(call, "value");
        std::lock_guard lock(host_lock());
        host::Binding bind(call->host->services());
        const host::panel_control *c = host::find_control(call->panel, id);
        if (!c && !host::setting_field_name(id))
            return call.fail(RAMULON_ERROR_NOT_FOUND, "the panel has no control with the id " + std::to_string(id));
        const host::panel_value v = host::get_value(call->panel, id);
        switch (v.kind) {
        case host::panel_value::integer:
            *value = v.i;
            return RAMULON_OK;
        case host::panel_value::number:
            *value = c ? host::to_display(*c, v.d) : v.d;
            return RAMULON_OK;
        default:
            return call.fail(RAMULON_ERROR_ARGUMENT, "the control " + std::to_string(id) + " holds no number");
        }
    });
}

int ramulon_get_text(ramulon_session *handle, uint32_t id, const char **text)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!text)
            return null_argument(call, "text");
        std::lock_guard lock(host_lock());
        host::Binding bind(call->host->services());
        const host::panel_control *c = host::find_control(call->panel, id);
        if (!c)
            return call.fail(RAMULON_ERROR_NOT_FOUND, "the panel has no control with the id " + std::to_string(id));
        call->text = c->is_button() ? "" : host::format_value(*c, host::get_value(call->panel, id));
        *text = call->text.c_str();
        return RAMULON_OK;
    });
}

int ramulon_press(ramulon_session *handle, uint32_t id)
{
    return on_session(handle, [&](const Call &call) -> int {
        std::lock_guard lock(host_lock());
        host::Binding bind(call->host->services());
        const host::panel_control *c = host::find_control(call->panel, id);
        if (!c)
            return call.fail(RAMULON_ERROR_NOT_FOUND, "the panel has no control with the id " + std::to_string(id));
        if (!c->is_button())
            return call.fail(RAMULON_ERROR_ARGUMENT, "\"" + c->label + "\" is no button");
        use_session_shelf(*call.session);
        const std::string error = driver::press(*call->host, c->label).message();
        return error.empty() ? RAMULON_OK : call.fail(RAMULON_ERROR_REFUSED, error);
    });
}

int ramulon_reset(ramulon_session *handle)
{
    return on_session(handle, [&](const Call &call) -> int {
        std::lock_guard lock(host_lock());
        call->host->event(LWT_EVENT_RESET);
        return RAMULON_OK;
    });
}

// -------------------------------------------------------------------------- presets, shelf

int ramulon_load_preset(ramulon_session *handle, const char *path_or_name, int lenient)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!path_or_name)
            return null_argument(call, "path_or_name");
        std::lock_guard lock(host_lock());
        host::Binding bind(call->host->services());
        use_session_shelf(*call.session);
        const host::preset_application applied = host::apply_preset(path_or_name, call->host->tool().instance);
        if (!applied.applied) {
            const bool missing = applied.problem.find("No such file") != std::string::npos ||
                                 applied.problem.rfind("no preset", 0) == 0;
            return call.fail(missing ? RAMULON_ERROR_NOT_FOUND : RAMULON_ERROR_IO, applied.problem);
        }
        if (!applied.problem.empty() && !lenient)
            return call.fail(RAMULON_ERROR_ARGUMENT, applied.problem + " (lenient loading keeps the fields read so far)");
        return RAMULON_OK;
    });
}

int ramulon_save_preset(ramulon_session *handle, const char *path)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!path)
            return null_argument(call, "path");
        std::lock_guard lock(host_lock());
        host::Binding bind(call->host->services());
        const std::string error = host::save_preset_file(call->host->tool().instance, path).message();
        return error.empty() ? RAMULON_OK : call.fail(RAMULON_ERROR_IO, error);
    });
}

int ramulon_set_shelf(ramulon_session *handle, const char *folder)
{
    return on_session(handle, [&](const Call &call) -> int {
        call->shelf = folder ? folder : "";
        return RAMULON_OK;
    });
}

int ramulon_shelf_folder(ramulon_session *handle, const char **folder)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!folder)
            return null_argument(call, "folder");
        std::lock_guard lock(host_lock());
        use_session_shelf(*call.session);
        call->text = host::shelf_dir().string();
        *folder = call->text.c_str();
        return RAMULON_OK;
    });
}

int ramulon_shelf_list(ramulon_session *handle, const char *const **names, size_t *count)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!names || !count)
            return null_argument(call, names ? "count" : "names");
        std::lock_guard lock(host_lock());
        use_session_shelf(*call.session);
        call->names = host::list_presets();
        call->name_pointers.clear();
        for (const std::string &name : call->names)
            call->name_pointers.push_back(name.c_str());
        call->name_pointers.push_back(nullptr);
        *names = call->name_pointers.data();
        *count = call->names.size();
        return RAMULON_OK;
    });
}

int ramulon_shelf_add(ramulon_session *handle, const char *name, int replace)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!name)
            return null_argument(call, "name");
        if (!host::valid_preset_name(name))
            return call.fail(RAMULON_ERROR_ARGUMENT,
                             std::string("cannot add a preset named \"") + name + "\": " + host::preset_name_rule);
        if (!call->built)
            return call.fail(RAMULON_ERROR_NO_TREE, "no tree built yet: a preset's thumbnail pictures the last build");
        std::lock_guard lock(host_lock());
        host::Binding bind(call->host->services());
        use_session_shelf(*call.session);
        host::forget_last_addition();
        host::set_preset_name(name, replace != 0);
        const std::string error = driver::press(*call->host, "Add Preset").message();
        host::set_preset_name("");
        if (!error.empty())
            return call.fail(RAMULON_ERROR_REFUSED, error);
        const host::shelf_addition &added = host::last_addition();
        if (added.exists)
            return call.fail(RAMULON_ERROR_ARGUMENT, std::string("a preset named \"") + name + "\" is already on the shelf");
        if (!added.added)
            return call.fail(RAMULON_ERROR_IO, "no preset added: " + (added.error.empty() ? std::string("the tool made no thumbnail")
                                                                                     : added.error));
        return RAMULON_OK;
    });
}

int ramulon_shelf_remove(ramulon_session *handle, const char *name)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!name)
            return null_argument(call, "name");
        std::lock_guard lock(host_lock());
        use_session_shelf(*call.session);
        const std::string error = host::remove_preset_pair(host::shelf_dir(), name).message();
        if (error.empty())
            return RAMULON_OK;
        return call.fail(error.rfind("no preset", 0) == 0 ? RAMULON_ERROR_NOT_FOUND
                         : error.rfind("cannot remove", 0) == 0 ? RAMULON_ERROR_IO
                                                                  : RAMULON_ERROR_ARGUMENT,
                         error);
    });
}

int ramulon_thumbnail(ramulon_session *handle, const uint8_t **png, size_t *size)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!png || !size)
            return null_argument(call, png ? "size" : "png");
        if (!call->built)
            return call.fail(RAMULON_ERROR_NO_TREE, "no tree built yet: the thumbnail pictures the last build");
        std::lock_guard lock(host_lock());
        host::Binding bind(call->host->services());
        auto thumbnail = driver::take_thumbnail(*call->host);
        if (!thumbnail)
            return call.fail(RAMULON_ERROR_REFUSED, thumbnail.error().message);
        call->png = std::move(thumbnail).value();
        *png = reinterpret_cast<const uint8_t *>(call->png.data());
        *size = call->png.size();
        return RAMULON_OK;
    });
}

// ---------------------------------------------------------------------------------- build

void ramulon_build_options_init(ramulon_build_options *options)
{
    if (!options)
        return;
    *options = ramulon_build_options{};
    options->size = sizeof(*options);
}

int ramulon_build(ramulon_session *handle, const ramulon_build_options *given, ramulon_tree **out)
{
    return on_session(handle, [&](const Call &call) -> int {
        if (!out)
            return null_argument(call, "tree");
        *out = nullptr;
        const ramulon_build_options options = sized_options(given, ramulon_build_options_init);
        host::Session &hs = *call->host;
        if (options.memory_limit > SIZE_MAX)
            return call.fail(RAMULON_ERROR_ARGUMENT, "the memory limit is larger than this machine can address");
        {
            std::lock_guard lock(host_lock());
            if (std::string error = driver::check_tree_fits(hs, static_cast<std::size_t>(options.memory_limit)).message();
                !error.empty())
                return call.fail(RAMULON_ERROR_REFUSED, error);
        }
        hs.set_journal(options.journal != 0);

        // The caller hears of every step; a nonzero answer stops the build.
        host::Services &services = hs.services();
        std::string title;
        unsigned int total = 0;
        if (options.progress) {
            services.init_hook = [&](const std::string &caption, unsigned int steps) {
                title = caption;
                total = steps;
                if (options.progress(options.user_data, title.c_str(), 0, total))
                    hs.cancel();
            };
            services.step_hook = [&](unsigned int done) {
                if (options.progress(options.user_data, title.c_str(), done, total))
                    hs.cancel();
            };
            services.write_hook = [&](std::size_t points) {
                const auto done = static_cast<unsigned int>(std::min<std::size_t>(points, UINT_MAX));
                if (options.progress(options.user_data, "Writing the tree", done, 0))
                    hs.cancel();
            };
        }
        struct Unhook {
            host::Services &s;
            ~Unhook()
            {
                s.init_hook = nullptr;
                s.step_hook = nullptr;
                s.write_hook = nullptr;
            }
        } unhook{services};

        call->built = false;
        const ramulon::Status grown = driver::grow_tree(hs);
        if (!grown) {
            if (grown.error().kind == ramulon::ErrorKind::cancelled)
                return call.fail(RAMULON_ERROR_CANCELLED, "the build was cancelled");
            const bool memory = grown.error().kind == ramulon::ErrorKind::out_of_memory;
            return call.fail(memory ? RAMULON_ERROR_MEMORY : RAMULON_ERROR_REFUSED, grown.message());
        }
        call->built = true;
        std::string journal = options.journal ? hs.journal().text() : std::string();
        auto tree = std::make_shared<Tree>(std::move(hs.mesh().foreground), std::move(journal), options.journal != 0);
        hs.mesh().foreground = host::Layer{};
        *out = add_tree(std::move(tree));
        return RAMULON_OK;
    });
}

int ramulon_cancel(ramulon_session *handle)
{
    const std::shared_ptr<Session> s = find_session(handle);
    if (!s)
        return bad_handle("session");
    s->host->cancel();
    return RAMULON_OK;
}

} // extern "C"
