// A tree that grew within its memory limit can still be too large to write out. A writer then
// fails with an error of kind out_of_memory (its temporaries removed as it unwinds) instead of
// ending the process that asked for the file; one whose export was cancelled (cancel.h) fails with
// kind cancelled. Both messages name the file: "cannot write PATH: ...".
#pragma once

#include <new>
#include <string>

#include "common/error.h"
#include "export/cancel.h"

namespace exporter {

inline constexpr const char *out_of_memory_reason = "there is not enough memory to write this tree";

// Runs write (returning ramulon::Status) and turns a failed allocation or a cancellation part way
// into the matching error; path names the file in the message.
template <typename Write> ramulon::Status unless_out_of_memory(const std::string &path, Write write)
{
    try {
        return write();
    } catch (const std::bad_alloc &) {
        return ramulon::fail(ramulon::ErrorKind::out_of_memory, "cannot write " + path + ": " + out_of_memory_reason);
    } catch (const Cancelled &cancelled) {
        return ramulon::fail(ramulon::ErrorKind::cancelled, "cannot write " + path + ": " + cancelled.what());
    }
}

} // namespace exporter
