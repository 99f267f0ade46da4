// ramulon serve: the tool on a local web page. The page's edits go through the same panel, shelf
// and builds as the other subcommands; Ctrl-C or SIGTERM stops the server, ends the session and
// unloads the plug-in.
#include <csignal>
#include <cstdio>
#include <memory>

#include "command.h"
#include "process_memory.h"
#include "tool_options.h"
#include "host/shelf.h"
#include "driver/panel_actions.h"
#include "serve/server.h"

namespace cli {
namespace {

int run_serve(const serve::ServeOptions &options)
{
    // The server's threads inherit the blocked signals; this thread alone waits for them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    // A page closed in the middle of an answer must not end the server.
    std::signal(SIGPIPE, SIG_IGN);

    keep_an_edit_s_memory_for_the_next();
    serve::ServeServer server;
    if (const ramulon::Status started = server.start(options); !started)
        return fail(started.message());
    if (!serve::is_loopback(options.host))
        std::fprintf(stderr,
                     "ramulon: WARNING: listening on %s, not on this machine alone: anyone on the "
                     "network can edit the tree and write presets into %s\n",
                     options.host.c_str(), host::shelf_dir().c_str());
    std::printf("Serving on %s\n", server.url().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stop_signals, &signal);
    std::fprintf(stderr, "ramulon: stopping\n");
    server.tree().exit_at_next_step(); // a running build is not waited for
    server.stop();
    return 0;
}

Command setup(CLI::App &app)
{
    CLI::App *sub = app.add_subcommand("serve", "Serve the tool as a web page on this machine");
    auto options = std::make_shared<serve::ServeOptions>();
    sub->add_option("--port", options->port, "Port to listen on (0: any free port)")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    sub->add_option("--host", options->host,
                    "Address to listen on; any other than this machine's loopback lets the whole "
                    "network edit the tree and write presets")
        ->capture_default_str();
    add_background_option(*sub, options->tool);
    add_shelf_option(*sub, options->shelf);
    sub->add_option("--web", options->web, "Folder of the page (default: the built web/dist)");
    add_plugin_options(*sub, options->tool);
    add_memory_option(*sub, options->tool);
    return {sub, [options] { return run_serve(*options); }};
}

const bool registered = register_command(60, setup);

} // namespace
} // namespace cli
