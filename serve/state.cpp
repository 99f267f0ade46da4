// The whole state the page shows (GET /api/state): the panel with every control in display
// units, the last build, the background crown and the messages the tool showed since.
#include "host/xpanel.h"
#include "serve/host.h"

namespace serve {

namespace {

// The tool's hidden control bound to its active flag: its enable rule greys the tabs while it
// holds 0.
constexpr unsigned long active_control = 32791;

nlohmann::json range_json(const host::panel_control &c)
{
    if (!c.has_range)
        return nullptr;
    // Angle ranges arrive in degrees already; the step is the slider's, in display units.
    const bool angle = c.control_type == "angle";
    return {{"min", angle ? c.min : host::to_display(c, c.min)},
            {"max", angle ? c.max : host::to_display(c, c.max)},
            {"step", c.step}};
}

nlohmann::json value_json(const host::panel_control &c, const host::panel_value &v)
{
    switch (v.kind) {
    case host::panel_value::integer:
        return v.i;
    case host::panel_value::number:
        return host::to_display(c, v.d);
    case host::panel_value::text:
        return v.s;
    case host::panel_value::none:
        break;
    }
    return nullptr;
}

nlohmann::json control_json(LWXPanelID panel, const host::panel_control &c)
{
    const host::panel_value v = host::get_value(panel, c.id);
    return {{"id", c.id},
            {"label", c.label},
            {"type", c.control_type},
            {"data_type", c.data_type},
            {"tab", c.tab},
            {"group", c.group},
            {"divider_after", c.divider_after},
            {"hidden", c.hidden},
            {"range", range_json(c)},
            {"choices", c.choices},
            {"enabled", host::control_enabled(panel, c.id)},
            {"disabled_text", host::disabled_text(panel, c.id)},
            {"value", value_json(c, v)},
            {"text", host::format_value(c, v)}};
}

nlohmann::json build_json(const BuildInfo &b)
{
    return {{"count", b.count},
            {"seconds", b.seconds},
            {"points", b.points},
            {"polygons", b.polygons},
            {"leaves", b.leaves},
            {"error", b.error ? nlohmann::json(*b.error) : nlohmann::json(nullptr)}};
}

} // namespace

nlohmann::json TreeHost::state_locked()
{
    host::Binding bind(session_.services());
    LWXPanelID p = panel();
    nlohmann::json controls = nlohmann::json::array();
    for (const host::panel_control *c : host::panel_controls(p))
        controls.push_back(control_json(p, *c));

    const host::Layer &bg = session_.mesh().background;
    nlohmann::json messages = nlohmann::json::array();
    const std::vector<host::Message> &all = session_.messages();
    for (std::size_t k = messages_shown_; k < all.size(); ++k) {
        const host::Message &m = all[k];
        // The page knows information and errors; a warning is shown as an error.
        messages.push_back({{"kind", m.kind == "info" ? "info" : "error"},
                            {"text", m.line2.empty() ? m.line1 : m.line1 + "\n" + m.line2}});
    }
    messages_shown_ = all.size();

    return {{"title", host::panel_title(p)},
            {"active", host::get_value(p, active_control).i != 0},
            {"tabs", host::panel_tabs(p)},
            {"controls", controls},
            {"build", build_json(last_)},
            {"background", {{"name", background_name_}, {"points", bg.points.size()}, {"polygons", bg.polygon_count()}}},
            {"messages", messages}};
}

} // namespace serve
