// Echoing in a message what a file or a person gave: in double quotes, printable ASCII only
// (anything else as '?'), at most 40 characters with "..." after a longer text, so that a
// 10 MB line or raw binary never floods a terminal or a page. The result is at most 45 bytes,
// never fails and never holds a control character.
#pragma once

#include <string>
#include <string_view>

namespace host {

inline std::string quoted_text(std::string_view text)
{
    constexpr std::size_t most = 40;
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < most; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
    }
    out += text.size() > most ? "...\"" : "\"";
    return out;
}

} // namespace host
