// Parameter edits typed by a user ("Branches=10", "Twig/Segments=4", "num_branches=10"), applied
// through the plug-in's own panel setter so that its clamps and change levels hold.
#pragma once

#include <string>

#include "plugin_api.h"

namespace host {

// Applies one NAME=VALUE edit to the panel. Returns an empty string on success, otherwise a
// one-line error that lists what is accepted.
std::string apply_setting(LWXPanelID panel, const std::string &assignment);

// The same for the control (or control-less field) with this panel id, the value typed as the
// panel shows it ("40", "40 %", "Polygonal").
std::string apply_setting(LWXPanelID panel, unsigned long id, const std::string &value);

// The panel id NAME addresses (a label, "Tab/Label" or a field name, as apply_setting finds
// it), or 0 with a one-line error.
unsigned long find_setting(LWXPanelID panel, const std::string &name, std::string &error);

// The record field of a panel id ("num_branches" for 32770); null for an id that has none.
const char *setting_field_name(unsigned long id);

// The panel id of a tree record field ("num_branches" -> 32770); 0 for a name that has none.
unsigned long setting_field_id(const std::string &field);

} // namespace host
