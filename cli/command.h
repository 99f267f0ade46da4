// Subcommands of `ramulon`: each lives in a file of its own (cli/cmd_<name>.cpp) and registers
// itself at start-up, so adding a subcommand touches no other file:
//
//     namespace {
//     cli::Command setup(CLI::App &app)
//     {
//         CLI::App *sub = app.add_subcommand("hello", "Says hello");
//         auto name = std::make_shared<std::string>("world");
//         sub->add_option("--name", *name);
//         return {sub, [name] { std::printf("hello %s\n", name->c_str()); return 0; }};
//     }
//     const bool registered = cli::register_command(50, setup);
//     } // namespace
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

namespace cli {

struct Command {
    CLI::App *app;           // the subcommand as added to the main app
    std::function<int()> run; // runs when the user picked it; returns the exit code
};

using CommandSetup = Command (*)(CLI::App &main_app);

// order sorts the subcommands in the help text. Always returns true (for a static initialiser).
bool register_command(int order, CommandSetup setup);

// Every registered subcommand added to app, in order.
std::vector<Command> add_commands(CLI::App &app);

// Prints "ramulon: <message>" on stderr and returns 1, the exit code of every failure.
int fail(const std::string &message);

} // namespace cli
