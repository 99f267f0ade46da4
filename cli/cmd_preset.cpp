// ramulon preset add|list, and the preset and thumbnail options of ramulon build.
#include <cstdio>
#include <memory>

#include "build.h"
#include "command.h"
#include "host/files.h"
#include "host/quoted_text.h"
#include "host/shelf.h"
#include "host/shelf_store.h"
#include "driver/panel_actions.h"
#include "tool_options.h"

namespace cli {
namespace {

struct AddOptions {
    ToolOptions tool;
    std::string name;
    std::string shelf;
    bool force = false;
};

int run_add(const AddOptions &options)
{
    // The page's rule, checked before the tree is grown.
    if (!host::valid_preset_name(options.name))
        return fail("cannot add a preset named " + host::quoted_text(options.name) + ": " +
                    host::preset_name_rule);
    driver::use_shelf_dir(options.shelf);
    host::Session session;
    std::string error = driver::load_background(session, options.tool).message();
    if (error.empty())
        error = driver::check_crown(session, options.tool).message();
    if (error.empty())
        error = driver::open_tool(session, options.tool).message();
    if (error.empty())
        error = driver::apply_settings(session, options.tool.settings).message();
    if (!error.empty())
        return fail(error);
    if (!(error = driver::build_tree(session, options.tool.memory_limit).message()).empty())
        return fail(error);

    host::forget_last_addition();
    host::set_preset_name(options.name, options.force);
    error = driver::press(session, "Add Preset").message();
    host::set_preset_name("");
    if (!error.empty())
        return fail(error);
    const host::shelf_addition &added = host::last_addition();
    if (added.exists)
        return fail("a preset named \"" + options.name + "\" is already on the shelf: add --force to replace it");
    if (!added.added)
        return fail("no preset added: " + (added.error.empty() ? std::string("the tool made no thumbnail")
                                                                  : added.error));
    std::printf("added preset %s (%s, %s)\n", added.name.c_str(), added.preset.c_str(),
                added.thumbnail.c_str());
    return 0;
}

int run_list(const std::string &shelf)
{
    driver::use_shelf_dir(shelf);
    const std::vector<std::string> names = host::list_presets();
    if (names.empty())
        std::fprintf(stderr, "ramulon: no presets in %s\n", host::shelf_dir().c_str());
    for (const std::string &name : names)
        std::printf("%s\n", name.c_str());
    return 0;
}

Command setup(CLI::App &app)
{
    CLI::App *sub = app.add_subcommand("preset", "Add presets to the shelf and list them");
    sub->require_subcommand(1);

    CLI::App *add = sub->add_subcommand("add", "Build, then press \"Add Preset\" under this name");
    auto options = std::make_shared<AddOptions>();
    add->add_option("NAME", options->name,
                    "Name of the preset on the shelf: letters, digits, spaces, - and _")
        ->required();
    add->add_flag("--force", options->force, "Replace a preset of that name already on the shelf");
    add_background_option(*add, options->tool);
    add_settings_option(*add, options->tool);
    add_shelf_option(*add, options->shelf);
    add_plugin_options(*add, options->tool);
    add_memory_option(*add, options->tool);

    CLI::App *list = sub->add_subcommand("list", "List the presets on the shelf");
    auto list_shelf = std::make_shared<std::string>();
    add_shelf_option(*list, *list_shelf);

    return {sub, [add, options, list_shelf] {
                return add->parsed() ? run_add(*options) : run_list(*list_shelf);
            }};
}

const bool registered = register_command(40, setup);

// ---- ramulon build --preset, --thumbnail, --shelf

struct BuildPresetOptions {
    std::string preset;
    std::string thumbnail;
    std::string shelf;
    bool lenient = false;
};

const auto build_options = std::make_shared<BuildPresetOptions>();

std::string apply_build_preset(BuildRun &)
{
    driver::use_shelf_dir(build_options->shelf);
    if (build_options->preset.empty())
        return {};
    const host::preset_application applied = host::apply_preset(build_options->preset);
    if (!applied.applied)
        return applied.problem;
    // A preset that breaks off part way (empty, binary, truncated) has been applied up to the
    // bad line: a tree of half a preset is no tree anyone asked for, unless --lenient.
    if (!applied.problem.empty() && !build_options->lenient)
        return applied.problem + " (--lenient builds with the fields read so far)";
    if (!applied.problem.empty())
        std::fprintf(stderr, "ramulon: warning: %s; the fields after it keep their values\n",
                     applied.problem.c_str());
    return {};
}

std::string write_build_thumbnail(BuildRun &run)
{
    if (build_options->thumbnail.empty())
        return {};
    const auto png = driver::take_thumbnail(run.session);
    if (!png)
        return "no thumbnail: " + png.error().message;
    if (const auto written = host::write_text_file(build_options->thumbnail, *png); !written)
        return written.message();
    run.written.push_back("thumbnail " + build_options->thumbnail);
    return {};
}

const bool extended = register_build_extension(BuildExtension{
    [](CLI::App &build, Output &) {
        build.add_option("--preset", build_options->preset,
                         "Apply this preset (a name on the shelf or a .preset file) before the edits");
        build.add_option("--thumbnail", build_options->thumbnail,
                         "Write the preset thumbnail of the tree just built to this PNG file");
        build.add_flag("--lenient", build_options->lenient,
                       "Build even when the preset breaks off part way, with the fields read so far");
        add_shelf_option(build, build_options->shelf);
    },
    apply_build_preset,
    write_build_thumbnail,
});

} // namespace
} // namespace cli
