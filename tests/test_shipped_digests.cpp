// The shipped presets grown by the command line give the very bytes they gave before the host's
// storage and writers were rebuilt: the GLB's binary chunk (every position, normal, map value
// and index) and the call journal. The journals are those the unoptimised reference records for
// the same presets (tests/exactness); the earlier storage and writers gave the same GLB bytes
// for the same calls.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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

struct Shipped {
    const char *preset;
    const char *bin;     // the GLB's binary chunk
    const char *journal; // the call journal
};

TEST(ShippedPresets, GlbBinaryChunkAndJournalKeepTheirBytes)
{
    const Shipped cases[] = {
        // The GLBs carry textures with the bark's relief, corner normals round along the tubes,
        // the bark coordinates with their tangents and the wind weights (no wind colours), "bare"
        // (SubD) subdivided twice, triangles and vertices in cache and fetch order;
        // the journals are those of envelope numbers read as their nearest doubles.
        {"bare", "121474816:fb4f1b2deb009aa6", "22482672:a3ea626263f52578"},
        {"leafy", "25629788:a11040acdea2bac7", "55958796:83dcc6fbc4cc0d6d"},
        {"weeping", "14521148:60ae07c63f86318d", "26787821:a0fd38ee05fe3cac"},
        {"wide", "33054852:d2cddfa0f53edd6f", "55919171:ec5a8b8d6517b7ea"},
    };
    ScratchDir dir;
    for (const Shipped &c : cases) {
        SCOPED_TRACE(c.preset);
        const std::string glb = dir.file(std::string(c.preset) + ".glb");
        const std::string journal = dir.file(std::string(c.preset) + ".txt");
        const std::string command = std::string(RAMULON_CLI) + " build --preset " + RAMULON_SOURCE_DIR +
                                    "/samples/presets/" + c.preset + ".preset --journal " + journal +
                                    " --output " + glb + " > /dev/null";
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
