// The leafy demo (the built-in crown with samples/presets/leafy.preset) in one session shared by
// every benchmark of the program: loaded, set up and grown once.
#pragma once

#include <string>

#include <benchmark/benchmark.h>

#include "bench_module.h"
#include "host/obj_loader.h"
#include "host/services.h"
#include "host/session.h"
#include "host/shelf.h"

// The session with the demo built in its foreground; null (and error set) when it fails. A
// benchmark may build again: the settings stay.
inline host::Session *leafy_demo_session(std::string &error)
{
    static host::Session session;
    static bool built = false;
    static std::string failure;
    if (!built && failure.empty()) {
        if (!session.load(bench_module_path()) || session.activate(11) != AFUNC_OK) {
            failure = session.error();
        } else {
            session.set_journal(false);
            if (const auto crown = host::load_obj_text(host::default_crown_obj(), "built-in crown", session.mesh().background);
                !crown) {
                failure = crown.message();
            } else {
                session.start();
                host::Binding bind(session.services());
                const host::preset_application applied =
                    host::apply_preset(std::string(RAMULON_SOURCE_DIR) + "/samples/presets/leafy.preset");
                if (!applied.applied)
                    failure = applied.problem;
                else if (const auto grown = session.build(); !grown)
                    failure = grown.message();
                else
                    built = true;
            }
        }
    }
    error = failure;
    return built ? &session : nullptr;
}

// The same for a benchmark that cannot run without the tree: null, and the benchmark skipped with
// the reason, when it cannot be grown.
inline host::Session *leafy_demo_or_skip(benchmark::State &state)
{
    std::string error;
    host::Session *session = leafy_demo_session(error);
    if (!session)
        state.SkipWithError(("no tree: " + error).c_str());
    return session;
}
