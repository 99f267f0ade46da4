// Files are never half-written: a preset with its thumbnail, a thumbnail alone, the three export
// formats and the build journal, each written over an earlier file while the disk is full or the
// folder is not ours to write. The earlier files stay byte for byte, no temporary is left behind
// and the writer says it failed.
//
// The full disk is a small file size limit on a child process: a small file system cannot be
// mounted here, and the limit makes the writes fail the same way, part way through the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "export/export.h"
#include "host/files.h"
#include "host/shelf.h"
#include "support/child_process.h"
#include "support/panel_session.h"

namespace ramulon {
namespace {

namespace fs = std::filesystem;

enum class Obstacle { full_disk, no_permission };

const char *name_of(Obstacle o) { return o == Obstacle::full_disk ? "full disk" : "no permission"; }

// Every file in a folder with its bytes.
std::map<std::string, std::string> snapshot(const std::string &folder)
{
    std::map<std::string, std::string> files;
    for (const fs::directory_entry &e : fs::directory_iterator(folder)) {
        std::ifstream in(e.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        files[e.path().filename().string()] = bytes.str();
    }
    return files;
}

// A folder "out" inside a private one; files are written into "out".
struct Folders {
    PresetFolder scratch;
    std::string out = scratch.file("out");
    Folders()
    {
        fs::create_directory(out);
        open_folder(scratch.path);
    }
    ~Folders() { unlock_folder(out); }
    std::string file(const std::string &name) const { return out + "/" + name; }
};

// Runs the writer in a child facing the obstacle. The writer returns its error, empty on
// success. The child exits with 0 when the writer reported a failure, 1 when it claimed
// success, 3 when the obstacle could not be set up.
int write_blocked(Obstacle o, const Folders &folders, const std::function<std::string()> &writer,
                  long size_limit = 100)
{
    if (o == Obstacle::no_permission)
        lock_folder(folders.out);
    const int result = in_child([&] {
        const bool ready = o == Obstacle::full_disk ? limit_file_size(size_limit) : drop_root();
        if (!ready)
            return 3;
        return writer().empty() ? 1 : 0;
    });
    if (o == Obstacle::no_permission)
        open_folder(folders.out);
    return result;
}

// Writes the files once for real, then again under each obstacle with other contents.
void check_writer(const std::string &what,
                  const std::function<std::string(const Folders &, int round)> &writer)
{
    for (Obstacle o : {Obstacle::full_disk, Obstacle::no_permission}) {
        SCOPED_TRACE(what + ", " + name_of(o));
        Folders folders;
        ASSERT_EQ(writer(folders, 0), "") << "the first write succeeds";
        const auto before = snapshot(folders.out);
        ASSERT_FALSE(before.empty());
        EXPECT_EQ(write_blocked(o, folders, [&] { return writer(folders, 1); }), 0)
            << "the blocked write reports its failure (1: it claimed success)";
        EXPECT_EQ(snapshot(folders.out), before) << "earlier files unchanged, no temporaries";
    }
}

class AtomicFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        p.set("Render Type=Polygonal");
        p.set("Branches=20");
    }
    // Builds with a different tree each round so that a rewrite would show.
    void build(int round)
    {
        ASSERT_EQ(p.set("Branches=" + std::to_string(20 + 5 * round)), "");
        ASSERT_EQ(p.build(), "");
    }
    ToolOnPanel p;
};

TEST_F(AtomicFiles, PresetAndThumbnailOnTheShelf)
{
    for (Obstacle o : {Obstacle::full_disk, Obstacle::no_permission}) {
        SCOPED_TRACE(name_of(o));
        Folders folders;
        host::set_shelf_dir(folders.out);
        auto add = [&](int round) -> std::string {
            build(round);
            host::set_preset_name("oak");
            if (!p.click("Add Preset"))
                return "no Add Preset button";
            const host::shelf_addition &a = host::last_addition();
            return a.added ? std::string() : a.error.empty() ? "failed without a reason" : a.error;
        };
        ASSERT_EQ(add(0), "");
        const auto before = snapshot(folders.out);
        ASSERT_EQ(before.size(), 2u);
        // The record (some 600 bytes) fits under the limit, the thumbnail does not: the record
        // must not be replaced on its own.
        EXPECT_LT(before.at("oak.preset").size(), 2048u);
        EXPECT_GT(before.at("oak.png").size(), 2048u);
        EXPECT_EQ(write_blocked(o, folders, [&] { return add(1); }, 2048), 0);
        EXPECT_EQ(snapshot(folders.out), before);
    }
}

TEST_F(AtomicFiles, ThumbnailAlone)
{
    check_writer("thumbnail", [&](const Folders &folders, int round) {
        std::string error;
        const std::string png(4096, static_cast<char>('a' + round));
        host::write_text_file(folders.file("tree.png"), png, error);
        return error;
    });
}

TEST_F(AtomicFiles, Exports)
{
    for (const char *name : {"tree.obj", "tree.gltf", "tree.glb"}) {
        check_writer(name, [&](const Folders &folders, int round) {
            const std::string path = folders.file(name);
            build(round);
            const host::Layer &layer = p.session.mesh().foreground;
            const std::string ext = fs::path(path).extension().string();
            return ext == ".obj"    ? exporter::write_obj(layer, path)
                   : ext == ".gltf" ? exporter::write_gltf(layer, path)
                                    : exporter::write_glb(layer, path);
        });
    }
}

// A file written in place, at offsets and out of order, is what was put where; one left
// unfinished stops the commit, and nothing of the set is left behind.
TEST(StagedFilesInPlace, OffsetsUnfinishedFilesAndCleanUp)
{
    Folders folders;
    std::string error;
    {
        host::StagedFiles files;
        const int file = files.open(folders.file("a.bin"), error);
        ASSERT_GE(file, 0) << error;
        const std::string_view tail[] = {"world", "!"};
        const std::string_view head[] = {"hello "};
        ASSERT_TRUE(files.write_at(file, 6, tail, error)) << error;
        ASSERT_TRUE(files.write_at(file, 0, head, error)) << error;
        ASSERT_TRUE(files.finish(file, error)) << error;
        ASSERT_TRUE(files.commit(error)) << error;
    }
    EXPECT_EQ(snapshot(folders.out), (std::map<std::string, std::string>{{"a.bin", "hello world!"}}));
    {
        host::StagedFiles files;
        ASSERT_TRUE(files.stage(folders.file("b.txt"), std::string("b"), error)) << error;
        const int open = files.open(folders.file("a.bin"), error);
        ASSERT_GE(open, 0) << error;
        EXPECT_FALSE(files.commit(error));
        EXPECT_NE(error.find("a.bin"), std::string::npos) << error;
    }
    EXPECT_EQ(snapshot(folders.out), (std::map<std::string, std::string>{{"a.bin", "hello world!"}}))
        << "the earlier file stays and no temporary is left";
}

TEST_F(AtomicFiles, Journal)
{
    check_writer("journal", [&](const Folders &folders, int round) {
        build(round);
        std::string error;
        p.session.journal().write(folders.file("journal.txt"), error);
        return error;
    });
}

} // namespace
} // namespace ramulon
