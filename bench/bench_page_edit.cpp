// A slider edit on the leafy demo as the page makes it: the value set, the tree grown again, the
// layer copied for the exports (the server's snapshot of a build) and the GLB written into
// memory for the view. The server's time for the edit is the sum; each step's share of it is a
// counter (milliseconds per edit), so that a slow edit says where its time went.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "export/export.h"
#include "host/settings.h"
#include "leafy_demo.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point &from)
{
    const Clock::time_point now = Clock::now();
    const double ms = std::chrono::duration<double, std::milli>(now - from).count();
    from = now;
    return ms;
}

void BM_PageEditLeafy(benchmark::State &state)
{
    host::Session *session = leafy_demo_or_skip(state);
    if (!session)
        return;
    std::string error;
    host::Binding bind(session->services());
    LWXPanelID panel = session->panel();
    double set_ms = 0.0, build_ms = 0.0, copy_ms = 0.0, glb_ms = 0.0;
    bool bent = false;
    for (auto _ : state) {
        Clock::time_point at = Clock::now();
        // The slider moves back and forth, so every edit grows a tree that differs.
        bent = !bent;
        if (!(error = host::apply_setting(panel, bent ? "Branch bend=0.2" : "Branch bend=0.1").message()).empty()) {
            state.SkipWithError(error.c_str());
            break;
        }
        set_ms += ms_since(at);
        if (const auto built = session->build(); !built) {
            state.SkipWithError(built.message().c_str());
            break;
        }
        build_ms += ms_since(at);
        const auto snapshot = std::make_shared<const host::Layer>(session->mesh().foreground);
        copy_ms += ms_since(at);
        const ramulon::Result<std::string> bytes = exporter::write_tree_to_memory(*snapshot);
        if (!bytes) {
            state.SkipWithError(bytes.error().message.c_str());
            break;
        }
        glb_ms += ms_since(at);
        benchmark::DoNotOptimize(bytes->data());
    }
    const auto per_edit = benchmark::Counter::kAvgIterations;
    state.counters["set_ms"] = benchmark::Counter(set_ms, per_edit);
    state.counters["build_ms"] = benchmark::Counter(build_ms, per_edit);
    state.counters["copy_ms"] = benchmark::Counter(copy_ms, per_edit);
    state.counters["glb_ms"] = benchmark::Counter(glb_ms, per_edit);
}

BENCHMARK(BM_PageEditLeafy)
    ->Unit(benchmark::kMillisecond)
    ->MinWarmUpTime(0.5)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
