// The scenario runner: the real rulehost binary on scenario files (exit
// codes, failure lines, replay), and the runner in-process for the details of
// its Lua API.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Scenario.h"

namespace fs = std::filesystem;

namespace {

const std::string kFixtures = std::string(TEST_SOURCE_DIR) + "/scenario_fixtures";

struct Outcome {
    int exitCode = -1;
    std::string output;
};

Outcome RunRulehost(const std::string& args) {
    std::string cmd = std::string(TEST_RULEHOST_PATH) + " " + args + " 2>&1";
    Outcome o;
    std::FILE* pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) return o;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) o.output.append(buf, n);
    int status = pclose(pipe);
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// 1-based line of the first line of file containing marker, or 0.
int LineOf(const std::string& file, const std::string& marker) {
    std::ifstream in(file);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (line.find(marker) != std::string::npos) return n;
    }
    return 0;
}

// ---- the binary ------------------------------------------------------------

TEST(RulehostRun, PassingScenarioExitsZeroWithSummary) {
    Outcome o = RunRulehost("run --quiet --plugin " TEST_PLUGIN_PATH " " TEST_SOURCE_DIR
                            "/scenarios/host_smoke.lua");
    EXPECT_EQ(o.exitCode, 0) << o.output;
    EXPECT_NE(o.output.find("PASS "), std::string::npos) << o.output;
}

TEST(RulehostRun, FailedCheckNamesTheScenarioLineAndExitsOne) {
    std::string file = kFixtures + "/failing.lua";
    int line = LineOf(file, "FAILS HERE");
    ASSERT_GT(line, 0);
    Outcome o = RunRulehost("run --quiet --plugin " TEST_PLUGIN_PATH " " + file);
    EXPECT_EQ(o.exitCode, 1) << o.output;
    std::string expected = file + ":" + std::to_string(line) + ": select count: expected 3, got 2";
    EXPECT_NE(o.output.find(expected), std::string::npos) << o.output;
    // The run went on after the failure: both checks were counted.
    EXPECT_NE(o.output.find("FAIL " + file + ": 1 failure; 2 checks"), std::string::npos)
        << o.output;
}

TEST(RulehostRun, SameScenarioTwiceGivesTheSameEventLog) {
    char tmpl[] = "/tmp/scenario_replay_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string dir = tmpl;
    std::string base = "run --quiet --plugin " TEST_PLUGIN_PATH " " + kFixtures + "/replay.lua";
    Outcome a = RunRulehost(base + " --events " + dir + "/a.log");
    Outcome b = RunRulehost(base + " --events " + dir + "/b.log");
    ASSERT_EQ(a.exitCode, 0) << a.output;
    ASSERT_EQ(b.exitCode, 0) << b.output;
    std::string logA = ReadFile(dir + "/a.log");
    std::string logB = ReadFile(dir + "/b.log");
    fs::remove_all(dir);
    // Sixty selects with draws and sixty model re-draws make a long log.
    EXPECT_GT(std::count(logA.begin(), logA.end(), '\n'), 300);
    EXPECT_TRUE(logA == logB) << "event logs of two runs differ";
}

TEST(RulehostRun, MissingScenarioFileExitsThree) {
    Outcome o = RunRulehost("run --quiet " + kFixtures + "/no_such_scenario.lua");
    EXPECT_EQ(o.exitCode, 3) << o.output;
    EXPECT_NE(o.output.find("no_such_scenario.lua"), std::string::npos) << o.output;
}

TEST(RulehostRun, UnloadablePluginExitsThree) {
    Outcome o = RunRulehost("run --quiet --plugin " + kFixtures + "/res/Npc/ModelProb.ini " +
                            kFixtures + "/failing.lua");
    EXPECT_EQ(o.exitCode, 3) << o.output;
    EXPECT_NE(o.output.find("could not be started"), std::string::npos) << o.output;
}

TEST(RulehostCli, BadCommandLineExitsTwo) {
    EXPECT_EQ(RunRulehost("run").exitCode, 2);
    EXPECT_EQ(RunRulehost("no-such-command").exitCode, 2);
    EXPECT_EQ(RunRulehost("").exitCode, 2);
}

