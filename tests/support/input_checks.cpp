#include "input_checks.h"
#include "layer_reading.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <vector>

#include "host/obj_loader.h"
#include "host/preset_state.h"
#include "host/settings.h"
#include "host/shelf.h"
#include "host/xpanel.h"
#include "tool.h"
#include "tool_checks.h"
#include "trees.h"

// Returns the broken promise from the enclosing check.
#define PROMISE(cond, why)                                                                         \
    do {                                                                                           \
        if (!(cond))                                                                               \
            return std::string(why);                                                               \
    } while (0)

namespace ramulon {
void *Startup();
void Shutdown(void *serverData);
const ServerRecord *server_records();

namespace inputs {

namespace {

const ModuleDescriptor &linked_tool()
{
    static const ModuleDescriptor descriptor{HOST_MODULE_SYNC, HOST_INTERFACE_VERSION, Startup,
                                             Shutdown, server_records()};
    return descriptor;
}

// Caps a count from above only: zero and negative counts are the product's to guard.
void cap(int32_t &value, int32_t most) { value = std::min(value, most); }

std::string finite_maps(const host::Layer &fg)
{
    for (const host::VertexMap &map : fg.vmaps)
        for (const StoredValue &value : vmap_values(fg, map))
            for (const float v : value.values)
                PROMISE(std::isfinite(v), "map " + host::id_text(map.type) + " \"" + fg.names[map.name] +
                                              "\" holds a non-finite value");
    for (std::size_t m = 0; m < fg.vpmaps.size(); ++m)
        for (const StoredValue &value : vpmap_values(fg, static_cast<int>(m)))
            for (const float v : value.values)
                PROMISE(std::isfinite(v), "polygon map " + host::id_text(fg.vpmaps[m].type) + " \"" +
                                              fg.names[fg.vpmaps[m].name] + "\" holds a non-finite value");
    return {};
}

std::string saved(st_tree &t)
{
    host::preset_writer writer;
    shelf_save(&t, writer.state(), "");
    return writer.text();
}

// What the panel's setter promises about the values it took.
std::string within_clamps(const st_tree &t)
{
    if (const char *label = non_finite_parameter(t))
        return std::string("the panel took a non-finite \"") + label + "\"";
    PROMISE(t.num_branches >= 2, "Branches below 2");
    PROMISE(t.num_segments >= 4, "Segments below 4");
    PROMISE(t.diverge >= 0.01, "diverge below 0.01");
    PROMISE(t.branch_thickness != 0.0, "Branch thickness 0");
    PROMISE(t.distribution_power >= 0.1, "Distribution power below 0.1");
    PROMISE(t.iterations >= 1, "Iterations below 1");
    PROMISE(t.bias >= 0.1, "Bias below 0.1");
    PROMISE(t.last_fork_distance <= 1.0, "Last fork distance above 1");
    PROMISE(t.min_angle >= 0.0, "Min angle negative");
    PROMISE(t.optimization_passes >= 0, "Optimization passes negative");
    PROMISE(t.num_roots >= 5, "Number of roots below 5");
    PROMISE(t.roots_length >= 0.1, "roots_length below 0.1");
    PROMISE(t.sub_segments >= 1, "Sub Segments below 1");
    PROMISE(t.twig_segments <= 9, "Twig segments above 9");
    PROMISE(t.render_type >= 0 && t.render_type <= 2, "Render Type outside its choices");
    PROMISE(t.refresh_mode >= 0 && t.refresh_mode <= 1, "Refresh outside its choices");
    PROMISE(t.twig_type >= 0 && t.twig_type <= 6, "Twig type outside its choices");
    PROMISE(t.trunk_thick_type >= 0 && t.trunk_thick_type <= 1, "Trunk thick type outside its choices");
    PROMISE(t.trunk_influence >= 0 && t.trunk_influence <= 2, "Trunk influence outside its choices");
    PROMISE(t.leaf_shape >= 0 && t.leaf_shape <= 5, "Leaf shape outside its choices");
    return {};
}

} // namespace

ToolSession::ToolSession()
{
    session.services().echo_messages = false;
    session.services().show_progress = false;
    session.set_journal(false);
    if (!session.load(linked_tool()) || session.activate() != AFUNC_OK) {
        problem = session.error();
        return;
    }
    session.start();
    // The record outlives every session of the process: start each input from the defaults.
    session.event(LWT_EVENT_RESET);
    panel = session.panel();
    if (!panel)
        problem = "the tool made no panel";
    losoj.fixed(1);
}

st_tree &ToolSession::record() { return *static_cast<st_tree *>(session.tool().instance); }

std::string ToolSession::build(std::optional<std::string> &error)
{
    error.reset();
    if (const ramulon::Status built = session.build(); !built)
        error = built.message();
    return check_build(session, error);
}

std::string ToolSession::build()
{
    std::optional<std::string> error;
    return build(error);
}

void small_crown(host::Layer &background)
{
    background.clear();
    const double c[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (int k = 0; k < 4; ++k) {
        const double *a = c[k], *b = c[(k + 1) % 4];
        const int p0 = background.add_point({a[0], 1.0, a[1]});
        const int p1 = background.add_point({b[0], 1.0, b[1]});
        const int p2 = background.add_point({b[0], 3.0, b[1]});
        const int p3 = background.add_point({a[0], 3.0, a[1]});
        background.add_polygon(ID_FACE, {p0, p1, p2, p3});
    }
}

void cap_sizes(st_tree &t)
{
    cap(t.num_branches, 24);
    cap(t.num_segments, 16);
    cap(t.sub_segments, 4);
    cap(t.iterations, 25);
    cap(t.num_roots, 12);
    cap(t.twig_segments, 9);
    cap(t.leaf_density, 4);
}

std::string check_build(host::Session &session, const std::optional<std::string> &error)
{
    const host::Layer &fg = session.mesh().foreground;
    PROMISE(session.rejected_calls().empty(), "the host refused a call: " + session.rejected_calls().front());
    if (error) {
        PROMISE(!error->empty(), "a failed build must say why");
        PROMISE(fg.empty(), "a failed build (" + *error + ") wrote into the mesh");
        return {};
    }
    for (std::size_t i = 0; i < fg.points.size(); ++i) {
        const host::Vec3 &p = fg.points[i];
        PROMISE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z),
                "point " + std::to_string(i) + " is not finite");
    }
    for (const int i : fg.corners)
        PROMISE(i >= 0 && static_cast<std::size_t>(i) < fg.points.size(), "a polygon names a missing point");
    return finite_maps(fg);
}

std::string check_obj(std::string_view bytes)
{
    host::Layer loaded;
    if (const auto read = host::load_obj_text(bytes, "crown.obj", loaded); !read) {
        PROMISE(!read.message().empty(), "a refused file must say why");
        PROMISE(loaded.empty(), "a refused file left geometry behind");
        return {};
    }
    for (const host::Vec3 &p : loaded.points)
        PROMISE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z), "a loaded point is not finite");
    for (std::size_t k = 0; k < loaded.polygon_count(); ++k) {
        PROMISE(loaded.polygon_points(k).size() >= 2, "a loaded polygon has fewer than two points");
        for (const int i : loaded.polygon_points(k))
            PROMISE(i >= 0 && static_cast<std::size_t>(i) < loaded.points.size(),
                    "a loaded polygon names a missing point");
    }

    ToolSession tool;
    PROMISE(tool.problem.empty(), tool.problem);
    tool.session.mesh().background = std::move(loaded);
    // Fewer chains than the default: the crown, not the count, is under test here.
    st_tree &t = tool.record();
    t.num_branches = 24;
    std::optional<std::string> build_error;
    const std::string broken = tool.build(build_error);
    if (!broken.empty() || build_error)
        return broken;
    // The same skeleton as tubes, with every map.
    t.render_type = 1;
    t.change_level = 2;
    return tool.build();
}

