// The generation-11 module the benchmarks load, next to the benchmark program's build folder
// (bench/..).
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

inline std::string bench_module_path()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (exe.parent_path() / ".." / "RamulonVE11.so").lexically_normal().string();
}
