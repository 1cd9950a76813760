// `rulehost simulate` on tables with known weights. The plug-in's generator
// is deterministic, so every figure below is reproducible; the frequency
// tests still judge them the way a designer would, with a chi-square test
// against the configured weights at a fixed sample size.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ToolTestSupport.h"

namespace {

using nlohmann::json;

// Creator 7: four models with weights 0.1 .. 0.4, each with three NPCs of
// weights 0.5, 0.25, 0.25. Creator 8: NPC weights summing to 0.25. Creator 9:
// model weights past 1 and a missing model index. Creator 10: one NPC of
// slot type 1. Creator 11: a fixed NPC and a drawn one. Creator 12: a fixed
// NPC off the formation and one of slot type 5, both refused by the plug-in,
// beside one drawn NPC.
const char kModels[] =
    "[7]\n"
    "m1=701,0.1,Light,71\n"
    "m2=702,0.2,Medium,72\n"
    "m3=703,0.3,Heavy,73\n"
    "m4=704,0.4,Giant,74\n"
    "\n"
    "[8]\n"
    "m1=801,1,Sparse,81\n"
    "\n"
    "[9]\n"
    "m1=901,0.7,Common,91\n"
    "m2=902,0.5,Cut short,92\n"
    "m3=903,0.2,Unreachable,99\n"
    "\n"
    "[10]\n"
    "m1=1001,1,Line,101\n"
    "\n"
    "[11]\n"
    "m1=1101,1,Guarded,111\n"
    "\n"
    "[12]\n"
    "m1=1201,1,Refused rows,121\n";

const char kNpcs[] =
    "[71]\nn1=7101,0.5,0\nn2=7102,0.25,1\nn3=7103,0.25,2\n"
    "[72]\nn1=7201,0.5,0\nn2=7202,0.25,1\nn3=7203,0.25,2\n"
    "[73]\nn1=7301,0.5,0\nn2=7302,0.25,1\nn3=7303,0.25,2\n"
    "[74]\nn1=7401,0.5,0\nn2=7402,0.25,1\nn3=7403,0.25,2\n"
    "[81]\nn1=8101,0.25,0\n"
    "[91]\nn1=9101,1,0\n"
    "[92]\nn1=9201,1,0\n"
    "[101]\nn1=10101,1,1\n"
    "[111]\nn1=11100,4.9,3\nn2=11101,1,0\n"
    "[121]\nn1=12100,12,3\nn2=12102,0.5,5\nn3=12101,1,0\n";

// Chi-square critical values at p = 0.001, by degrees of freedom.
double ChiSquareCritical(int df) {
    static const double table[] = {0, 10.83, 13.82, 16.27, 18.47, 20.52};
    return table[df];
}

class SimulateTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_data = new tools::ScratchDir(TEST_RESOURCES_DIR);
        s_data->Write("Npc/ModelProb.ini", kModels);
        s_data->Write("Npc/CreatorProb.ini", kNpcs);
    }
    static void TearDownTestSuite() {
        delete s_data;
        s_data = nullptr;
    }

    static tools::ProcessResult Simulate(const std::vector<std::string>& extra) {
        std::vector<std::string> argv = {TEST_RULEHOST_PATH, "simulate", "--resources",
                                         s_data->str(),      "--plugin", TEST_PLUGIN_PATH};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return tools::RunProcess(argv);
    }
    // expectedExit: 1 when the data has a problem (draws that can never
    // happen, selects that send nothing), as check fails on its findings.
    static json SimulateJson(int creator, int selects, int teamSize = 1, int expectedExit = 0) {
        const tools::ProcessResult r =
            Simulate({"--creator", std::to_string(creator), "--selects", std::to_string(selects),
                      "--team-size", std::to_string(teamSize), "--json"});
        EXPECT_EQ(r.exitCode, expectedExit) << r.err;
        return json::parse(r.out);
    }

    static tools::ScratchDir* s_data;
};

tools::ScratchDir* SimulateTest::s_data = nullptr;

TEST_F(SimulateTest, ModelFrequenciesMatchTheWeights) {
    const int n = 20000;
    const json j = SimulateJson(7, n);
    const std::map<int, double> weights = {{701, 0.1}, {702, 0.2}, {703, 0.3}, {704, 0.4}};
    ASSERT_EQ(j["models"].size(), weights.size());
    double chi2 = 0.0;
    int64_t total = 0;
    for (const auto& m : j["models"]) {
        const double expected = n * weights.at(m["model"].get<int>());
        const double observed = m["count"].get<double>();
        chi2 += (observed - expected) * (observed - expected) / expected;
        total += m["count"].get<int64_t>();
        // The exact draw chance differs from the weight only by the
        // 1/32768 grid of the generator.
        EXPECT_NEAR(m["drawChance"].get<double>(), weights.at(m["model"].get<int>()), 1.0 / 32768);
    }
    EXPECT_EQ(total, n);
    EXPECT_LT(chi2, ChiSquareCritical(3)) << "model counts stray from the weights";
}

