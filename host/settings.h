// Parameter edits typed by a user ("Branches=10", "Twig/Segments=4", "num_branches=10"), applied
// through the plug-in's own panel setter so that its clamps and change levels hold.
#pragma once

#include <string>

#include "plugin_api.h"

namespace host {

// Applies one NAME=VALUE edit to the panel. Returns an empty string on success, otherwise a
// one-line error that lists what is accepted.
std::string apply_setting(LWXPanelID panel, const std::string &assignment);

// The panel id of a tree record field ("num_branches" -> 32770); 0 for a name that has none.
unsigned long setting_field_id(const std::string &field);

} // namespace host
