// The `ramulon` command line, run as a user runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

#include "support/child_process.h"

namespace ramulon {
namespace {

namespace fs = std::filesystem;

using CliRun = CommandRun;

CliRun ramulon(const std::string &args)
{
    CliRun run;
    const std::string command = std::string(RAMULON_CLI) + " " + args + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        run.output.append(buf, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string read(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "ramulon_cli_XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string file(const std::string &name) const { return dir_ + "/" + name; }
    std::string write(const std::string &name, const std::string &text) const
    {
        std::ofstream(file(name)) << text;
        return file(name);
    }
    std::string dir_;
};

TEST_F(Cli, BuildsTheDefaultTreeAndWritesBothFiles)
{
    const CliRun run = ramulon("build --journal " + file("journal.txt") + " --output " +
                            file("tree.obj"));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("built "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(file("journal.txt")), std::string::npos) << run.output;

    // The journal and the mesh describe the same build.
    std::istringstream journal(read(file("journal.txt")));
    std::istringstream obj(read(file("tree.obj")));
    std::size_t points = 0, polygons = 0, v = 0, fl = 0;
    for (std::string line; std::getline(journal, line);) {
        points += line.rfind("addPoint ", 0) == 0;
        polygons += line.rfind("addFace ", 0) == 0 || line.rfind("addPoly ", 0) == 0;
    }
    for (std::string line; std::getline(obj, line);) {
        v += line.rfind("v ", 0) == 0;
        fl += line.rfind("f ", 0) == 0 || line.rfind("l ", 0) == 0;
    }
    EXPECT_EQ(points, v);
    EXPECT_EQ(polygons, fl);
    EXPECT_NE(run.output.find("built " + std::to_string(v) + " points and " +
                              std::to_string(fl) + " polygons"),
              std::string::npos)
        << run.output;

    // Outputs were renamed into place: no temporary file is left beside them.
    for (const auto &entry : fs::directory_iterator(dir_)) {
        const std::string name = entry.path().filename().string();
        EXPECT_NE(name.rfind("journal.txt.", 0), 0u) << name;
        EXPECT_NE(name.rfind("tree.obj.", 0), 0u) << name;
    }
}

TEST_F(Cli, BadInputFailsWithOneLine)
{
    const std::string lines_only =
        write("lines.obj", "v 0 3 0\nv 1 3 0\nv 1 4 0\nl 1 2\nl 2 3\n");
    const std::string malformed = write("bad.obj", "v 0 3 0\nf 1 2 3\n");
    const std::string not_module = write("fake.so", "text\n");
    struct Case {
        std::string args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"build --background " + file("missing.obj"), "cannot read"},
        {"build --background " + malformed, "bad.obj:2:"},
        {"build --plugin " + file("missing.so"), "cannot load module"},
        {"build --plugin " + not_module, "cannot load module"},
        {"build --generation 10 --plugin " + std::string(RAMULON_MODULE_DIR) + "/RamulonVE11.so",
         "\"LWXPanel 2\""},
        {"build --output " + file("tree.xyz"), "unknown format"},
        {"build --journal " + file("no/such/folder/j.txt"), "cannot write"},
        {"build --set Branches=banana", "ramulon: "},
    };
    for (const Case &c : cases) {
        const CliRun run = ramulon(c.args);
        EXPECT_NE(run.status, 0) << c.args;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.args << "\n" << run.output;
        EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << c.args << "\n" << run.output;
    }

    // Unusual files: a device read without end, a file of /proc, a FIFO nobody writes, a folder.
    const std::string fifo = file("crown.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directories(file("folder.preset"));
    const std::string truncated = write("short.preset", "RAMULON PRESET\n");
    const std::vector<Case> refusals = {
        {"build --background /dev/zero", "cannot read /dev/zero: it is not a regular file"},
        {"build --background /proc/self/mem", "ramulon: cannot read /proc/self/mem: "},
        {"build --background " + fifo, "it is not a regular file"},
        {"build --background " + file(""), "it is a folder"},
        {"build --background " + lines_only, "lines.obj: the file has no faces"},
        {"build --preset " + file("folder.preset"), "cannot read " + file("folder.preset") + ": it is a folder"},
        {"build --preset " + file("missing.preset"), "cannot read " + file("missing.preset") + ": No such file"},
        {"build --preset " + truncated, "short.preset"},
        {"build --set Branches=2000000", "Tree too large: \"Branches\" makes the tree too large to build."},
        {"build --set Branch\\ crookedness=1e308", "the angle is too large"},
        {"preset add ../escape", "preset names may use letters, digits, spaces, - and _ only"},
    };
    for (const Case &c : refusals) {
        const CliRun run = ramulon(c.args);
        EXPECT_NE(run.status, 0) << c.args;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.args << "\n" << run.output;
        EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << c.args << "\n" << run.output;
    }
    // A bad token is echoed short and printable.
    const std::string binary = write("binary.obj", "v 1 2 " + std::string(5000, '\x01') + "\n");
    const CliRun noisy = ramulon("build --background " + binary);
    EXPECT_NE(noisy.output.find("\"" + std::string(40, '?') + "...\""), std::string::npos) << noisy.output;
    EXPECT_LT(noisy.output.size(), 200u);
    // Leniency builds from the fields read so far, with a warning.
    EXPECT_EQ(ramulon("build --lenient --preset " + truncated).status, 0);
}

TEST_F(Cli, OlderHostGenerationsUseTheirModules)
{
    for (const char *generation : {"9", "10"}) {
        const CliRun run = ramulon(std::string("build --generation ") + generation +
                                " --background " + RAMULON_SOURCE_DIR + "/samples/two_lobes.obj");
        EXPECT_EQ(run.status, 0) << generation << ": " << run.output;
    }
    const CliRun bad = ramulon("build --generation 8");
    EXPECT_NE(bad.status, 0);
}

} // namespace
} // namespace ramulon
