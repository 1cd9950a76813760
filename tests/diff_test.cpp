// `rulehost diff` between the sample data and a changed copy of it: every
// folder in tests/diff_fixtures/<case>/ holds the files that replace the
// sample's ones in NEW and expected.txt, "exit N" and then the exact output.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "ToolTestSupport.h"

namespace fs = std::filesystem;

namespace {

const fs::path kFixtures = fs::path(TEST_SOURCE_DIR) / "diff_fixtures";

tools::ProcessResult RunDiff(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {TEST_RULEHOST_PATH, "diff"};
    argv.insert(argv.end(), args.begin(), args.end());
    return tools::RunProcess(argv);
}

class DataChange : public ::testing::TestWithParam<std::string> {};

TEST_P(DataChange, PrintsExactChangesAndExitCode) {
    const fs::path fixture = kFixtures / GetParam();
    const tools::ScratchDir changed(TEST_RESOURCES_DIR);
    for (const auto& e : fs::recursive_directory_iterator(fixture)) {
        const fs::path rel = fs::relative(e.path(), fixture);
        if (e.is_directory() || rel == "expected.txt") continue;
        changed.Write(rel.string(), tools::ReadWholeFile(e.path()));
    }
    const std::string expected = tools::ReadWholeFile(fixture / "expected.txt");
    const size_t eol = expected.find('\n');
    ASSERT_EQ(expected.compare(0, 5, "exit "), 0);
    const tools::ProcessResult r = RunDiff({TEST_RESOURCES_DIR, changed.str()});
    EXPECT_EQ(r.out, expected.substr(eol + 1)) << r.err;
    EXPECT_EQ(r.exitCode, std::stoi(expected.substr(5, eol - 5)));

    // The JSON carries the same lines, and the change flag agrees with the exit code.
    const tools::ProcessResult j = RunDiff({TEST_RESOURCES_DIR, changed.str(), "--json"});
    const nlohmann::json parsed = nlohmann::json::parse(j.out);
    std::string lines;
    for (const auto& entry : parsed["entries"]) lines += entry["text"].get<std::string>() + "\n";
    const size_t summary =
        r.out.size() < 2 ? std::string::npos : r.out.rfind('\n', r.out.size() - 2);
    EXPECT_EQ(lines, summary == std::string::npos ? "" : r.out.substr(0, summary + 1));
    EXPECT_EQ(parsed["changed"].get<bool>(), r.exitCode == 1);
}

std::vector<std::string> Cases() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(kFixtures)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DataChange, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param; });

TEST(DiffCommand, RefusesFoldersItCannotReadAndBadArguments) {
    const tools::ScratchDir empty;
    const struct {
        std::vector<std::string> args;
        int exit;
    } cases[] = {
        {{TEST_RESOURCES_DIR, "/nonexistent/folder"}, 3},
        {{empty.str(), TEST_RESOURCES_DIR}, 3},
        {{TEST_RESOURCES_DIR}, 2},
        {{TEST_RESOURCES_DIR, TEST_RESOURCES_DIR, "--no-such-flag"}, 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RunDiff(c.args).exitCode, c.exit) << c.args.back();
    }
}

}  // namespace
