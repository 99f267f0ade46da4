// The modeller behind `ramulon serve`: one session with the tool picked, its panel, the crown
// in the background and the last build, edited by the page one request at a time. Every call
// takes the session's lock; progress() alone does not, so the page can watch a running build.
// A request that finds a build running does not wait for it: it is refused (conflict), so that
// no connection sits on the lock for the minutes a large tree takes.
//
// Every call that can fail returns its error (serve/failure.h), worded as the sentence the page
// shows. The error conditions common to them all are: a build is running (conflict) and memory
// ran out (out_of_memory); each call names its own below.
#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/file_read.h"
#include "host/session.h"
#include "driver/tool_setup.h"
#include "serve/export.h"
#include "serve/failure.h"

namespace serve {

struct ServeOptions {
    driver::ToolOptions tool;              // plug-in, generation, starting crown (--background)
    std::string host = "127.0.0.1";
    int port = 8080;               // 0: any free port
    std::string shelf;             // empty: the host's default shelf folder
    std::string web;               // empty: default_web_dir()
    std::string samples;           // empty: default_samples_dir()
};

// The bundled page and the sample crowns: the source tree's folders, else where the install
// puts them (<prefix>/share/ramulon/web and .../samples).
std::filesystem::path default_web_dir();
std::filesystem::path default_samples_dir();

// The figures of the last build.
struct BuildInfo {
    int count = 0; // builds run so far
    double seconds = 0.0;
    std::size_t points = 0, polygons = 0, leaves = 0;
    std::optional<std::string> error;
};

// The upload limit of a background OBJ: the command line's limit for crown files.
inline constexpr std::size_t max_upload_bytes = host::max_input_bytes;

class TreeHost {
public:
    TreeHost() = default;
    TreeHost(const TreeHost &) = delete;
    TreeHost &operator=(const TreeHost &) = delete;

    // Loads the crown and the plug-in, picks the tool, makes its panel and builds once. The only
    // error conditions are a crown, plug-in or tool that cannot be loaded (invalid_input, worded
    // as the command line words it) and a tool that makes no panel (internal).
    ramulon::Status open(const ServeOptions &options);

    // ---- reading
    ramulon::Result<nlohmann::json> state();
    nlohmann::json progress() const;
    ramulon::Result<nlohmann::json> background_json();
    std::vector<std::string> samples() const;
    ramulon::Result<nlohmann::json> shelf();
    // PNG bytes. Also: a name no preset may have (invalid_input), no such thumbnail (not_found).
    ramulon::Result<std::string> thumbnail(const std::string &name);
    // The tree of the last build, shared by every export of that build. Also: no build wrote
    // anything (not_found); a build is asked for (its number) and a later one has replaced it
    // (conflict).
    ramulon::Result<BuiltTree> built(std::optional<int> wanted = std::nullopt);

    // ---- changing: each returns the new state with "rebuilt". Also: a value, control, name or
    // file that cannot be used (invalid_input), a control, sample or preset that does not exist
    // (not_found), a control greyed out, a name taken or a preset the tool refuses (conflict), a
    // file that cannot be read or written (io).
    ramulon::Result<nlohmann::json> set(unsigned long id, const nlohmann::json &value);
    ramulon::Result<nlohmann::json> press(unsigned long id);
    ramulon::Result<nlohmann::json> build_now();
    ramulon::Result<nlohmann::json> use_sample(const std::string &name);
    ramulon::Result<nlohmann::json> upload_background(const std::string &file_name, const std::string &bytes);
    ramulon::Result<nlohmann::json> add_preset(const std::string &name, bool overwrite);
    ramulon::Result<nlohmann::json> apply_preset(const std::string &name);

    // From now on a running build ends the process at its next step (the command's SIGTERM).
    void exit_at_next_step() { exit_requested_ = true; }

private:
    using Lock = std::unique_lock<std::timed_mutex>;

    Lock acquire(); // the session's lock; refuses (conflict) while a build runs
    void exit_if_asked() const;
    void open_session(const ServeOptions &options);
    BuiltTree snapshot(std::optional<int> wanted);

    nlohmann::json state_locked();
    nlohmann::json shelf_locked();
    nlohmann::json changed(bool rebuilt); // the state plus "rebuilt"
    LWXPanelID panel();
    void build();                          // one build with its figures and progress
    bool rebuild_if_asked();               // the host asks test() and builds on an update
    void replace_background(host::Layer layer, const std::string &name);
    void note(const std::string &kind, const std::string &line1, const std::string &line2 = "");

    std::timed_mutex mutex_;
    host::Session session_;
    std::filesystem::path samples_dir_;
    std::size_t memory_limit_ = 0;
    std::string background_name_;
    BuildInfo last_;
    // The last build's tree, taken from the session's foreground: shared by every export of
    // the build, which read it only; null after a failed or refused build.
    std::shared_ptr<host::Layer> built_;
    std::size_t messages_shown_ = 0;

    // Fed by the monitor while a build holds the lock.
    std::atomic<bool> building_{false};
    std::atomic<bool> exit_requested_{false};
    std::atomic<unsigned int> done_{0}, total_{0};
    std::atomic<std::size_t> written_{0}, estimated_points_{0}; // while the tool writes the mesh
    mutable std::mutex title_mutex_;
    std::string title_;
};

} // namespace serve
