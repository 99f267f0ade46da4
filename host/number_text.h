// Numbers typed by a user or read from a preset line: the whole text must be the number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace host {

// A decimal 32-bit integer, or nothing.
std::optional<int32_t> parse_int32(const std::string &text);
// A finite double, or nothing.
std::optional<double> parse_finite(const std::string &text);

} // namespace host
