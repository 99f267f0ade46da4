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
        ASSERT_EQ(host::write_preset_pair(shelf.path, "victim", "old record", "old png", false).outcome,
                  host::PairWrite::written);
        const int code = in_child([&] {
            host::set_pair_step_hook([&](int step) {
                if (step == kill_at)
                    _exit(42); // as a kill would: nothing after this step runs
            });
            host::write_preset_pair(shelf.path, "victim", "new record", "new png", true);
            return 0;
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
    std::string bytes;
    ASSERT_TRUE(host::read_shelf_file(shelf.path, "birch.png", bytes));
    EXPECT_EQ(bytes, "png");
    // Taken names stay taken; an unnamed preset gets the first free number.
    EXPECT_EQ(host::write_preset_pair(shelf.path, "birch", "r", "p", false).outcome, host::PairWrite::exists);
    EXPECT_EQ(contents(shelf.file("birch.preset")), "record");
    EXPECT_EQ(host::write_preset_pair(shelf.path, "", "r", "p", false).name, "preset-1");
    EXPECT_EQ(host::write_preset_pair(shelf.path, "../out", "r", "p", false).outcome, host::PairWrite::failed);
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
                if (written.outcome == host::PairWrite::written)
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
