#include "export/staged_files.h"

#include <filesystem>

namespace exporter {

std::string sibling_path(const std::string &path, const std::string &extension)
{
    return std::filesystem::path(path).replace_extension(extension).string();
}

std::string file_name(const std::string &path)
{
    return std::filesystem::path(path).filename().string();
}

} // namespace exporter
