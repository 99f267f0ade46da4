// What `ramulon build` refuses before it writes: export options that are no number in range,
// a far card of a skeleton, an export that would need more memory than the build may use,
// texture files that are no texture (and say why), and preset text with control bytes, echoed
// only as the OBJ loader echoes a file. Every refusal is one line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "export/materials/textures.h"
#include "support/child_process.h"
#include "support/export_files.h"

namespace ramulon {
namespace {

namespace fs = std::filesystem;

CommandRun ramulon(const std::vector<std::string> &arguments, long address_space = 0)
{
    return run_command_line(arguments, address_space);
}

TEST(ExportOptions, NumbersAreDecimalAndInRangeAndRefusedInOneLine)
{
    ScratchDir dir;
    const std::string glb = dir.file("tree.glb");
    const struct {
        std::vector<std::string> arguments;
        std::string said;
    } cases[] = {
        {{"--crease-angle", "nan"}, "ramulon: --crease-angle takes a number from 0 to 180, not \"nan\""},
        {{"--crease-angle", "0x10"}, "ramulon: --crease-angle takes a number from 0 to 180, not \"0x10\""},
        {{"--crease-angle", "60deg"}, "ramulon: --crease-angle takes a number from 0 to 180, not \"60deg\""},
        {{"--crease-angle", "181"}, "ramulon: --crease-angle takes a number from 0 to 180, not \"181\""},
        {{"--subdivide", "0x2"}, "ramulon: --subdivide takes a whole number from 0 to 4, not \"0x2\""},
        {{"--subdivide", "1.5"}, "ramulon: --subdivide takes a whole number from 0 to 4, not \"1.5\""},
        {{"--lod", "0x2"}, "ramulon: --lod takes a whole number, not \"0x2\""},
        {{"--no-such-option"}, "ramulon: The following argument was not expected: --no-such-option"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> arguments{"build", "--output", glb};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const CommandRun run = ramulon(arguments);
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_EQ(run.output, c.said + "\n");
    }
    EXPECT_TRUE(dir.entries().empty());
    // Taken: decimals of every form; help is no mistake.
    EXPECT_EQ(ramulon({"build", "--crease-angle", "45.5", "--subdivide", "1", "--output", glb}).status, 0);
    EXPECT_EQ(ramulon({"build", "--crease-angle", "1e1", "--output", glb}).status, 0);
    const CommandRun help = ramulon({"build", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--crease-angle"), std::string::npos);
}

// A far card pictures surfaces: a skeleton is refused before it grows (here the build itself
// would have been refused, and is not reached).
TEST(ExportOptions, TheFarCardOfASkeletonIsRefusedBeforeTheBuild)
{
    ScratchDir dir;
    const CommandRun run = ramulon({"build", "--impostor", "--memory-limit", "1K", "--journal", dir.file("journal.txt"),
                             "--output", dir.file("tree.glb")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "ramulon: cannot write " + dir.file("tree.glb") +
                              ": --impostor pictures the tree's surfaces and this tree has none (a skeleton build is "
                              "lines only)\n");
    EXPECT_TRUE(dir.entries().empty());
}

// An export is priced before it is written: under an address-space limit the leafy demo grows,
// and its tubes subdivided four times (some 6 GB) are refused at once with the estimate instead
// of running out of memory part way.
TEST(ExportBudget, AnExportBeyondTheMemoryIsRefusedAtOnceWithTheEstimate)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#else
    ScratchDir dir;
    const std::string leafy = std::string(RAMULON_SOURCE_DIR) + "/samples/presets/leafy.preset";
    const CommandRun run = ramulon({"build", "--preset", leafy, "--subdivide", "4", "--output", dir.file("tree.glb")},
                            1536l << 20);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(run.output.rfind("ramulon: Export too large: writing the tree would need about ", 0), 0u) << run.output;
    EXPECT_NE(run.output.find(" GB ("), std::string::npos) << run.output;
    EXPECT_EQ(run.lines(), 1u) << run.output;
    EXPECT_TRUE(dir.entries().empty());
    // The same tree and its plain export fit.
    EXPECT_EQ(ramulon({"build", "--preset", leafy, "--output", dir.file("tree.glb")}, 1536l << 20).status, 0);
#endif
}

// ---- texture folders

std::string load(const std::string &folder)
{
    auto set = exporter::load_textures(exporter::TextureChoice::folder, folder);
    return set ? std::string() : set.error().message;
}

// A folder with the built-in leaves.png and leaf.png, and bark.png as the test makes it.
struct TextureFolder {
    ScratchDir dir;
    std::string folder = dir.file("mine");
    std::string bark = folder + "/bark.png";
    TextureFolder()
    {
        fs::create_directory(folder);
        std::ofstream(folder + "/leaves.png", std::ios::binary) << exporter::builtin_textures().leaves;
        std::ofstream(folder + "/leaf.png", std::ios::binary) << exporter::builtin_textures().leaf;
    }
};

TEST(TextureFolders, WhatIsNoTextureSaysWhy)
{
    TextureFolder t;
    EXPECT_EQ(load(t.folder), "texture folder " + t.folder + " has no bark.png");

    ASSERT_EQ(mkfifo(t.bark.c_str(), 0600), 0);
    EXPECT_EQ(load(t.folder), "cannot read " + t.bark + ": it is not a regular file");
    fs::remove(t.bark);

    fs::create_directory(t.bark);
    EXPECT_EQ(load(t.folder), "cannot read " + t.bark + ": it is a folder");
    fs::remove(t.bark);

    fs::create_symlink("/dev/zero", t.bark);
    EXPECT_EQ(load(t.folder), "cannot read " + t.bark + ": it is not a regular file");
    fs::remove(t.bark);

    fs::create_symlink("bark.png", t.bark);
    EXPECT_EQ(load(t.folder), "cannot read " + t.bark + ": Too many levels of symbolic links");
    fs::remove(t.bark);

    std::ofstream(t.bark, std::ios::binary) << exporter::builtin_textures().bark;
    EXPECT_EQ(load(t.folder), "");
    // Not ours to read, as a user other than root sees it.
    open_folder(t.dir.path());
    open_folder(t.folder);
    fs::permissions(t.bark, fs::perms::none);
    EXPECT_EQ(in_child([&] {
                  if (!drop_root())
                      return 3;
                  return load(t.folder) == "cannot read " + t.bark + ": Permission denied" ? 0 : 1;
              }),
              0);
    fs::permissions(t.folder, fs::perms::none); // the folder itself closed to us
    EXPECT_EQ(in_child([&] {
                  if (!drop_root())
                      return 3;
                  return load(t.folder) == "cannot read " + t.bark + ": Permission denied" ? 0 : 1;
              }),
              0);
    fs::permissions(t.folder, fs::perms::owner_all);
}

// A PNG header of the given size and bit depth, RGBA, with a few bytes of image data: all a
// reader sees before it decodes.
[[maybe_unused]] std::string png_header(std::uint32_t width, std::uint32_t height, unsigned char depth)
{
    std::string png("\x89PNG\r\n\x1a\n", 8);
    const auto be32 = [&png](std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            png += static_cast<char>((v >> shift) & 0xff);
    };
    be32(13);
    png += "IHDR";
    be32(width);
    be32(height);
    png += static_cast<char>(depth);
    png += static_cast<char>(6); // RGBA
    png += std::string(3, '\0');
    be32(0); // the checksum, which readers of the header do not check
    be32(16);
    png += "IDAT";
    png += std::string("\x78\x01", 2) + std::string(14, '\0');
    be32(0);
    return png;
}

// The size of the file and the header's dimensions and depth are looked at before anything is
// read whole or decoded: under an address-space limit, a 16 GB file (sparse: it takes no disk)
// and a 16-bit image of 8192 x 8192 pixels (1 GB to decode) are refused, naming the limit.
TEST(TextureFolders, LimitsAreCheckedBeforeReadingAndDecoding)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit leaves";
#else
    TextureFolder t;
    {
        std::ofstream(t.bark, std::ios::binary) << png_header(512, 512, 8);
        fs::resize_file(t.bark, std::uintmax_t(16) << 30);
    }
    EXPECT_EQ(in_child([&] {
                  if (!limit_memory_growth(64l << 20))
                      return 3;
                  return load(t.folder) == "cannot read " + t.bark + ": it is larger than 256 MB" ? 0 : 1;
              }),
              0);
    std::ofstream(t.bark, std::ios::binary | std::ios::trunc) << png_header(8192, 8192, 16);
    EXPECT_EQ(in_child([&] {
                  if (!limit_memory_growth(64l << 20))
                      return 3;
                  return load(t.folder) == t.bark + " has 16 bits a channel, more than the 8 a texture may have" ? 0 : 1;
              }),
              0);
#endif
}

// ---- presets

// A preset's bad line is echoed quoted and printable: no escape sequence, bell or carriage
// return reaches the terminal.
TEST(PresetMessages, ControlBytesAreNotEchoed)
{
    ScratchDir dir;
    const std::string preset = dir.file("bad.preset");
    std::ofstream(preset, std::ios::binary) << "I4 12\x1b]0;owned\x07\x1b[2J\rX\n";
    const CommandRun run = ramulon({"build", "--preset", preset});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output.find_first_of("\x1b\x07\r"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\"12?]0;owned??[2J?X\" is no 32-bit integer"), std::string::npos) << run.output;
    EXPECT_EQ(run.lines(), 1u);
}

} // namespace
} // namespace ramulon