TEST_F(SimulateTest, NpcFrequenciesWithinEachModelMatchTheWeights) {
    const json j = SimulateJson(7, 20000);
    std::map<int, int64_t> appearances;
    for (const auto& s : j["npcConfigs"]) {
        appearances[s["npcConfig"].get<int>()] = s["appearances"].get<int64_t>();
    }
    for (int index : {71, 72, 73, 74}) {
        const int base = index * 100;
        const int configs[] = {base + 1, base + 2, base + 3};
        const double w[] = {0.5, 0.25, 0.25};
        double total = 0;
        for (int c : configs) total += double(appearances[c]);
        ASSERT_GT(total, 0) << "index " << index;
        double chi2 = 0.0;
        for (int i = 0; i < 3; ++i) {
            const double expected = total * w[i];
            const double d = double(appearances[configs[i]]) - expected;
            chi2 += d * d / expected;
        }
        EXPECT_LT(chi2, ChiSquareCritical(2)) << "NPCs of model index " << index;
    }
}

TEST_F(SimulateTest, EveryEncounterHasTheScriptedSize) {
    // The sample rules script asks for two NPCs plus one per team member.
    const json alone = SimulateJson(7, 2000, 1);
    ASSERT_EQ(alone["encounterSizes"].size(), 1u);
    EXPECT_EQ(alone["encounterSizes"][0]["npcs"], 3);
    EXPECT_EQ(alone["encounterSizes"][0]["count"], 2000);
    EXPECT_EQ(alone["nothingSent"]["count"], 0);

    const json team = SimulateJson(7, 2000, 3);
    ASSERT_EQ(team["sizeFields"].size(), 1u);
    EXPECT_EQ(team["sizeFields"][0]["size"], 5);
    EXPECT_EQ(team["encounterSizes"][0]["npcs"], 5);
}

TEST_F(SimulateTest, WeightsBelowOneMakeSelectsSendNothing) {
    const int n = 20000;
    const json j = SimulateJson(8, n, 1, 1);
    // A first draw above 0.25 ends the select with nothing to send; a first
    // draw that succeeds is followed by retried draws until three are made.
    const double nothing = j["nothingSent"]["share"].get<double>();
    const double sd = std::sqrt(0.75 * 0.25 / n);
    EXPECT_NEAR(nothing, 0.75, 5 * sd);
    int64_t sizes = 0;
    for (const auto& s : j["encounterSizes"]) {
        const int npcs = s["npcs"].get<int>();
        EXPECT_TRUE(npcs == 0 || npcs == 3) << npcs;
        sizes += s["count"].get<int64_t>();
    }
    EXPECT_EQ(sizes, n);
    EXPECT_EQ(j["encountersSent"].get<int64_t>() + j["nothingSent"]["count"].get<int64_t>(), n);
}

TEST_F(SimulateTest, ReportsDrawsThatCanNeverHappen) {
    const json j = SimulateJson(9, 2000, 1, 1);
    bool unreachable = false;
    bool noNpcs = false;
    for (const auto& d : j["impossibleDraws"]) {
        const std::string what = d["what"];
        EXPECT_EQ(d["file"], "Npc/ModelProb.ini");
        if (d["line"] == 13 && what.find("903") != std::string::npos &&
            what.find("never drawn") != std::string::npos) {
            unreachable = true;
        }
        if (d["line"] == 13 && what.find("never gets NPCs") != std::string::npos) noNpcs = true;
    }
    EXPECT_TRUE(unreachable) << j["impossibleDraws"].dump();
    EXPECT_TRUE(noNpcs) << j["impossibleDraws"].dump();
    // The second model is cut short by the running sum: it gets 30%, not 50%.
    ASSERT_EQ(j["models"].size(), 3u);
    EXPECT_NEAR(j["models"][1]["drawChance"].get<double>(), 0.3, 1.0 / 32768);
    EXPECT_EQ(j["models"][2]["count"], 0);
}

TEST_F(SimulateTest, DrawnNpcsFillTheirPreferredSlotsInOrder) {
    // Slot type 1 takes slots 4, 1, 7 first.
    const json j = SimulateJson(10, 500);
    ASSERT_EQ(j["slots"].size(), 9u);
    for (const auto& s : j["slots"]) {
        const int slot = s["slot"];
        const double expected = (slot == 4 || slot == 1 || slot == 7) ? 1.0 : 0.0;
        EXPECT_EQ(s["share"].get<double>(), expected) << "slot " << slot;
    }
    EXPECT_EQ(j["slotCollisions"], 0);
}

