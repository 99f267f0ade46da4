#include "variant.h"

#include <filesystem>
#include <optional>

#include "driver/panel_actions.h"
#include "driver/tool_setup.h"
#include "host/files.h"
#include "host/shelf.h"

namespace batch {

namespace {

namespace fs = std::filesystem;

// The options of one output: the glTF-only ones (levels, card, compression) leave an OBJ as
// `ramulon build` writes it without them.
exporter::WriteOptions options_for(const batch::Job &job, const std::string &output)
{
    if (output != "obj")
        return job.write;
    exporter::WriteOptions options;
    options.look = job.write.look;
    return options;
}

bool is_mesh(const std::string &output) { return output == "glb" || output == "gltf" || output == "obj"; }

// Holds the lock, if there is one, for as long as it lives.
struct HostLock {
    explicit HostLock(std::mutex *m)
    {
        if (m)
            lock.emplace(*m);
    }
    std::optional<std::unique_lock<std::mutex>> lock;
};

std::string prepare(host::Session &session, const Job &job, std::int64_t seed, const std::string &shelf)
{
    driver::ToolOptions tool;
    tool.background = job.crown;
    std::string error = driver::load_background(session, tool).message();
    if (error.empty())
        error = driver::check_crown(session, tool).message();
    if (!error.empty())
        return error;
    host::set_shelf_dir(shelf); // empty: the host's own folder
    if (!job.preset.empty()) {
        const host::preset_application applied = host::apply_preset(job.preset, session.tool().instance);
        if (!applied.applied || !applied.problem.empty())
            return applied.problem;
    }
    std::vector<std::string> settings = job.settings;
    settings.push_back("random_seed=" + std::to_string(seed));
    return driver::apply_settings(session, settings).message();
}

} // namespace

std::string grow_variant(host::Session &session, const Job &job, std::int64_t seed, const std::string &out_dir,
                         const std::string &shelf, std::mutex *host_lock)
{
    const fs::path dir(out_dir);
    // Every output's options are checked before the tree grows.
    for (const std::string &output : job.outputs)
        if (is_mesh(output))
            if (ramulon::Status bad = exporter::check_write((dir / ("x." + output)).string(), options_for(job, output));
                !bad)
                return bad.message();
    session.set_journal(job.wants("journal"));
    {
        HostLock lock(host_lock);
        if (std::string error = prepare(session, job, seed, shelf); !error.empty())
            return error;
        if (std::string error = driver::check_tree_fits(session, job.memory_limit).message(); !error.empty())
            return error;
    }
    if (std::string error = driver::grow_tree(session).message(); !error.empty())
        return error;

    const std::string stem = (dir / variant_name(job, seed)).string();
    std::string error;
    if (job.wants("png")) {
        const auto png = [&] {
            HostLock lock(host_lock);
            return driver::take_thumbnail(session);
        }();
        if (!png)
            return "no thumbnail: " + png.error().message;
        if (const auto written = host::write_text_file(stem + ".png", *png); !written)
            return written.message();
    }
    if (job.wants("journal"))
        if (const auto written = session.journal().write(stem + ".journal"); !written)
            return written.message();
    for (const std::string &output : job.outputs)
        if (is_mesh(output))
            if (ramulon::Status written =
                    exporter::write_tree(session.mesh().foreground, stem + "." + output, options_for(job, output));
                !written)
                return written.message();
    return {};
}

} // namespace batch
