// ramulon build: put a crown in the background, pick the tool, apply edits, build once, write
// the journal and the mesh, and say what came out.
#include <cstdio>
#include <memory>

#include "build.h"
#include "command.h"
#include "process_memory.h"

namespace cli {
namespace {

// The tree, its mesh and the plug-in's own records vanish with the process a moment after a
// build: handing them back block by block only costs time. The sanitizer build still tears
// everything down, so that its leak check sees every block freed.
constexpr bool tear_down_before_exit = under_address_sanitizer;

struct BuildOptions {
    ToolOptions tool;
    std::string journal;
    Output output;
};

int run_build(BuildOptions &options)
{
    const std::string &output = options.output.path;
    if (!output.empty() && !find_output_format(output))
        return fail("cannot write " + output + ": unknown format (known: " + output_format_list() + ")");

    keep_one_build_on_large_pages();
    auto owned = std::make_unique<host::Session>();
    host::Session &session = *owned;
    session.set_journal(!options.journal.empty());
    std::string error = driver::load_background(session, options.tool).message();
    if (error.empty())
        error = driver::check_crown(session, options.tool).message();
    if (error.empty())
        error = driver::open_tool(session, options.tool).message();
    if (!error.empty())
        return fail(error);

    BuildRun run{session, options.tool, options.output, {}};
    for (const BuildExtension &extension : build_extensions())
        if (extension.before_edits && !(error = extension.before_edits(run)).empty())
            return fail(error);
    if (!(error = driver::apply_settings(session, options.tool.settings).message()).empty())
        return fail(error);
    for (const BuildExtension &extension : build_extensions())
        if (extension.before_build && !(error = extension.before_build(run)).empty())
            return fail(error);
    set_build_memory_limit(options.tool.memory_limit);

    if (!(error = driver::build_tree(session, options.tool.memory_limit).message()).empty())
        return fail(error);
    const auto &rejected = session.rejected_calls();
    if (!rejected.empty())
        std::fprintf(stderr, "ramulon: warning: the host refused %zu mesh calls of the build (%s)\n",
                     rejected.size(), rejected.front().c_str());

    for (const BuildExtension &extension : build_extensions())
        if (extension.after_build && !(error = extension.after_build(run)).empty())
            return fail(error);
    if (!options.journal.empty()) {
        if (const auto written = session.journal().write(options.journal); !written)
            return fail(written.message());
        run.written.push_back("journal " + options.journal);
    }
    if (!output.empty()) {
        error = (*find_output_format(output))(session.mesh().foreground, output, options.output.options);
        if (!error.empty())
            return fail(error);
        run.written.push_back("mesh " + output);
    }

    const host::Layer &fg = session.mesh().foreground;
    std::string files;
    for (const std::string &w : run.written)
        files += (files.empty() ? " (" : ", ") + w;
    if (!files.empty())
        files += ")";
    std::printf("built %zu points and %zu polygons%s\n", fg.points.size(), fg.polygon_count(),
                files.c_str());
    if (!tear_down_before_exit)
        static_cast<void>(owned.release()); // left for the process's end to reclaim
    return 0;
}

Command setup(CLI::App &app)
{
    CLI::App *sub = app.add_subcommand("build", "Grow a tree and write it out");
    auto options = std::make_shared<BuildOptions>();
    add_tool_options(*sub, options->tool);
    add_memory_option(*sub, options->tool);
    sub->add_option("--journal", options->journal,
                    "Write the mesh-edit calls of the build to this file, one per line");
    sub->add_option("--output", options->output.path,
                    "Write the tree's mesh to this file (" + output_format_list() + ")");
    for (const BuildExtension &extension : build_extensions())
        if (extension.add_options)
            extension.add_options(*sub, options->output);
    return {sub, [options] { return run_build(*options); }};
}

const bool registered = register_command(10, setup);

} // namespace
} // namespace cli
