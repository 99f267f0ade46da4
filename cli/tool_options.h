// The command-line options every subcommand that drives the tool shares: the plug-in and host
// generation, the background crown, parameter edits and the memory budget.
#pragma once

#include <CLI/CLI.hpp>

#include "driver/tool_setup.h"

namespace cli {

using driver::ToolOptions;

void add_plugin_options(CLI::App &sub, ToolOptions &options);     // --plugin, --generation
void add_background_option(CLI::App &sub, ToolOptions &options);  // --background
void add_settings_option(CLI::App &sub, ToolOptions &options);    // --set
void add_memory_option(CLI::App &sub, ToolOptions &options);      // --memory-limit
// The tool's own: --background, --set, --plugin and --generation, in that order.
void add_tool_options(CLI::App &sub, ToolOptions &options);
// --shelf DIR; an empty value keeps the host's default folder.
void add_shelf_option(CLI::App &sub, std::string &dir);

} // namespace cli
