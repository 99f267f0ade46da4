// End to end through the command line: skeleton, polygonal and SubD trees of the built-in crown
// with twigs and leaves, under every texture option and the rest of the look (wind colours,
// subdivision, crease angle), and every game-ready option with both compressions, written as
// .glb and .gltf pass the Khronos glTF validator without errors or warnings, and the OBJ comes
// with its materials. Skipped where node or the validator (tools/gltf-validate) is missing.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/export_files.h"

namespace ramulon {
namespace {

const std::string validator_dir = std::string(RAMULON_SOURCE_DIR) + "/tools/gltf-validate";

std::string read_file(const std::string &path)
{
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// Runs a shell command with its output captured; returns its exit status.
int run(const std::string &command, const std::string &log, std::string &output)
{
    const int status = std::system((command + " >" + log + " 2>&1").c_str());
    output = read_file(log);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The validator's summary lines of output: every file free of errors and of warnings. Returns
// how many files it summed up.
int expect_clean(const std::string &output)
{
    std::istringstream lines(output);
    std::string line;
    int files = 0;
    while (std::getline(lines, line))
        if (line.find(" warnings, ") != std::string::npos) {
            EXPECT_NE(line.find(": 0 errors, 0 warnings, "), std::string::npos) << line;
            files += 1;
        }
    return files;
}

bool validator_ready(std::string &why)
{
    if (std::system("node --version >/dev/null 2>&1") != 0) {
        why = "node is not installed";
        return false;
    }
    if (!std::filesystem::exists(validator_dir + "/node_modules/gltf-validator/package.json")) {
        why = "the validator is not installed (tools/gltf-validate/install.sh)";
        return false;
    }
    return true;
}

TEST(ExportValidate, TreesOfEveryRenderTypePassTheValidator)
{
    std::string why;
    if (!validator_ready(why))
        GTEST_SKIP() << why;
    ScratchDir dir;
    std::string files, output;
    // With leaves (random twigs), under every texture option: none, Ramulon's own, a folder of
    // the user's (here Ramulon's own copied there, written by the first builtin run).
    const std::string mine = dir.file("mine");
    std::filesystem::create_directory(mine);
    for (const char *textures : {"builtin", "none", "mine"}) {
        if (textures[0] == 'm')
            for (const char *image : {"bark.png", "bark_normal.png", "leaves.png", "leaf.png"})
                std::filesystem::copy_file(dir.file(std::string("tree1_") + image), mine + "/" + image);
        for (const char *render : {"0", "1", "2"})
            for (const char *ext : {".glb", ".gltf", ".obj"}) {
                if (std::string(ext) == ".obj" && textures[0] != 'b')
                    continue; // the validator reads glTF only
                const std::string name = std::string("tree") + render + (textures[0] == 'b' ? "" : textures);
                const std::string out = dir.file(name + ext);
                const std::string command = std::string(RAMULON_CLI) + " build --set render_type=" + render +
                                            " --set twig_type=5 --textures " +
                                            (textures[0] == 'm' ? mine : std::string(textures)) +
                                            " --output " + out;
                ASSERT_EQ(run(command, dir.file("cli.log"), output), 0) << command << "\n" << output;
                ASSERT_TRUE(std::filesystem::exists(out)) << output;
                if (std::string(ext) != ".obj")
                    files += " " + out;
            }
    }
    // The rest of the look: the wind colour asked for, subdivided tubes, another crease angle.
    for (const char *ext : {".glb", ".gltf"}) {
        const std::string out = dir.file(std::string("look") + ext);
        const std::string command = std::string(RAMULON_CLI) +
                                    " build --set render_type=1 --set twig_type=5 --wind-colours --subdivide 1"
                                    " --crease-angle 30 --output " + out;
        ASSERT_EQ(run(command, dir.file("cli.log"), output), 0) << command << "\n" << output;
        files += " " + out;
    }
    // The OBJ comes with its material library; the skeleton's segments use the default.
    EXPECT_NE(read_file(dir.file("tree0.mtl")).find("newmtl Default"), std::string::npos);
    EXPECT_NE(read_file(dir.file("tree1.mtl")).find("newmtl RM_trunk"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir.file("tree1.bin")));

    const int status = run("node " + validator_dir + "/validate.js" + files, dir.file("validate.log"), output);
    EXPECT_EQ(status, 0) << output;
    // Not a warning either: one summary line per file, each clean.
    EXPECT_EQ(expect_clean(output), 20) << output;
}

// Every combination of the game-ready options (levels, level files, the far card, no compression,
// meshopt or quantised), as .glb and .gltf: every file each writes passes without a warning, the levels' textures and
// the card's picture included.
TEST(ExportValidate, GameReadyOptionsPassTheValidator)
{
    std::string why;
    if (!validator_ready(why))
        GTEST_SKIP() << why;
    ScratchDir dir;
    std::string output;
    int n = 0;
    std::size_t expected = 0;
    for (int combination = 1; combination < 8 * 3; ++combination) {
        const bool levels = combination & 1, files = combination & 2, card = combination & 4;
        const char *compress[] = {"", " --compress", " --compress quantize"};
        const std::string options = std::string(levels ? " --lod 3" : "") + (files ? " --lod-files" : "") +
                                    (card ? " --impostor" : "") + compress[combination / 8];
        for (const char *ext : {".glb", ".gltf"}) {
            const std::string out = dir.file("tree" + std::to_string(n++) + ext);
            const std::string command = std::string(RAMULON_CLI) +
                                        " build --set render_type=1 --set twig_type=5 --output " + out + options;
            ASSERT_EQ(run(command, dir.file("cli.log"), output), 0) << command << "\n" << output;
            expected += 1 + (files ? (levels ? 2 : 0) + (card ? 1 : 0) : 0);
        }
    }
    std::string files;
    std::size_t count = 0;
    for (const std::string &name : dir.entries())
        if (name.ends_with(".glb") || name.ends_with(".gltf")) {
            files += ' ';
            files += dir.file(name);
            ++count;
        }
    EXPECT_EQ(count, expected);
    const int status = run("node " + validator_dir + "/validate.js" + files, dir.file("validate.log"), output);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(expect_clean(output), static_cast<int>(expected)) << output;
}

TEST(ExportValidate, BadOutputPathsFailClearly)
{
    ScratchDir dir;
    std::string output;
    EXPECT_NE(run(std::string(RAMULON_CLI) + " build --output " + dir.file("missing/tree.gltf"),
                  dir.file("cli.log"), output),
              0);
    EXPECT_NE(output.find("cannot write " + dir.file("missing/tree.")), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));

    EXPECT_NE(run(std::string(RAMULON_CLI) + " build --output " + dir.file("tree.stl"),
                  dir.file("cli.log"), output),
              0);
    for (const char *ext : {".glb", ".gltf", ".obj"})
        EXPECT_NE(output.find(ext), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("tree.stl")));
}

} // namespace
} // namespace ramulon
