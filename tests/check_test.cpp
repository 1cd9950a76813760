// `rulehost check`, driven as a designer would: the bundled sample data must
// pass, and every kind of mistake seeded in tests/check_fixtures/<kind>/
// must give exactly the diagnostics and exit code in its expected.txt.
//
// A fixture directory holds the files that replace the sample data's ones,
// an optional remove.txt (files of the sample data to delete, one a line)
// and expected.txt: "exit N" on its first line, then the exact output, with
// DIR standing for the resource folder as it was given on the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "ToolTestSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string kFixtures = std::string(TEST_SOURCE_DIR) + "/check_fixtures";

// The sample data with a fixture's files laid over it and what its
// remove.txt names deleted.
class FixtureResources {
public:
    explicit FixtureResources(const fs::path& fixture) : m_scratch(TEST_RESOURCES_DIR) {
        for (const auto& entry : fs::recursive_directory_iterator(fixture)) {
            const fs::path rel = fs::relative(entry.path(), fixture);
            if (rel == "expected.txt" || rel == "remove.txt" || entry.is_directory()) continue;
            m_scratch.Write(rel.string(), tools::ReadWholeFile(entry.path()));
        }
        std::istringstream removals(tools::ReadWholeFile(fixture / "remove.txt"));
        for (std::string line; std::getline(removals, line);) {
            if (!line.empty()) fs::remove(m_scratch.path() / line);
        }
    }
    std::string str() const { return m_scratch.str(); }

private:
    tools::ScratchDir m_scratch;
};

