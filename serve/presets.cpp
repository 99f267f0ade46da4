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
        refuse(ramulon::ErrorKind::invalid_input, "Preset names may use letters, digits, spaces, - and _ only.");
}

bool on_shelf(const std::string &name) { return fs::is_regular_file(host::shelf_dir() / (name + ".preset")); }

} // namespace

ramulon::Result<nlohmann::json> TreeHost::shelf()
{
    return caught<nlohmann::json>([&] {
        Lock lock = acquire();
        return shelf_locked();
    });
}

nlohmann::json TreeHost::shelf_locked()
{
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

ramulon::Result<std::string> TreeHost::thumbnail(const std::string &name)
{
    return caught<std::string>([&] {
        check_name(name);
        Lock lock = acquire();
        std::string bytes;
        if (!host::read_shelf_file(host::shelf_dir(), name + ".png", bytes))
            refuse(ramulon::ErrorKind::not_found, "There is no thumbnail of a preset named \"" + name + "\".");
        return bytes;
    });
}

ramulon::Result<nlohmann::json> TreeHost::add_preset(const std::string &name, bool overwrite)
{
    return caught<nlohmann::json>([&] {
        check_name(name);
        {
            Lock lock = acquire();
            if (on_shelf(name) && !overwrite)
                refuse(ramulon::ErrorKind::conflict, "A preset named \"" + name + "\" already exists.");
            host::forget_last_addition();
            host::set_preset_name(name, overwrite);
            const std::string error = driver::press(session_, "Add Preset");
            host::set_preset_name("");
            if (!error.empty())
                refuse(ramulon::ErrorKind::conflict, error);
            const host::shelf_addition &added = host::last_addition();
            if (added.exists) // another server on the same shelf took the name meanwhile
                refuse(ramulon::ErrorKind::conflict, "A preset named \"" + name + "\" already exists.");
            if (!added.added)
                refuse(added.error.empty() ? ramulon::ErrorKind::conflict : ramulon::ErrorKind::io,
                       added.error.empty() ? "Build a tree first: a preset's thumbnail shows the last build." : added.error);
        }
        nlohmann::json list = take(shelf());
        Lock lock = acquire();
        nlohmann::json body = changed(false);
        body["shelf"] = list;
        return body;
    });
}

ramulon::Result<nlohmann::json> TreeHost::apply_preset(const std::string &name)
{
    return caught<nlohmann::json>([&] {
        check_name(name);
        Lock lock = acquire();
        if (!on_shelf(name))
            refuse(ramulon::ErrorKind::not_found, "There is no preset named \"" + name + "\".");
        host::Binding bind(session_.services());
        const host::preset_application applied = host::apply_preset(name);
        if (!applied.applied)
            refuse(ramulon::ErrorKind::conflict, applied.problem);
        // A preset that breaks off part way has been applied up to the bad line.
        if (!applied.problem.empty())
            note("error", applied.problem, "The fields after it keep their values.");
        return changed(rebuild_if_asked());
    });
}

} // namespace serve
