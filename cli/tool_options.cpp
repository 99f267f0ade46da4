#include "tool_options.h"

#include <optional>

#include "driver/tree_budget.h"
#include "host/quoted_text.h"

namespace cli {

void add_plugin_options(CLI::App &sub, ToolOptions &options)
{
    sub.add_option("--plugin", options.plugin, "Plug-in module file (default: RamulonVE11.so, or RamulonDO10.so for "
                   "generation 10 and RamulonLW9.so for 9)");
    sub.add_option("--generation", options.generation,
                   "Host interface generation to emulate: 9, 10 or 11")
        ->check(CLI::IsMember({9, 10, 11}));
}

void add_background_option(CLI::App &sub, ToolOptions &options)
{
    sub.add_option("--background", options.background,
                   "Crown envelope (.obj) for the background layer (default: a built-in "
                   "rounded crown)");
}

void add_settings_option(CLI::App &sub, ToolOptions &options)
{
    sub.add_option("--set", options.settings,
                   "Parameter edit FIELD=VALUE, as typed into the panel; repeatable");
}

void add_memory_option(CLI::App &sub, ToolOptions &options)
{
    sub.add_option_function<std::string>(
           "--memory-limit",
           [&options](const std::string &text) {
               const std::optional<std::size_t> bytes = driver::parse_memory_size(text);
               if (!bytes)
                   throw CLI::ValidationError("--memory-limit", "expected a size such as 8G or 512M, not " +
                                                                    host::quoted_text(text));
               options.memory_limit = *bytes;
           },
           "Memory a build may use, such as 8G or 512M; larger trees are refused before they grow "
           "(default: the available memory less a margin)");
}

void add_shelf_option(CLI::App &sub, std::string &dir)
{
    sub.add_option("--shelf", dir, "Folder of the preset shelf (default: ~/.ramulon/shelf)");
}

void add_tool_options(CLI::App &sub, ToolOptions &options)
{
    add_background_option(sub, options);
    add_settings_option(sub, options);
    add_plugin_options(sub, options);
}

} // namespace cli
