// The shelf folder on disk. A preset is the pair NAME.preset and NAME.png; the pair is one unit,
// committed as a set of the host's staged files (host/files.h): both files are written beside
// their targets first, a note of the two renames is put down, and only then are they renamed
// into place. A process that dies part way leaves the note, and the next access to the folder
// finishes the renames it lists, so that a reader never finds the new preset with the old
// thumbnail. The notes of shelves written before (.NAME.pending, a file name a line) are
// finished by the same sweep. Every access holds a lock on the folder itself, so that two
// servers sharing one shelf never both create the same name.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/error.h"

namespace host {

// The names a preset may have on the shelf: letters, digits, spaces, - and _, at most 64.
bool valid_preset_name(const std::string &name);
inline constexpr const char *preset_name_rule = "preset names may use letters, digits, spaces, - and _ only";

struct PairWrite {
    enum Outcome { written, exists } outcome = written;
    std::string name; // as written; picked as "preset-N" when none was asked for
};

// Writes the pair under name (empty: the first free "preset-N"): when written, NAME.preset holds
// the record and NAME.png the picture, both whole; an existing pair is replaced only with
// overwrite, else the outcome is `exists` and nothing is touched. The only error conditions are
// a name the shelf does not take (invalid_input) and a folder or file that cannot be made or
// written (io); the shelf keeps what it held then.
ramulon::Result<PairWrite> write_preset_pair(const std::filesystem::path &dir, const std::string &name,
                                             const std::string &record, const std::string &png, bool overwrite);

// Takes the pair off the shelf, the preset first so that the name is gone at once. The only
// error conditions are a name the shelf does not take (invalid_input), no such preset
// (not_found) and a file that cannot be removed (io).
ramulon::Status remove_preset_pair(const std::filesystem::path &dir, const std::string &name);

// Finishes interrupted writes and removes stale temporaries (also done by every access).
void tidy_shelf(const std::filesystem::path &dir);

// The presets of the folder by name, sorted.
std::vector<std::string> shelf_names(const std::filesystem::path &dir);

// The bytes of dir/file, read under the lock. The only error conditions are no shelf folder
// (not_found) and those of read_regular_file.
ramulon::Result<std::string> read_shelf_file(const std::filesystem::path &dir, const std::string &file);

// Called after each step of a pair's write (1: preset staged, 2: thumbnail staged, 3: note
// down, 4: preset renamed, 5: thumbnail renamed, 6: note removed): how a test stops a writer at
// each step.
void set_pair_step_hook(std::function<void(int step)> hook);

} // namespace host
