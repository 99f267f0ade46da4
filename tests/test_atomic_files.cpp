// Files are never half-written: a preset with its thumbnail, a thumbnail alone, the three export
// formats and the build journal, each written over an earlier file while the disk is full or the
// folder is not ours to write. The earlier files stay byte for byte, no temporary is left behind
// and the writer says it failed. A set of files is whole even when its writer is killed part
// way, once the next writer has been in the folder; only regular files are ever replaced.
//
// The full disk is a small file size limit on a child process: a small file system cannot be
// mounted here, and the limit makes the writes fail the same way, part way through the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "export/cancel.h"
#include "export/export.h"
#include "host/files.h"
#include "host/shelf_store.h"
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
        const std::string png(4096, static_cast<char>('a' + round));
        return host::write_text_file(folders.file("tree.png"), png).message();
    });
}

TEST_F(AtomicFiles, Exports)
{
    for (const char *name : {"tree.obj", "tree.gltf", "tree.glb"}) {
        check_writer(name, [&](const Folders &folders, int round) {
            const std::string path = folders.file(name);
            build(round);
            return exporter::write_tree(p.session.mesh().foreground, path).message();
        });
    }
}

// A file written in place, at offsets and out of order, is what was put where; one left
// unfinished stops the commit, and nothing of the set is left behind.
TEST(StagedFilesInPlace, OffsetsUnfinishedFilesAndCleanUp)
{
    Folders folders;
    {
        host::StagedFiles files;
        const ramulon::Result<int> file = files.open(folders.file("a.bin"));
        ASSERT_TRUE(file) << file.error().message;
        const std::string_view tail[] = {"world", "!"};
        const std::string_view head[] = {"hello "};
        EXPECT_EQ(files.write_at(*file, 6, tail).message(), "");
        EXPECT_EQ(files.write_at(*file, 0, head).message(), "");
        EXPECT_EQ(files.finish(*file).message(), "");
        EXPECT_EQ(files.commit().message(), "");
    }
    EXPECT_EQ(snapshot(folders.out), (std::map<std::string, std::string>{{"a.bin", "hello world!"}}));
    {
        host::StagedFiles files;
        EXPECT_EQ(files.stage(folders.file("b.txt"), std::string("b")).message(), "");
        ASSERT_TRUE(files.open(folders.file("a.bin")));
        const ramulon::Status unfinished = files.commit();
        ASSERT_FALSE(unfinished);
        EXPECT_EQ(unfinished.error().kind, ramulon::ErrorKind::io);
        EXPECT_NE(unfinished.message().find("a.bin"), std::string::npos) << unfinished.message();
    }
    EXPECT_EQ(snapshot(folders.out), (std::map<std::string, std::string>{{"a.bin", "hello world!"}}))
        << "the earlier file stays and no temporary is left";
}

// Runs of a megabyte and more go past the page cache in whole blocks, and the bytes around them
// through the file's own handle: a run starting off a block boundary, pieces crossing the
// buffer's and the blocks' edges, a small write continuing the run, a jump to a second run, then
// the gap between and the head written last, as a GLB's header is.
TEST(StagedFilesInPlace, LongRunsLandWhereTheyWereWritten)
{
    constexpr std::size_t mb = host::DirectRun::least_bytes;
    std::string expected(3 * mb + 12345, '\0');
    for (std::size_t i = 0; i < expected.size(); ++i)
        expected[i] = static_cast<char>((i * 2654435761u) >> 24);
    const std::string_view all(expected);
    const auto write = [&](host::StagedFiles &files, int file, std::size_t from, std::size_t to) {
        std::vector<std::string_view> pieces;
        for (std::size_t at = from; at < to; at += 300007)
            pieces.push_back(all.substr(at, std::min<std::size_t>(300007, to - at)));
        return files.write_at(file, from, pieces).message();
    };
    const std::size_t head = 1000, first_end = mb + 450000, continued = first_end + 200000,
                      second = continued + 100000;
    Folders folders;
    {
        host::StagedFiles files;
        const ramulon::Result<int> file = files.open(folders.file("big.bin"));
        ASSERT_TRUE(file) << file.error().message;
        EXPECT_EQ(write(files, *file, head, first_end), "");
        EXPECT_EQ(write(files, *file, first_end, continued), "");
        EXPECT_EQ(write(files, *file, second, expected.size()), "");
        EXPECT_EQ(write(files, *file, continued, second), "");
        EXPECT_EQ(write(files, *file, 0, head), "");
        EXPECT_EQ(files.finish(*file).message(), "");
        EXPECT_EQ(files.commit().message(), "");
    }
    const std::map<std::string, std::string> written = snapshot(folders.out);
    ASSERT_EQ(written.count("big.bin"), 1u);
    EXPECT_EQ(written.at("big.bin").size(), expected.size());
    EXPECT_TRUE(written.at("big.bin") == expected) << "the file differs from the bytes written";
}

TEST_F(AtomicFiles, Journal)
{
    check_writer("journal", [&](const Folders &folders, int round) {
        build(round);
        return p.session.journal().write(folders.file("journal.txt")).message();
    });
}

