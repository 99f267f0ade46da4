// The modeller behind `ramulon serve`: one session with the tool picked, its panel, the crown
// in the background and the last build, edited by the page one request at a time. Every call
// takes the session's lock; progress() alone does not, so the page can watch a running build.
// A request that finds a build running does not wait for it: it is refused with 409, so that no
// connection sits on the lock for the minutes a large tree takes.
#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/file_read.h"
#include "host/session.h"
#include "driver/tool_setup.h"
#include "serve/export.h"

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

// A request the host refuses: the HTTP status and one sentence for the page; for a refusal
// that passes, the seconds after which to try again (Retry-After).
struct ApiError : std::runtime_error {
    int status;
    int retry_after;
    ApiError(int status, const std::string &message, int retry_after = 0)
        : std::runtime_error(message), status(status), retry_after(retry_after)
    {
    }
};

// What a request that ran out of memory is answered (503), whatever ran out.
inline constexpr const char *out_of_memory_message =
    "The server ran out of memory for this request: nothing was changed.";

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

    // Loads the crown and the plug-in, picks the tool, makes its panel and builds once.
    // Returns an error text or empty.
    std::string open(const ServeOptions &options);

    // ---- reading
    nlohmann::json state();
    nlohmann::json progress() const;
    nlohmann::json background_json();
    std::vector<std::string> samples() const;
    nlohmann::json shelf();
    std::string thumbnail(const std::string &name); // PNG bytes; throws ApiError
    // The tree of the last build, for its exports; throws ApiError 404 when no build wrote
    // anything, 409 when a build is asked for (its number) and a later one has replaced it.
    BuiltTree built(std::optional<int> wanted = std::nullopt);

    // ---- changing: each returns the new state with "rebuilt"; throws ApiError
    nlohmann::json set(unsigned long id, const nlohmann::json &value);
    nlohmann::json press(unsigned long id);
    nlohmann::json build_now();
    nlohmann::json use_sample(const std::string &name);
    nlohmann::json upload_background(const std::string &file_name, const std::string &bytes);
    nlohmann::json add_preset(const std::string &name, bool overwrite);
    nlohmann::json apply_preset(const std::string &name);

    // From now on a running build ends the process at its next step (the command's SIGTERM).
    void exit_at_next_step() { exit_requested_ = true; }

private:
    using Lock = std::unique_lock<std::timed_mutex>;

    Lock acquire(); // the session's lock; throws ApiError 409 while a build runs
    void exit_if_asked() const;

    nlohmann::json state_locked();
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
    std::shared_ptr<const host::Layer> built_; // the last build's tree, once an export asks for it
    int built_number_ = 0;
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