TEST(RulehostCli, ModulesListsCreatorsAndDrivesTheLifecycle) {
    Outcome o =
        RunRulehost("modules --plugin " TEST_PLUGIN_PATH " --resources " + kFixtures + "/res/");
    ASSERT_EQ(o.exitCode, 0) << o.output;
    size_t a = o.output.find("1. AutoTeamFarmSystem");
    size_t b = o.output.find("2. AreaBossSystem");
    size_t c = o.output.find("3. NpcCreatorSystem");
    ASSERT_NE(a, std::string::npos) << o.output;
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    // Every Init before any AfterInit, and the unload at the end.
    size_t lastInit = o.output.find("\nInit NpcCreatorSystem: ok");
    size_t firstAfter = o.output.find("AfterInit AutoTeamFarmSystem: ok");
    ASSERT_NE(lastInit, std::string::npos) << o.output;
    ASSERT_NE(firstAfter, std::string::npos) << o.output;
    EXPECT_LT(lastInit, firstAfter);
    EXPECT_NE(o.output.find("NpcCreator: 17 properties, 3 records"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("unloaded"), std::string::npos);
}

TEST(RulehostCli, ModulesRefusesAMissingPlugin) {
    Outcome o = RunRulehost("modules --plugin /nonexistent/libgamerules.so");
    EXPECT_EQ(o.exitCode, 3);
    EXPECT_NE(o.output.find("/nonexistent/libgamerules.so"), std::string::npos) << o.output;
}

TEST(RulehostCli, ModulesNamesBothVersionsOnAMismatch) {
    // A copy of the plug-in whose version function returns 0x20010012: the
    // constant is patched in its "mov eax, imm32" (x86-64).
    std::string image = ReadFile(TEST_PLUGIN_PATH);
    ASSERT_FALSE(image.empty());
    const std::string movVersion("\xB8\x11\x00\x01\x20", 5);
    size_t at = image.find(movVersion);
    if (at == std::string::npos || image.find(movVersion, at + 1) != std::string::npos) {
        GTEST_SKIP() << "version constant not found exactly once in the machine code";
    }
    image[at + 1] = '\x12';
    char tmpl[] = "/tmp/rulehost_version_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string path = std::string(tmpl) + "/libgamerules_other.so";
    std::ofstream(path, std::ios::binary) << image;
    Outcome o = RunRulehost("modules --plugin " + path);
    fs::remove_all(tmpl);
    EXPECT_EQ(o.exitCode, 3) << o.output;
    EXPECT_NE(o.output.find("0x20010012"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("0x20010011"), std::string::npos) << o.output;
    EXPECT_EQ(o.output.find("Init "), std::string::npos) << "no module may be driven";
}

// ---- in process: the Lua API -------------------------------------------------

class ScenarioApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/scenario_api_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs text as a scenario on the fixture world; out/err captured.
    host::ScenarioResult Run(const std::string& text) {
        std::string file = dir_ + "/s.lua";
        std::ofstream(file) << "setup{resources = \"" << kFixtures << "/res\"}\n" << text;
        host::ScenarioOptions options;
        options.file = file;
        options.pluginPath = TEST_PLUGIN_PATH;
        options.quiet = true;
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        options.out = out;
        options.err = err;
        host::ScenarioResult result = host::RunScenario(options);
        out_ = Slurp(out);
        err_ = Slurp(err);
        return result;
    }

    static std::string Slurp(std::FILE* f) {
        std::string s;
        std::rewind(f);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
        std::fclose(f);
        return s;
    }

    std::string dir_;
    std::string out_;
    std::string err_;
};

TEST_F(ScenarioApiTest, EveryFailedCheckIsReportedAndTheRunGoesOn) {
    auto r = Run("check(false, 'first')\ncheck(true)\ncheck_eq({1, 2}, {1, 3}, 'second')\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.checks, 3);
    ASSERT_EQ(r.failures.size(), 2u);
    EXPECT_NE(r.failures[0].find("s.lua:2: first"), std::string::npos) << r.failures[0];
    EXPECT_NE(r.failures[1].find("s.lua:4: second: expected {1, 3}, got {1, 2}"), std::string::npos)
        << r.failures[1];
    EXPECT_NE(err_.find("s.lua:2: first"), std::string::npos);
    EXPECT_NE(out_.find("FAIL"), std::string::npos);
}

TEST_F(ScenarioApiTest, LuaErrorEndsTheRunAtItsLine) {
    auto r = Run("local x = nil\nlocal y = x.field\ncheck(true)\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.checks, 0);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].find("s.lua:3:"), std::string::npos) << r.failures[0];
    EXPECT_NE(r.failures[0].find("stack traceback"), std::string::npos) << r.failures[0];
}

TEST_F(ScenarioApiTest, SyntaxErrorMeansTheScenarioCannotBeLoaded) {
    auto r = Run("check(true\n");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.checks, 0);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].find("s.lua:3:"), std::string::npos) << r.failures[0];
    EXPECT_EQ(r.summary.rfind("ERROR ", 0), 0u) << r.summary;
}

