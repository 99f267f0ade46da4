// The tool linked into the test program, activated by the stand-in modeller, picked, reset to
// its defaults and showing its panel: the starting point of the panel, preset and shelf tests.
#pragma once

#include <string>
#include <vector>

#include "host/session.h"
#include "host/xpanel.h"
#include "st_tree.h"

namespace ramulon {

const ModuleDescriptor &linked_tool();

class ToolOnPanel {
public:
    ToolOnPanel();
    host::Session session;
    LWXPanelID panel = nullptr;

    // An edit as the user types it ("Branches=10"); empty on success, else the host's error.
    std::string set(const std::string &assignment);
    host::panel_value get(unsigned long id);
    bool click(const std::string &label);
    // The rendered panel text.
    std::string render();
    // Builds over a small crown (a box of quads around the y axis); the tool's error or empty.
    std::string build();
};

// A folder of its own for files a test writes, removed afterwards.
struct PresetFolder {
    std::string path;
    PresetFolder();
    ~PresetFolder();
    std::string file(const std::string &name) const { return path + "/" + name; }
};

// The lines of a text file.
std::vector<std::string> file_lines(const std::string &path);

} // namespace ramulon
