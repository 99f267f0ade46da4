// What the panel and preset front ends share: the shelf folder, rebuilding when the tool asks
// for it, and pressing the tool's buttons.
#pragma once

#include <string>

#include "host/session.h"

namespace driver {

// The shelf folder; an empty value keeps the host's default folder.
void use_shelf_dir(const std::string &dir);

// After edits the host asks the tool's test and builds when it answers 1 ("Automatic"
// refresh, or an edit that always asks). Sets `rebuilt`; returns an error text or empty.
std::string rebuild_if_asked(host::Session &session, bool &rebuilt);

// Presses the panel button with this label. Returns an error text or empty.
std::string press(host::Session &session, const std::string &label);

// The thumbnail of the tree just built, as PNG bytes, taken through the tool's "Add Preset"
// without putting a preset on the shelf. Returns an error text or empty.
std::string take_thumbnail(host::Session &session, std::string &png);

} // namespace driver
