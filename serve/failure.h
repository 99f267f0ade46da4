// How the server fails. Every function of the server that can fail returns a ramulon::Result or
// ramulon::Status (common/error.h). Inside one, a refusal found deep in its steps unwinds as
// Refused and is caught at the function's edge by caught(), together with an allocation that
// failed there, so no request's failure travels further than the function that met it.
// http_failure() is the one place where an error's kind becomes the HTTP status a client sees.
#pragma once

#include <exception>
#include <string>
#include <utility>

#include "common/error.h"

namespace serve {

// What a request that ran out of memory is answered (503), whatever ran out.
inline constexpr const char *out_of_memory_message =
    "The server ran out of memory for this request: nothing was changed.";

// What an export is answered when its client has gone or the server is stopping (503).
inline constexpr const char *given_up_message =
    "The export was given up: its client has gone or the server is stopping.";

// A refusal on its way to the edge of the public function whose work it stops.
struct Refused : std::exception {
    ramulon::Error error;
    explicit Refused(ramulon::Error e) : error(std::move(e)) {}
    const char *what() const noexcept override { return error.message.c_str(); }
};

[[noreturn]] inline void refuse(ramulon::ErrorKind kind, std::string message)
{
    throw Refused(ramulon::fail(kind, std::move(message)));
}

// The value of another function's result, or its error on to this function's edge.
template <typename T> T take(ramulon::Result<T> result)
{
    if (!result)
        throw Refused(result.error());
    return std::move(result).value();
}

// The error of what a piece of work threw: a refusal's own; out_of_memory with
// out_of_memory_message for a failed allocation; internal, "The server failed: WHY", for any
// other exception ("The server failed." without a why).
ramulon::Error error_of(std::exception_ptr thrown);

// Work run at a public function's edge: its value, or the error that stopped it.
template <typename T, typename Work> ramulon::Result<T> caught(Work work)
{
    try {
        return work();
    } catch (...) {
        return error_of(std::current_exception());
    }
}

template <typename Work> ramulon::Status caught_status(Work work)
{
    try {
        work();
        return {};
    } catch (...) {
        return error_of(std::current_exception());
    }
}

// The HTTP answer to an error of this kind: its status, and the seconds after which to try
// again (Retry-After; 0: none). invalid_input 400, not_found 404, conflict 409, busy 503 with a
// retry, out_of_memory and cancelled 503, io and internal 500.
struct HttpFailure {
    int status = 500;
    int retry_after = 0;
};
HttpFailure http_failure(ramulon::ErrorKind kind);

} // namespace serve
