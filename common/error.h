// One way to fail, for the host, the driver, the writers, the server and the library.
//
// A call that can fail returns a Result<T> (a value or an Error) or a Status (nothing or an
// Error). An Error carries the one-line message people read, worded as before, and a kind that
// callers act on (the server's HTTP status, the library's return code, whether to retry), so no
// caller ever has to read a message's wording to learn what went wrong.
//
// The kinds, and when each is used:
// - invalid_input: what the caller handed over cannot be used: an unknown extension, an option
//   out of range, a malformed preset, crown or request. Nothing was changed; fix the input.
// - not_found: something named does not exist: a file, a preset, a folder, a surface.
// - io: the system refused a read or a write that should have worked: permissions, a full disk,
//   a folder that vanished. A failed write leaves nothing behind.
// - out_of_memory: an allocation failed part way (the tree is too large to write or grow here).
//   The process goes on; what was half made is gone.
// - cancelled: whoever asked no longer wants it (the page's client left, the server is stopping).
// - busy: the work cannot start now but may later (the server at its limit of trees in work).
// - conflict: the request is sound, but what stands now refuses it: a control greyed out, a
//   preset name taken, a build running or a newer build than the one asked for. Nothing was
//   changed; change the state (or wait) and ask again.
// - internal: a library we rely on failed where it should not; a fault of ours to mend.
//
// Exceptions stay inside the modules that throw them (std::bad_alloc, the writers' Cancelled):
// every public function catches them at its edge and returns the matching kind.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace ramulon {

enum class ErrorKind { invalid_input, not_found, io, out_of_memory, cancelled, busy, conflict, internal };

struct Error {
    ErrorKind kind = ErrorKind::internal;
    std::string message; // one line, no trailing newline
};

inline Error fail(ErrorKind kind, std::string message) { return Error{kind, std::move(message)}; }

// The same failure told from further out: "cannot write tree.glb: " + what went wrong inside.
inline Error prefixed(const std::string &prefix, const Error &inner) { return Error{inner.kind, prefix + inner.message}; }

// A value, or the error that kept it from being made. Like C++23's std::expected, which the
// project's oldest compilers (clang 14 with libstdc++ 12) cannot use.
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    T &value() & { return std::get<0>(state_); }
    const T &value() const & { return std::get<0>(state_); }
    T &&value() && { return std::get<0>(std::move(state_)); }
    T &operator*() & { return value(); }
    const T &operator*() const & { return value(); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }

    // Only when !ok().
    const Error &error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// Success, or the error that stopped it. `return {};` is success.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error error) : error_(std::move(error)), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }

    // Only when !ok().
    const Error &error() const { return error_; }
    // The message, or "" on success: for callers that only print.
    const std::string &message() const { return error_.message; }

private:
    Error error_;
    bool failed_ = false;
};

// A Result's error as a Status, for functions that pass a failure on unchanged.
template <typename T> Status status_of(const Result<T> &result)
{
    return result.ok() ? Status{} : Status{result.error()};
}

} // namespace ramulon
