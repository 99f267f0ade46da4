// The peak memory of builds and exports beside what the budget estimates for them: the figures
// the estimates (host/mesh_cost.h, export/export_cost.h) are calibrated on. Each case runs in a
// child process of its own: the tree is built from a shipped preset with the given branches,
// then exported; the build's figure is the peak resident size less the size before it, the
// export's the peak less the size after the build (its spare memory handed back first), each
// peak measured from its own start (/proc/self/clear_refs).
//
//     export_peaks                        # the calibration cases
//     export_peaks leafy 2000 glb --subdivide 2 --lod 4 --impostor --compress
//     export_peaks bare 30000 none        # the build alone
//     export_peaks leafy 100000 glb       # a large tree: the process's peaks, export against build
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_module.h"
#include "driver/tool_setup.h"
#include "driver/tree_budget.h"
#include "export/export.h"
#include "export/export_cost.h"
#include "host/obj_loader.h"
#include "host/services.h"
#include "host/session.h"
#include "host/shelf.h"

namespace {

struct Case {
    std::string crown; // a sample crown's name; empty: the built-in one
    std::string preset = "leafy";
    int branches = 0; // 0: the preset's own
    std::string format = "glb";
    exporter::WriteOptions options;
};

long status_kib(const char *key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
    return -1;
}

void reset_peak()
{
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
}

double mib(double bytes) { return bytes / (1024.0 * 1024.0); }

// What the layer's arrays take, and each vertex map's share: where a large tree's build memory is.
void print_layer_bytes(const host::Layer &layer)
{
    const host::Layer::Bytes b = layer.bytes();
    std::printf("  layer %7.1f MB: points %.1f, polygons %.1f, tags %.1f, maps %.1f, corner values %.1f\n", mib(b.total()),
                mib(b.points), mib(b.polygons), mib(b.tags), mib(b.maps), mib(b.corner_values));
    for (const host::VertexMap &map : layer.vmaps)
        std::printf("    map %-16s stride %d, values at %8zu of %8zu points, %7.1f MB\n", layer.names[map.name].c_str(), map.stride,
                    map.count, layer.points.size(),
                    mib(static_cast<double>(map.values.capacity() * sizeof(float) + map.stored.capacity())));
}

int run_case(const Case &c)
{
    host::Session session;
    session.services().echo_messages = false;
    session.services().show_progress = false;
    session.set_journal(false);
    std::string error;
    if (!session.load(bench_module_path()) || session.activate(11) != AFUNC_OK)
        return 2;
    if (c.crown.empty() ? !host::load_obj_text(host::default_crown_obj(), "built-in crown", session.mesh().background)
                        : !host::load_obj_file(std::string(RAMULON_SOURCE_DIR) + "/samples/" + c.crown + ".obj",
                                               session.mesh().background))
        return 2;
    session.start();
    {
        host::Binding bind(session.services());
        if (!host::apply_preset(std::string(RAMULON_SOURCE_DIR) + "/samples/presets/" + c.preset + ".preset").applied)
            return 3;
    }
    if (c.branches > 0 && !driver::apply_settings(session, {"num_branches=" + std::to_string(c.branches)}).message().empty())
        return 4;
    driver::TreeEstimate estimate;
    if (LWXPanelID panel = session.panel()) {
        host::Binding bind(session.services());
        if (const auto e = driver::estimate_tree(panel))
            estimate = *e;
    }
    const double build_estimate = estimate.bytes;
    malloc_trim(0);
    const long before_build = status_kib("VmRSS:");
    reset_peak();
    if (!session.build())
        return 5;
    const long build_peak = status_kib("VmHWM:");
    const host::Layer &layer = session.mesh().foreground;
    if (c.format == "none") { // the build alone: its counts and peak beside the estimate's
        const double used = (build_peak - before_build) * 1024.0;
        std::printf("%-13s %-8s %6d | %8zu pts (est %8.0f, %4.2fx) %8zu pols (est %8.0f, %4.2fx) | build %7.1f MB est %7.1f "
                    "(%4.2fx)\n",
                    c.crown.empty() ? "round" : c.crown.c_str(), c.preset.c_str(), c.branches, layer.points.size(), estimate.points,
                    estimate.points / static_cast<double>(layer.points.size()), layer.polygon_count(),
                    estimate.polygons, estimate.polygons / static_cast<double>(layer.polygon_count()), mib(used),
                    mib(build_estimate), build_estimate / used);
        print_layer_bytes(layer);
        std::fflush(stdout);
        return 0;
    }

    malloc_trim(0);
    const long before_export = status_kib("VmRSS:");
    const std::string folder = "/tmp/ramulon-export-peaks-" + std::to_string(getpid());
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/tree." + c.format;
    const exporter::Format format = c.format == "obj" ? exporter::Format::obj : exporter::Format::gltf;
    const exporter::ExportCost cost = exporter::export_cost(layer, c.options, format);
    reset_peak();
    exporter::WriteOptions options = c.options;
    if (c.format == "obj")
        options = exporter::WriteOptions{.look = c.options.look};
    error = exporter::write_tree(layer, path, options).message();
    const long export_peak = status_kib("VmHWM:");
    std::filesystem::remove_all(folder);
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 6;
    }
    const double build_used = (build_peak - before_build) * 1024.0, export_used = (export_peak - before_export) * 1024.0;
    // The whole process's peaks as well: a large tree's file is written within twice what its
    // build took at most.
    std::printf("%-13s %-8s %6d %-4s sub %d lod %d%s%s | %8zu pts %8zu pols | build %7.1f MB est %7.1f (%4.2fx) | "
                "export %7.1f MB est %7.1f (%4.2fx) %9.0f tri | peaks build %7.1f export %7.1f MB (%4.2fx)\n",
                c.crown.empty() ? "round" : c.crown.c_str(), c.preset.c_str(), c.branches, c.format.c_str(),
                cost.subdivision, c.options.levels,
                c.options.impostor ? " far" : "", c.options.compress != exporter::Compression::none ? " zip" : "", layer.points.size(),
                layer.polygon_count(), mib(build_used), mib(build_estimate), build_estimate / build_used,
                mib(export_used), mib(cost.bytes), cost.bytes / export_used, cost.triangles, build_peak / 1024.0,
                export_peak / 1024.0, static_cast<double>(export_peak) / static_cast<double>(build_peak));
    std::fflush(stdout);
    return 0;
}

