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

std::string load_background(host::Session &session, const ToolOptions &options)
{
    std::string error;
    host::Layer &layer = session.mesh().background;
    if (options.background.empty()) {
        if (!host::load_obj_text(host::default_crown_obj(), "built-in crown", layer, error))
            return error;
    } else if (!host::load_obj_file(options.background, layer, error)) {
        return error;
    }
    return {};
}

std::string check_crown(host::Session &session, const ToolOptions &options)
{
    if (has_faces(session.mesh().background))
        return {};
    return "cannot grow a tree in " + (options.background.empty() ? "the crown" : options.background) +
           ": the file has no faces (polygons of three or more points)";
}

std::string build_tree(host::Session &session, std::size_t memory_limit)
{
    if (std::string refused = check_tree_fits(session, memory_limit); !refused.empty())
        return refused;
    return grow_tree(session);
}

std::string check_tree_fits(host::Session &session, std::size_t memory_limit)
{
    LWXPanelID panel = session.panel();
    if (!panel)
        return {};
    host::Binding bind(session.services());
    return check_tree_size(panel, memory_budget(memory_limit));
}

std::string grow_tree(host::Session &session)
{
    host::Services &services = session.services();
    const bool echo = services.echo_messages;
    const std::size_t before = services.messages.size();
    services.echo_messages = false;
    const std::optional<std::string> error = session.build();
    services.echo_messages = echo;
    std::string said;
    for (std::size_t k = before; k < services.messages.size(); ++k) {
        const host::Message &m = services.messages[k];
        const std::string line = m.line2.empty() ? m.line1 : m.line1 + " " + m.line2;
        if (error)
            said += (said.empty() ? "" : " ") + line;
        else if (echo)
            std::fprintf(stderr, "ramulon: %s\n", line.c_str());
    }
    if (!error)
        return {};
    return said.empty() ? "build failed: " + *error : *error + ": " + said;
}

bool has_faces(const host::Layer &layer)
{
    for (std::size_t i = 0; i < layer.polygon_count(); ++i)
        if (layer.polygon_type[i] == ID_FACE && layer.polygon_points(i).size() >= 3)
            return true;
    return false;
}

std::string open_tool(host::Session &session, const ToolOptions &options)
{
    if (options.linked) {
        if (!session.load(*options.linked))
            return session.error();
        if (session.activate(options.generation) != AFUNC_OK)
            return session.error();
        session.start();
        return {};
    }
    std::string module = options.plugin;
    if (module.empty()) {
        module = default_module(options.generation);
        if (module.empty())
            return "cannot find the plug-in module next to this program or in ../lib/ramulon; "
                   "name it with --plugin";
    }
    if (!session.load(module))
        return session.error();
    if (session.activate(options.generation) != AFUNC_OK)
        return session.error();
    session.start();
    return {};
}

std::string apply_settings(host::Session &session, const std::vector<std::string> &settings)
{
    if (settings.empty())
        return {};
    LWXPanelID panel = session.panel();
    if (!panel)
        return "cannot apply parameter edits: the tool made no panel";
    host::Binding bind(session.services()); // the setter may show messages
    for (const std::string &setting : settings) {
        const std::string error = host::apply_setting(panel, setting);
        if (!error.empty())
            return error;
    }
    return {};
}

} // namespace driver
