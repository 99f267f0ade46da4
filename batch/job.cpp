#include "job.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <sstream>

#include <nlohmann/json.hpp>

#include "driver/tree_budget.h"

namespace batch {

namespace {

using json = nlohmann::ordered_json;
namespace fs = std::filesystem;

// The most variants one job makes: a typo in a seed range should not start a week of builds.
constexpr std::int64_t max_variants = 1000000;

const std::string known_keys[] = {"name",     "crown",     "preset",       "set",
                                  "seed",     "seeds",     "outputs",      "lod",
                                  "lod-files", "impostor", "compress",     "subdivide",
                                  "textures", "crease-angle", "wind-colours", "no-wind-colours",
                                  "generation", "memory-limit"};

std::string known_key_list()
{
    std::string list;
    for (const std::string &key : known_keys)
        list += (list.empty() ? "" : ", ") + key;
    return list;
}

// A job's name becomes part of file names: nothing that leaves the folder or hides the file.
bool valid_name(const std::string &name)
{
    if (name.empty() || name.size() > 100 || name[0] == '.' || name[0] == '-')
        return false;
    return std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '_' || c == '.';
    });
}

std::string path_from(const std::string &base, const std::string &path)
{
    if (path.empty() || base.empty() || fs::path(path).is_absolute())
        return path;
    return (fs::path(base) / path).lexically_normal().string();
}

// A value of "set" as the panel's text: numbers as written in JSON, true/false as on/off.
std::optional<std::string> setting_text(const json &value)
{
    if (value.is_string())
        return value.get<std::string>();
    if (value.is_boolean())
        return value.get<bool>() ? "on" : "off";
    if (value.is_number())
        return value.dump();
    return std::nullopt;
}

std::optional<std::int64_t> whole(const json &value)
{
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9e15)
            return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

struct Reader {
    const json &object;
    std::string error;

    bool fail(const std::string &why)
    {
        if (error.empty())
            error = why;
        return false;
    }
    bool text(const char *key, std::string &out)
    {
        auto it = object.find(key);
        if (it == object.end())
            return true;
        if (!it->is_string())
            return fail(std::string("\"") + key + "\" must be a string");
        out = it->get<std::string>();
        return true;
    }
    bool flag(const char *key, bool &out)
    {
        auto it = object.find(key);
        if (it == object.end())
            return true;
        if (!it->is_boolean())
            return fail(std::string("\"") + key + "\" must be true or false");
        out = it->get<bool>();
        return true;
    }
    bool integer(const char *key, int &out, int low, int high)
    {
        auto it = object.find(key);
        if (it == object.end())
            return true;
        const std::optional<std::int64_t> v = whole(*it);
        if (!v || *v < low || *v > high)
            return fail(std::string("\"") + key + "\" must be a whole number from " + std::to_string(low) +
                        " to " + std::to_string(high));
        out = static_cast<int>(*v);
        return true;
    }
};

bool read_seeds(const json &object, Job &job, std::string &error)
{
    const auto seed = object.find("seed"), seeds = object.find("seeds");
    if (seed != object.end() && seeds != object.end()) {
        error = "give \"seed\" or \"seeds\", not both";
        return false;
    }
    if (seed == object.end() && seeds == object.end()) {
        error = "no seed: give \"seed\": N or \"seeds\": [FIRST, LAST]";
        return false;
    }
    std::optional<std::int64_t> first, last;
    if (seed != object.end()) {
        first = last = whole(*seed);
    } else if (seeds->is_array() && seeds->size() == 2) {
        first = whole((*seeds)[0]);
        last = whole((*seeds)[1]);
    }
    const std::int64_t top = std::numeric_limits<std::int32_t>::max();
    if (!first || !last || *first < 1 || *last > top || *first > *last) {
        error = "seeds must be whole numbers from 1 to " + std::to_string(top) +
                " (\"seed\": N, or \"seeds\": [FIRST, LAST] with FIRST <= LAST)";
        return false;
    }
    if (*last - *first + 1 > max_variants) {
        error = "a job makes at most " + std::to_string(max_variants) + " variants";
        return false;
    }
    job.first_seed = *first;
    job.last_seed = *last;
    return true;
}

bool read_outputs(const json &object, Job &job, std::string &error)
{
    const auto it = object.find("outputs");
    if (it == object.end()) {
        job.outputs = {"glb"};
        return true;
    }
    if (!it->is_array() || it->empty()) {
        error = "\"outputs\" must be a list such as [\"glb\", \"png\"]";
        return false;
    }
    for (const json &output : *it) {
        std::string kind = output.is_string() ? output.get<std::string>() : "";
        if (!kind.empty() && kind[0] == '.')
            kind.erase(0, 1);
        if (std::find(output_kinds.begin(), output_kinds.end(), kind) == output_kinds.end()) {
            error = "unknown output " + output.dump() + " (known: glb, gltf, obj, png, journal)";
            return false;
        }
        if (std::find(job.outputs.begin(), job.outputs.end(), kind) == job.outputs.end())
            job.outputs.push_back(kind);
    }
    return true;
}

} // namespace

bool Job::wants(const std::string &output) const
{
    return std::find(outputs.begin(), outputs.end(), output) != outputs.end();
}

