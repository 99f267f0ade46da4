// What the panel and preset front ends share: the shelf folder, rebuilding when the tool asks
// for it, and pressing the tool's buttons. Each call needs a session whose tool is active
// (open_tool) and binds the session's services for the tool's callbacks itself.
#pragma once

#include <string>

#include "common/error.h"
#include "host/session.h"

namespace driver {

// The shelf folder; an empty value keeps the host's default folder.
void use_shelf_dir(const std::string &dir);

// After edits the host asks the tool's test and builds when it answers 1 ("Automatic"
// refresh, or an edit that always asks). True when it rebuilt, false when the tool did not ask.
// The only error conditions are those of build_tree.
ramulon::Result<bool> rebuild_if_asked(host::Session &session);

// Presses the panel button with this label. The only error conditions are a tool without a
// panel (internal), no button of that label (not_found) and a button that is greyed out or
// does nothing (invalid_input).
ramulon::Status press(host::Session &session, const std::string &label);

// The thumbnail of the tree just built, as PNG bytes, taken through the tool's "Add Preset"
// without putting a preset on the shelf. The only error conditions are those of press and a
// tool that made no thumbnail (invalid_input).
ramulon::Result<std::string> take_thumbnail(host::Session &session);

} // namespace driver
