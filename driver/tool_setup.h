// What every front end that drives the tool shares (the command line, the server, the library):
// choosing the plug-in and the host generation, the background crown, parameter edits, and
// bringing a session to the point where the user has picked the tool.
#pragma once

#include <string>
#include <vector>

#include "common/error.h"
#include "host/session.h"

namespace driver {

struct ToolOptions {
    std::string plugin;               // empty: the default module for the generation
    int generation = 11;
    std::string background;           // empty: the built-in crown
    std::vector<std::string> settings; // FIELD=VALUE edits, applied in order
    const ModuleDescriptor *linked = nullptr; // a plug-in linked into this program, instead of a file
    std::size_t memory_limit = 0;     // bytes a build may use; 0: the available memory less a margin
};

// The module a host of this generation loads by default: RamulonVE11.so (RamulonDO10.so for
// generation 10, RamulonLW9.so for 9) next to this program, else in ../<libdir>/ramulon.
// Empty when there is none (the only failure; open_tool turns it into not_found).
std::string default_module(int generation);

// A tree grows only from faces of three or more points: whether the layer has one.
bool has_faces(const host::Layer &layer);

// Puts the crown (the file, or the built-in one) into the session's background layer. The only
// error conditions are those of host::load_obj_file / load_obj_text.
ramulon::Status load_background(host::Session &session, const ToolOptions &options);
// For a build that goes no further than one tree: a crown without faces is refused before the
// tool is asked to grow in it. The only error condition is that crown (invalid_input).
ramulon::Status check_crown(host::Session &session, const ToolOptions &options);
// Loads and activates the plug-in, then picks the tool (its start callback). The only error
// conditions are no module to be found (not_found), those of Session::load and a refused
// activation (invalid_input, with the activation's explanation).
ramulon::Status open_tool(host::Session &session, const ToolOptions &options);
// Builds once; on success the session's foreground holds the tree. A refused or failed build
// gives one line: the tool's result, a colon and what its message box said ("Tree too large:
// "Branches" makes the tree too large to build. ..."), with the kind Session::build gave;
// messages of a build that succeeds are printed one line each. A tree whose estimated peak
// memory exceeds the budget (tree_budget.h) is refused before the tool grows it
// (out_of_memory). Those are the only error conditions.
ramulon::Status build_tree(host::Session &session, std::size_t memory_limit = 0);
// Its two halves, for a front end that prices the tree where sessions share the panel service
// and grows it where they do not: the size check alone, and the build without it.
ramulon::Status check_tree_fits(host::Session &session, std::size_t memory_limit = 0);
ramulon::Status grow_tree(host::Session &session);
// Applies the edits through the tool's panel, as a user typing into it would, in order; the
// first that fails stops the rest. The only error conditions are a tool without a panel
// (internal) and those of host::apply_setting.
ramulon::Status apply_settings(host::Session &session, const std::vector<std::string> &settings);

} // namespace driver
