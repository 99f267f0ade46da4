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

ramulon::Result<bool> rebuild_if_asked(host::Session &session)
{
    if (session.test() != LWT_TEST_UPDATE)
        return false;
    if (ramulon::Status built = build_tree(session); !built)
        return built.error();
    return true;
}

ramulon::Status press(host::Session &session, const std::string &label)
{
    using ramulon::ErrorKind;
    LWXPanelID panel = session.panel();
    if (!panel)
        return ramulon::fail(ErrorKind::internal, "the tool made no panel");
    host::Binding bind(session.services());
    for (const host::panel_control *c : host::panel_controls(panel)) {
        if (!c->is_button() || c->label != label)
            continue;
        if (!host::control_enabled(panel, c->id))
            return ramulon::fail(ErrorKind::invalid_input,
                                 "\"" + label + "\" is greyed out: " + host::disabled_text(panel, c->id));
        if (!host::click(panel, c->id))
            return ramulon::fail(ErrorKind::invalid_input, "\"" + label + "\" does nothing");
        return {};
    }
    return ramulon::fail(ErrorKind::not_found, "the panel has no \"" + label + "\" button");
}

ramulon::Result<std::string> take_thumbnail(host::Session &session)
{
    host::forget_last_addition();
    host::keep_next_preset_in_memory();
    const ramulon::Status pressed = press(session, "Add Preset");
    host::keep_next_preset_in_memory(false);
    if (!pressed)
        return pressed.error();
    const host::shelf_addition &added = host::last_addition();
    if (!added.added)
        return ramulon::fail(ramulon::ErrorKind::invalid_input, added.error.empty()
                                                                    ? "the tool made no thumbnail (nothing built yet?)"
                                                                    : added.error);
    return added.png;
}

} // namespace driver
