#include "build.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

namespace cli {

namespace {

std::vector<BuildExtension> &extensions()
{
    static std::vector<BuildExtension> list;
    return list;
}

struct Format {
    MeshWriter writer;
    int priority;
};

std::map<std::string, Format> &formats()
{
    static std::map<std::string, Format> map;
    return map;
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

} // namespace

bool register_build_extension(BuildExtension extension)
{
    extensions().push_back(std::move(extension));
    return true;
}

const std::vector<BuildExtension> &build_extensions() { return extensions(); }

bool register_output_format(const std::string &extension, MeshWriter writer, int priority)
{
    auto &map = formats();
    const std::string key = lower(extension);
    auto it = map.find(key);
    if (it == map.end() || it->second.priority < priority)
        map[key] = Format{std::move(writer), priority};
    return true;
}

const MeshWriter *find_output_format(const std::string &path)
{
    const std::string ext = lower(std::filesystem::path(path).extension().string());
    auto it = formats().find(ext);
    return it == formats().end() ? nullptr : &it->second.writer;
}

std::string output_format_list()
{
    std::string list;
    for (const auto &entry : formats())
        list += (list.empty() ? "" : ", ") + entry.first;
    return list;
}

} // namespace cli