std::string check_preset(std::string_view bytes, const std::string &scratch)
{
    {
        std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        PROMISE(out.good(), "cannot write " + scratch);
    }
    ToolSession tool;
    PROMISE(tool.problem.empty(), tool.problem);
    st_tree &t = tool.record();
    t.active = 0;
    host::Binding bind(tool.session.services());
    const host::preset_application applied = host::apply_preset(scratch);
    PROMISE(applied.applied, "the preset was not applied: " + applied.problem);
    PROMISE(t.active == 1 && t.dirty == 1 && t.change_level == 0,
            "an applied preset leaves the tool inactive, clean or without a full regrowth");
    PROMISE(!(t.last_fork_distance > 1.0), "an applied preset holds a last fork distance above 1");

    // What a preset carries survives a save and a load unchanged.
    const std::string first = saved(t);
    host::preset_reader reader(first);
    shelf_load(&t, reader.state(), "", nullptr);
    PROMISE(!reader.failed(), "a saved preset does not load: " + reader.problem());
    PROMISE(reader.items_read() == reader.items(), "a saved preset of " + std::to_string(reader.items()) +
                                                       " items loads only " +
                                                       std::to_string(reader.items_read()));
    PROMISE(saved(t) == first, "a saved preset reloads differently");

    cap_sizes(t);
    small_crown(tool.session.mesh().background);
    return tool.build();
}

