#include "driver/tool_setup.h"

#include <cstdio>
#include <filesystem>

#include "host/obj_loader.h"
#include "host/settings.h"
#include "host/xpanel.h"
#include "driver/tree_budget.h"

#ifndef RAMULON_INSTALL_LIBDIR
#define RAMULON_INSTALL_LIBDIR "lib"
#endif

namespace driver {

namespace fs = std::filesystem;
using ramulon::ErrorKind;
using ramulon::Status;

std::string default_module(int generation)
{
    const char *name = generation == 10  ? "RamulonDO10.so"
                       : generation == 9 ? "RamulonLW9.so"
                                         : "RamulonVE11.so";
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    const fs::path dir = exe.parent_path();
    for (const fs::path &candidate :
         {dir / name, dir / ".." / RAMULON_INSTALL_LIBDIR / "ramulon" / name,
          dir / ".." / "lib" / "ramulon" / name})
        if (fs::is_regular_file(candidate, ec))
            return candidate.lexically_normal().string();
    return {};
}

Status load_background(host::Session &session, const ToolOptions &options)
{
    host::Layer &layer = session.mesh().background;
    if (options.background.empty())
        return host::load_obj_text(host::default_crown_obj(), "built-in crown", layer);
    return host::load_obj_file(options.background, layer);
}

Status check_crown(host::Session &session, const ToolOptions &options)
{
    if (has_faces(session.mesh().background))
        return {};
    return ramulon::fail(ErrorKind::invalid_input,
                         "cannot grow a tree in " + (options.background.empty() ? "the crown" : options.background) +
                             ": the file has no faces (polygons of three or more points)");
}

namespace {

// The first tree's arrays made at once, as large as the panel's estimate (an upper bound), so
// that they are not copied as they grow: a tree's corners come four to a polygon, and its tags
// and polygon-specific values fewer than one per polygon on every shipped preset.
void expect_tree(host::Session &session)
{
    LWXPanelID panel = session.panel();
    if (!panel)
        return;
    host::Binding bind(session.services());
    const std::optional<TreeEstimate> e = estimate_tree(panel);
    if (!e)
        return;
    // A layer numbers its points and polygons in ints: an estimate beyond that (or none a
    // number could hold) makes no room, and the tree grows its arrays as it comes.
    const auto items = [](double n) { return n >= 1.0 && n < 2e9 ? static_cast<std::size_t>(n) : std::size_t{0}; };
    host::Layer::Counts room;
    room.points = items(e->points);
    room.polygons = items(e->polygons);
    room.corners = room.polygons * 4;
    room.tags = room.polygons;
    room.corner_values = room.polygons;
    room.corner_floats = room.polygons * 2;
    session.expect(room);
}

} // namespace

Status build_tree(host::Session &session, std::size_t memory_limit)
{
    if (Status fits = check_tree_fits(session, memory_limit); !fits)
        return fits;
    expect_tree(session);
    return grow_tree(session);
}

Status check_tree_fits(host::Session &session, std::size_t memory_limit)
{
    LWXPanelID panel = session.panel();
    if (!panel)
        return {};
    host::Binding bind(session.services());
    return check_tree_size(panel, memory_budget(memory_limit));
}

Status grow_tree(host::Session &session)
{
    host::Services &services = session.services();
    const bool echo = services.echo_messages;
    const std::size_t before = services.messages.size();
    services.echo_messages = false;
    const Status built = session.build();
    services.echo_messages = echo;
    std::string said;
    for (std::size_t k = before; k < services.messages.size(); ++k) {
        const host::Message &m = services.messages[k];
        const std::string line = m.line2.empty() ? m.line1 : m.line1 + " " + m.line2;
        if (!built)
            said += (said.empty() ? "" : " ") + line;
        else if (echo)
            std::fprintf(stderr, "ramulon: %s\n", line.c_str());
    }
    if (built)
        return {};
    const std::string &result = built.message();
    return ramulon::fail(built.error().kind, said.empty() ? "build failed: " + result : result + ": " + said);
}

bool has_faces(const host::Layer &layer)
{
    for (std::size_t i = 0; i < layer.polygon_count(); ++i)
        if (layer.polygon_type[i] == ID_FACE && layer.polygon_points(i).size() >= 3)
            return true;
    return false;
}

Status open_tool(host::Session &session, const ToolOptions &options)
{
    Status loaded;
    if (options.linked) {
        loaded = session.load(*options.linked);
    } else {
        std::string module = options.plugin;
        if (module.empty()) {
            module = default_module(options.generation);
            if (module.empty())
                return ramulon::fail(ErrorKind::not_found,
                                     "cannot find the plug-in module next to this program or in ../lib/ramulon; "
                                     "name it with --plugin");
        }
        loaded = session.load(module);
    }
    if (!loaded)
        return loaded;
    if (session.activate(options.generation) != AFUNC_OK)
        return ramulon::fail(ErrorKind::invalid_input, session.error());
    session.start();
    return {};
}

Status apply_settings(host::Session &session, const std::vector<std::string> &settings)
{
    if (settings.empty())
        return {};
    LWXPanelID panel = session.panel();
    if (!panel)
        return ramulon::fail(ErrorKind::internal, "cannot apply parameter edits: the tool made no panel");
    host::Binding bind(session.services()); // the setter may show messages
    for (const std::string &setting : settings)
        if (Status applied = host::apply_setting(panel, setting); !applied)
            return applied;
    return {};
}

} // namespace driver
