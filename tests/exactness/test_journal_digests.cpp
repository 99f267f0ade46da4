// One tree, every build: the journal of every exactness case, built by this build's modules,
// has the digest recorded from the unoptimised reference. A mismatch names the case and the
// first journal line that differs from the reference's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "journal_cases.h"

namespace exactness {
namespace {

const std::string digests_file = std::string(RAMULON_SOURCE_DIR) + "/tests/exactness/journal_digests.txt";

std::map<std::string, std::string> recorded()
{
    std::map<std::string, std::string> map;
    for (const auto &[name, digest] : read_digests(digests_file))
        map[name] = digest;
    return map;
}

// The reference's journal of a case, written by the unoptimised program in a child process.
std::string reference_journal(const std::string &name)
{
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("ramulon-reference-" + name + ".txt");
    const std::string command =
        std::string("'") + RAMULON_JOURNAL_REFERENCE + "' '" + name + "' '" + file.string() + "'";
    if (std::system(command.c_str()) != 0)
        return "(the reference could not build the case)";
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::filesystem::remove(file);
    return text.str();
}

TEST(JournalDigests, EveryCaseIsRecordedOnce)
{
    const auto digests = read_digests(digests_file);
    std::map<std::string, int> seen;
    for (const auto &[name, digest] : digests) {
        EXPECT_EQ(++seen[name], 1) << name << " is recorded twice";
        EXPECT_NE(find_case(name), nullptr) << name << " is recorded but no longer a case";
        EXPECT_EQ(digest.size(), 64u) << name;
    }
    for (const JournalCase &c : journal_cases())
        EXPECT_EQ(seen.count(c.name), 1u) << c.name << " has no recorded digest";
}

class SameTree : public testing::TestWithParam<std::string> {};

TEST_P(SameTree, InThisBuildAsInTheUnoptimisedOne)
{
    const JournalCase &c = *find_case(GetParam());
    std::string error;
    const std::string journal = build_journal_in_child(c, RAMULON_MODULE_DIR, RAMULON_SOURCE_DIR, error);
    ASSERT_TRUE(error.empty()) << error;
    const std::string digest = sha256_hex(journal);
    const auto expected = recorded();
    const auto it = expected.find(c.name);
    ASSERT_NE(it, expected.end()) << c.name << " has no recorded digest";
    if (digest == it->second)
        return;

    const std::string reference = reference_journal(c.name);
    const FirstDifference diff = first_difference(reference, journal);
    ADD_FAILURE() << c.name << ": this build's journal digest " << digest << " is not the recorded "
                  << it->second << "\n"
                  << (sha256_hex(reference) == it->second
                          ? "the unoptimised reference still gives the recorded journal"
                          : "the unoptimised reference gives another journal too: a change of the "
                            "trees themselves (re-record with journal_reference --record if meant)")
                  << "\nfirst difference at journal line " << diff.line << ":\n  reference: "
                  << diff.expected << "\n  this build: " << diff.actual;
}

std::vector<std::string> case_names()
{
    std::vector<std::string> names;
    for (const JournalCase &c : journal_cases())
        names.push_back(c.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(Cases, SameTree, testing::ValuesIn(case_names()),
                         [](const testing::TestParamInfo<std::string> &info) { return info.param; });

TEST(JournalDigests, FirstDifferenceNamesTheLine)
{
    EXPECT_EQ(first_difference("a\nb\n", "a\nb\n").line, 0u);
    const FirstDifference diff = first_difference("a\nb\nc\n", "a\nB\nc\n");
    EXPECT_EQ(diff.line, 2u);
    EXPECT_EQ(diff.expected, "b");
    EXPECT_EQ(diff.actual, "B");
    EXPECT_EQ(first_difference("a\n", "a\nb\n").line, 2u);
    EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

} // namespace
} // namespace exactness
