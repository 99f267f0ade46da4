#include "number_text.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include <fast_float/fast_float.h>

namespace host {

std::optional<int32_t> parse_int32(const std::string &text)
{
    if (text.empty())
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (end != text.c_str() + text.size() || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(v);
}

std::optional<double> parse_finite(std::string_view text)
{
    const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    std::size_t at = 0;
    while (at < text.size() && space(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    const char *first = text.data() + at;
    const char *last = text.data() + text.size();
    // A second sign ("+-1") is no number.
    if (first == last || *first == '+' || *first == '-')
        return std::nullopt;

    double v = 0.0;
    const char *end = nullptr;
    if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
        const auto [ptr, ec] = std::from_chars(first + 2, last, v, std::chars_format::hex);
        if (ec != std::errc())
            return std::nullopt;
        end = ptr;
    } else {
        // Correctly rounded: the nearest double to the decimal text, zero below the smallest
        // subnormal and infinity past the largest double (refused below).
        const auto result = fast_float::from_chars(first, last, v);
        if (result.ec != std::errc())
            return std::nullopt;
        end = result.ptr;
    }
    if (end != last || !std::isfinite(v))
        return std::nullopt;
    return negative ? -v : v;
}

} // namespace host
