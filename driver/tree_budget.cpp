#include "driver/tree_budget.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <utility>

#include "host/mesh_cost.h"
#include "host/xpanel.h"

namespace driver {

namespace {

// The controls the size depends on.
constexpr unsigned long id_branches = 32770, id_segments = 32771, id_sub_segments = 32813,
                        id_render_type = 32792, id_roots = 32801, id_trunks = 32816,
                        id_twig_segments = 32821, id_twig_type = 32823, id_leaf_shape = 32833,
                        id_leaf_twin = 32838, id_leaf_density = 32841;

// Trees reach a share of the bound below, since most branches join a trunk or an earlier
// branch well before their longest, and the more branches share one crown the sooner they
// join: from a fifth of the bound at 200 branches to a twentieth at 30,000. The shares are fitted
// to the shipped presets in the round crown, for points and polygons apiece, from 200 to 30,000
// branches (bench/export_peaks.cpp): leafy's points at 1000 and 30,000 branches come within 5 %
// and 3 % of them, wide's polygons within 5 % and 2 %. Over every shipped preset, in its own
// crown and in the round one, the build's peak lies 1.2 to 2.6 times under the estimate, never
// above it (a few counts of the shrub and the spruce, whose twigs carry more, pass it by up to a
// fifth; their bytes do not).
double points_share(double chains) { return std::min(0.25, 0.045 + 2.4 / std::sqrt(chains)); }
double polygons_share(double chains) { return std::min(0.25, 0.052 + 2.6 / std::sqrt(chains)); }

// Kept back from the available memory: the page, the exports and the rest of the machine.
constexpr double margin_share = 0.15;
constexpr double margin_bytes = 256.0 * 1024 * 1024;

std::optional<double> count(LWXPanelID panel, unsigned long id)
{
    if (!host::find_control(panel, id))
        return std::nullopt;
    const host::panel_value v = host::get_value(panel, id);
    if (v.kind == host::panel_value::integer)
        return static_cast<double>(v.i);
    if (v.kind == host::panel_value::number)
        return v.d;
    return std::nullopt;
}

// A figure in kB of a /proc file ("MemAvailable:", "VmSize:"); nothing when it has none.
std::optional<double> proc_kib(const char *file, const std::string &wanted)
{
    std::ifstream in(file);
    std::string key;
    unsigned long long kb = 0;
    std::string unit;
    while (in >> key >> kb >> unit)
        if (key == wanted)
            return static_cast<double>(kb) * 1024.0;
    return std::nullopt;
}

// The machine's available memory, or less where a limit on the process's address space or data
// leaves less room than that.
double available_memory()
{
    double available = proc_kib("/proc/meminfo", "MemAvailable:").value_or(4.0 * 1024 * 1024 * 1024);
    for (const auto &[resource, held] : {std::pair{RLIMIT_AS, "VmSize:"}, std::pair{RLIMIT_DATA, "VmData:"}}) {
        rlimit limit{};
        if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            continue;
        const double used = proc_kib("/proc/self/status", held).value_or(0.0);
        available = std::min(available, std::max(0.0, static_cast<double>(limit.rlim_cur) - used));
    }
    return available;
}

} // namespace

std::optional<TreeEstimate> estimate_tree(LWXPanelID panel)
{
    const auto branches = count(panel, id_branches), segments = count(panel, id_segments),
               sub = count(panel, id_sub_segments), render = count(panel, id_render_type),
               roots_each = count(panel, id_roots), trunks_asked = count(panel, id_trunks),
               twig_segments = count(panel, id_twig_segments), twig_type = count(panel, id_twig_type),
               leaf_shape = count(panel, id_leaf_shape), twin = count(panel, id_leaf_twin),
               density = count(panel, id_leaf_density);
    if (!branches || !segments || !sub || !render || !roots_each || !trunks_asked || !twig_segments ||
        !twig_type || !leaf_shape || !twin || !density)
        return std::nullopt;

    // The counts as growth reads them (as the tool's own size check takes them).
    const double chains = std::max(0.0, *branches);
    const double trunks = std::clamp(*trunks_asked, 0.0, chains);
    const double nodes_per_step = std::max(0.0, *segments) * std::max(1.0, *sub);
    const double grown = (trunks * 8 + (chains - trunks) * 2) * nodes_per_step + chains;
    const bool twigs = *twig_type != 0 && *twig_segments != 0;
    const double twig_nodes = twigs ? std::max(1.0, *twig_segments + 1) : 0.0;
    const double copies = std::clamp(*density * (*twin != 0 ? 2.0 : 1.0), 1.0, 10.0);
    const double leaf_points = *leaf_shape != 0 ? copies * 6 : 0.0;
    const bool solid = *render == 1 || *render == 2;
    const double roots = solid ? std::max(trunks, 1.0) * std::max(0.0, *roots_each) : 0.0;

    // A node of a tube writes four points and four sides; a twig node the same; a leaf about
    // half as many polygons as points. A skeleton writes a point and a line per node.
    TreeEstimate e;
    const double node_points = solid ? 8.0 : 1.0;
    e.points = points_share(chains) * grown * (node_points + twig_nodes * (node_points + leaf_points)) + roots * 24;
    e.polygons =
        polygons_share(chains) * grown * (node_points + twig_nodes * (node_points + leaf_points / 2)) + roots * 24;
    e.bytes = e.points * host::bytes_per_point + e.polygons * host::bytes_per_polygon;
    return e;
}

std::size_t memory_budget(std::size_t limit)
{
    if (limit > 0)
        return limit;
    const double available = available_memory();
    return static_cast<std::size_t>(std::max(0.0, available * (1 - margin_share) - margin_bytes));
}

ramulon::Status check_tree_size(LWXPanelID panel, std::size_t budget)
{
    const std::optional<TreeEstimate> e = estimate_tree(panel);
    if (!e || e->bytes <= static_cast<double>(budget))
        return {};
    char counts[160];
    std::snprintf(counts, sizeof counts, "about %.3g million points and %.3g million polygons",
                  e->points / 1e6, e->polygons / 1e6);
    return ramulon::fail(ramulon::ErrorKind::out_of_memory,
                         "Tree too large: the build would need about " + memory_text(e->bytes) + " (" + counts +
                             "), more than the " + memory_text(static_cast<double>(budget)) +
                             " it may use (--memory-limit); lower the branches, segments, twigs or leaves");
}

std::size_t export_budget(std::size_t limit, double held_bytes)
{
    if (limit == 0)
        return memory_budget();
    return static_cast<std::size_t>(std::max(0.0, static_cast<double>(limit) - held_bytes));
}

ramulon::Status check_export_size(double bytes, double triangles, std::size_t budget)
{
    if (bytes <= static_cast<double>(budget))
        return {};
    char written[64];
    std::snprintf(written, sizeof written, "about %.3g million triangles", triangles / 1e6);
    return ramulon::fail(ramulon::ErrorKind::out_of_memory,
                         "Export too large: writing the tree would need about " + memory_text(bytes) + " (" +
                             written + "), more than the " + memory_text(static_cast<double>(budget)) +
                             " it may use (--memory-limit); lower the subdivision or the levels of detail, or "
                             "grow a smaller tree");
}

std::optional<std::size_t> parse_memory_size(const std::string &text)
{
    std::istringstream in(text);
    double value = 0.0;
    if (!(in >> value) || !std::isfinite(value) || value <= 0)
        return std::nullopt;
    std::string unit;
    in >> unit;
    for (char &c : unit)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    double scale = 1.0;
    if (unit == "K" || unit == "KB" || unit == "KIB")
        scale = 1024.0;
    else if (unit == "M" || unit == "MB" || unit == "MIB")
        scale = 1024.0 * 1024;
    else if (unit == "G" || unit == "GB" || unit == "GIB")
        scale = 1024.0 * 1024 * 1024;
    else if (unit == "T" || unit == "TB" || unit == "TIB")
        scale = 1024.0 * 1024 * 1024 * 1024;
    else if (!unit.empty() && unit != "B")
        return std::nullopt;
    const double bytes = value * scale;
    if (bytes < 1 || bytes > 1e18)
        return std::nullopt;
    return static_cast<std::size_t>(bytes);
}

std::string memory_text(double bytes)
{
    char text[32];
    if (bytes >= 1024.0 * 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f GB", bytes / (1024.0 * 1024 * 1024));
    else
        std::snprintf(text, sizeof text, "%.0f MB", bytes / (1024.0 * 1024));
    return text;
}

} // namespace driver
