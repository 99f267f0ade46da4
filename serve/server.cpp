#include "serve/server.h"

#include <chrono>
#include <cstdio>
#include <sys/socket.h>

#include <httplib.h>

#include "serve/export.h"
#include "serve/failure.h"
#include "serve/files.h"

namespace serve {

namespace {

using Request = httplib::Request;
using Response = httplib::Response;

void send_json(Response &res, const nlohmann::json &body, int status = 200)
{
    res.status = status;
    // Texts from files and headers may hold bytes that are no UTF-8; the page gets them replaced.
    res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
}

void send_error(Response &res, int status, const std::string &message)
{
    send_json(res, {{"error", message}}, status);
}

// A change's answer: the new state, and when the change grew the tree again, the build's time
// as the Server-Timing "build" entry, beside the "glb" entry of the view's GLB that follows.
void send_changed(Response &res, const nlohmann::json &body)
{
    if (body.value("rebuilt", false)) {
        const double seconds = body.at("build").value("seconds", 0.0);
        char timing[48];
        std::snprintf(timing, sizeof timing, "build;dur=%.1f", seconds * 1000.0);
        res.set_header("Server-Timing", timing);
    }
    send_json(res, body);
}

// A failed request's answer: the status of its error's kind, with the reason.
void send_failure(Response &res, const ramulon::Error &error)
{
    res.body.clear(); // the memory of a half-made answer first
    const HttpFailure failure = http_failure(error.kind);
    if (failure.retry_after > 0)
        res.set_header("Retry-After", std::to_string(failure.retry_after));
    send_error(res, failure.status, error.message);
}

// Runs a request's work; a refused request answers its status with the reason and changes nothing.
template <typename Work> auto api(Work work)
{
    return [work](const Request &req, Response &res) {
        try {
            work(req, res);
        } catch (...) {
            send_failure(res, error_of(std::current_exception()));
        }
    };
}

nlohmann::json body_object(const Request &req)
{
    nlohmann::json body = nlohmann::json::parse(req.body, nullptr, false);
    if (!body.is_object())
        refuse(ramulon::ErrorKind::invalid_input, "The request body must be a JSON object.");
    return body;
}

unsigned long id_of(const nlohmann::json &body)
{
    const auto it = body.find("id");
    if (it == body.end() || !it->is_number_unsigned())
        refuse(ramulon::ErrorKind::invalid_input, "The request must name a control by its \"id\".");
    return it->get<unsigned long>();
}

std::string text_of(const nlohmann::json &body, const char *key)
{
    const auto it = body.find(key);
    if (it == body.end() || !it->is_string())
        refuse(ramulon::ErrorKind::invalid_input, std::string("The request must give \"") + key + "\" as a text.");
    return it->get<std::string>();
}

// A file of the tree: bytes of its own are taken over by the answer, shared bytes and a file on
// the disk are read as they are sent. With a name, as a download to save.
void send_file(Response &res, Download file, const std::string &type, const std::string &name = "")
{
    if (!name.empty())
        res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
    if (file.owned()) {
        res.body = file.take_bytes();
        res.set_header("Content-Type", type);
        return;
    }
    const std::size_t size = file.size();
    res.set_content_provider(size, type, [file](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
        std::string chunk;
        return file.read(offset, std::min<std::size_t>(length, 1u << 20), chunk) &&
               sink.write(chunk.data(), chunk.size());
    });
}

// The headers of a file without making it: HEAD tells its size only when it is made already.
void send_head(Response &res, const std::string &type, const std::string &name, std::optional<std::size_t> size)
{
    if (!name.empty())
        res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
    if (size) {
        res.set_header("Content-Type", type);
        res.set_header("Content-Length", std::to_string(*size));
    } else {
        res.set_chunked_content_provider(type, [](std::size_t, httplib::DataSink &sink) {
            sink.done();
            return true;
        });
    }
}

// ?n=: the build the page shows; its exports are refused once a later build has replaced it.
std::optional<int> wanted_build(const Request &req)
{
    if (!req.has_param("n"))
        return std::nullopt;
    const std::string n = req.get_param_value("n");
    if (n.empty() || n.size() > 9 || n.find_first_not_of("0123456789") != std::string::npos)
        refuse(ramulon::ErrorKind::invalid_input, "\"n\" must be the number of a build.");
    return std::stoi(n);
}

// ?lod=N&impostor=1&compress=1: the game-ready GLB. A skeleton has no surfaces to picture, so
// its far card is left out rather than refused: the page asks for one whatever the tree.
exporter::WriteOptions game_ready(const Request &req, const host::Layer &layer)
{
    exporter::WriteOptions options;
    if (req.has_param("lod")) {
        const std::string lod = req.get_param_value("lod");
        if (lod.empty() || lod.size() > 2 || lod.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(lod) < 1 || std::stoi(lod) > exporter::max_levels)
            refuse(ramulon::ErrorKind::invalid_input, "\"lod\" must be a whole number from 1 to " + std::to_string(exporter::max_levels) + ".");
        options.levels = std::stoi(lod);
    }
    // The page's viewer reads meshopt.
    options.compress = req.get_param_value("compress") == "1" ? exporter::Compression::meshopt : exporter::Compression::none;
    options.impostor = req.get_param_value("impostor") == "1";
    if (options.impostor) {
        bool surfaces = false;
        for (std::size_t i = 0; i < layer.polygon_count() && !surfaces; ++i)
            surfaces = layer.polygon_points(i).size() >= 3;
        options.impostor = surfaces;
    }
    return options;
}

std::string status_text(int status)
{
    switch (status) {
    case 400:
        return "The request is malformed.";
    case 404:
        return "There is nothing at this address.";
    case 405:
        return "This address does not take that method.";
    case 408:
        return "The request did not arrive in time.";
    case 413:
        return "The file is larger than 20 MB.";
    case 414:
        return "The address is too long.";
    default:
        return "The request failed.";
    }
}

} // namespace

ServeServer::ServeServer() = default;

ServeServer::~ServeServer() { stop(); }

std::string ServeServer::url() const { return "http://" + host_ + ":" + std::to_string(port_) + "/"; }

ramulon::Status ServeServer::open(const ServeOptions &options)
{
    if (http_)
        return ramulon::fail(ramulon::ErrorKind::internal, "the server is already running");
    tree_ = std::make_unique<TreeHost>();
    web_dir_ = options.web.empty() ? default_web_dir() : std::filesystem::path(options.web);
    host_ = options.host;
    if (port_ == 0)
        port_ = options.port;
    served_ = served_names(host_, port_);
    sweep_export_folders();
    exports_ = std::make_unique<ExportDesk>(options.tool.memory_limit);
    http_ = std::make_unique<Routes>();
    http_->set_payload_max_length(max_upload_bytes);
    add_routes();
    ramulon::Status opened = tree_->open(options);
    if (!opened) {
        http_.reset();
        tree_.reset();
        exports_.reset();
    }
    return opened;
}

ramulon::Status ServeServer::start(const ServeOptions &options)
{
    if (http_)
        return ramulon::fail(ramulon::ErrorKind::internal, "the server is already running");
    // The address first: a port in use fails before the plug-in is loaded.
    listener_ = std::make_unique<Listener>();
    ramulon::Status started = listener_->bind(options.host, options.port);
    if (started) {
        port_ = listener_->port();
        started = open(options);
    }
    if (!started) {
        listener_.reset();
        port_ = 0;
        return started;
    }
    listening_ = std::thread([this] { listener_->run(*http_, limits_); });
    return {};
}

void ServeServer::stop()
{
    if (listener_)
        listener_->stop();
    if (listening_.joinable())
        listening_.join();
    listener_.reset();
    http_.reset();
    exports_.reset();
    tree_.reset(); // the session goes, and with it the tool and its module
}

void ServeServer::add_routes()
{
    add_guard();
    add_reading();
    add_exports();
    add_changing();
    add_page();
}

// Before any route: requests for another host, from another site's page or of a method the
// address does not take are refused unread. What escapes a handler, or is thrown while its
// answer is made, is answered as a handler's failure.
void ServeServer::add_guard()
{
    httplib::Server &s = *http_;
    s.set_pre_routing_handler([this](const Request &req, Response &res) {
        const RequestFacts facts{req.method,
                                 req.path,
                                 req.get_header_value("Host"),
                                 req.get_header_value("Origin"),
                                 req.get_header_value("Referer"),
                                 req.get_header_value("Content-Type"),
                                 req.get_header_value("Sec-Fetch-Site")};
        const std::optional<Refusal> refused = refusal(facts, served_);
        if (!refused)
            return httplib::Server::HandlerResponse::Unhandled;
        if (!refused->allow.empty())
            res.set_header("Allow", refused->allow);
        close_after_this_answer(); // a body it may have sent is left unread
        send_error(res, refused->status, refused->message);
        return httplib::Server::HandlerResponse::Handled;
    });
    s.set_exception_handler([](const Request &, Response &res, std::exception_ptr thrown) {
        send_failure(res, error_of(thrown));
    });
}

void ServeServer::add_reading()
{
    httplib::Server &s = *http_;
    TreeHost &tree = *tree_;
    ExportDesk &exports = *exports_;
    s.Get("/api/state", api([&](const Request &, Response &res) { send_json(res, take(tree.state())); }));
    s.Get("/api/progress", api([&](const Request &, Response &res) {
              nlohmann::json body = tree.progress();
              body["exporting"] = exports.running();
              send_json(res, body);
          }));
    s.Get("/api/background.json",
          api([&](const Request &, Response &res) { send_json(res, take(tree.background_json())); }));
    s.Get("/api/samples", api([&](const Request &, Response &res) { send_json(res, tree.samples()); }));
    s.Get("/api/shelf", api([&](const Request &, Response &res) { send_json(res, take(tree.shelf())); }));
    s.Get(R"(/api/shelf/(.+)\.png)", api([&](const Request &req, Response &res) {
              res.set_content(take(tree.thumbnail(req.matches[1].str())), "image/png");
          }));
}

void ServeServer::add_exports()
{
    httplib::Server &s = *http_;
    TreeHost &tree = *tree_;
    ExportDesk &exports = *exports_;
    // The tree's GLB: the view's (with the time of writing it, which the page adds to the
    // build's own; view_options) and the download.
    const auto glb = [&](const std::string &name) {
        return api([&, name](const Request &req, Response &res) {
            const auto begin = std::chrono::steady_clock::now();
            const BuiltTree built = take(tree.built(wanted_build(req)));
            const exporter::WriteOptions download = game_ready(req, *built.layer);
            const exporter::WriteOptions options = name.empty() ? view_options(download) : download;
            res.set_header("X-Build", std::to_string(built.build));
            if (req.method == "HEAD")
                return send_head(res, "model/gltf-binary", name, std::nullopt);
            Download file = take(exports.glb(built, options));
            const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - begin;
            char timing[48];
            std::snprintf(timing, sizeof timing, "glb;dur=%.1f", took.count());
            res.set_header("Server-Timing", timing);
            send_file(res, std::move(file), "model/gltf-binary", name);
        });
    };
    s.Get("/api/mesh.glb", glb(""));
    s.Get("/api/export.glb", glb("tree.glb"));
    // The OBJ, its material library and the textures it names, to be saved side by side.
    const auto obj = [&](ObjPart part, const std::string &type, const std::string &name) {
        return api([&, part, type, name](const Request &req, Response &res) {
            const BuiltTree built = take(tree.built(wanted_build(req)));
            res.set_header("X-Build", std::to_string(built.build));
            if (req.method == "HEAD")
                return send_head(res, type, name, exports.made_size(built.build, part));
            send_file(res, take(exports.obj(built, part)), type, name);
        });
    };
    s.Get("/api/export.obj", obj(ObjPart::obj, "text/plain", "tree.obj"));
    s.Get("/api/export.mtl", obj(ObjPart::mtl, "text/plain", "tree.mtl"));
    s.Get("/api/tree_bark.png", obj(ObjPart::bark, "image/png", "tree_bark.png"));
    s.Get("/api/tree_bark_normal.png", obj(ObjPart::bark_normal, "image/png", "tree_bark_normal.png"));
    s.Get("/api/tree_leaf.png", obj(ObjPart::leaf, "image/png", "tree_leaf.png"));
}

void ServeServer::add_changing()
{
    httplib::Server &s = *http_;
    TreeHost &tree = *tree_;
    s.Post("/api/set", api([&](const Request &req, Response &res) {
               const nlohmann::json body = body_object(req);
               if (!body.contains("value"))
                   refuse(ramulon::ErrorKind::invalid_input, "The request must give the \"value\".");
               send_changed(res, take(tree.set(id_of(body), body["value"])));
           }));
    s.Post("/api/press", api([&](const Request &req, Response &res) {
               send_changed(res, take(tree.press(id_of(body_object(req)))));
           }));
    s.Post("/api/build", api([&](const Request &, Response &res) { send_changed(res, take(tree.build_now())); }));
    s.Post("/api/background", api([&](const Request &req, Response &res) {
               send_changed(res, take(tree.use_sample(text_of(body_object(req), "sample"))));
           }));
    s.Post("/api/background/upload", api([&](const Request &req, Response &res) {
               send_changed(res, take(tree.upload_background(req.get_header_value("X-Filename"), req.body)));
           }));
    s.Post("/api/shelf/add", api([&](const Request &req, Response &res) {
               const nlohmann::json body = body_object(req);
               const auto overwrite = body.find("overwrite");
               if (overwrite != body.end() && !overwrite->is_boolean())
                   refuse(ramulon::ErrorKind::invalid_input, "\"overwrite\" must be true or false.");
               send_changed(res, take(tree.add_preset(text_of(body, "name"),
                                                   overwrite != body.end() && overwrite->get<bool>())));
           }));
    s.Post("/api/shelf/apply", api([&](const Request &req, Response &res) {
               send_changed(res, take(tree.apply_preset(text_of(body_object(req), "name"))));
           }));
}

// The page's files, and the server's own refusals (a body over the limit, an unknown address)
// in the API's form.
void ServeServer::add_page()
{
    httplib::Server &s = *http_;
    s.Get(R"(/.*)", [this](const Request &req, Response &res) {
        if (req.path.rfind("/api/", 0) == 0) {
            send_error(res, 404, "There is no " + req.path + ".");
            return;
        }
        const StaticFile file = static_file(web_dir_, req.path);
        res.status = file.status;
        res.set_content(file.body, file.content_type.c_str());
    });
    s.set_error_handler(httplib::Server::HandlerWithResponse([](const Request &, Response &res) {
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        send_error(res, res.status, status_text(res.status));
        return httplib::Server::HandlerResponse::Handled;
    }));
}

} // namespace serve
