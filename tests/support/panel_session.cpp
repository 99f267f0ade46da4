#include "panel_session.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "host/settings.h"

namespace ramulon {
void *Startup();
void Shutdown(void *serverData);
const ServerRecord *server_records();

const ModuleDescriptor &linked_tool()
{
    static const ModuleDescriptor descriptor{HOST_MODULE_SYNC, HOST_INTERFACE_VERSION, Startup,
                                             Shutdown, server_records()};
    return descriptor;
}

ToolOnPanel::ToolOnPanel()
{
    session.services().echo_messages = false;
    session.services().show_progress = false;
    EXPECT_TRUE(session.load(linked_tool())) << session.error();
    EXPECT_EQ(session.activate(), AFUNC_OK) << session.error();
    session.start();
    session.event(LWT_EVENT_RESET);
    panel = session.panel();
    EXPECT_NE(panel, nullptr);
}

std::string ToolOnPanel::set(const std::string &assignment)
{
    host::Binding bind(session.services());
    return host::apply_setting(panel, assignment).message();
}

host::panel_value ToolOnPanel::get(unsigned long id)
{
    host::Binding bind(session.services());
    return host::get_value(panel, id);
}

bool ToolOnPanel::click(const std::string &label)
{
    host::Binding bind(session.services());
    for (const host::panel_control *c : host::panel_controls(panel))
        if (c->label == label)
            return host::click(panel, c->id);
    return false;
}

std::string ToolOnPanel::render()
{
    host::Binding bind(session.services());
    return host::render_panel(panel);
}

std::string ToolOnPanel::build()
{
    host::Layer &bg = session.mesh().background;
    bg.clear();
    // Four walls of a box from y = 1 to y = 3, 1 unit either side of the trunk's axis.
    const double c[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (int k = 0; k < 4; ++k) {
        const double *a = c[k], *b = c[(k + 1) % 4];
        const int p0 = bg.add_point({a[0], 1.0, a[1]});
        const int p1 = bg.add_point({b[0], 1.0, b[1]});
        const int p2 = bg.add_point({b[0], 3.0, b[1]});
        const int p3 = bg.add_point({a[0], 3.0, a[1]});
        bg.add_polygon(ID_FACE, {p0, p1, p2, p3});
    }
    return session.build().message();
}

PresetFolder::PresetFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "ramulon_panel_XXXXXX").string();
    path = mkdtemp(pattern.data());
}

PresetFolder::~PresetFolder() { std::filesystem::remove_all(path); }

std::vector<std::string> file_lines(const std::string &path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace ramulon
