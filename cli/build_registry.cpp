#include "build.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <filesystem>
#include <limits>
#include <map>

#include "common/lower_case.h"
#include "host/number_text.h"
#include "host/quoted_text.h"
#include "driver/tree_budget.h"
#include "export/export_cost.h"

namespace cli {

namespace {

std::vector<BuildExtension> &extensions()
{
    static std::vector<BuildExtension> list;
    return list;
}

std::map<std::string, MeshWriter> &formats()
{
    static std::map<std::string, MeshWriter> map;
    return map;
}

} // namespace

bool register_build_extension(BuildExtension extension)
{
    extensions().push_back(std::move(extension));
    return true;
}

const std::vector<BuildExtension> &build_extensions() { return extensions(); }

bool register_output_format(const std::string &extension, MeshWriter writer)
{
    const bool added = formats().emplace(ramulon::lower_case(extension), std::move(writer)).second;
    assert(added && "one writer per extension");
    static_cast<void>(added);
    return true;
}

const MeshWriter *find_output_format(const std::string &path)
{
    const std::string ext = ramulon::lower_case(std::filesystem::path(path).extension().string());
    auto it = formats().find(ext);
    return it == formats().end() ? nullptr : &it->second;
}

std::string output_format_list()
{
    std::string list;
    for (const auto &entry : formats())
        list += (list.empty() ? "" : ", ") + entry.first;
    return list;
}

namespace {

// The text as a decimal number (digits, a point, an exponent; no hexadecimal, no words).
std::optional<double> decimal(const std::string &text)
{
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t from = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
            ++i;
        return i - from;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (digits() == 0)
            return std::nullopt;
    }
    if (i != text.size())
        return std::nullopt;
    return host::parse_finite(text);
}

std::string number_text(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::size_t memory_limit = 0;

} // namespace

CLI::Option *add_number_option(CLI::App &app, const std::string &name, double &value, double min, double max,
                               const std::string &help)
{
    const std::string range = "a number from " + number_text(min) + " to " + number_text(max);
    return app
        .add_option_function<std::string>(
            name,
            [&value, name, min, max, range](const std::string &text) {
                const std::optional<double> v = decimal(text);
                if (!v || *v < min || *v > max)
                    throw CLI::ValidationError(name + " takes " + range + ", not " + host::quoted_text(text));
                value = *v;
            },
            help + " (" + range + ")")
        ->type_name("NUMBER");
}

CLI::Option *add_number_option(CLI::App &app, const std::string &name, int &value, int min, int max,
                               const std::string &help)
{
    const bool bounded = min != std::numeric_limits<int>::min() || max != std::numeric_limits<int>::max();
    const std::string range =
        bounded ? "a whole number from " + std::to_string(min) + " to " + std::to_string(max) : "a whole number";
    return app
        .add_option_function<std::string>(
            name,
            [&value, name, min, max, range](const std::string &text) {
                const std::optional<double> v = decimal(text);
                if (!v || *v != static_cast<double>(static_cast<long long>(*v)) || *v < min || *v > max)
                    throw CLI::ValidationError(name + " takes " + range + ", not " + host::quoted_text(text));
                value = static_cast<int>(*v);
            },
            bounded ? help + " (" + range + ")" : help)
        ->type_name("N");
}

std::size_t build_memory_limit() { return memory_limit; }
void set_build_memory_limit(std::size_t bytes) { memory_limit = bytes; }

std::string check_export_memory(const host::Layer &layer, const exporter::WriteOptions &options, bool obj)
{
    const exporter::ExportCost cost =
        exporter::export_cost(layer, options, obj ? exporter::Format::obj : exporter::Format::gltf);
    return driver::check_export_size(cost.bytes, cost.triangles,
                                     driver::export_budget(memory_limit, exporter::layer_bytes(layer))).message();
}

} // namespace cli
