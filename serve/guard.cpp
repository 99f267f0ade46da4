#include "serve/guard.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include "common/lower_case.h"

namespace serve {

namespace {

using ramulon::lower_case;

// An IPv6 address as it appears in a Host header: in brackets.
std::string bracketed(const std::string &host)
{
    return host.find(':') != std::string::npos && host.front() != '[' ? "[" + host + "]" : host;
}

void add_machine_names(std::vector<std::string> &hosts)
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0 && name[0])
        hosts.push_back(lower_case(name));
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return;
    for (ifaddrs *a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr)
            continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (a->ifa_addr->sa_family == AF_INET &&
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(a->ifa_addr)->sin_addr, text, sizeof text))
            hosts.push_back(text);
        else if (a->ifa_addr->sa_family == AF_INET6 &&
                 inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6 *>(a->ifa_addr)->sin6_addr, text, sizeof text))
            hosts.push_back(bracketed(lower_case(text)));
    }
    freeifaddrs(list);
}

struct Authority {
    std::string host;
    int port = -1;
};

// "name", "name:port", "[v6]" or "[v6]:port"; nothing for anything else.
std::optional<Authority> parse_authority(const std::string &text, int default_port)
{
    Authority a;
    std::string rest;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        a.host = lower_case(text.substr(0, close + 1));
        rest = text.substr(close + 1);
    } else {
        const std::size_t colon = text.find(':');
        a.host = lower_case(text.substr(0, colon));
        rest = colon == std::string::npos ? "" : text.substr(colon);
    }
    if (a.host.empty() || a.host == "[]")
        return std::nullopt;
    if (rest.empty()) {
        a.port = default_port;
        return a;
    }
    if (rest.front() != ':' || rest.size() < 2 || rest.size() > 6)
        return std::nullopt;
    a.port = 0;
    for (std::size_t i = 1; i < rest.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(rest[i])))
            return std::nullopt;
        a.port = a.port * 10 + (rest[i] - '0');
    }
    return a;
}

bool names_server(const std::optional<Authority> &a, const ServedNames &served)
{
    return a && a->port == served.port &&
           std::find(served.hosts.begin(), served.hosts.end(), a->host) != served.hosts.end();
}

// The authority of an origin ("http://host:port") or of a page address ("http://host:port/...").
std::optional<Authority> origin_authority(const std::string &url, bool page_address)
{
    const std::string scheme = "http://";
    if (lower_case(url.substr(0, scheme.size())) != scheme)
        return std::nullopt;
    std::string rest = url.substr(scheme.size());
    const std::size_t slash = rest.find_first_of("/?#");
    if (slash != std::string::npos) {
        if (!page_address)
            return std::nullopt;
        rest.resize(slash);
    }
    if (rest.find('@') != std::string::npos)
        return std::nullopt;
    return parse_authority(rest, 80);
}

// The media type without its parameters, in lower case.
std::string media_type(const std::string &content_type)
{
    std::string type = lower_case(content_type.substr(0, content_type.find(';')));
    const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    type.erase(type.begin(), std::find_if_not(type.begin(), type.end(), space));
    type.erase(std::find_if_not(type.rbegin(), type.rend(), space).base(), type.end());
    return type;
}

enum class Route { page, reading, changing, upload, unknown_api };

Route route_of(const std::string &path)
{
    static const char *const reading[] = {"/api/state", "/api/progress", "/api/mesh.glb",
                                          "/api/background.json", "/api/samples", "/api/shelf",
                                          "/api/export.glb", "/api/export.obj", "/api/export.mtl",
                                          "/api/tree_bark.png", "/api/tree_bark_normal.png", "/api/tree_leaf.png"};
    static const char *const changing[] = {"/api/set", "/api/press", "/api/build", "/api/background",
                                           "/api/shelf/add", "/api/shelf/apply"};
    if (path.rfind("/api/", 0) != 0 && path != "/api")
        return Route::page;
    if (std::find(std::begin(reading), std::end(reading), path) != std::end(reading))
        return Route::reading;
    if (path.rfind("/api/shelf/", 0) == 0 && path.size() > 15 && path.substr(path.size() - 4) == ".png")
        return Route::reading;
    if (std::find(std::begin(changing), std::end(changing), path) != std::end(changing))
        return Route::changing;
    if (path == "/api/background/upload")
        return Route::upload;
    return Route::unknown_api;
}

} // namespace

bool is_loopback(const std::string &host)
{
    const std::string h = lower_case(host);
    if (h == "localhost" || h == "::1" || h == "[::1]")
        return true;
    in_addr v4{};
    return inet_pton(AF_INET, h.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

ServedNames served_names(const std::string &listen_host, int port)
{
    ServedNames served;
    served.port = port;
    const std::string host = lower_case(listen_host);
    served.hosts.push_back(bracketed(host));
    if (is_loopback(host)) {
        for (const char *name : {"localhost", "127.0.0.1", "[::1]"})
            served.hosts.push_back(name);
    } else if (host.empty() || host == "0.0.0.0" || host == "::" || host == "[::]") {
        served.hosts.push_back("localhost");
        add_machine_names(served.hosts);
    }
    std::sort(served.hosts.begin(), served.hosts.end());
    served.hosts.erase(std::unique(served.hosts.begin(), served.hosts.end()), served.hosts.end());
    return served;
}

std::optional<Refusal> refusal(const RequestFacts &request, const ServedNames &served)
{
    if (request.host.empty())
        return Refusal{400, "The request names no Host.", ""};
    if (!names_server(parse_authority(request.host, 80), served))
        return Refusal{403, "Refused: the request is addressed to another host: \"" +
                                request.host.substr(0, 40) + "\".", ""};

    const Route route = route_of(request.path);
    const bool get = request.method == "GET" || request.method == "HEAD";
    const bool post = request.method == "POST";
    switch (route) {
    case Route::page:
        if (!get)
            return Refusal{405, "This address takes GET only.", "GET, HEAD"};
        return std::nullopt;
    case Route::reading:
        if (!get)
            return Refusal{405, "This address takes GET only.", "GET, HEAD"};
        break;
    case Route::unknown_api:
        if (!get && !post)
            return Refusal{405, "This address does not take that method.", "GET, HEAD, POST"};
        break;
    case Route::changing:
    case Route::upload:
        if (!post)
            return Refusal{405, "This address takes POST only.", "POST"};
        break;
    }

    // A browser names the page that sent a request: how it relates to the server (a page of
    // another port is another site's too), its origin, or without one the page itself.
    const std::string site = lower_case(request.fetch_site);
    const Refusal foreign{403, "Refused: the request comes from another site's page.", ""};
    if (site == "cross-site" || site == "same-site")
        return foreign;
    if (!request.origin.empty()) {
        if (!names_server(origin_authority(request.origin, false), served))
            return foreign;
    } else if (!request.referer.empty()) {
        if (!names_server(origin_authority(request.referer, true), served))
            return foreign;
    }
    if (get || route == Route::unknown_api)
        return std::nullopt;
    const std::string type = media_type(request.content_type);
    if (route == Route::upload) {
        if (type != "application/octet-stream" && type != "model/obj")
            return Refusal{415, "An upload must be sent as application/octet-stream.", ""};
    } else if (type != "application/json") {
        return Refusal{415, "The request body must be sent as application/json.", ""};
    }
    return std::nullopt;
}

} // namespace serve
