// What the host and the tool promise about everything people hand them (OBJ envelopes, presets,
// typed settings, parameter records): the fuzz targets (fuzz/) run these checks on generated
// inputs, and test_hardening_inputs replays the kept inputs through them. Each check returns
// the broken promise as one line, or an empty string.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/session.h"
#include "st_tree.h"

namespace ramulon {
namespace inputs {

// The plug-in, linked in, activated, picked, reset to its defaults and showing its panel. The
// random source starts from a fixed seed, so that a record with seed 0 grows the same tree on
// every run of an input.
class ToolSession {
public:
    ToolSession();
    host::Session session;
    LWXPanelID panel = nullptr;
    std::string problem; // why the session could not be set up; empty when it could

    // The live record the host hands to every callback.
    st_tree &record();
    // Runs the tool's build as the host does after a test answered 1; `error` receives the
    // tool's error text. The broken promise of what it wrote (check_build), or empty.
    std::string build(std::optional<std::string> &error);
    std::string build();
};

// Four walls of a box around the y axis, from y = 1 to y = 3.
void small_crown(host::Layer &background);

// Bounds only what makes a tree legitimately take long (counts of chains, nodes, tries, roots,
// twig segments and leaves); every other value is left as the input gave it.
void cap_sizes(st_tree &t);

// A build either failed with a message and wrote nothing, or wrote points and map values that
// are all finite, through calls the host accepted.
std::string check_build(host::Session &session, const std::optional<std::string> &error);

// Bytes as an OBJ envelope: refused with a message and nothing loaded, or loaded as polygons
// over finite points that exist; then a skeleton build on it, and an output-only rebuild of
// that skeleton as tubes, keep check_build's promise.
std::string check_obj(std::string_view bytes);

// Bytes as a preset file applied from the shelf (written to `scratch`): the tool takes it,
// comes back active with a full regrowth pending and last_fork_distance at most 1, a save and a
// load of what it now holds changes nothing, and a small build on it keeps check_build's promise.
std::string check_preset(std::string_view bytes, const std::string &scratch);

// Bytes as lines typed after --set, applied to the live panel (at most 16 lines): what the
// panel took stays within its clamps and finite, the panel still shows itself, and a line
// "build" asks for a small build that keeps check_build's promise.
std::string check_settings(std::string_view bytes);

// A whole record and the background already in the session: a build keeps check_build's
// promise; with `literal_growth` a regrowth by the literal scan writes the same points (or fails
// alike); when it grew, an output-only rebuild in another render type keeps the promise too.
std::string check_record(ToolSession &tool, const st_tree &record, bool literal_growth,
                         int other_render_type);

} // namespace inputs
} // namespace ramulon