std::string check_settings(std::string_view bytes)
{
    ToolSession tool;
    PROMISE(tool.problem.empty(), tool.problem);
    bool build = false;
    {
        host::Binding bind(tool.session.services());
        std::size_t start = 0;
        for (int lines = 0; start < bytes.size() && lines < 16; ++lines) {
            std::size_t end = bytes.find('\n', start);
            if (end == std::string_view::npos)
                end = bytes.size();
            const std::string line(bytes.substr(start, end - start));
            start = end + 1;
            if (line == "build") {
                build = true;
                continue;
            }
            const std::string error = host::apply_setting(tool.panel, line).message();
            PROMISE(line.find('=') != std::string::npos || !error.empty(), "an edit without '=' was taken");
        }
        const std::string broken = within_clamps(tool.record());
        PROMISE(broken.empty(), broken);
        PROMISE(!host::render_panel(tool.panel).empty(), "the panel shows nothing");
    }
    if (!build)
        return {};
    cap_sizes(tool.record());
    small_crown(tool.session.mesh().background);
    return tool.build();
}

std::string check_record(ToolSession &tool, const st_tree &record, bool literal_growth,
                         int other_render_type)
{
    PROMISE(tool.problem.empty(), tool.problem);
    st_tree &t = tool.record();
    t = record;
    t.active = 1;
    std::optional<std::string> error;
    std::string broken = tool.build(error);
    if (!broken.empty())
        return broken;

    // The growth index answers exactly as the literal scan over every chain.
    if (literal_growth) {
        const host::FlatArray<host::Vec3> indexed = tool.session.mesh().foreground.points;
        t = record;
        t.active = 1;
        losoj.fixed(1);
        growth_use_index = false;
        std::optional<std::string> literal_error;
        broken = tool.build(literal_error);
        growth_use_index = true;
        if (!broken.empty())
            return broken;
        PROMISE(literal_error == error, "the literal scan fails as \"" + literal_error.value_or("") +
                                            "\", the index as \"" + error.value_or("") + "\"");
        const host::FlatArray<host::Vec3> &scanned = tool.session.mesh().foreground.points;
        PROMISE(scanned.size() == indexed.size(), "the literal scan writes " + std::to_string(scanned.size()) +
                                                      " points, the index " + std::to_string(indexed.size()));
        for (std::size_t i = 0; i < scanned.size(); ++i)
            PROMISE(scanned[i].x == indexed[i].x && scanned[i].y == indexed[i].y && scanned[i].z == indexed[i].z,
                    "the literal scan and the index place point " + std::to_string(i) + " differently");
    }
    if (error || other_render_type == t.render_type)
        return {};

    // An output-only change redraws the kept skeleton.
    t.render_type = other_render_type;
    t.change_level = 2;
    return tool.build();
}

} // namespace inputs
} // namespace ramulon
