// A tree that grew within its memory limit can still be too large to write out. A writer then
// fails with an error of kind out_of_memory (its temporaries removed as it unwinds) instead of
// ending the process that asked for the file; one whose export was cancelled (cancel.h) fails with
// kind cancelled. Both messages name the file: "cannot write PATH: ...".
#pragma once

#include <new>
#include <string>
#include <type_traits>

#include "common/error.h"
#include "export/cancel.h"

namespace exporter {

inline constexpr const char *out_of_memory_reason = "there is not enough memory to write this tree";

// Runs write (returning ramulon::Status, or a one-line error string, empty on success) and turns
// a failed allocation or a cancellation part way into the matching error.
template <typename Write> auto unless_out_of_memory(const std::string &path, Write write) -> decltype(write())
{
    using Returned = decltype(write());
    const auto failed = [&](ramulon::ErrorKind kind, const std::string &reason) -> Returned {
        std::string message = "cannot write " + path + ": " + reason;
        if constexpr (std::is_same_v<Returned, std::string>)
            return message;
        else
            return ramulon::fail(kind, std::move(message));
    };
    try {
        return write();
    } catch (const std::bad_alloc &) {
        return failed(ramulon::ErrorKind::out_of_memory, out_of_memory_reason);
    } catch (const Cancelled &cancelled) {
        return failed(ramulon::ErrorKind::cancelled, cancelled.what());
    }
}

} // namespace exporter
