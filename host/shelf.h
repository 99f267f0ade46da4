// The host's preset shelf: a folder holding <name>.preset (the client's record, one item per
// line) and <name>.png (its thumbnail) for every preset.
//
// The shelf service's calls come from the plug-in and answer in its terms; what they did is
// kept for the host's front ends (last_addition, the application below), each with the one
// line that says why it did not happen.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common/error.h"
#include "plugin_api.h"

namespace host {

// The shelf's folder: ~/.ramulon/shelf unless set.
void set_shelf_dir(const std::filesystem::path &dir);
std::filesystem::path shelf_dir();

// The name the next added preset is stored under; without one the shelf picks "preset-N".
// Without overwrite, a preset of that name already on the shelf (even one another process has
// just written) is kept, and the addition fails with `exists`.
void set_preset_name(const std::string &name, bool overwrite = true);

bool shelf_window_open();
int shelf_subscriptions();

// The next addPreset keeps the record and the thumbnail in last_addition() and writes no file:
// how the host takes a picture of the tree without putting a preset on the shelf.
void keep_next_preset_in_memory(bool on = true);

// What the last addPreset wrote (or kept), or why it wrote nothing: `added` with the record and
// the PNG (and, written, the two files' paths), else `error` set. The only reasons are no
// subscribed client, a name the shelf does not take, a thumbnail that is no image of this host,
// a name taken when overwriting was not asked for (`exists`), and those of write_preset_pair.
struct shelf_addition {
    bool added = false;
    bool in_memory = false;
    bool exists = false; // refused: the name is taken and overwriting was not asked for
    std::string name;
    std::filesystem::path preset, thumbnail; // empty when kept in memory
    std::string record, png;                 // the preset's text and the thumbnail's PNG bytes
    std::string error;
};
const shelf_addition &last_addition();
void forget_last_addition();
int shelf_additions(); // presets added since the host started

// The presets in the folder, by name, sorted; empty when there is no folder.
std::vector<std::string> list_presets();

// A preset given by name (on the shelf) or as a file path (with a separator or ending in
// .preset), which is taken as given.
std::filesystem::path preset_file(const std::string &name_or_file);

// Applies a preset to the most recent subscriber, asking its load_ok first. `problem` tells a
// preset that could not be read or applied; when the read broke off part way (`applied` yet a
// problem), the client kept what it had read and the problem names the bad line. The only
// problems are a preset that is not there or cannot be read (read_shelf_file,
// read_regular_file), no subscribed tool, a tool that declines it and a line it cannot read.
struct preset_application {
    bool applied = false;
    std::string problem;
};
preset_application apply_preset(const std::string &name_or_file);
// The same for the subscriber whose user data is `client` (a tool's instance): a host with
// several tools active at once hands each its own presets.
preset_application apply_preset(const std::string &name_or_file, const void *client);

// The record of the subscriber whose user data is `client`, saved as a preset file at path (the
// whole file or none). The only error conditions are no such subscriber (not_found) and those
// of write_text_file.
ramulon::Status save_preset_file(const void *client, const std::string &path);

} // namespace host
