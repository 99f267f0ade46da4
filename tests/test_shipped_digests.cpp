// The shipped presets, each grown by the command line in its crown (samples/presets/crowns.txt),
// give the very bytes recorded for them: the GLB's binary chunk (every position, normal, map
// value and index) and the call journal. The journals of leafy and bare (the built-in crown is
// round_crown.obj) are those the unoptimised reference records for the same presets
// (tests/exactness), as are those of the presets shipped since, in their crowns.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/wait.h>

#include "support/export_files.h"

namespace ramulon {
namespace {

// FNV-1a, 64 bits: enough to tell two multi-megabyte files apart, with their sizes beside it.
std::uint64_t fnv1a(std::string_view bytes)
{
    std::uint64_t h = 14695981039346656037ull;
    for (const unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string digest(std::string_view bytes)
{
    char text[40];
    std::snprintf(text, sizeof text, "%zu:%016llx", bytes.size(),
                  static_cast<unsigned long long>(fnv1a(bytes)));
    return text;
}

std::string read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::uint32_t word(const std::string &bytes, std::size_t at)
{
    std::uint32_t v = 0;
    std::memcpy(&v, bytes.data() + at, sizeof v);
    return v;
}

// The BIN chunk of a GLB: header (12 bytes), the JSON chunk, then the binary one.
std::string_view binary_chunk(const std::string &glb)
{
    if (glb.size() < 20 || word(glb, 0) != 0x46546C67u)
        return {};
    const std::size_t json_end = 20 + word(glb, 12);
    if (json_end + 8 > glb.size() || word(glb, json_end + 4) != 0x004E4942u)
        return {};
    const std::size_t length = word(glb, json_end);
    if (json_end + 8 + length > glb.size())
        return {};
    return std::string_view(glb).substr(json_end + 8, length);
}

// The shipped presets and their crowns, as samples/presets/crowns.txt lists them.
std::vector<std::pair<std::string, std::string>> shipped_crowns()
{
    std::ifstream in(std::string(RAMULON_SOURCE_DIR) + "/samples/presets/crowns.txt");
    std::vector<std::pair<std::string, std::string>> out;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string preset, crown;
        if (words >> preset >> crown && preset[0] != '#')
            out.emplace_back(preset, crown);
    }
    return out;
}

TEST(ShippedPresets, EveryPresetHasItsCrown)
{
    std::set<std::string> files, listed;
    for (const auto &entry : std::filesystem::directory_iterator(std::string(RAMULON_SOURCE_DIR) + "/samples/presets"))
        if (entry.path().extension() == ".preset")
            files.insert(entry.path().stem().string());
    for (const auto &[preset, crown] : shipped_crowns()) {
        listed.insert(preset);
        EXPECT_TRUE(std::filesystem::exists(std::string(RAMULON_SOURCE_DIR) + "/samples/" + crown)) << crown;
        EXPECT_TRUE(std::filesystem::exists(std::string(RAMULON_SOURCE_DIR) + "/samples/presets/" + preset + ".png"))
            << preset;
    }
    EXPECT_EQ(files, listed);
}

struct Shipped {
    const char *preset;
    const char *bin;     // the GLB's binary chunk
    const char *journal; // the call journal
};

TEST(ShippedPresets, GlbBinaryChunkAndJournalKeepTheirBytes)
{
    // Every shipped preset grown in its own crown. The GLBs carry textures with the bark's relief,
    // corner normals round along the tubes, the bark coordinates with their tangents and the wind
    // weights (no wind colours), "bare" (SubD) subdivided twice, triangles and vertices in cache
    // and fetch order; the journals are those of envelope numbers read as their nearest doubles.
    const Shipped cases[] = {
        {"leafy", "25629788:a11040acdea2bac7", "55958796:83dcc6fbc4cc0d6d"},
        {"weeping", "26996096:9093c2c19dc22113", "59938914:27942a307c719552"},
        {"wide", "31846856:8a196c8ccac028f7", "53688773:a4a6dae122ceb6c6"},
        {"bare", "121474816:fb4f1b2deb009aa6", "22482672:a3ea626263f52578"},
        {"oak", "35703180:8b23d94889dd573a", "73777012:518989fc0a177ffb"},
        {"poplar", "22547268:921efeadd2ac7a89", "36322928:e05bfd9a1cd7de3a"},
        {"spruce", "52132660:1dc9ca14d4a0f9bb", "100786218:528838eb85c419c4"},
        {"shrub", "21698940:e7c1c174696a7672", "44987657:3d7bc33421703ddd"},
        {"winter", "15795376:53f0e59707827ace", "30135901:52a5e8b6d4b6f35d"},
        {"mangrove", "22287096:f9ffa39ef212b063", "45876176:589d296aff6370c5"},
    };
    const auto crowns = shipped_crowns();
    ASSERT_EQ(crowns.size(), std::size(cases));
    ScratchDir dir;
    for (std::size_t i = 0; i < crowns.size(); ++i) {
        const Shipped &c = cases[i];
        SCOPED_TRACE(c.preset);
        ASSERT_EQ(crowns[i].first, c.preset);
        const std::string glb = dir.file(std::string(c.preset) + ".glb");
        const std::string journal = dir.file(std::string(c.preset) + ".txt");
        const std::string command = std::string(RAMULON_CLI) + " build --preset " + RAMULON_SOURCE_DIR +
                                    "/samples/presets/" + c.preset + ".preset --background " + RAMULON_SOURCE_DIR +
                                    "/samples/" + crowns[i].second + " --journal " + journal + " --output " + glb +
                                    " > /dev/null";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
        const std::string bytes = read(glb);
        const std::string_view bin = binary_chunk(bytes);
        ASSERT_FALSE(bin.empty()) << "no binary chunk";
        EXPECT_EQ(digest(bin), c.bin);
        EXPECT_EQ(digest(read(journal)), c.journal);
    }
}

} // namespace
} // namespace ramulon
