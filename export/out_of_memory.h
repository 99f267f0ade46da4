// A tree that grew within its memory limit can still be too large to write out. A writer then
// fails with a message (its temporaries removed as it unwinds) instead of ending the process
// that asked for the file; so does one whose export was cancelled (cancel.h).
#pragma once

#include <new>
#include <string>

#include "export/cancel.h"

namespace exporter {

inline constexpr const char *out_of_memory_reason = "there is not enough memory to write this tree";

template <typename Write> std::string unless_out_of_memory(const std::string &path, Write write)
{
    try {
        return write();
    } catch (const std::bad_alloc &) {
        return "cannot write " + path + ": " + out_of_memory_reason;
    } catch (const Cancelled &cancelled) {
        return "cannot write " + path + ": " + cancelled.what();
    }
}

// Whether a writer's error says it ran out of memory.
inline bool ran_out_of_memory(const std::string &error)
{
    const std::string tail = out_of_memory_reason;
    return error.size() >= tail.size() && error.compare(error.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace exporter
