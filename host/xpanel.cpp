#include "xpanel.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <unordered_map>

#include "common/index_cast.h"
#include "host_services.h"

namespace host {

bool panel_control::holds_int() const
{
    // A control the client described no datum for exchanges the type its control implies.
    const std::string &type = data_type.empty() ? control_type : data_type;
    return type == "integer" || is_boolean() || is_choice();
}

namespace {

struct enable_rule {
    unsigned long controller = 0;
    std::vector<unsigned long> ids;
    std::string text;
};

struct group {
    unsigned long id = 0;
    std::string label;
    std::vector<unsigned long> ids;
};

struct form {
    int type = 0;
    std::string title;
    std::vector<panel_control> controls; // in the order of the control list
    std::map<unsigned long, group> groups;
    std::vector<unsigned long> tabs;     // group ids in tab order
    std::vector<enable_rule> rules;
    LWXPanelDestroyNotifyFunc destroy_notify = nullptr;
    LWXPanelGetFunc get = nullptr;
    LWXPanelSetFunc set = nullptr;
    void *user_data = nullptr;
    int refreshes = 0;

    panel_control *control(unsigned long id)
    {
        for (panel_control &c : controls)
            if (c.id == id)
                return &c;
        return nullptr;
    }
};

std::unordered_map<const void *, std::unique_ptr<form>> &forms()
{
    static std::unordered_map<const void *, std::unique_ptr<form>> all;
    return all;
}

form *as_form(LWXPanelID id)
{
    auto it = forms().find(id);
    return it == forms().end() ? nullptr : it->second.get();
}

std::vector<unsigned long> id_list(const unsigned long *ids)
{
    std::vector<unsigned long> out;
    for (; ids && *ids; ++ids)
        out.push_back(*ids);
    return out;
}

// ---- the service

LWXPanelID create(int type, const LWXPanelControl *controls)
{
    if (type != LWXP_VIEW || !controls)
        return nullptr;
    auto f = std::make_unique<form>();
    f->type = type;
    for (const LWXPanelControl *c = controls; c->id; ++c) {
        panel_control pc;
        pc.id = c->id;
        pc.label = c->label ? c->label : "";
        pc.control_type = c->controlType ? c->controlType : "";
        f->controls.push_back(std::move(pc));
    }
    form *raw = f.get();
    forms()[raw] = std::move(f);
    return raw;
}

void destroy(LWXPanelID id)
{
    form *f = as_form(id);
    if (!f)
        return;
    if (f->destroy_notify)
        f->destroy_notify(id);
    forms().erase(id);
}

void describe(LWXPanelID id, const LWXPanelDataDesc *data, LWXPanelGetFunc get, LWXPanelSetFunc set)
{
    form *f = as_form(id);
    if (!f)
        return;
    f->get = get;
    f->set = set;
    for (const LWXPanelDataDesc *d = data; d && d->id; ++d) {
        if (panel_control *c = f->control(d->id)) {
            c->data_name = d->name ? d->name : "";
            c->data_type = d->dataType ? d->dataType : "";
        }
    }
}

void apply_hint(form &f, const LWXPanelHint &h)
{
    panel_control *c = f.control(h.id);
    switch (h.kind) {
    case XPH_LABEL:
        if (h.id == 0)
            f.title = h.text ? h.text : "";
        else if (c)
            c->label = h.text ? h.text : "";
        else
            f.groups[h.id].label = h.text ? h.text : "";
        break;
    case XPH_DIVADD:
        if (c)
            c->divider_after = true;
        break;
    case XPH_GROUP:
        f.groups[h.id].id = h.id;
        f.groups[h.id].ids = id_list(h.ids);
        break;
    case XPH_TABS:
        f.tabs = id_list(h.ids);
        break;
    case XPH_STRLIST:
        if (c) {
            c->choices.clear();
            for (const char *const *s = h.strings; s && *s; ++s)
                c->choices.emplace_back(*s);
        }
        break;
    case XPH_BUTNCLICK:
        if (c)
            c->click = h.buttonClick;
        break;
    case XPH_DESTROYNOTIFY:
        f.destroy_notify = h.destroyNotify;
        break;
    case XPH_RANGE:
        if (c) {
            c->has_range = true;
            c->min = h.min;
            c->max = h.max;
            c->step = h.step;
        }
        break;
    case XPH_ENABLE:
        f.rules.push_back(enable_rule{h.id, id_list(h.ids), h.text ? h.text : ""});
        break;
    case XPH_HIDDEN:
        if (c)
            c->hidden = true;
        break;
    default:
        break;
    }
}

// Records the tab of every control once groups and tabs are known.
void place_controls(form &f)
{
    for (panel_control &c : f.controls) {
        c.group = 0;
        c.tab.clear();
    }
    for (unsigned long g : f.tabs) {
        auto it = f.groups.find(g);
        if (it == f.groups.end())
            continue;
        for (unsigned long id : it->second.ids)
            if (panel_control *c = f.control(id)) {
                c->group = g;
                c->tab = it->second.label;
            }
    }
}

void hint(LWXPanelID id, unsigned long, const LWXPanelHint *hints)
{
    form *f = as_form(id);
    if (!f || !hints)
        return;
    for (const LWXPanelHint *h = hints; h->kind != XPH_END; ++h)
        apply_hint(*f, *h);
    place_controls(*f);
}

void *get_data(LWXPanelID id, unsigned long which)
{
    form *f = as_form(id);
    if (!f)
        return nullptr;
    if (which == 0)
        return f->user_data;
    return f->get ? f->get(f->user_data, which) : nullptr;
}

void set_data(LWXPanelID id, unsigned long which, void *value)
{
    form *f = as_form(id);
    if (!f)
        return;
    if (which == 0)
        f->user_data = value;
    else if (f->set && value)
        f->set(f->user_data, which, value);
}

void view_refresh(LWXPanelID id)
{
    if (form *f = as_form(id))
        ++f->refreshes;
}

LWXPanelFuncs funcs{2, create, destroy, describe, hint, get_data, set_data, view_refresh};

template <typename V> int set_typed(LWXPanelID id, unsigned long which, V value)
{
    form *f = as_form(id);
    if (!f || !f->set || which == 0)
        return -1;
    return f->set(f->user_data, which, &value);
}

std::string number(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

std::string with_unit(const panel_control &c, double display)
{
    if (c.control_type == "percent")
        return number(display) + " %";
    if (c.control_type == "angle")
        return number(display) + "°";
    if (c.control_type == "distance")
        return number(display) + " m";
    return number(display);
}

std::string range_text(const panel_control &c)
{
    if (!c.has_range)
        return {};
    // Angle ranges arrive in degrees already.
    const bool angle = c.control_type == "angle";
    const double lo = angle ? c.min : to_display(c, c.min);
    const double hi = angle ? c.max : to_display(c, c.max);
    return "range " + with_unit(c, lo) + " .. " + with_unit(c, hi);
}

std::string choices_text(const panel_control &c)
{
    std::string out;
    for (std::size_t k = 0; k < c.choices.size(); ++k)
        out += (k ? " | " : "") + std::to_string(k) + " " + c.choices[k];
    return out.empty() ? out : "choices " + out;
}

std::string pad(std::string s, std::size_t width)
{
    // Columns count characters, not bytes: the degree sign takes two bytes.
    std::size_t shown = 0;
    for (unsigned char ch : s)
        shown += (ch & 0xC0) != 0x80;
    if (shown < width)
        s.append(width - shown, ' ');
    return s;
}

std::string control_line(LWXPanelID id, const panel_control &c)
{
    std::string line = "  ";
    if (c.is_button()) {
        line += "[" + c.label + "]";
    } else {
        const std::string value = format_value(c, get_value(id, c.id));
        line += pad(c.label.empty() ? "(info)" : c.label, 26) + pad(value, 16);
        const std::string extra = c.is_choice() ? choices_text(c) : range_text(c);
        line += extra;
    }
    if (!control_enabled(id, c.id))
        line += "  (greyed)";
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    line += "\n";
    if (c.divider_after)
        line += "  ----\n";
    return line;
}

// An enable rule lets its controls work while its controlling control holds a nonzero value.
bool rule_holds(LWXPanelID panel, const enable_rule &r)
{
    const panel_value v = get_value(panel, r.controller);
    return v.kind == panel_value::integer ? v.i != 0 : v.kind == panel_value::number && v.d != 0.0;
}

} // namespace

LWXPanelFuncs *xpanel_service() { return &funcs; }

bool is_panel(LWXPanelID panel) { return as_form(panel) != nullptr; }

const std::string &panel_title(LWXPanelID panel)
{
    static const std::string none;
    form *f = as_form(panel);
    return f ? f->title : none;
}

std::vector<std::string> panel_tabs(LWXPanelID panel)
{
    std::vector<std::string> out;
    if (form *f = as_form(panel))
        for (unsigned long g : f->tabs)
            out.push_back(f->groups[g].label);
    return out;
}

std::vector<const panel_control *> panel_controls(LWXPanelID panel)
{
    std::vector<const panel_control *> out;
    form *f = as_form(panel);
    if (!f)
        return out;
    for (const panel_control &c : f->controls)
        if (c.group == 0)
            out.push_back(&c);
    for (unsigned long g : f->tabs)
        for (unsigned long id : f->groups[g].ids)
            if (const panel_control *c = f->control(id); c && c->group == g)
                out.push_back(c);
    return out;
}

const panel_control *find_control(LWXPanelID panel, unsigned long id)
{
    form *f = as_form(panel);
    return f ? f->control(id) : nullptr;
}

std::string disabled_text(LWXPanelID panel, unsigned long id)
{
    form *f = as_form(panel);
    const panel_control *c = f ? f->control(id) : nullptr;
    if (!c)
        return {};
    for (const enable_rule &r : f->rules) {
        const bool names = std::find(r.ids.begin(), r.ids.end(), id) != r.ids.end() ||
                           (c->group && std::find(r.ids.begin(), r.ids.end(), c->group) != r.ids.end());
        if (!names)
            continue;
        if (!rule_holds(panel, r))
            return r.text.empty() ? std::string("disabled") : r.text;
    }
    return {};
}

bool control_enabled(LWXPanelID panel, unsigned long id) { return disabled_text(panel, id).empty(); }

panel_value get_value(LWXPanelID panel, unsigned long id)
{
    panel_value v;
    form *f = as_form(panel);
    const panel_control *c = f ? f->control(id) : nullptr;
    if (!c || !f->get || c->is_button())
        return v;
    void *p = f->get(f->user_data, id);
    if (!p)
        return v;
    if (c->is_info() || c->data_type == "string") {
        v.kind = panel_value::text;
        v.s = static_cast<const char *>(p);
    } else if (c->holds_int()) {
        v.kind = panel_value::integer;
        v.i = *static_cast<const int *>(p);
    } else {
        v.kind = panel_value::number;
        v.d = *static_cast<const double *>(p);
    }
    return v;
}

int set_value(LWXPanelID panel, unsigned long id, int value) { return set_typed(panel, id, value); }
int set_value(LWXPanelID panel, unsigned long id, double value) { return set_typed(panel, id, value); }

bool click(LWXPanelID panel, unsigned long id)
{
    const panel_control *c = find_control(panel, id);
    if (!c || !c->is_button() || !c->click || !control_enabled(panel, id))
        return false;
    c->click(panel, ramulon::index_cast<int>(id));
    return true;
}

void *panel_user_data(LWXPanelID panel)
{
    form *f = as_form(panel);
    return f ? f->user_data : nullptr;
}

int panel_refresh_count(LWXPanelID panel)
{
    form *f = as_form(panel);
    return f ? f->refreshes : 0;
}

double to_display(const panel_control &control, double stored)
{
    if (control.control_type == "angle")
        return (stored * 180.0) / panel_pi;
    if (control.control_type == "percent")
        return stored * 100.0;
    return stored;
}

double from_display(const panel_control &control, double display)
{
    if (control.control_type == "angle")
        return (display * panel_pi) / 180;
    if (control.control_type == "percent")
        return display / 100;
    return display;
}

std::string format_value(const panel_control &c, const panel_value &v)
{
    switch (v.kind) {
    case panel_value::none:
        return "";
    case panel_value::text:
        return v.s;
    case panel_value::integer:
        if (c.is_boolean())
            return v.i ? "on" : "off";
        if (c.is_choice() && v.i >= 0 && ramulon::index_cast<std::size_t>(v.i) < c.choices.size())
            return c.choices[ramulon::index_cast<std::size_t>(v.i)];
        return std::to_string(v.i);
    case panel_value::number:
        return with_unit(c, to_display(c, v.d));
    }
    return "";
}

std::string render_panel(LWXPanelID panel)
{
    form *f = as_form(panel);
    if (!f)
        return "";
    std::string out = f->title + "\n";
    for (const panel_control *c : panel_controls(panel))
        if (c->group == 0 && !c->hidden)
            out += control_line(panel, *c);
    // What the panel says while a rule holds controls disabled, once per rule.
    for (const enable_rule &r : f->rules) {
        if (!rule_holds(panel, r) && !r.text.empty())
            out += "  " + r.text + "\n";
    }
    for (unsigned long g : f->tabs) {
        const group &grp = f->groups[g];
        const bool greyed = std::any_of(grp.ids.begin(), grp.ids.end(),
                                        [&](unsigned long id) { return !control_enabled(panel, id); });
        out += "\n[" + grp.label + "]" + (greyed ? "  (greyed)" : "") + "\n";
        for (unsigned long id : grp.ids)
            if (const panel_control *c = f->control(id); c && c->group == g && !c->hidden)
                out += control_line(panel, *c);
    }
    return out;
}

} // namespace host
