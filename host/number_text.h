// Numbers typed by a user, read from a preset line or from an envelope file: the whole text must
// be the number. A decimal number becomes the double nearest to it, on every machine and in every
// locale, so that a crown written with many digits grows the very tree it was written from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace host {

// A decimal 32-bit integer, or nothing (the only failure: text that is no such integer, or one
// out of range).
std::optional<int32_t> parse_int32(const std::string &text);
// A finite double, or nothing: leading white space, a sign and a hexadecimal float ("0x1p-3")
// are taken as the C library takes them; a decimal too small for a double is zero, one too large
// is refused. Nothing is the only failure: text that is no finite double.
std::optional<double> parse_finite(std::string_view text);

} // namespace host