int in_child(const Case &c)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0)
        _exit(run_case(c));
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Case parse(int argc, char **argv)
{
    Case c;
    c.preset = argv[1];
    c.branches = argc > 2 ? std::atoi(argv[2]) : 0;
    c.format = argc > 3 ? argv[3] : "glb";
    for (int i = 4; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--subdivide" && i + 1 < argc)
            c.options.look.subdivide = std::atoi(argv[++i]);
        else if (a == "--lod" && i + 1 < argc)
            c.options.levels = std::atoi(argv[++i]);
        else if (a == "--impostor")
            c.options.impostor = true;
        else if (a == "--compress")
            c.options.compress = exporter::Compression::meshopt;
        else if (a == "--lod-files")
            c.options.level_files = true;
        else if (a == "--crown" && i + 1 < argc)
            c.crown = argv[++i];
    }
    return c;
}

// The shipped presets with the crown each is made for (samples/presets/crowns.txt).
std::vector<std::pair<std::string, std::string>> shipped_presets()
{
    std::vector<std::pair<std::string, std::string>> presets;
    std::ifstream in(std::string(RAMULON_SOURCE_DIR) + "/samples/presets/crowns.txt");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string preset, crown;
        if (line.empty() || line[0] == '#' || !(fields >> preset >> crown))
            continue;
        presets.emplace_back(preset, crown.substr(0, crown.rfind(".obj")));
    }
    return presets;
}

std::vector<std::string> words(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1)
        return in_child(parse(argc, argv));
    // The calibration: the builds of every shipped preset in its own crown and in the round one,
    // from its own branches to 30,000; the exports of every preset in its crown, plain and as
    // OBJ; and the options on flat trees (leaves and square tubes: leafy, wide, oak, in the round
    // crown) and a smooth one (bare, a SubD cage subdivided twice).
    std::vector<std::vector<std::string>> cases;
    for (const auto &[preset, crown] : shipped_presets()) {
        for (const char *branches : {"0", "1000", "5000", "30000"}) {
            cases.push_back(words(preset + " " + branches + " none --crown " + crown));
            if (crown != "round_crown")
                cases.push_back(words(preset + " " + branches + " none --crown round_crown"));
        }
        for (const char *branches : {"0", "2000"})
            for (const char *format : {"glb", "obj"})
                cases.push_back(words(preset + " " + branches + " " + format + " --crown " + crown));
    }
    for (const char *sub : {"1", "2", "3"})
        cases.push_back({"leafy", "0", "glb", "--subdivide", sub});
    cases.push_back({"leafy", "2000", "obj", "--subdivide", "2"});
    cases.push_back({"leafy", "30000", "glb"});
    cases.push_back({"leafy", "100000", "glb"}); // the largest tree: its peaks side by side
    for (const char *tree : {"leafy 2000", "wide 2000", "oak 2000", "bare 0"})
        for (const char *options : {"--compress", "--impostor", "--lod 2", "--lod 4", "--lod 8", "--lod 4 --compress",
                                    "--lod 8 --compress", "--lod 8 --impostor --compress"})
            cases.push_back(words(std::string(tree) + " glb " + options));
    cases.push_back({"leafy", "2000", "gltf", "--lod", "8", "--impostor", "--lod-files"});
    cases.push_back({"leafy", "10000", "glb", "--lod", "4", "--impostor", "--compress"});
    int failed = 0;
    for (const std::vector<std::string> &args : cases) {
        std::vector<char *> argv_case{argv[0]};
        for (const std::string &a : args)
            argv_case.push_back(const_cast<char *>(a.c_str()));
        if (const int code = in_child(parse(static_cast<int>(argv_case.size()), argv_case.data())); code != 0) {
            std::fprintf(stderr, "case %s %s %s failed: %d\n", args[0].c_str(), args[1].c_str(), args[2].c_str(), code);
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}
