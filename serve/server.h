// `ramulon serve`'s HTTP server: the page's files and the JSON API over one TreeHost. start()
// binds and answers requests on threads of its own until stop(), so a test can run it in-process.
//
//     serve::ServeServer server;
//     if (ramulon::Status started = server.start(options); !started) fail(started.message());
//     std::printf("Serving on %s\n", server.url().c_str());
//     ...
//     server.stop();
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "serve/export.h"
#include "serve/guard.h"
#include "serve/host.h"
#include "serve/http.h"

namespace serve {

class ServeServer {
public:
    ServeServer();
    ~ServeServer(); // stops
    ServeServer(const ServeServer &) = delete;
    ServeServer &operator=(const ServeServer &) = delete;

    // Opens the tool, builds once and listens. The only error conditions are: the server runs
    // already (internal), the address cannot be listened on (Listener::bind), the tool cannot
    // be opened (TreeHost::open); nothing is left running then.
    ramulon::Status start(const ServeOptions &options);
    void stop();

    // Opens the tool and builds once without listening: requests then come only through
    // answer(), as if served at options.host:options.port. Errors as start's, but for the address.
    ramulon::Status open(const ServeOptions &options);
    // The answer to one request's bytes (the fuzzer's way in).
    std::string answer(std::string_view request) { return answer_bytes(*http_, request); }

    // The time limits of connections, for a server not yet started.
    void set_limits(const ConnectionLimits &limits) { limits_ = limits; }

    int port() const { return port_; }
    std::string url() const; // http://HOST:PORT/
    TreeHost &tree() { return *tree_; }
    ExportDesk &exports() { return *exports_; }

private:
    void add_routes();
    void add_guard();
    void add_reading();
    void add_exports();
    void add_changing();
    void add_page();

    std::unique_ptr<TreeHost> tree_;
    std::unique_ptr<ExportDesk> exports_;
    std::unique_ptr<Routes> http_;
    std::unique_ptr<Listener> listener_;
    ConnectionLimits limits_;
    ServedNames served_;
    std::filesystem::path web_dir_;
    std::string host_;
    int port_ = 0;
    std::thread listening_;
};

} // namespace serve
