// The `ramulon` command line, run as a user runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace ramulon {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int status = -1;
    std::string output; // stdout and stderr together
};

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

    // The build's own failure: the tool's two-line message, then the build's error text.
    const CliRun run = ramulon("build --background " + lines_only);
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.output, "Need some polygons in the background layer.\n"
                          "SubD needs to be converted to polygons.\n"
                          "ramulon: build failed: Need something in BG Layer\n");
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
