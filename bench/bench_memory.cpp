// The peak memory of whole builds: the default round crown grown with the given number of
// branches, written as tubes with twigs and leaves, as the host does it. Each build runs in a
// child process of its own, so that the peak of one size cannot hide the peak of another; the
// child's peak resident size is the figure. The same child without the build gives the
// baseline (the program, the host and the crown), so the build's own share is their difference.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "host/obj_loader.h"
#include "host/session.h"
#include "host/shelf.h"
#include "st_tree.h"

namespace ramulon {
void *Startup();
void Shutdown(void *serverData);
const ServerRecord *server_records();

namespace {

const ModuleDescriptor &linked_tool()
{
    static const ModuleDescriptor descriptor{HOST_MODULE_SYNC, HOST_INTERFACE_VERSION, Startup,
                                             Shutdown, server_records()};
    return descriptor;
}

// In the child: sets up the host with the crown and, when asked, builds. Exit code 0 on success.
int child_build(int branches, int render_type, bool build)
{
    host::Session session;
    session.services().echo_messages = false;
    session.services().show_progress = false;
    session.set_journal(false);
    if (!session.load(linked_tool()) || session.activate() != AFUNC_OK)
        return 2;
    if (!host::load_obj_text(host::default_crown_obj(), "round_crown.obj", session.mesh().background))
        return 3;
    session.start();
    session.event(LWT_EVENT_RESET);
    tt.num_branches = branches;
    tt.render_type = render_type;
    tt.twig_type = 1;  // twigs carry the leaves
    tt.leaf_shape = 2; // "two polys"
    tt.leaf_twin = 1;
    tt.leaf_density = 2;
    if (!build)
        return 0;
    if (!session.build())
        return 4;
    return session.mesh().foreground.points.empty() ? 5 : 0;
}

// Runs one child; its peak resident size in KiB, or -1 when it failed.
long child_peak_kib(int branches, int render_type, bool build)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0)
        _exit(child_build(branches, render_type, build));
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

void BM_PeakMemoryOfBuild(benchmark::State &state)
{
    const int branches = static_cast<int>(state.range(0));
    const int render_type = static_cast<int>(state.range(1));
    long peak = 0, baseline = 0;
    for (auto _ : state) {
        baseline = child_peak_kib(branches, render_type, false);
        peak = child_peak_kib(branches, render_type, true);
        if (peak < 0 || baseline < 0) {
            state.SkipWithError("the build in the child failed");
            return;
        }
    }
    state.counters["branches"] = branches;
    state.counters["peak_MiB"] = static_cast<double>(peak) / 1024.0;
    state.counters["baseline_MiB"] = static_cast<double>(baseline) / 1024.0;
    state.counters["build_MiB"] = static_cast<double>(peak - baseline) / 1024.0;
}

// Polygonal output (1), leaves on; SubD (2) writes the same points and measured the same.
BENCHMARK(BM_PeakMemoryOfBuild)
    ->ArgsProduct({{150, 2000, 20000}, {1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What the layer holds of a leafy tree of the given number of branches, per point and per polygon:
// the arrays' own bytes after the build (the figure the storage is tuned on; the peak adds the
// plug-in's own and the process's).
void BM_LayerBytesOfLeafyTree(benchmark::State &state)
{
    const int branches = static_cast<int>(state.range(0));
    host::Session session;
    session.services().echo_messages = false;
    session.services().show_progress = false;
    session.set_journal(false);
    if (!session.load(linked_tool()) || session.activate() != AFUNC_OK ||
        !host::load_obj_text(host::default_crown_obj(), "round_crown.obj", session.mesh().background)) {
        state.SkipWithError("no tool or crown");
        return;
    }
    session.start();
    host::Binding bind(session.services());
    if (const auto applied = host::apply_preset(std::string(RAMULON_SOURCE_DIR) + "/samples/presets/leafy.preset");
        !applied.applied) {
        state.SkipWithError(applied.problem.c_str());
        return;
    }
    tt.num_branches = branches;
    host::Layer::Bytes bytes;
    for (auto _ : state) {
        if (const auto built = session.build(); !built) {
            state.SkipWithError(built.message().c_str());
            return;
        }
        bytes = session.mesh().foreground.bytes();
    }
    const host::Layer &layer = session.mesh().foreground;
    const auto points = static_cast<double>(layer.points.size());
    const auto polygons = static_cast<double>(layer.polygon_count());
    state.counters["points"] = points;
    state.counters["polygons"] = polygons;
    state.counters["layer_MiB"] = static_cast<double>(bytes.total()) / (1024.0 * 1024.0);
    state.counters["point_B"] = static_cast<double>(bytes.points) / points;
    state.counters["polygon_B"] = static_cast<double>(bytes.polygons + bytes.tags) / polygons;
    state.counters["maps_B_per_point"] = static_cast<double>(bytes.maps) / points;
    state.counters["corner_values_B_per_polygon"] = static_cast<double>(bytes.corner_values) / polygons;
    state.counters["total_B_per_point"] = static_cast<double>(bytes.total()) / points;
}

BENCHMARK(BM_LayerBytesOfLeafyTree)->Arg(2000)->Arg(30000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ramulon