TEST_F(ScenarioApiTest, ApiMisuseIsAnErrorAtTheCallingLine) {
    auto r = Run("local c = creator{config = 'x', number = 7, props = {SelectCount = 'many'}}\n");
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].find("s.lua:2: property SelectCount: \"many\" does not fit a"),
              std::string::npos)
        << r.failures[0];
}

TEST_F(ScenarioApiTest, MisspeltOptionsAndUnknownNamesAreRefused) {
    auto r = Run("scene{config = 'a', numbr = 1}\n");
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].find("unknown option 'numbr'"), std::string::npos);
    r = Run("creator{config = 'x', props = {NoSuchProperty = 1}}\n");
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].find("class NpcCreator has no property NoSuchProperty"),
              std::string::npos)
        << r.failures[0];
    r = Run("object{class = 'Nothing'}\n");
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].find("unknown class Nothing"), std::string::npos);
    r = Run("set_activity('NoSystem', 1, 7)\n");
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].find("no rule system named NoSystem"), std::string::npos);
}

TEST_F(ScenarioApiTest, SetupAfterTheWorldStartedIsRefused) {
    auto r = Run("start()\nsetup{scripts = false}\n");
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].find("s.lua:3: setup must come before"), std::string::npos)
        << r.failures[0];
}

TEST_F(ScenarioApiTest, ExpectCommandShowsTheEventsItDidNotMatch) {
    auto r =
        Run("local p = player{name = 'P', camp = 1}\n"
            "command(p, p, 4242, 1, 'two')\n"
            "expect_command{to = p, id = 4242, args = {1, 'two'}}\n"
            "expect_command{to = p, id = 4242, args = {1, 'three'}}\n"
            "expect_command{id = 4242, count = 2}\n");
    EXPECT_EQ(r.checks, 3);
    ASSERT_EQ(r.failures.size(), 2u);
    const std::string& f = r.failures[0];
    EXPECT_NE(f.find("s.lua:5: expected command id 4242 to obj#"), std::string::npos) << f;
    EXPECT_NE(f.find("args [1, \"three\"], found 0"), std::string::npos) << f;
    // The actual command is listed so the difference can be seen.
    EXPECT_NE(f.find("[4242, 1, \"two\"]"), std::string::npos) << f;
    EXPECT_NE(r.failures[1].find("expected 2 x command id 4242, found 1"), std::string::npos)
        << r.failures[1];
}

TEST_F(ScenarioApiTest, ValuesKeepTheirTypesThroughCommands) {
    auto r =
        Run("local p = player{name = 'P', camp = 1}\n"
            "command(p, p, 77, 5, 2.5, wide('Bob'), i64(7), 'gbk', p, true)\n"
            "local e = expect_command{id = 77, args = {5, 2.5, wide('Bob'), i64(7), 'gbk', p, 1}}\n"
            "check(e.line:find('u\"Bob\"', 1, true) ~= nil, 'wide string sent as wide')\n"
            "check(e.line:find('7L', 1, true) ~= nil, 'int64 sent as int64')\n"
            "check_eq(e.args, {5, 2.5, 'Bob', 7, 'gbk', p, 1})\n"
            "check_eq(e.from, p)\n");
    EXPECT_EQ(r.exitCode, 0) << err_;
    EXPECT_EQ(r.checks, 5);
}

