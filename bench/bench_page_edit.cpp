// A slider edit on the leafy demo as the page makes it, through the server's own tree host and
// export desk (everything but the HTTP): the value set and the tree grown again (POST /api/set),
// then the view's GLB written into memory (GET /api/mesh.glb). The server's time for the edit is
// the sum; each step's share of it is a counter (milliseconds per edit), so that a slow edit says
// where its time went. set_ms is the answer's work beside the build: the panel, the state.
// cpu_ms is the process's CPU time per edit, the kernel's included (clearing fresh pages,
// mapping and unmapping arrays), and faults its page faults per edit.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <sys/resource.h>

#include "bench_module.h"
#include "serve/export.h"
#include "serve/host.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Usage {
    double cpu_ms = 0.0;
    double faults = 0.0;
};

Usage process_usage()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return {ms(u.ru_utime) + ms(u.ru_stime), static_cast<double>(u.ru_minflt)};
}

double ms_since(Clock::time_point &from)
{
    const Clock::time_point now = Clock::now();
    const double ms = std::chrono::duration<double, std::milli>(now - from).count();
    from = now;
    return ms;
}

// The page's server on the leafy preset, opened once for every run of the benchmark; null (and
// error set) when it cannot be.
serve::TreeHost *leafy_page(std::string &error)
{
    static serve::TreeHost tree;
    static std::string failure;
    static bool opened = false;
    if (!opened && failure.empty()) {
        serve::ServeOptions options;
        options.tool.plugin = bench_module_path();
        options.shelf = std::string(RAMULON_SOURCE_DIR) + "/samples/presets";
        if (const ramulon::Status open = tree.open(options); !open)
            failure = open.message();
        else if (const auto applied = tree.apply_preset("leafy"); !applied)
            failure = applied.error().message;
        else
            opened = true;
    }
    error = failure;
    return opened ? &tree : nullptr;
}

// The id of the control the page shows with this label.
std::optional<unsigned long> control_id(serve::TreeHost &tree, const std::string &label)
{
    const auto state = tree.state();
    if (state)
        for (const nlohmann::json &c : (*state)["controls"])
            if (c.value("label", "") == label)
                return c["id"].get<unsigned long>();
    return std::nullopt;
}

void BM_PageEditLeafy(benchmark::State &state)
{
    std::string error;
    serve::TreeHost *tree = leafy_page(error);
    if (!tree) {
        state.SkipWithError(("no tree: " + error).c_str());
        return;
    }
    const std::optional<unsigned long> bend = control_id(*tree, "Branch bend");
    if (!bend) {
        state.SkipWithError("the panel has no \"Branch bend\"");
        return;
    }
    serve::ExportDesk exports(0);
    const exporter::WriteOptions view = serve::view_options({});
    double set_ms = 0.0, build_ms = 0.0, glb_ms = 0.0;
    bool bent = false;
    const Usage before = process_usage();
    for (auto _ : state) {
        Clock::time_point at = Clock::now();
        // The slider moves back and forth, so every edit grows a tree that differs.
        bent = !bent;
        const auto changed = tree->set(*bend, bent ? 0.2 : 0.1);
        if (!changed || !changed->value("rebuilt", false)) {
            state.SkipWithError(changed ? "the edit grew no tree" : changed.error().message.c_str());
            break;
        }
        const double answered_ms = ms_since(at);
        const double grown_ms = (*changed)["build"]["seconds"].get<double>() * 1000.0;
        build_ms += grown_ms;
        set_ms += answered_ms - grown_ms;
        const auto built = tree->built();
        auto bytes = built ? exports.glb(*built, view) : ramulon::Result<serve::Download>(built.error());
        if (!bytes) {
            state.SkipWithError(bytes.error().message.c_str());
            break;
        }
        glb_ms += ms_since(at);
        benchmark::DoNotOptimize(bytes->size());
    }
    const Usage after = process_usage();
    const auto per_edit = benchmark::Counter::kAvgIterations;
    state.counters["cpu_ms"] = benchmark::Counter(after.cpu_ms - before.cpu_ms, per_edit);
    state.counters["faults"] = benchmark::Counter(after.faults - before.faults, per_edit);
    state.counters["set_ms"] = benchmark::Counter(set_ms, per_edit);
    state.counters["build_ms"] = benchmark::Counter(build_ms, per_edit);
    state.counters["glb_ms"] = benchmark::Counter(glb_ms, per_edit);
}

BENCHMARK(BM_PageEditLeafy)
    ->Unit(benchmark::kMillisecond)
    ->MinWarmUpTime(0.5)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
