// Reading the files people name (crowns, presets): only regular files, never more than a limit,
// every failure as one line. A device (/dev/zero), a FIFO that nobody writes, a file of /proc
// or a folder is refused before a byte is read, so no reader blocks or runs out of memory.
#pragma once

#include <cstddef>
#include <string>

#include "common/error.h"

namespace host {

// The largest crown file taken, by the command line and the server alike.
inline constexpr std::size_t max_input_bytes = 20u * 1024u * 1024u;
// A preset record is a few kilobytes.
inline constexpr std::size_t max_preset_bytes = 1024u * 1024u;

// The whole file's bytes, at most `limit` of them; the file is read as it is at the time, from
// its start to its end. The only error conditions are a path that cannot be opened (not_found
// when nothing is there, io when the system refuses), one that is no regular file or holds more
// than `limit` bytes (invalid_input), a failed read (io) and too little memory for the bytes
// (out_of_memory); the message is "cannot read PATH: why".
ramulon::Result<std::string> read_regular_file(const std::string &path, std::size_t limit);

// The bytes of an open file from where it stands to its end, at most `limit` of them (a file of
// /proc reports no size and may grow while read). The only error conditions are a failed read
// (io), more than `limit` bytes (invalid_input) and too little memory (out_of_memory); the
// message is `what` followed by why.
ramulon::Result<std::string> read_to_end(int fd, std::size_t limit, const std::string &what,
                                         std::size_t expected = 0);

// The kind of a failed system call's errno: not_found for a missing file or folder,
// out_of_memory for ENOMEM, io for everything else.
ramulon::ErrorKind errno_kind(int error);

} // namespace host
