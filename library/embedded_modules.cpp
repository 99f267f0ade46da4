#include "embedded_modules.h"

// From objcopy's binary input (library/CMakeLists.txt): the bytes of each module file.
extern "C" {
extern const char _binary_RamulonVE11_so_start[], _binary_RamulonVE11_so_end[];
extern const char _binary_RamulonDO10_so_start[], _binary_RamulonDO10_so_end[];
extern const char _binary_RamulonLW9_so_start[], _binary_RamulonLW9_so_end[];
}

namespace library {

std::string_view embedded_module(int generation)
{
    switch (generation) {
    case 11:
        return {_binary_RamulonVE11_so_start, static_cast<std::size_t>(_binary_RamulonVE11_so_end - _binary_RamulonVE11_so_start)};
    case 10:
        return {_binary_RamulonDO10_so_start, static_cast<std::size_t>(_binary_RamulonDO10_so_end - _binary_RamulonDO10_so_start)};
    case 9:
        return {_binary_RamulonLW9_so_start, static_cast<std::size_t>(_binary_RamulonLW9_so_end - _binary_RamulonLW9_so_start)};
    default:
        return {};
    }
}

std::string embedded_module_name(int generation)
{
    const char *file = generation == 10 ? "RamulonDO10.so" : generation == 9 ? "RamulonLW9.so" : "RamulonVE11.so";
    return std::string(file) + " (built in)";
}

} // namespace library
