// The three plug-in modules, built into the library as the bytes of their files, so that a
// session needs no module file beside the library: each session loads its own copy from them.
#pragma once

#include <string>
#include <string_view>

namespace library {

// The module file of a host generation (9, 10 or 11); empty for another generation.
std::string_view embedded_module(int generation);
// Its name for messages ("RamulonVE11.so (built in)").
std::string embedded_module_name(int generation);

} // namespace library