TEST_F(SimulateTest, FixedNpcJoinsEveryEncounterAtItsSlot) {
    const json j = SimulateJson(11, 500);
    bool fixedSeen = false;
    for (const auto& s : j["npcConfigs"]) {
        if (s["npcConfig"] == 11100) {
            fixedSeen = true;
            EXPECT_TRUE(s["fixed"].get<bool>());
            EXPECT_EQ(s["perSelect"].get<double>(), 1.0);
        }
    }
    EXPECT_TRUE(fixedSeen);
    // 4.9 truncates to slot 4; the two drawn NPCs of type 0 then take 3 and 0.
    for (const auto& s : j["slots"]) {
        const int slot = s["slot"];
        const double expected = (slot == 4 || slot == 3 || slot == 0) ? 1.0 : 0.0;
        EXPECT_EQ(s["share"].get<double>(), expected) << "slot " << slot;
    }
}

TEST_F(SimulateTest, RowsThePluginRefusesAreNeitherDrawnNorMissed) {
    const json j = SimulateJson(12, 500);
    ASSERT_EQ(j["npcConfigs"].size(), 1u) << j["npcConfigs"].dump();
    EXPECT_EQ(j["npcConfigs"][0]["npcConfig"], 12101);
    EXPECT_FALSE(j["npcConfigs"][0]["fixed"].get<bool>());
    EXPECT_EQ(j["npcConfigs"][0]["perSelect"].get<double>(), 3.0);
    EXPECT_TRUE(j["configsNotSeen"].empty()) << j["configsNotSeen"].dump();
    EXPECT_TRUE(j["impossibleDraws"].empty()) << j["impossibleDraws"].dump();
}

TEST_F(SimulateTest, SameArgumentsGiveTheSameCounts) {
    json a = SimulateJson(7, 3000);
    json b = SimulateJson(7, 3000);
    for (json* j : {&a, &b}) {
        for (const char* timing :
             {"seconds", "selectsPerSecond", "cpuSeconds", "selectsPerCpuSecond"}) {
            j->erase(timing);
        }
    }
    EXPECT_EQ(a, b);
}

TEST_F(SimulateTest, TableNamesModelsAndImpossibleDraws) {
    const tools::ProcessResult r = Simulate({"--creator", "9", "--selects", "1000"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("902 Cut short"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Npc/ModelProb.ini:13:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("selects that send nothing"), std::string::npos) << r.out;
    // Not a terminal: no progress bar on stderr.
    EXPECT_EQ(r.err.find("simulating"), std::string::npos) << r.err;
}

TEST_F(SimulateTest, ProgressBarOnlyOnATerminal) {
    if (!tools::ProgramOnPath("script")) GTEST_SKIP() << "no 'script' to give rulehost a terminal";
    const std::string cmd = std::string(TEST_RULEHOST_PATH) + " simulate --resources " +
                            s_data->str() + " --plugin " + TEST_PLUGIN_PATH +
                            " --creator 7 --selects 20000";
    const tools::ProcessResult tty = tools::RunProcess({"script", "-qec", cmd, "/dev/null"});
    EXPECT_EQ(tty.exitCode, 0) << tty.out;
    EXPECT_NE(tty.out.find("simulating ["), std::string::npos) << tty.out;
    EXPECT_NE(tty.out.find("100%"), std::string::npos) << tty.out;
    const tools::ProcessResult quiet =
        tools::RunProcess({"script", "-qec", cmd + " --no-progress", "/dev/null"});
    EXPECT_EQ(quiet.exitCode, 0) << quiet.out;
    EXPECT_EQ(quiet.out.find("simulating ["), std::string::npos) << quiet.out;
    EXPECT_NE(quiet.out.find("model shown at select"), std::string::npos) << quiet.out;
}

TEST_F(SimulateTest, UnknownCreatorIsRefusedWithTheKnownOnes) {
    const tools::ProcessResult r = Simulate({"--creator", "404", "--selects", "10"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("creator 404"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("7, 8, 9, 10, 11"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}

TEST_F(SimulateTest, TeamLargerThanATeamIsABadCommandLine) {
    const tools::ProcessResult r = Simulate({"--creator", "7", "--team-size", "6"});
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
}

TEST_F(SimulateTest, CreatorIsRequired) {
    const tools::ProcessResult r = Simulate({"--selects", "10"});
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
}

TEST_F(SimulateTest, MissingPluginIsALoadFailure) {
    const tools::ProcessResult r =
        tools::RunProcess({TEST_RULEHOST_PATH, "simulate", "--resources", s_data->str(), "--plugin",
                           "/nonexistent/libgamerules.so", "--creator", "7", "--selects", "10"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_FALSE(r.err.empty());
}

}  // namespace
