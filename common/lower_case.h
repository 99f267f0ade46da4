// Names compared without regard to case (host names, extensions, media types): ASCII letters
// only, every other byte kept as it is.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>

namespace ramulon {

inline std::string lower_case(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace ramulon