// ---- what a path names

std::string read_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool is_link(const std::string &path) { return fs::is_symlink(fs::symlink_status(path)); }

// Reads what a FIFO is given within a minute; what arrived by then otherwise.
std::string drain_fifo(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    std::string out;
    if (fd < 0)
        return out;
    pollfd p{fd, POLLIN, 0};
    bool writer_seen = false;
    for (;;) {
        if (::poll(&p, 1, 60000) <= 0)
            break;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            writer_seen = true;
        } else if (n == 0 && writer_seen) {
            break; // the writer closed its end
        } else if (n == 0) {
            std::this_thread::yield(); // no writer yet: hang-up until it opens
            ::usleep(1000);
        }
    }
    ::close(fd);
    return out;
}

TEST(WriteTargets, DevicesAndPipesAreWrittenStraightAndLinksStayLinks)
{
    Folders folders;

    // A link to a device: the device gets the bytes, the link stays.
    const std::string to_null = folders.file("null");
    fs::create_symlink("/dev/null", to_null);
    { const auto written = host::write_text_file(to_null, "journal\n"); ASSERT_TRUE(written) << written.message(); }
    EXPECT_TRUE(is_link(to_null));
    EXPECT_EQ(fs::read_symlink(to_null), "/dev/null");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    // A device of its own (where this machine lets us make one).
    const std::string device = folders.file("device");
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        { const auto written = host::write_text_file(device, std::string(200000, 'j')); ASSERT_TRUE(written) << written.message(); }
        EXPECT_TRUE(fs::is_character_file(device));
    }

    // A FIFO: its reader gets the bytes, and it is still a FIFO.
    const std::string fifo = folders.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = drain_fifo(fifo); });
    { const auto written = host::write_text_file(fifo, "through the pipe\n"); EXPECT_TRUE(written) << written.message(); }
    reader.join();
    EXPECT_EQ(received, "through the pipe\n");
    EXPECT_TRUE(fs::is_fifo(fifo));

    // A link to a regular file: the file is replaced, the link stays; a link to a file not there
    // yet makes it where the link points.
    const std::string real = folders.file("real.txt"), link = folders.file("link.txt");
    std::ofstream(real) << "old";
    fs::create_symlink("real.txt", link);
    { const auto written = host::write_text_file(link, "new"); ASSERT_TRUE(written) << written.message(); }
    EXPECT_TRUE(is_link(link));
    EXPECT_EQ(read_bytes(real), "new");
    const std::string dangling = folders.file("dangling.txt");
    fs::create_symlink("made.txt", dangling);
    { const auto written = host::write_text_file(dangling, "made"); ASSERT_TRUE(written) << written.message(); }
    EXPECT_TRUE(is_link(dangling));
    EXPECT_EQ(read_bytes(folders.file("made.txt")), "made");

    // A folder and a loop of links are refused, in one line that says why.
    fs::create_directory(folders.file("folder"));
    const auto to_folder = host::write_text_file(folders.file("folder"), "x");
    EXPECT_EQ(to_folder.error().kind, ramulon::ErrorKind::invalid_input);
    EXPECT_EQ(to_folder.message(), "cannot write " + folders.file("folder") + ": it is a folder");
    EXPECT_TRUE(fs::is_directory(folders.file("folder")));
    fs::create_symlink("loop_b", folders.file("loop_a"));
    fs::create_symlink("loop_a", folders.file("loop_b"));
    const auto looped = host::write_text_file(folders.file("loop_a"), "x");
    EXPECT_FALSE(looped);
    EXPECT_NE(looped.message().find("symbolic links"), std::string::npos) << looped.message();
    EXPECT_TRUE(is_link(folders.file("loop_a")));
}

class WriteTargetsOfExports : public AtomicFiles {};

// A set of files is written over regular files only: a link to one is followed, a device or a
// FIFO by the name of a set's file is refused before anything is written.
TEST_F(WriteTargetsOfExports, LinksAreFollowedDevicesRefused)
{
    Folders folders;
    build(0);
    const host::Layer &layer = p.session.mesh().foreground;
    fs::create_directory(folders.file("real"));
    fs::create_symlink("real/tree.gltf", folders.file("tree.gltf"));
    ASSERT_EQ(exporter::write_tree(layer, folders.file("tree.gltf")).message(), "");
    EXPECT_TRUE(is_link(folders.file("tree.gltf")));
    EXPECT_GT(fs::file_size(folders.file("real/tree.gltf")), 0u);

    fs::create_symlink("/dev/null", folders.file("null.glb"));
    EXPECT_EQ(exporter::write_tree(layer, folders.file("null.glb")).message(),
              "cannot write " + folders.file("null.glb") + ": it is not a regular file (a written set replaces regular files only)");
    EXPECT_TRUE(is_link(folders.file("null.glb")));
    ASSERT_EQ(::mkfifo(folders.file("pipe.obj").c_str(), 0600), 0);
    EXPECT_NE(exporter::write_tree(layer, folders.file("pipe.obj")).message(), "");
    EXPECT_TRUE(fs::is_fifo(folders.file("pipe.obj")));
}

