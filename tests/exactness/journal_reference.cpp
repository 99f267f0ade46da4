// The unoptimised reference of the exactness cases: this program, the host and the three
// modules it loads are all compiled without optimisation.
//
//     journal_reference CASE FILE        writes the journal of one case
//     journal_reference --check FILE     builds every case, compares with the recorded digests
//     journal_reference --record FILE    writes every case's digest (when a change is meant to
//                                        change trees; commit the file with the reason)
#include <cstdio>
#include <fstream>
#include <string>

#include "journal_cases.h"

namespace {

using namespace exactness;

std::string journal_or_die(const JournalCase &c)
{
    std::string error;
    std::string journal = build_journal_in_child(c, RAMULON_REFERENCE_DIR, RAMULON_SOURCE_DIR, error);
    if (!error.empty()) {
        std::fprintf(stderr, "journal_reference: %s\n", error.c_str());
        std::exit(2);
    }
    return journal;
}

int record(const std::string &path)
{
    std::string text = "# SHA-256 of the build journal of every exactness case, recorded by the\n"
                       "# unoptimised reference (journal_reference --record).\n";
    for (const JournalCase &c : journal_cases())
        text += c.name + " " + sha256_hex(journal_or_die(c)) + "\n";
    std::ofstream out(path, std::ios::binary);
    out << text;
    return out.flush() ? 0 : 2;
}

int check(const std::string &path)
{
    int failures = 0, passed = 0;
    for (const auto &[name, digest] : read_digests(path)) {
        const JournalCase *c = find_case(name);
        if (!c) {
            std::printf("%s: recorded but no longer a case\n", name.c_str());
            ++failures;
            continue;
        }
        const std::string actual = sha256_hex(journal_or_die(*c));
        if (actual != digest) {
            std::printf("%s: the unoptimised build gives %s, recorded %s\n", name.c_str(),
                        actual.c_str(), digest.c_str());
            ++failures;
        } else {
            ++passed;
        }
    }
    std::printf("%d passed, %d failed\n", passed, failures);
    return failures == 0 && passed > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::string(argv[1]) == "--record")
        return record(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--check")
        return check(argv[2]);
    if (argc == 3 && argv[1][0] != '-') {
        const JournalCase *c = find_case(argv[1]);
        if (!c) {
            std::fprintf(stderr, "journal_reference: no case \"%s\"\n", argv[1]);
            return 2;
        }
        std::ofstream out(argv[2], std::ios::binary);
        out << journal_or_die(*c);
        return out.flush() ? 0 : 2;
    }
    std::fprintf(stderr, "usage: journal_reference CASE FILE | --check FILE | --record FILE\n");
    return 2;
}