namespace {

std::optional<Job> read_job(const std::string &line, int line_number, const std::string &base, std::string &error)
{
    json parsed = json::parse(line, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        error = "not a JSON object";
        return std::nullopt;
    }
    // Option keys as the command line spells them; underscores are taken too.
    json object = json::object();
    for (auto &[key, value] : parsed.items()) {
        std::string k = key;
        std::replace(k.begin(), k.end(), '_', '-');
        object[k] = value;
    }
    Job job;
    job.line = line_number;
    job.text = line;
    for (const auto &[key, value] : object.items())
        if (std::find(std::begin(known_keys), std::end(known_keys), key) == std::end(known_keys)) {
            error = "unknown key \"" + key + "\" (known: " + known_key_list() + ")";
            return std::nullopt;
        }

    Reader read{object, {}};
    const auto name = object.find("name");
    if (name == object.end() || !name->is_string() || !valid_name(name->get<std::string>())) {
        error = "\"name\" must be a name of letters, digits, -, _ and . (not starting with . or -)";
        return std::nullopt;
    }
    job.name = name->get<std::string>();
    read.text("crown", job.crown);
    read.text("preset", job.preset);
    std::string textures = "builtin", memory;
    read.text("textures", textures);
    read.text("memory-limit", memory);
    bool no_wind = false; // what earlier job files asked for; now the default
    read.flag("lod-files", job.write.level_files);
    read.flag("impostor", job.write.impostor);
    // "compress": true (meshopt), false, or the mode as --compress names it.
    if (auto it = object.find("compress"); it != object.end()) {
        if (it->is_boolean())
            job.write.compress = it->get<bool>() ? exporter::Compression::meshopt : exporter::Compression::none;
        else if (it->is_string() && it->get<std::string>() == "meshopt")
            job.write.compress = exporter::Compression::meshopt;
        else if (it->is_string() && it->get<std::string>() == "quantize")
            job.write.compress = exporter::Compression::quantize;
        else
            read.fail("\"compress\" must be true, false, \"meshopt\" or \"quantize\"");
    }
    read.flag("wind-colours", job.write.look.wind_colours);
    read.flag("no-wind-colours", no_wind);
    read.integer("lod", job.write.levels, 1, exporter::max_levels);
    read.integer("subdivide", job.write.look.subdivide, 0, exporter::max_subdivision);
    read.integer("generation", job.generation, 9, 11);
    if (auto it = object.find("crease-angle"); it != object.end()) {
        if (!it->is_number() || !(it->get<double>() >= 0.0 && it->get<double>() <= 180.0))
            read.fail("\"crease-angle\" must be a number of degrees from 0 to 180");
        else
            job.write.look.crease_angle = it->get<double>();
    }
    if (!read.error.empty()) {
        error = read.error;
        return std::nullopt;
    }
    exporter::choose_textures(job.write.look,
                              textures == "builtin" || textures == "none" ? textures : path_from(base, textures));
    if (!memory.empty()) {
        const std::optional<std::size_t> bytes = driver::parse_memory_size(memory);
        if (!bytes) {
            error = "\"memory-limit\" must be a size such as \"8G\" or \"512M\"";
            return std::nullopt;
        }
        job.memory_limit = *bytes;
    }
    job.crown = path_from(base, job.crown);
    if (job.preset.find('/') != std::string::npos || fs::path(job.preset).extension() == ".preset")
        job.preset = path_from(base, job.preset);

    if (auto set = object.find("set"); set != object.end()) {
        if (!set->is_object()) {
            error = "\"set\" must be an object of parameter names and values";
            return std::nullopt;
        }
        for (const auto &[key, value] : set->items()) {
            const std::optional<std::string> text = setting_text(value);
            if (!text) {
                error = "the value of \"" + key + "\" in \"set\" must be a number, a string or true/false";
                return std::nullopt;
            }
            job.settings.push_back(key + "=" + *text);
        }
    }
    if (!read_seeds(object, job, error) || !read_outputs(object, job, error))
        return std::nullopt;
    if (!job.write.plain() && !job.wants("glb") && !job.wants("gltf")) {
        error = "\"lod\", \"lod-files\", \"impostor\" and \"compress\" need a glb or gltf output";
        return std::nullopt;
    }
    return job;
}

} // namespace

ramulon::Result<Job> parse_job(const std::string &line, int line_number, const std::string &base)
{
    std::string error;
    if (std::optional<Job> job = read_job(line, line_number, base, error))
        return std::move(*job);
    return ramulon::fail(ramulon::ErrorKind::invalid_input, error);
}

JobFile parse_jobs(const std::string &text, const std::string &base)
{
    JobFile file;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        if (ramulon::Result<Job> job = parse_job(line, number, base))
            file.jobs.push_back(std::move(job).value());
        else
            file.errors.emplace_back(number, job.error().message);
    }
    return file;
}

std::string variant_name(const Job &job, std::int64_t seed) { return job.name + "-" + std::to_string(seed); }

std::vector<std::string> variant_files(const Job &job, std::int64_t seed)
{
    std::vector<std::string> files;
    for (const std::string &output : job.outputs)
        files.push_back(variant_name(job, seed) + "." + output);
    return files;
}

} // namespace batch
