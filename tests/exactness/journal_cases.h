// The trees whose build journals must come out byte for byte the same in every build of the
// plug-in and the host: every render type, the three modules, every twig type and leaf shape,
// roots, relative spacing, the shipped presets, and crowns whose coordinates carry all the
// digits of a double. Their SHA-256 digests live in tests/exactness/journal_digests.txt.
#pragma once

#include <string>
#include <vector>

namespace exactness {

struct JournalCase {
    std::string name;
    int generation = 11;               // 11, 10 or 9: which module the host loads
    std::string crown;                 // relative to the source folder; empty: the built-in crown
    std::string preset;                // relative to the source folder; empty: the defaults
    std::vector<std::string> settings; // panel edits after the preset, as `ramulon build --set`
};

const std::vector<JournalCase> &journal_cases();
const JournalCase *find_case(const std::string &name);

// Builds the case once in a host session that loads its module from module_dir, as
// `ramulon build --journal` does. Returns the journal text, or sets error.
std::string build_journal(const JournalCase &c, const std::string &module_dir,
                          const std::string &source_dir, std::string &error);
// The same in a forked child, so that every case starts from a module freshly loaded as in a
// new `ramulon` process: a module keeps its parameters for as long as it stays loaded, and the
// C library may keep it loaded after the host lets it go.
std::string build_journal_in_child(const JournalCase &c, const std::string &module_dir,
                                   const std::string &source_dir, std::string &error);

// Lower-case hex SHA-256 of a text.
std::string sha256_hex(const std::string &text);

// The recorded digests, by case name ("name digest" lines; '#' starts a comment).
std::vector<std::pair<std::string, std::string>> read_digests(const std::string &path);

// The 1-based number and text of the first line where two journals differ ("" past the end of
// the shorter one); 0 when they are equal.
struct FirstDifference {
    std::size_t line = 0;
    std::string expected, actual;
};
FirstDifference first_difference(const std::string &expected, const std::string &actual);

} // namespace exactness