TEST_F(ScenarioApiTest, HandlerSeesTheCommandAndItsAnswerCounts) {
    auto r =
        Run("local p = player{name = 'P', camp = 1}\n"
            "local seen\n"
            "on_command('player', 555, function(self, sender, args) seen = args return 0 end)\n"
            "local answer = command(p, p, 555, 9, 'x')\n"
            "check_eq(answer, 0)\n"
            "check_eq(seen, {9, 'x', id = 555})\n"
            "check_eq(command(p, p, 556), 1, 'no hook answers 1')\n");
    EXPECT_EQ(r.exitCode, 0) << err_;
    EXPECT_EQ(r.checks, 3);
}

TEST_F(ScenarioApiTest, HandlersRunWhileTheScenarioIsInsideACoroutine) {
    auto r =
        Run("local p = player{name = 'P', camp = 1}\n"
            "local got = {}\n"
            "on_command('player', 900, function(self, sender, args) got[#got + 1] = args[1] end)\n"
            "local co = coroutine.wrap(function()\n"
            "  command(p, p, 900, 2)\n"
            "  coroutine.yield()\n"
            "  command(p, p, 900, 3)\n"
            "end)\n"
            "co()\n"
            "command(p, p, 900, 1)\n"
            "co()\n"
            "check_eq(got, {2, 1, 3})\n");
    EXPECT_EQ(r.exitCode, 0) << err_;
    EXPECT_EQ(r.checks, 1);
}

TEST_F(ScenarioApiTest, SelectStillAnswersLuasOwnSelect) {
    auto r =
        Run("check_eq(select('#', 1, nil, 3), 3)\n"
            "check_eq({select(2, 'a', 'b', 'c')}, {'b', 'c'})\n"
            "check_eq({select(-1, 'a', 'b', 'c')}, {'c'})\n"
            "check_eq({select(5, 'a')}, {})\n"
            "select(0, 'a')\n");
    EXPECT_EQ(r.checks, 4);
    ASSERT_EQ(r.failures.size(), 1u) << err_;
    EXPECT_NE(r.failures[0].find("s.lua:6: bad argument #1 to 'select'"), std::string::npos)
        << r.failures[0];
}

TEST_F(ScenarioApiTest, LoadStillAnswersLuasOwnLoad) {
    auto r =
        Run("check_eq(load('return 1 + 2')(), 3)\n"
            "local c = creator{config = 'C', number = 7, load = false}\n"
            "check_eq(get(c, 'Model'), 0, 'not loaded yet')\n"
            "check(load(c) > 0, 'OnLoad callbacks ran')\n"
            "check_eq(get(c, 'Model'), 7001)\n");
    EXPECT_EQ(r.exitCode, 0) << err_;
    EXPECT_EQ(r.checks, 4);
}

TEST_F(ScenarioApiTest, ErrorInAHandlerFailsTheRunButNotTheWorld) {
    auto r =
        Run("local p = player{name = 'P', camp = 1}\n"
            "on_command('player', 600, function() error('handler broke') end)\n"
            "check_eq(command(p, p, 600), 1, 'the default answer stands')\n"
            "check_eq(command(p, p, 601), 1, 'the world still works')\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.checks, 2);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].find("s.lua:3: handler broke"), std::string::npos) << r.failures[0];
    EXPECT_NE(r.failures[0].find("on_command(player, 600)"), std::string::npos);
}

TEST_F(ScenarioApiTest, ChecksInsideHandlersReportTheHandlersLine) {
    auto r =
        Run("local p = player{name = 'P', camp = 1}\n"
            "on_command('player', 700, function(self) check_eq(self, nil, 'in handler') end)\n"
            "command(p, p, 700)\n");
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].find("s.lua:3: in handler: expected nil, got obj#"), std::string::npos)
        << r.failures[0];
}

TEST_F(ScenarioApiTest, ClockAdvancesOnlyForward) {
    auto r =
        Run("advance(1.5)\n"
            "advance_ms(250)\n"
            "check_eq(now_ms(), 1750)\n"
            "advance(-1)\n");
    EXPECT_EQ(r.checks, 1);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].find("s.lua:5: time cannot go backwards"), std::string::npos);
    EXPECT_EQ(r.virtualMs, 1750);
}

