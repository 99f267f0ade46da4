// Whether the tree the panel describes fits in memory, asked before the tool builds it: the
// tool's own size check stops only trees beyond any machine, and a tree that fits in no memory
// there is would otherwise grow until the machine swaps or the build fails half way.
//
// The estimate counts what the build writes from the panel's counts, the way the tool's size
// check does (start points, segments, twigs per node, leaves per twig, roots per trunk), with
// the share of that bound real trees reach, and prices it at the host's storage cost
// (host/mesh_cost.h).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "common/error.h"
#include "host/plugin_api.h"

namespace driver {

struct TreeEstimate {
    double points = 0.0, polygons = 0.0;
    double bytes = 0.0; // the build's peak memory
};

// The tree the panel's values describe: counts and bytes, never negative; nothing when the panel
// lacks a count (the only failure).
std::optional<TreeEstimate> estimate_tree(LWXPanelID panel);

// The memory a build may use: the machine's available memory less a margin, or the limit given
// (0: the default).
std::size_t memory_budget(std::size_t limit = 0);

// Success when the tree fits the budget (or the panel lacks a count to tell). The only error
// condition is a tree whose estimate exceeds the budget: out_of_memory, "Tree too large: ..."
// with the estimate.
ramulon::Status check_tree_size(LWXPanelID panel, std::size_t budget);

// The memory an export may use beyond what the process holds: the limit given less what the
// tree held costs (held_bytes), or without a limit the available memory less a margin.
std::size_t export_budget(std::size_t limit, double held_bytes);

// Success when the export fits the budget. The only error condition is an export whose estimate
// exceeds it: out_of_memory, "Export too large: ..." with the estimate (its peak memory and the
// triangles it writes).
ramulon::Status check_export_size(double bytes, double triangles, std::size_t budget);

// "24G", "512M", "1.5G", "800000000": bytes, more than 0, or nothing for text that is no size
// (the only failure).
std::optional<std::size_t> parse_memory_size(const std::string &text);
// Bytes as "1.2 GB" or "350 MB".
std::string memory_text(double bytes);

} // namespace driver