// ---- sets under a kill

// The names in a folder with the bytes of each regular file.
std::map<std::string, std::string> regular_files(const std::string &folder)
{
    std::map<std::string, std::string> files;
    for (const fs::directory_entry &e : fs::directory_iterator(folder))
        if (e.is_regular_file())
            files[e.path().filename().string()] = read_bytes(e.path().string());
    return files;
}

// A writer killed at every step of its commit leaves a set that the next writer in the folder
// finishes: afterwards every file is the new one, and no temporary or note is left.
TEST_F(AtomicFiles, ASetKilledWhileCommittedIsFinishedByTheNextWriter)
{
    for (const char *name : {"tree.gltf", "tree.obj"}) {
        SCOPED_TRACE(name);
        const auto write = [&](const Folders &folders, int round) {
            build(round);
            const std::string path = folders.file(name);
            return exporter::write_tree(p.session.mesh().foreground, path).message();
        };
        Folders expected;
        ASSERT_EQ(write(expected, 1), "");
        const auto whole = regular_files(expected.out);
        ASSERT_GE(whole.size(), 3u); // the file, its buffer or materials, a texture

        // 1: the note is down; 1 + k: k files renamed.
        for (int step = 1; step <= static_cast<int>(whole.size()) + 1; ++step) {
            SCOPED_TRACE("killed after step " + std::to_string(step));
            Folders folders;
            ASSERT_EQ(write(folders, 0), "");
            const int killed = in_child([&] {
                host::set_commit_step_hook([step](int at) {
                    if (at == step)
                        ::raise(SIGKILL);
                });
                return write(folders, 1).empty() ? 0 : 1;
            });
            ASSERT_EQ(killed, 128 + SIGKILL);
            // The next writer in the folder (a journal, say) finishes the set first.
            { const auto written = host::write_text_file(folders.file("journal.txt"), "next\n"); ASSERT_TRUE(written) << written.message(); }
            auto after = regular_files(folders.out);
            EXPECT_EQ(after.erase("journal.txt"), 1u);
            EXPECT_EQ(after, whole);
            for (const fs::directory_entry &e : fs::directory_iterator(folders.out))
                EXPECT_NE(e.path().filename().string().front(), '.') << e.path();
        }
    }
}

// A writer killed while it writes leaves nothing but the files there were; a temporary a dead
// writer left by name, and a preset note's own temporary, are removed by the next access.
TEST_F(AtomicFiles, KilledWritersLeaveNothingBehind)
{
    Folders folders;
    build(0);
    const host::Layer &layer = p.session.mesh().foreground;
    ASSERT_EQ(exporter::write_tree(layer, folders.file("tree.obj")).message(), "");
    const auto before = regular_files(folders.out);
    const int killed = in_child([&] {
        // The writer's second look: the textures and materials staged, the OBJ text begun.
        int looks = 0;
        exporter::CancelCheck die([&looks] {
            if (++looks == 2)
                ::raise(SIGKILL);
            return false;
        });
        return exporter::write_tree(layer, folders.file("tree.obj")).message().empty() ? 0 : 1;
    });
    ASSERT_EQ(killed, 128 + SIGKILL);
    EXPECT_EQ(snapshot(folders.out), before);

    // Left by name: by a writer on a file system without unnamed files, by an earlier version.
    std::ofstream(folders.file(".tree.obj.ramulon-Ab12Cd")) << "half";
    std::ofstream(folders.file("tree.obj.Xy34Zw")) << "someone else's";
    host::tidy_folder(folders.out);
    EXPECT_FALSE(fs::exists(folders.file(".tree.obj.ramulon-Ab12Cd")));
    EXPECT_TRUE(fs::exists(folders.file("tree.obj.Xy34Zw"))); // not named as ours: not touched

    PresetFolder shelf;
    std::ofstream(shelf.file(".oak.pending.Qw12Er")) << "oak.preset.Ab12Cd\noak.preset\n";
    std::ofstream(shelf.file("oak.preset.Zx98Cv")) << "I4 1\n";
    host::tidy_shelf(shelf.path);
    EXPECT_TRUE(fs::is_empty(shelf.path));
}

// `ramulon build` killed by a signal in the middle of writing its mesh (here: past the file size
// it may write) leaves no temporary beside the target.
TEST(AtomicFilesOfTheCommandLine, AKilledBuildLeavesNoTemporary)
{
    Folders folders;
    const std::string target = folders.file("tree.obj");
    const pid_t pid = fork();
    if (pid == 0) {
        rlimit size{200000, 200000};
        rlimit core{0, 0};
        ::setrlimit(RLIMIT_FSIZE, &size);
        ::setrlimit(RLIMIT_CORE, &core);
        std::signal(SIGXFSZ, SIG_DFL);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        execl(RAMULON_CLI, RAMULON_CLI, "build", "--set", "Render Type=Polygonal", "--output", target.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "status " << status;
    EXPECT_TRUE(fs::is_empty(folders.out));
}

} // namespace
} // namespace ramulon
