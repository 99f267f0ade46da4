// Parameter edits typed by a user ("Branches=10", "Twig/Segments=4", "num_branches=10"), applied
// through the plug-in's own panel setter so that its clamps and change levels hold.
#pragma once

#include <string>

#include "common/error.h"
#include "plugin_api.h"

namespace host {

// Applies one NAME=VALUE edit to the panel; on success the tool's setter took the value (it may
// have clamped it). The only error conditions are text without "=", a value that does not
// parse or a greyed-out control (invalid_input), a name that addresses no control, or more than
// one (not_found, invalid_input; the message lists what is accepted), a value the tool refused
// (invalid_input) and a panel that is none or takes no values (internal).
ramulon::Status apply_setting(LWXPanelID panel, const std::string &assignment);

// The same for the control (or control-less field) with this panel id, the value typed as the
// panel shows it ("40", "40 %", "Polygonal"); also refused: a button or a control that holds
// no value (invalid_input), an id with no control (not_found).
ramulon::Status apply_setting(LWXPanelID panel, unsigned long id, const std::string &value);

// The panel id NAME addresses (a label, "Tab/Label" or a field name, as apply_setting finds
// it), never 0. The only error conditions are those of the name in apply_setting.
ramulon::Result<unsigned long> find_setting(LWXPanelID panel, const std::string &name);

// The record field of a panel id ("num_branches" for 32770); null for an id that has none.
const char *setting_field_name(unsigned long id);

// The panel id of a tree record field ("num_branches" -> 32770); 0 for a name that has none.
unsigned long setting_field_id(const std::string &field);

} // namespace host
