// `ramulon serve`'s HTTP server: the page's files and the JSON API over one TreeHost. start()
// binds and answers requests on threads of its own until stop(), so a test can run it in-process.
//
//     cli::ServeServer server;
//     if (std::string error = server.start(options); !error.empty()) fail(error);
//     std::printf("Serving on %s\n", server.url().c_str());
//     ...
//     server.stop();
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "serve_host.h"

namespace httplib {
class Server;
}

namespace cli {

class ServeServer {
public:
    ServeServer();
    ~ServeServer(); // stops
    ServeServer(const ServeServer &) = delete;
    ServeServer &operator=(const ServeServer &) = delete;

    // Opens the tool, builds once and listens. Returns an error text or empty.
    std::string start(const ServeOptions &options);
    void stop();

    int port() const { return port_; }
    std::string url() const; // http://HOST:PORT/
    TreeHost &tree() { return *tree_; }

private:
    void add_routes();

    std::unique_ptr<TreeHost> tree_;
    std::unique_ptr<httplib::Server> http_;
    std::filesystem::path web_dir_;
    std::string host_;
    int port_ = 0;
    std::thread listener_;
    std::atomic<bool> listener_done_{false};
};

} // namespace cli
