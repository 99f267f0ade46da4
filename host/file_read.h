// Reading the files people name (crowns, presets): only regular files, never more than a limit,
// every failure as one line. A device (/dev/zero), a FIFO that nobody writes, a file of /proc
// or a folder is refused before a byte is read, so no reader blocks or runs out of memory.
#pragma once

#include <cstddef>
#include <string>

namespace host {

// The largest crown file taken, by the command line and the server alike.
inline constexpr std::size_t max_input_bytes = 20u * 1024u * 1024u;
// A preset record is a few kilobytes.
inline constexpr std::size_t max_preset_bytes = 1024u * 1024u;

// The whole file into bytes. False with "cannot read PATH: why" in error.
bool read_regular_file(const std::string &path, std::size_t limit, std::string &bytes, std::string &error);

} // namespace host