TEST_F(ScenarioApiTest, ActivityStateReachesTheAreaBossSystem) {
    auto r =
        Run("check_eq(set_activity('AreaBossSystem', 1, '12abc'), 1)\n"
            "check_eq(set_activity('NpcCreatorSystem', 1, 12), 1)\n");
    EXPECT_EQ(r.exitCode, 0) << err_;
}

TEST_F(ScenarioApiTest, TeamsAreBuiltAndRead) {
    auto r =
        Run("local a = player{name = 'A', camp = 1}\n"
            "local b = player{name = 'B', camp = 1}\n"
            "team(a, b)\n"
            "check_eq(team_members(b), {a, b})\n"
            "check_eq(team_leader(b), a)\n"
            "check_eq(rows(a, 'team'), 2)\n"
            "leave_team(b)\n"
            "check_eq(team_leader(b), nil)\n");
    EXPECT_EQ(r.exitCode, 0) << err_;
    EXPECT_EQ(r.checks, 4);
}

TEST_F(ScenarioApiTest, FlagsJoinTheFightThroughItsMemberRecord) {
    auto r =
        Run("local p = player{name = 'P', camp = 1}\n"
            "local c = creator{config = 'C', number = 7, props = {MaxSelectCount = 3}}\n"
            "select(p, c, 1)\n"
            "local left = child(get(p, 'Fighting'), 'LeftTeam')\n"
            "check_eq(rows(left, 'PkMemberInfo'), 1, 'the player alone')\n"
            "local f = flag{}\n"
            "check_eq(config_of(f), 'Flag')\n"
            "check_eq(join_fight(p, f), 2)\n"
            "check_eq(record(left, 'PkMemberInfo')[2], {0, f, ''})\n"
            "check(remove_row(left, 'PkMemberInfo', 2))\n"
            "check(not remove_row(left, 'PkMemberInfo', 0), 'rows count from 1')\n"
            "check_eq(rows(left, 'PkMemberInfo'), 1)\n"
            "add_row(left, 'PkMemberInfo', {1, f})\n");
    EXPECT_EQ(r.checks, 7);
    ASSERT_EQ(r.failures.size(), 1u) << err_;
    EXPECT_NE(r.failures[0].find("s.lua:14: record PkMemberInfo has 3 columns, 2 values given"),
              std::string::npos)
        << r.failures[0];
}

TEST_F(ScenarioApiTest, RowValuesFollowTheDeclaredColumnTypes) {
    auto r =
        Run("local p = player{name = 'P', camp = 1}\n"
            "local c = creator{config = 'C', number = 7, props = {MaxSelectCount = 3}}\n"
            "select(p, c, 1)\n"
            "local left = child(get(p, 'Fighting'), 'LeftTeam')\n"
            "add_row(left, 'PkMemberInfo', {0, 'not an object', ''})\n");
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].find("PkMemberInfo column 2: \"not an object\" does not fit"),
              std::string::npos)
        << r.failures[0];
}

TEST_F(ScenarioApiTest, RulesScriptCanBeCalledDirectly) {
    auto r =
        Run("local p = player{name = 'P', camp = 1}\n"
            "check_eq({run_script('Rule\\\\npc_creator.lua', 'get_npc_count', 1, p, p, 4)}, "
            "{true, 6})\n"
            "check_eq({run_script('Rule\\\\npc_creator.lua', 'missing', 1)}, {false})\n");
    EXPECT_EQ(r.exitCode, 0) << err_;
}

TEST_F(ScenarioApiTest, SummaryCountsChecksEventsAndTime) {
    auto r = Run("scene{config = 'a'}\nadvance(2)\ncheck(true)\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.summary.rfind("PASS ", 0), 0u) << r.summary;
    EXPECT_NE(r.summary.find("1 check,"), std::string::npos) << r.summary;
    EXPECT_NE(r.summary.find("virtual time 2.000 s"), std::string::npos) << r.summary;
    EXPECT_NE(out_.find(r.summary), std::string::npos);
}

}  // namespace
