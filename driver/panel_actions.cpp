#include "driver/panel_actions.h"

#include "driver/tool_setup.h"

#include "host/shelf.h"
#include "host/xpanel.h"

namespace driver {

void use_shelf_dir(const std::string &dir)
{
    if (!dir.empty())
        host::set_shelf_dir(dir);
}

std::string rebuild_if_asked(host::Session &session, bool &rebuilt)
{
    rebuilt = false;
    if (session.test() != LWT_TEST_UPDATE)
        return {};
    if (std::string error = build_tree(session); !error.empty())
        return error;
    rebuilt = true;
    return {};
}

std::string press(host::Session &session, const std::string &label)
{
    LWXPanelID panel = session.panel();
    if (!panel)
        return "the tool made no panel";
    host::Binding bind(session.services());
    for (const host::panel_control *c : host::panel_controls(panel)) {
        if (!c->is_button() || c->label != label)
            continue;
        if (!host::control_enabled(panel, c->id))
            return "\"" + label + "\" is greyed out: " + host::disabled_text(panel, c->id);
        if (!host::click(panel, c->id))
            return "\"" + label + "\" does nothing";
        return {};
    }
    return "the panel has no \"" + label + "\" button";
}

std::string take_thumbnail(host::Session &session, std::string &png)
{
    host::forget_last_addition();
    host::keep_next_preset_in_memory();
    const std::string error = press(session, "Add Preset");
    host::keep_next_preset_in_memory(false);
    if (!error.empty())
        return error;
    const host::shelf_addition &added = host::last_addition();
    if (!added.added)
        return added.error.empty() ? "the tool made no thumbnail (nothing built yet?)" : added.error;
    png = added.png;
    return {};
}

} // namespace driver
