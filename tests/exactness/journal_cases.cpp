#include "journal_cases.h"

#include <fstream>
#include <sstream>

#include <openssl/evp.h>
#include <sys/wait.h>
#include <unistd.h>

#include "driver/tool_setup.h"
#include "host/shelf.h"

namespace exactness {
namespace {

std::vector<JournalCase> make_cases()
{
    const std::string polygonal = "Render Type=Polygonal";
    // Twigs and leaves on a smaller tree: every twig type and leaf shape is exercised without
    // writing a whole leafy tree each time.
    const std::string small = "Branches=60";
    std::vector<JournalCase> cases = {
        {"skeleton", 11, "", "", {}},
        {"polygonal", 11, "", "", {polygonal}},
        {"subd", 11, "", "", {"Render Type=SubD"}},
        {"module10_polygonal", 10, "", "", {polygonal, "Twig/Type=random"}},
        {"module9_polygonal", 9, "", "", {polygonal, "Twig/Type=random"}},
        {"module9_skeleton", 9, "samples/tall_crown.obj", "", {}},
        {"roots", 11, "", "", {polygonal, "Number of roots=8", "Roots Gravity=0.6"}},
        {"two_trunks", 11, "samples/two_lobes.obj", "", {polygonal, "Trunks=2", "Sort branches=1"}},
        {"relative_spacing", 11, "samples/tall_crown.obj", "tests/data/relative_spacing.preset", {}},
        {"digits16_polygonal", 11, "tests/data/ellipsoid_16_digits.obj", "", {polygonal, "Twig/Type=up"}},
        {"digits17_subd", 11, "tests/data/lobes_17_digits.obj", "", {"Render Type=SubD", "Twig/Type=side"}},
        {"digits17_skeleton", 10, "tests/data/lobes_17_digits.obj", "", {"Trunks=2"}},
    };
    for (const char *twig : {"up", "down", "horizontal", "branch", "random", "side"})
        cases.push_back({std::string("twig_") + twig, 11, "", "",
                         {polygonal, small, std::string("Twig/Type=") + twig}});
    const char *shapes[] = {"none", "one poly", "two polys", "rhombus", "three polys", "rhombus2"};
    for (const char *shape : shapes) {
        std::string name = std::string("leaf_") + shape;
        for (char &ch : name)
            if (ch == ' ')
                ch = '_';
        cases.push_back({name, 11, "samples/flat_crown.obj", "",
                         {polygonal, small, "Twig/Type=random", std::string("Leaf/Shape=") + shape}});
    }
    // The first shipped presets in the built-in crown; weeping as first shipped, whose limbs
    // reach upward, is kept for its journal.
    for (const char *preset : {"leafy", "weeping", "wide", "bare"})
        cases.push_back({std::string("preset_") + preset, 11, "",
                         std::string(preset) == "weeping" ? std::string("tests/data/weeping_upright.preset")
                                                          : std::string("samples/presets/") + preset + ".preset",
                         {}});
    // The presets shipped since, each in its own crown (samples/presets/crowns.txt).
    const std::pair<const char *, const char *> grown[] = {
        {"weeping", "weeping_crown"}, {"oak", "broad_crown"},   {"poplar", "slender_crown"}, {"spruce", "cone_crown"},
        {"shrub", "shrub_crown"},     {"winter", "vase_crown"}, {"mangrove", "round_crown"},
    };
    for (const auto &[preset, crown] : grown)
        cases.push_back({std::string("shipped_") + preset, 11, std::string("samples/") + crown + ".obj",
                         std::string("samples/presets/") + preset + ".preset", {}});
    return cases;
}

std::string module_name(int generation)
{
    return generation == 9 ? "RamulonLW9.so" : generation == 10 ? "RamulonDO10.so" : "RamulonVE11.so";
}

} // namespace

const std::vector<JournalCase> &journal_cases()
{
    static const std::vector<JournalCase> cases = make_cases();
    return cases;
}

const JournalCase *find_case(const std::string &name)
{
    for (const JournalCase &c : journal_cases())
        if (c.name == name)
            return &c;
    return nullptr;
}

std::string build_journal(const JournalCase &c, const std::string &module_dir,
                          const std::string &source_dir, std::string &error)
{
    driver::ToolOptions options;
    options.plugin = module_dir + "/" + module_name(c.generation);
    options.generation = c.generation;
    if (!c.crown.empty())
        options.background = source_dir + "/" + c.crown;
    options.settings = c.settings;

    host::Session session;
    session.set_journal(true);
    error = driver::load_background(session, options).message();
    if (error.empty())
        error = driver::open_tool(session, options).message();
    if (error.empty() && !c.preset.empty()) {
        const host::preset_application applied = host::apply_preset(source_dir + "/" + c.preset);
        if (!applied.applied || !applied.problem.empty())
            error = applied.problem;
    }
    if (error.empty())
        error = driver::apply_settings(session, options.settings).message();
    if (error.empty())
        if (const auto built = session.build(); !built)
            error = "build failed: " + built.message();
    if (!error.empty()) {
        error = c.name + ": " + error;
        return {};
    }
    return session.journal().text();
}

std::string build_journal_in_child(const JournalCase &c, const std::string &module_dir,
                                   const std::string &source_dir, std::string &error)
{
    int fds[2];
    if (pipe(fds) != 0) {
        error = c.name + ": no pipe for the child";
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string child_error;
        const std::string journal = build_journal(c, module_dir, source_dir, child_error);
        // 'J' and the journal, or 'E' and the error.
        const std::string message = child_error.empty() ? "J" + journal : "E" + child_error;
        for (std::size_t done = 0; done < message.size();) {
            const ssize_t n = write(fds[1], message.data() + done, message.size() - done);
            if (n <= 0)
                _exit(1);
            done += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string message;
    char buffer[1 << 16];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        message.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        message.empty()) {
        error = c.name + ": the build ended abnormally";
        return {};
    }
    if (message[0] == 'E') {
        error = message.substr(1);
        return {};
    }
    return message.substr(1);
}

std::string sha256_hex(const std::string &text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < size; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> read_digests(const std::string &path)
{
    std::vector<std::pair<std::string, std::string>> digests;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, digest;
        if (!(fields >> name >> digest) || name[0] == '#')
            continue;
        digests.emplace_back(name, digest);
    }
    return digests;
}

FirstDifference first_difference(const std::string &expected, const std::string &actual)
{
    std::istringstream a(expected), b(actual);
    std::string la, lb;
    for (std::size_t line = 1;; ++line) {
        const bool more_a = static_cast<bool>(std::getline(a, la));
        const bool more_b = static_cast<bool>(std::getline(b, lb));
        if (!more_a && !more_b)
            return {};
        if (!more_a)
            la.clear();
        if (!more_b)
            lb.clear();
        if (more_a != more_b || la != lb)
            return {line, la, lb};
    }
}

} // namespace exactness
