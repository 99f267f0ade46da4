// The jobs of `ramulon batch`: one JSON object a line, each naming a tree and the seeds of its
// variants. A variant is one tree: the job's crown, preset and settings with `random_seed` set to
// one of the seeds, written as DIR/NAME-SEED.EXT for each output the job asks for.
//
//     {"name": "oak", "preset": "samples/presets/leafy.preset", "seeds": [1, 50], "outputs": ["glb", "png"]}
//     {"name": "birch", "crown": "tall_crown.obj", "set": {"Branches": 300, "Twig/Type": "random"},
//      "seed": 7, "outputs": ["obj", "journal"], "subdivide": 1, "textures": "none"}
//
// Relative paths are taken from the folder of the job file. The glTF-only options (lod,
// lod-files, impostor, compress) shape the glb and gltf outputs; an obj output is written as
// `ramulon build` writes it without them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "export/export.h"

namespace batch {

struct Job {
    int line = 0;           // 1-based line of the job file
    std::string text;       // the line as written
    std::string name;
    std::string crown;      // empty: the built-in crown
    std::string preset;     // a .preset file or a shelf name; empty: none
    std::vector<std::string> settings; // NAME=VALUE, in the order of the job's "set"
    std::int64_t first_seed = 0, last_seed = 0;
    std::vector<std::string> outputs; // "glb", "gltf", "obj", "png", "journal"
    exporter::WriteOptions write;
    int generation = 11;
    std::size_t memory_limit = 0; // 0: the available memory less a margin

    bool wants(const std::string &output) const;
    std::int64_t variants() const { return last_seed - first_seed + 1; }
};

// The outputs a job may ask for.
inline const std::vector<std::string> output_kinds = {"glb", "gltf", "obj", "png", "journal"};

// Reads one line (its number for messages; base: the folder relative paths start from). The only
// error condition is a broken line (invalid_input, one line saying what is wrong with it).
ramulon::Result<Job> parse_job(const std::string &line, int line_number, const std::string &base);

struct JobFile {
    std::vector<Job> jobs;
    std::vector<std::pair<int, std::string>> errors; // (line, message) of every broken line
};
// Every line of a job file's text; blank lines and lines starting with # are skipped.
JobFile parse_jobs(const std::string &text, const std::string &base);

// "oak-7"
std::string variant_name(const Job &job, std::int64_t seed);
// The files a variant writes that show it is there: NAME-SEED.EXT for each output.
std::vector<std::string> variant_files(const Job &job, std::int64_t seed);

} // namespace batch
