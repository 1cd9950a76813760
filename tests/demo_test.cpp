// `rulehost demo` runs the sample world on the real plug-in: the timeline
// shows every part of the world and the summary counts them.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "ToolTestSupport.h"

namespace {

tools::ProcessResult Demo(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {TEST_RULEHOST_PATH, "demo", "--plugin", TEST_PLUGIN_PATH};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return tools::RunProcess(argv);
}

// The number after label in the summary, or -1.
int SummaryNumber(const std::string& out, const std::string& pattern) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex(pattern))) return -1;
    return std::stoi(m[1].str());
}

class DemoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_run = new tools::ProcessResult(Demo()); }
    static void TearDownTestSuite() {
        delete s_run;
        s_run = nullptr;
    }
    static const std::string& out() { return s_run->out; }
    static tools::ProcessResult* s_run;
};

tools::ProcessResult* DemoTest::s_run = nullptr;

TEST_F(DemoTest, RunsToTheEndWithEveryPartShown) {
    EXPECT_EQ(s_run->exitCode, 0) << s_run->err << out();
    EXPECT_NE(out().find("summary (virtual time 0:21:00"), std::string::npos) << out();
    EXPECT_EQ(out().find("missing:"), std::string::npos) << out();
}

TEST_F(DemoTest, SummaryCountsEncountersFightsAndNotices) {
    const int selects = SummaryNumber(out(), R"(selects: (\d+),)");
    const int encounters = SummaryNumber(out(), R"(encounters sent: (\d+),)");
    const int won = SummaryNumber(out(), R"(fights won: (\d+))");
    EXPECT_GT(selects, 0);
    EXPECT_GT(encounters, 0);
    EXPECT_GT(won, 0);
    EXPECT_LE(won, encounters);
    EXPECT_GT(SummaryNumber(out(), R"((\d+) model draws \(80000\))"), 0);
    EXPECT_GT(SummaryNumber(out(), R"((\d+) kills \(80001\))"), 0);
    EXPECT_EQ(SummaryNumber(out(), R"(plug-in log lines \(problems it reported\): (\d+))"), 0);
}

TEST_F(DemoTest, SummaryAgreesWithTheTimeline) {
    // Every encounter list the summary counts is a line of the timeline.
    const int encounters = SummaryNumber(out(), R"(encounters sent: (\d+),)");
    size_t lines = 0;
    for (size_t pos = 0; (pos = out().find("<- command 1001,", pos)) != std::string::npos; ++pos) {
        ++lines;
    }
    EXPECT_EQ(int(lines), encounters);
    size_t kills = 0;
    for (size_t pos = 0; (pos = out().find("WORLD NOTICE \"80001\"", pos)) != std::string::npos;
         ++pos) {
        ++kills;
    }
    EXPECT_EQ(int(kills), SummaryNumber(out(), R"((\d+) kills \(80001\))"));
}

TEST_F(DemoTest, AreaBossOpensOnActivityAndAtItsTimePoint) {
    EXPECT_NE(out().find("(on activity: yes, at time point: yes)"), std::string::npos) << out();
    // The time point comes back as command 326 to the scene at 00:20.
    EXPECT_NE(out().find("0:20:00  scene 305 -> scene 305  command 326"), std::string::npos)
        << out();
}

TEST_F(DemoTest, FiveFarmersFormATeamAndTheLeaderGetsTheEncounter) {
    EXPECT_NE(out().find("team of 5, encounter for the leader: yes"), std::string::npos) << out();
    // Team requests name the players, shown as UTF-8.
    EXPECT_NE(out().find("command 140 [\"林月\", \"周雪\", 0, 0]"), std::string::npos) << out();
    EXPECT_NE(out().find("林月 <- command 1001, encounter from farm 50"), std::string::npos);
}

TEST_F(DemoTest, KillNoticeQuotesDescriptionAndPlayerName) {
    EXPECT_NE(out().find("WORLD NOTICE \"80001\" (kind 19) [\"Wolf pack\", \"Aria\"]"),
              std::string::npos)
        << out();
}

TEST_F(DemoTest, TimelineIsTheSameOnEveryRun) {
    const tools::ProcessResult again = Demo();
    ASSERT_EQ(again.exitCode, 0);
    // Everything but the wall-clock figure of the summary's first line.
    auto strip = [](const std::string& s) {
        return std::regex_replace(s, std::regex(R"(events, [0-9.]+ s\))"), "events)");
    };
    EXPECT_EQ(strip(again.out), strip(out()));
}

