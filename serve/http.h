// The connections of `ramulon serve`. The HTTP library parses requests and writes answers, but
// the connections are accepted and read here: each has a thread of its own, a request must
// arrive whole within a time limit (its line and headers, then its body), its headers are
// bounded in number and bytes before the library sees them, and nothing a connection throws,
// an allocation failure included, leaves its thread. A slow or stalled client thus holds only
// its own connection; when such clients fill every connection, the one that has been sending
// its headers (or waiting idle) the longest makes room for a new one, so the page's progress
// requests always find a thread to answer them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include <httplib.h>

#include "common/error.h"

namespace serve {

// The routes and handlers; answer() runs one request of a stream through them.
class Routes : public httplib::Server {
public:
    // Reads one request from the stream and writes its answer. False when the connection should
    // end (nothing more to read, or the answer could not be written).
    bool answer(httplib::Stream &stream, bool close_connection, bool &connection_closed)
    {
        return process_request(stream, close_connection, connection_closed, nullptr);
    }
    // The library sends an answer's body from its content provider only while it knows of a
    // listening socket (else it takes itself to be stopping): the Listener's, while it runs.
    void listening_on(int fd) { svr_sock_ = fd; }
};

struct ConnectionLimits {
    std::chrono::milliseconds idle{2000};     // for the next request on a kept-alive connection
    std::chrono::milliseconds headers{10000}; // for a request's line and headers, from its first byte
    std::chrono::milliseconds body{60000};    // for its body, after the headers (20 MB uploads)
    std::chrono::milliseconds gap{5000};      // between two reads of the same request
    std::chrono::milliseconds write{30000};   // for one write of an answer
    std::size_t connections = 64;             // at once; see Listener for what more meet
    std::size_t requests = 100;               // on one connection
};

// What a request's line and headers may hold; more is answered 431 and the connection closed.
inline constexpr std::size_t max_header_bytes = 32 * 1024;
inline constexpr std::size_t max_header_count = 100;

// A listening socket and the connection threads it starts. A connection beyond the limit
// takes the place of the open one that has spent the longest on its request's headers, else of
// the one that has waited idle the longest; when every open connection is being answered it is
// answered 503 and closed.
class Listener {
public:
    Listener() = default;
    ~Listener(); // stops
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    // Binds host:port (0: any free port). The only error conditions are an address that does
    // not resolve (invalid_input) and one the system will not listen on: in use, not this
    // machine's (io). Messages read "cannot listen on HOST:PORT: why".
    ramulon::Status bind(const std::string &host, int port);
    int port() const { return port_; }
    // Accepts connections until stop(); each request goes to routes.answer().
    void run(Routes &routes, const ConnectionLimits &limits);
    // Ends run(), cuts the open connections and waits for their threads.
    void stop();

    // A connection and what it is doing now.
    struct Connection {
        enum Phase { idle, headers, answering };
        int fd = -1;
        std::atomic<int> phase{idle};
        std::atomic<std::int64_t> since{0}; // steady clock ticks at the phase's start
        bool evicted = false;               // cut to make room (under the mutex)
    };

private:
    void serve(Routes &routes, const ConnectionLimits &limits, std::shared_ptr<Connection> connection);
    bool make_room(); // under the mutex: cuts the connection to make room for a new one

    int fd_ = -1;
    int port_ = 0;
    int wake_[2] = {-1, -1}; // written by stop() to end the wait for connections
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable ended_;
    std::map<int, std::shared_ptr<Connection>> open_; // connections being served
    std::size_t evicted_ = 0;                         // of open_, cut and ending
    std::atomic<Routes *> routes_{nullptr};
};

// Called by a handler of the calling thread: its connection ends after this answer (one whose
// body was left unread, say).
void close_after_this_answer();

// Called by a handler of the calling thread: true once its client has closed the connection or
// the server is stopping, so that long work for an answer nobody will read can stop.
bool answer_abandoned();

// The answer to request bytes, as a connection would write it: the fuzzer's way into the
// handlers without a socket.
std::string answer_bytes(Routes &routes, std::string_view request);

} // namespace serve
