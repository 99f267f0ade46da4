// Which requests `ramulon serve` answers at all. The server edits the tree and writes presets on
// this machine, so a request must name the address it is served at (a page of another site that
// resolves its own name to this machine cannot reach it); a request of the API, reading or
// changing, must come from the server's own page (or from no page at all: a script), not from a
// page of another site the browser shows, which could otherwise start exports with an image
// tag; and a request that changes anything must carry a type no plain HTML form can send.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace serve {

// The names a page may reach the server under: the listening address, and for a loopback
// address "localhost" and the other loopback names; for an address of every interface
// (0.0.0.0, ::) the machine's own addresses and host name.
struct ServedNames {
    std::vector<std::string> hosts; // lower case; IPv6 addresses in brackets
    int port = 0;
};
ServedNames served_names(const std::string &listen_host, int port);

// True for 127.0.0.0/8, ::1 and "localhost".
bool is_loopback(const std::string &host);

// The parts of a request the guard looks at; an absent header is empty.
struct RequestFacts {
    std::string method, path;
    std::string host, origin, referer, content_type;
    std::string fetch_site; // Sec-Fetch-Site: how the browser relates the sending page to the server
};

struct Refusal {
    int status;
    std::string message; // one line
    std::string allow;   // the methods the address takes, for a 405
};

// The refusal of a request the server must not act on, or nothing: 400 without a Host, 403 for
// another host or another site's page, 405 (with the methods it takes) for a method the address
// does not take, 415 for a changing request whose body a plain HTML form could have sent. It
// looks at the facts alone, so it cannot fail.
std::optional<Refusal> refusal(const RequestFacts &request, const ServedNames &served);

} // namespace serve