TEST(DemoCommand, StudioDataWithoutFarmNpcsFailsAndSaysWhatIsMissing) {
    tools::ScratchDir data(TEST_RESOURCES_DIR);
    // The farm's model index loses its NPCs: the full team gets no encounter.
    std::string npcs = tools::ReadWholeFile(data.path() / "Npc/CreatorProb.ini");
    const size_t farm = npcs.find("[5001]");
    ASSERT_NE(farm, std::string::npos);
    npcs = npcs.substr(0, farm);
    data.Write("Npc/CreatorProb.ini", npcs);
    const tools::ProcessResult r = Demo({"--resources", data.str()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("missing: the farm team's leader got no encounter"), std::string::npos)
        << r.out;
}

TEST(DemoCommand, PluginLogLinesAreShownAsUtf8AndCounted) {
    tools::ScratchDir data(TEST_RESOURCES_DIR);
    // A property declared twice: the host refuses the second declaration and
    // the plug-in's class loader reports it in Chinese (GBK bytes).
    std::string xml = tools::ReadWholeFile(data.path() / "Struct/NPC/NpcCreator.xml");
    const std::string anchor = "<Property Id=\"ModelEx\"";
    const size_t at = xml.find(anchor);
    ASSERT_NE(at, std::string::npos);
    xml.insert(at, "<Property Id=\"ModelEx\" Type=\"int\" Description=\"twice\"/>\n    ");
    data.Write("Struct/NPC/NpcCreator.xml", xml);
    const tools::ProcessResult r = Demo({"--resources", data.str()});
    EXPECT_EQ(r.exitCode, 0) << r.err << r.out;
    EXPECT_NE(
        r.out.find("log: OnCreateClassFromXml失败: xml=Struct/NPC/NpcCreator.xml, id=ModelEx"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(SummaryNumber(r.out, R"(plug-in log lines \(problems it reported\): (\d+))"), 2);
}

TEST(DemoCommand, ChosenCreatorNumbersAreUsed) {
    const tools::ProcessResult r = Demo({"--creators", "4,5", "--boss", "12", "--farm", "50"});
    EXPECT_EQ(r.exitCode, 0) << r.err << r.out;
    EXPECT_NE(r.out.find("creator 4.Model"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("area boss 12 loads"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("creator 1.Model"), std::string::npos) << r.out;
}

TEST(DemoCommand, EmptyModelTableIsALoadFailure) {
    tools::ScratchDir data(TEST_RESOURCES_DIR);
    data.Write("Npc/ModelProb.ini", "; no creators yet\n");
    const tools::ProcessResult r = Demo({"--resources", data.str()});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("no creator numbers"), std::string::npos) << r.err;
}

TEST(DemoCommand, MissingPluginIsALoadFailure) {
    const tools::ProcessResult r =
        tools::RunProcess({TEST_RULEHOST_PATH, "demo", "--plugin", "/nonexistent/plugin.so"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_FALSE(r.err.empty());
}

}  // namespace

// The command line's own conventions: a version line naming the plug-in, an
// unknown command named, and a resource folder that does not exist refused
// by every tool that starts a world, naming the folder.
TEST(RulehostCommandLine, VersionUnknownCommandAndMissingFolder) {
    const std::string missing = "/nonexistent/gamerules-resources";
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string mention;  // in stdout or stderr
    };
    const Case cases[] = {
        {{"--version", "--plugin", TEST_PLUGIN_PATH}, 0, "interface version: 0x20010011"},
        {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
        {{"modules", "--plugin", TEST_PLUGIN_PATH, "--resources", missing}, 3, missing},
        {{"demo", "--plugin", TEST_PLUGIN_PATH, "--resources", missing}, 3, missing},
        {{"simulate", "--plugin", TEST_PLUGIN_PATH, "--resources", missing, "--creator", "1"},
         3,
         missing},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{TEST_RULEHOST_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const tools::ProcessResult r = tools::RunProcess(argv);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args[0] << "\n" << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.mention), std::string::npos)
            << c.args[0] << "\n" << r.out << r.err;
    }
}
