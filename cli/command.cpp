#include "command.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace cli {

namespace {

std::vector<std::pair<int, CommandSetup>> &registry()
{
    static std::vector<std::pair<int, CommandSetup>> commands;
    return commands;
}

} // namespace

bool register_command(int order, CommandSetup setup)
{
    registry().emplace_back(order, setup);
    return true;
}

std::vector<Command> add_commands(CLI::App &app)
{
    auto setups = registry();
    std::stable_sort(setups.begin(), setups.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<Command> commands;
    for (const auto &entry : setups)
        commands.push_back(entry.second(app));
    return commands;
}

int fail(const std::string &message)
{
    std::fprintf(stderr, "ramulon: %s\n", message.c_str());
    return 1;
}

} // namespace cli
