// The crown in the background layer: the sample crowns, uploads, and the crown as the page
// draws it. A new crown makes the tool grow afresh, as when the modeller changes layers.
#include <algorithm>

#include "host/obj_loader.h"
#include "host/xpanel.h"
#include "serve/host.h"
#include "driver/tool_setup.h"

namespace serve {

namespace fs = std::filesystem;

namespace {

// "Refresh" on the panel: 1 while it is "Automatic".
constexpr unsigned long refresh_control = 32800;

} // namespace

std::vector<std::string> TreeHost::samples() const
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(samples_dir_, ec))
        if (entry.path().extension() == ".obj" && entry.is_regular_file(ec))
            names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

ramulon::Result<nlohmann::json> TreeHost::background_json()
{
    return caught<nlohmann::json>([&] {
        Lock lock = acquire();
        const host::Layer &bg = session_.mesh().background;
        nlohmann::json positions = nlohmann::json::array();
        for (const host::Vec3 &p : bg.points) {
            positions.push_back(p.x);
            positions.push_back(p.y);
            positions.push_back(p.z);
        }
        nlohmann::json polygons = nlohmann::json::array();
        for (std::size_t i = 0; i < bg.polygon_count(); ++i) {
            const std::span<const int> points = bg.polygon_points(i);
            polygons.push_back(std::vector<int>(points.begin(), points.end()));
        }
        return nlohmann::json{{"positions", positions}, {"polygons", polygons}};
    });
}

void TreeHost::replace_background(host::Layer layer, const std::string &name)
{
    session_.mesh().background = std::move(layer);
    background_name_ = name;
    // The modeller ends the tool's edit when the layers change and the user picks it again: the
    // tool lets go of its skeleton and captured crown, so its next build grows from the new one.
    session_.end(1);
    session_.start();
    host::Binding bind(session_.services());
    if (host::get_value(panel(), refresh_control).i == 1)
        build();
}

ramulon::Result<nlohmann::json> TreeHost::use_sample(const std::string &name)
{
    return caught<nlohmann::json>([&] {
        Lock lock = acquire();
        const std::vector<std::string> known = samples();
        if (std::find(known.begin(), known.end(), name) == known.end())
            refuse(ramulon::ErrorKind::not_found, "There is no sample crown named \"" + name + "\".");
        host::Layer layer;
        std::string error;
        if (!host::load_obj_file((samples_dir_ / (name + ".obj")).string(), layer, error))
            refuse(ramulon::ErrorKind::io, error);
        const int count = last_.count;
        replace_background(std::move(layer), name);
        return changed(last_.count != count);
    });
}

ramulon::Result<nlohmann::json> TreeHost::upload_background(const std::string &file_name, const std::string &bytes)
{
    return caught<nlohmann::json>([&] {
        if (bytes.size() > max_upload_bytes)
            refuse(ramulon::ErrorKind::invalid_input, "The file is larger than 20 MB.");
        const std::string shown = file_name.empty() ? "upload.obj" : fs::path(file_name).filename().string();
        host::Layer layer;
        std::string error;
        if (!host::load_obj_text(bytes, shown, layer, error))
            refuse(ramulon::ErrorKind::invalid_input, error);
        if (!driver::has_faces(layer))
            refuse(ramulon::ErrorKind::invalid_input, shown + " has no polygons of three or more points to grow a tree in.");

        Lock lock = acquire();
        const int count = last_.count;
        replace_background(std::move(layer), fs::path(shown).stem().string());
        return changed(last_.count != count);
    });
}

} // namespace serve
