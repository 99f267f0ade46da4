// The preset shelf as the page sees it: the presets by name with their thumbnails, adding the
// current tree under a name (the tool's "Add Preset") and applying one (the shelf's load).

#include "host/shelf.h"
#include "host/shelf_store.h"
#include "driver/panel_actions.h"
#include "serve/host.h"

namespace serve {

namespace fs = std::filesystem;

namespace {

void check_name(const std::string &name)
{
    if (!host::valid_preset_name(name))
        throw ApiError(400, "Preset names may use letters, digits, spaces, - and _ only.");
}

bool on_shelf(const std::string &name) { return fs::is_regular_file(host::shelf_dir() / (name + ".preset")); }

} // namespace

nlohmann::json TreeHost::shelf()
{
    Lock lock = acquire();
    nlohmann::json list = nlohmann::json::array();
    for (const std::string &name : host::list_presets()) {
        if (!host::valid_preset_name(name))
            continue; // a file put there by hand under a name the page could not address
        std::string url = "/api/shelf/";
        for (char ch : name)
            url += ch == ' ' ? std::string("%20") : std::string(1, ch);
        list.push_back({{"name", name}, {"thumbnail", url + ".png"}});
    }
    return list;
}

std::string TreeHost::thumbnail(const std::string &name)
{
    check_name(name);
    Lock lock = acquire();
    auto bytes = host::read_shelf_file(host::shelf_dir(), name + ".png");
    if (!bytes)
        throw ApiError(404, "There is no thumbnail of a preset named \"" + name + "\".");
    return std::move(bytes).value();
}

nlohmann::json TreeHost::add_preset(const std::string &name, bool overwrite)
{
    check_name(name);
    {
        Lock lock = acquire();
        if (on_shelf(name) && !overwrite)
            throw ApiError(409, "A preset named \"" + name + "\" already exists.");
        host::forget_last_addition();
        host::set_preset_name(name, overwrite);
        const std::string error = driver::press(session_, "Add Preset").message();
        host::set_preset_name("");
        if (!error.empty())
            throw ApiError(409, error);
        const host::shelf_addition &added = host::last_addition();
        if (added.exists) // another server on the same shelf took the name meanwhile
            throw ApiError(409, "A preset named \"" + name + "\" already exists.");
        if (!added.added)
            throw added.error.empty()
                ? ApiError(409, "Build a tree first: a preset's thumbnail shows the last build.")
                : ApiError(500, added.error);
    }
    nlohmann::json list = shelf();
    Lock lock = acquire();
    nlohmann::json body = changed(false);
    body["shelf"] = list;
    return body;
}

nlohmann::json TreeHost::apply_preset(const std::string &name)
{
    check_name(name);
    Lock lock = acquire();
    if (!on_shelf(name))
        throw ApiError(404, "There is no preset named \"" + name + "\".");
    host::Binding bind(session_.services());
    const host::preset_application applied = host::apply_preset(name);
    if (!applied.applied)
        throw ApiError(409, applied.problem);
    // A preset that breaks off part way has been applied up to the bad line.
    if (!applied.problem.empty())
        note("error", applied.problem, "The fields after it keep their values.");
    return changed(rebuild_if_asked());
}

} // namespace serve
