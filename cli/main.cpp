// ramulon: grows trees from a crown envelope through the plug-in, the way the modeller does.
#include <cstdio>

#include "command.h"

int main(int argc, char **argv)
{
    CLI::App app{"Ramulon grows trees: it loads the tree plug-in into a small stand-in modeller,\n"
                 "puts a crown envelope in the background layer and builds.",
                 "ramulon"};
    app.require_subcommand(1);
    std::vector<cli::Command> commands = cli::add_commands(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        // Help and the version are answers; a mistake is one line, as every other failure.
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success))
            return app.exit(e);
        return cli::fail(e.what());
    }
    for (cli::Command &command : commands)
        if (command.app->parsed())
            return command.run();
    return cli::fail("no command given");
}
