// ramulon panel: the tool's panel as text, after optional edits, as the modeller shows it.
#include <cstdio>
#include <memory>

#include "command.h"
#include "host/xpanel.h"
#include "driver/panel_actions.h"
#include "tool_options.h"

namespace cli {
namespace {

struct PanelOptions {
    ToolOptions tool;
    bool inactive = false;
};

int run_panel(const PanelOptions &options)
{
    host::Session session;
    std::string error = driver::load_background(session, options.tool).message();
    if (error.empty())
        error = driver::open_tool(session, options.tool).message();
    if (!error.empty())
        return fail(error);
    LWXPanelID panel = session.panel();
    if (!panel)
        return fail("the tool made no panel");

    bool rebuilt = false;
    if (!(error = driver::apply_settings(session, options.tool.settings).message()).empty())
        return fail(error);
    if (!options.tool.settings.empty()) {
        const ramulon::Result<bool> rebuild = driver::rebuild_if_asked(session);
        if (!rebuild)
            return fail(rebuild.error().message);
        rebuilt = *rebuild;
    }
    if (options.inactive)
        session.drop();

    std::string text;
    {
        host::Binding bind(session.services());
        text = host::render_panel(panel);
    }
    std::fputs(text.c_str(), stdout);
    if (!options.tool.settings.empty()) {
        const host::Layer &fg = session.mesh().foreground;
        if (rebuilt)
            std::printf("\nrebuilt: %zu points and %zu polygons\n", fg.points.size(), fg.polygon_count());
        else
            std::printf("\nno rebuild requested\n");
    }
    return 0;
}

Command setup(CLI::App &app)
{
    CLI::App *sub = app.add_subcommand("panel", "Show the tool's panel with its current values");
    auto options = std::make_shared<PanelOptions>();
    add_tool_options(*sub, options->tool);
    sub->add_flag("--inactive", options->inactive,
                  "Show the panel as it looks after the tool was dropped (greyed out)");
    return {sub, [options] { return run_panel(*options); }};
}

const bool registered = register_command(30, setup);

} // namespace
} // namespace cli
