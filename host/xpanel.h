// The host's form panels: what a client describes through the panel service (controls, hints,
// data), and what the host's front ends read and do with it. A panel id that is no live panel
// of this host is answered with nothing (an empty title, no controls, a none value, -1 from a
// setter, false from click): that is the only failure, and none of these throws.
#pragma once

#include <string>
#include <vector>

#include "plugin_api.h"

namespace host {

// Degrees per radian as the panel shows angles, with the modeller's stored pi.
inline constexpr double panel_pi = 3.1415926535898;

struct panel_control {
    unsigned long id = 0;
    std::string label;
    std::string control_type; // "sInfo", "vButton", "iPopChoice", "integer", "float", ...
    std::string data_type;    // from the data description; empty when the control has no datum
    std::string data_name;
    unsigned long group = 0;  // the group (tab) holding it; 0 for controls outside the tabs
    std::string tab;          // that group's label
    bool divider_after = false;
    bool hidden = false;
    // Slider range hint: in stored units, except for angle controls, whose range is in degrees.
    bool has_range = false;
    double min = 0.0, max = 0.0, step = 0.0;
    std::vector<std::string> choices;
    LWXPanelBtnClickFunc click = nullptr;

    bool is_button() const { return control_type == "vButton"; }
    bool is_choice() const { return control_type == "iPopChoice"; }
    bool is_boolean() const { return control_type == "iBoolean"; }
    bool is_info() const { return control_type == "sInfo"; }
    // The value travels as an int (integers, check boxes, choices) rather than a double.
    bool holds_int() const;
};

// A value read through the client's getter.
struct panel_value {
    enum kind_t { none, integer, number, text } kind = none;
    int i = 0;
    double d = 0.0;
    std::string s;
};

// True for a panel made by this host's panel service and not yet destroyed.
bool is_panel(LWXPanelID panel);

const std::string &panel_title(LWXPanelID panel);
// The tabs' labels, in tab order.
std::vector<std::string> panel_tabs(LWXPanelID panel);
// Every control: first those outside the tabs in the order of the control list, then each
// tab's controls in the order of its group.
std::vector<const panel_control *> panel_controls(LWXPanelID panel);
const panel_control *find_control(LWXPanelID panel, unsigned long id);

// A control is disabled while the control of an enable rule that names it (or its group)
// holds 0; the text is what the panel shows meanwhile (empty while enabled).
bool control_enabled(LWXPanelID panel, unsigned long id);
std::string disabled_text(LWXPanelID panel, unsigned long id);

// Through the client's getter and setter, with the panel's user data as the instance; a setter
// also reaches data without a control. The setters return the client's answer (2: redraw, 0:
// not taken), or -1 when the panel has no setter.
panel_value get_value(LWXPanelID panel, unsigned long id);
int set_value(LWXPanelID panel, unsigned long id, int value);
int set_value(LWXPanelID panel, unsigned long id, double value);

// Presses a button as the user would: false when the control is no button, has no action or
// is disabled.
bool click(LWXPanelID panel, unsigned long id);

void *panel_user_data(LWXPanelID panel);
int panel_refresh_count(LWXPanelID panel);

// Display form of a stored value: degrees for angles, percent for percentages.
double to_display(const panel_control &control, double stored);
// The stored value of a displayed one: radians from degrees, fractions from percent.
double from_display(const panel_control &control, double display);
// The value with its unit, as the panel shows it ("40 %", "11.4592°", "0.03 m", "Automatic").
std::string format_value(const panel_control &control, const panel_value &value);

// The whole panel as text: the controls outside the tabs, then each tab with every visible
// control's label, value, range and choices, greyed controls marked.
std::string render_panel(LWXPanelID panel);

} // namespace host
