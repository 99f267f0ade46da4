// A tree that grew within its memory limit can still be too large to write out. A writer then
// fails with a message (its temporaries removed as it unwinds) instead of ending the process
// that asked for the file.
#pragma once

#include <new>
#include <string>

namespace exporter {

template <typename Write> std::string unless_out_of_memory(const std::string &path, Write write)
{
    try {
        return write();
    } catch (const std::bad_alloc &) {
        return "cannot write " + path + ": there is not enough memory to write this tree";
    }
}

} // namespace exporter
