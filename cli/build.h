// `ramulon build` and the pieces other files add to it.
//
// A build extension contributes options to the build subcommand and runs at two points:
// before the parameter edits (the tool is active, e.g. to apply a preset) and after a
// successful build (e.g. to write a thumbnail). Output formats are chosen by the extension of
// --output, one writer per extension; the options of the writing travel with the run (Output).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "export/write_options.h"
#include "host/mesh.h"
#include "host/session.h"
#include "tool_options.h"

namespace cli {

// --output and how to write it: the options the extensions add fill it, their checks before the
// build complete `options` (the textures, the compression as typed become the look and the mode).
struct Output {
    std::string path;
    exporter::WriteOptions options;
    std::string textures = "builtin";
    std::string compress; // "", "meshopt" or "quantize"
    bool no_wind_colours = false; // what earlier versions asked for; now the default
};

struct BuildRun {
    host::Session &session;
    const ToolOptions &tool;
    Output &output;
    // Files written, as "what path" ("journal out/journal.txt"), listed in the summary line.
    std::vector<std::string> written;
};

struct BuildExtension {
    std::function<void(CLI::App &build, Output &output)> add_options;
    std::function<std::string(BuildRun &)> before_edits; // error text, or empty to go on
    std::function<std::string(BuildRun &)> after_build;  // error text, or empty to go on
    // After the edits, before the tree grows: what the panel now says can still stop the run.
    std::function<std::string(BuildRun &)> before_build = nullptr;
};

// Always returns true (for a static initialiser).
bool register_build_extension(BuildExtension extension);
const std::vector<BuildExtension> &build_extensions();

// Writes the foreground layer to a file as options ask; returns an error text or empty.
using MeshWriter =
    std::function<std::string(const host::Layer &layer, const std::string &path, const exporter::WriteOptions &options)>;

// extension with its dot, lower case (".obj"), once per extension. Always returns true.
bool register_output_format(const std::string &extension, MeshWriter writer);
// The writer for a path's extension (case-insensitive), or null.
const MeshWriter *find_output_format(const std::string &path);
// The known extensions, for messages.
std::string output_format_list();

// An option taking a decimal number from min to max: anything else ("nan", "0x10", "60deg", a
// number out of range) is refused in one line that names the option and the range. A whole
// number bounded by int's own limits is checked for its form only.
CLI::Option *add_number_option(CLI::App &app, const std::string &name, double &value, double min, double max,
                               const std::string &help);
CLI::Option *add_number_option(CLI::App &app, const std::string &name, int &value, int min, int max,
                               const std::string &help);

// The memory a build and its export may use (--memory-limit; 0: the available memory less a
// margin), for the writers.
std::size_t build_memory_limit();
void set_build_memory_limit(std::size_t bytes);

// "Export too large: ..." when writing the layer so (an OBJ reads options.look only) would need
// more memory than the build may use beyond the tree it holds, else empty.
std::string check_export_memory(const host::Layer &layer, const exporter::WriteOptions &options, bool obj);

} // namespace cli