tools::ProcessResult RunCheck(const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {TEST_RULEHOST_PATH, "check"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return tools::RunProcess(argv);
}

// Output with every mention of the folder dir written as DIR.
std::string WithDirNamed(std::string out, const std::string& dir) {
    for (size_t pos = 0; (pos = out.find(dir, pos)) != std::string::npos; pos += 3) {
        out.replace(pos, dir.size(), "DIR");
    }
    return out;
}

std::vector<std::string> FixtureNames() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(kFixtures)) {
        if (entry.is_directory()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class SeededMistake : public ::testing::TestWithParam<std::string> {};

TEST_P(SeededMistake, GivesExactDiagnosticsAndExitCode) {
    const fs::path fixture = fs::path(kFixtures) / GetParam();
    const std::string expected = tools::ReadWholeFile(fixture / "expected.txt");
    ASSERT_EQ(expected.compare(0, 5, "exit "), 0) << "expected.txt must start with 'exit N'";
    const size_t eol = expected.find('\n');
    const int expectedExit = std::stoi(expected.substr(5, eol - 5));
    const std::string expectedOut = expected.substr(eol + 1);

    const FixtureResources data(fixture);
    const tools::ProcessResult r = RunCheck({data.str()});
    EXPECT_EQ(WithDirNamed(r.out, data.str()), expectedOut) << "stderr: " << r.err;
    EXPECT_EQ(r.exitCode, expectedExit);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SeededMistake, ::testing::ValuesIn(FixtureNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

TEST(CheckCommand, EveryKindOfMistakeHasAFixture) {
    // The kinds of mistake the checker promises to find; each needs a fixture.
    const std::vector<std::string> kinds = {
        "comma_in_description",
        "empty_field",
        "decimal_comma",
        "non_numeric_field",
        "slot_type_out_of_range",
        "fixed_slot_out_of_range",
        "missing_model_index",
        "duplicate_section_number",
        "weights_below_one",
        "weights_above_one",
        "empty_value",
        "byte_order_mark",
        "check_frequency_missing",
        "check_frequency_zero",
        "check_frequency_negative",
        "class_missing_property",
        "class_wrong_column_type",
        "class_wrong_property_type",
        "script_syntax_error",
        "script_without_get_npc_count",
        "header_with_trailing_text",
        "missing_files",
        "class_record_too_small",
        "class_unparsable",
        "utf16_file",
        "utf16_class_file",
        "utf32_file",
        "nul_bytes_file",
        "nul_byte_in_line",
        "table_without_section",
        "utf8_description",
        "non_gbk_bytes_shown_escaped",
        "script_answers_out_of_range",
        "script_fails_for_a_team",
    };
    const std::vector<std::string> names = FixtureNames();
    for (const auto& kind : kinds) {
        EXPECT_NE(std::find(names.begin(), names.end(), kind), names.end()) << kind;
    }
}

TEST(CheckCommand, BundledSampleDataPasses) {
    const tools::ProcessResult r = RunCheck({TEST_RESOURCES_DIR});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("error:"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("warning:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("no problems found"), std::string::npos) << r.out;
}

TEST(CheckCommand, WithoutDirectoryChecksTheBundledData) {
    const tools::ProcessResult r = RunCheck({});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("no problems found"), std::string::npos) << r.out;
}

TEST(CheckCommand, JsonListsTheSameDiagnosticsWithCounts) {
    const FixtureResources data(fs::path(kFixtures) / "weights_above_one");
    const tools::ProcessResult text = RunCheck({data.str()});
    const tools::ProcessResult json = RunCheck({data.str(), "--json"});
    EXPECT_EQ(json.exitCode, text.exitCode);
    const nlohmann::json j = nlohmann::json::parse(json.out);
    ASSERT_TRUE(j["diagnostics"].is_array());
    int warnings = 0;
    for (const auto& d : j["diagnostics"]) {
        const std::string line =
            d["file"].get<std::string>() + ":" + std::to_string(d["line"].get<int>()) + ": " +
            d["severity"].get<std::string>() + ": " + d["message"].get<std::string>();
        EXPECT_NE(text.out.find(line), std::string::npos) << line;
        if (d["severity"] == "warning") ++warnings;
    }
    EXPECT_EQ(j["warnings"].get<int>(), warnings);
    EXPECT_EQ(j["errors"].get<int>(), 0);
    EXPECT_GT(warnings, 0);
}

TEST(CheckCommand, JsonOfCleanDataHasNoDiagnostics) {
    const tools::ProcessResult r = RunCheck({TEST_RESOURCES_DIR, "--json"});
    EXPECT_EQ(r.exitCode, 0);
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["errors"].get<int>(), 0);
    EXPECT_EQ(j["warnings"].get<int>(), 0);
}

TEST(CheckCommand, MissingDirectoryIsALoadFailure) {
    const tools::ProcessResult r = RunCheck({"/nonexistent/resources"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("not a directory"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
}

TEST(CheckCommand, ResourcesOptionAndJsonWithoutNotesCarryRuleIds) {
    const FixtureResources data(fs::path(kFixtures) / "comma_in_description");
    const tools::ProcessResult byOption = RunCheck({"--resources", data.str()});
    EXPECT_EQ(byOption.out, RunCheck({data.str()}).out);
    EXPECT_NE(byOption.out.find(data.str() + "/Npc/ModelProb.ini:3: error: "), std::string::npos)
        << byOption.out;
    const tools::ProcessResult json = RunCheck({data.str(), "--json", "--no-notes"});
    const nlohmann::json j = nlohmann::json::parse(json.out);
    EXPECT_FALSE(j.contains("notes"));
    std::vector<std::string> rules;
    for (const auto& d : j["diagnostics"]) {
        EXPECT_NE(d["severity"], "note");
        rules.push_back(d["rule"].get<std::string>());
        EXPECT_EQ(d["path"].get<std::string>(), data.str() + "/" + d["file"].get<std::string>());
    }
    EXPECT_EQ(rules, (std::vector<std::string>{"weights-below-one", "comma-in-description"}));
}

TEST(CheckCommand, NotesCanBeLeftOut) {
    const FixtureResources data(fs::path(kFixtures) / "byte_order_mark");
    const tools::ProcessResult all = RunCheck({data.str()});
    const tools::ProcessResult quiet = RunCheck({data.str(), "--no-notes"});
    EXPECT_NE(all.out.find("note:"), std::string::npos) << all.out;
    EXPECT_EQ(quiet.out.find("note:"), std::string::npos) << quiet.out;
    EXPECT_EQ(quiet.exitCode, all.exitCode);
}

}  // namespace
