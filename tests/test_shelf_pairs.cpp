// The shelf folder as two processes and a crash see it: a preset and its thumbnail are one unit,
// a name is created by one writer only, and what a dead writer left behind is finished or
// removed by the next access. Shelves written before (NAME.preset beside NAME.png) still load.
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "host/shelf_store.h"
#include "support/child_process.h"
#include "support/panel_session.h"

namespace ramulon {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::set<std::string> files_in(const fs::path &dir)
{
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(ShelfPairs, AKillAtEveryStepLeavesOnePairWhole)
{
    for (int kill_at = 1; kill_at <= 6; ++kill_at) {
        SCOPED_TRACE("killed after step " + std::to_string(kill_at));
        PresetFolder shelf;
        ASSERT_EQ(host::write_preset_pair(shelf.path, "victim", "old record", "old png", false)->outcome,
                  host::PairWrite::written);
        const int code = in_child([&] {
            host::set_pair_step_hook([&](int step) {
                if (step == kill_at)
                    _exit(42); // as a kill would: nothing after this step runs
            });
            return host::write_preset_pair(shelf.path, "victim", "new record", "new png", true) ? 0 : 1;
        });
        ASSERT_EQ(code, 42);
        // The next access finds either pair whole, never one of each, and nothing else.
        EXPECT_EQ(host::shelf_names(shelf.path), std::vector<std::string>{"victim"});
        const std::string record = contents(shelf.file("victim.preset"));
        const std::string png = contents(shelf.file("victim.png"));
        EXPECT_EQ(record.substr(0, 3), png.substr(0, 3)) << record << " / " << png;
        EXPECT_EQ(record.substr(0, 3), kill_at < 3 ? "old" : "new");
        EXPECT_EQ(files_in(shelf.path), (std::set<std::string>{"victim.png", "victim.preset"}));
    }
}

TEST(ShelfPairs, StaleTemporariesAreSweptAndOtherFilesKept)
{
    PresetFolder shelf;
    for (const char *name : {"oak.preset.Ab12Cd", "oak.png.ZZZZZZ", "oak.preset.Ab12Cd.old", ".oak.pending"})
        std::ofstream(shelf.file(name)) << "left by a dead writer";
    std::ofstream(shelf.file("notes.txt")) << "mine";
    std::ofstream(shelf.file("oak.preset.bak")) << "mine too";
    host::tidy_shelf(shelf.path);
    EXPECT_EQ(files_in(shelf.path), (std::set<std::string>{"notes.txt", "oak.preset.bak"}));
}

TEST(ShelfPairs, ShelvesOfTheEarlierLayoutLoad)
{
    PresetFolder shelf;
    std::ofstream(shelf.file("birch.preset")) << "record";
    std::ofstream(shelf.file("birch.png")) << "png";
    EXPECT_EQ(host::shelf_names(shelf.path), std::vector<std::string>{"birch"});
    EXPECT_EQ(host::read_shelf_file(shelf.path, "birch.png").value(), "png");
    EXPECT_EQ(host::read_shelf_file(shelf.path, "aspen.png").error().kind, ramulon::ErrorKind::not_found);
    // Taken names stay taken; an unnamed preset gets the first free number.
    EXPECT_EQ(host::write_preset_pair(shelf.path, "birch", "r", "p", false)->outcome, host::PairWrite::exists);
    EXPECT_EQ(contents(shelf.file("birch.preset")), "record");
    EXPECT_EQ(host::write_preset_pair(shelf.path, "", "r", "p", false)->name, "preset-1");
    const auto outside = host::write_preset_pair(shelf.path, "../out", "r", "p", false);
    ASSERT_FALSE(outside);
    EXPECT_EQ(outside.error().kind, ramulon::ErrorKind::invalid_input);
    EXPECT_EQ(outside.error().message, "\"../out\" cannot name a preset: " + std::string(host::preset_name_rule));
    // Taking a pair off: gone at once; a name not on the shelf is not found.
    ASSERT_EQ(host::remove_preset_pair(shelf.path, "preset-1").message(), "");
    EXPECT_EQ(host::shelf_names(shelf.path), std::vector<std::string>{"birch"});
    EXPECT_EQ(host::remove_preset_pair(shelf.path, "preset-1").error().kind, ramulon::ErrorKind::not_found);
}

// A writer of the earlier shelf layout that died after putting down its note (.NAME.pending,
// a file name a line) left both renames to do: the next access does them, whatever the order
// it finds the files in, and the pair it finds is the new one whole.
TEST(ShelfPairs, NotesOfTheEarlierLayoutAreFinished)
{
    PresetFolder shelf;
    std::ofstream(shelf.file("elm.preset")) << "old record";
    std::ofstream(shelf.file("elm.png")) << "old png";
    std::ofstream(shelf.file("elm.preset.Qw12Er")) << "new record";
    std::ofstream(shelf.file("elm.png.Ty34Ui")) << "new png";
    std::ofstream(shelf.file(".elm.pending")) << "elm.preset.Qw12Er\nelm.preset\nelm.png.Ty34Ui\nelm.png\n";
    // A note that names something outside the shelf is not followed.
    std::ofstream(shelf.file("ash.preset.Op56As")) << "stray";
    std::ofstream(shelf.file(".ash.pending")) << "ash.preset.Op56As\n../ash.preset\n";

    EXPECT_EQ(host::shelf_names(shelf.path), std::vector<std::string>{"elm"});
    EXPECT_EQ(contents(shelf.file("elm.preset")), "new record");
    EXPECT_EQ(contents(shelf.file("elm.png")), "new png");
    EXPECT_EQ(files_in(shelf.path), (std::set<std::string>{"elm.png", "elm.preset"}));
    EXPECT_FALSE(fs::exists(fs::path(shelf.path).parent_path() / "ash.preset"));
}

// Two processes add the same names at once without overwriting: each name is created by one
// of them, and its pair is that one's.
TEST(ShelfPairs, TwoWritersNeverShareAName)
{
    PresetFolder shelf;
    constexpr int names = 60;
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = fork();
        ASSERT_GE(writers[w], 0);
        if (writers[w] == 0) {
            std::ofstream created(shelf.file("created-by-" + std::to_string(w) + ".txt"));
            for (int n = 0; n < names; ++n) {
                const std::string mark = "writer " + std::to_string(w);
                const auto written = host::write_preset_pair(shelf.path, "tree-" + std::to_string(n), mark, mark, false);
                if (written && written->outcome == host::PairWrite::written)
                    created << n << "\n";
            }
            created.close();
            _exit(0);
        }
    }
    for (pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::map<int, int> creator;
    for (int w = 0; w < 2; ++w)
        for (const std::string &line : file_lines(shelf.file("created-by-" + std::to_string(w) + ".txt")))
            EXPECT_TRUE(creator.emplace(std::stoi(line), w).second) << "tree-" << line << " created twice";
    ASSERT_EQ(creator.size(), static_cast<std::size_t>(names));
    for (const auto &[n, w] : creator) {
        const std::string name = shelf.file("tree-" + std::to_string(n));
        EXPECT_EQ(contents(name + ".preset"), "writer " + std::to_string(w));
        EXPECT_EQ(contents(name + ".png"), "writer " + std::to_string(w));
    }
}

} // namespace
} // namespace ramulon
