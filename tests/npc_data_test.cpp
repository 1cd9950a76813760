// The game data shipped in resources/: the NpcCreator class definition and
// the two candidate tables must load cleanly and fit together, since the NPC
// creator, area boss and auto team farm systems all read them.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>

#include "KernelWrapper.h"
#include "NpcCreatorSystem.h"
#include "RecordingKernel.h"

namespace {

class SampleData : public ::testing::Test {
protected:
    void SetUp() override {
        NpcCreatorSystem::s_modelProbTable.clear();
        NpcCreatorSystem::s_creatorProbTable.clear();
        k.resourcePath = TEST_RESOURCES_DIR;
        NpcCreatorSystem::LoadResource(&k);
    }
    void TearDown() override {
        NpcCreatorSystem::s_modelProbTable.clear();
        NpcCreatorSystem::s_creatorProbTable.clear();
    }
    RecordingKernel k;
};

TEST_F(SampleData, TablesLoadWithoutASingleLogLine) {
    EXPECT_EQ(k.Count("Trace"), 0u) << (k.Count("Trace") ? k.CallsOf("Trace")[0]->args[0] : "");
    EXPECT_GE(NpcCreatorSystem::s_modelProbTable.size(), 5u);
}

TEST_F(SampleData, CreatorsOfTheOtherSystemsHaveTheirSections) {
    for (int number : {12, 13, 50}) {
        ASSERT_EQ(NpcCreatorSystem::s_modelProbTable.count(number), 1u) << number;
        EXPECT_FALSE(NpcCreatorSystem::s_modelProbTable.at(number).empty()) << number;
    }
}

TEST_F(SampleData, EveryModelIndexHasCandidatesThatCanBeDrawn) {
    const auto& npcs = NpcCreatorSystem::s_creatorProbTable;
    for (const auto& [creator, models] : NpcCreatorSystem::s_modelProbTable) {
        float modelWeight = 0.0f;
        for (const ModelProbEntry& m : models) {
            modelWeight += m.probability;
            ASSERT_EQ(npcs.count(m.index), 1u) << "creator " << creator << " index " << m.index;
            float drawWeight = 0.0f;
            std::set<int> fixedSlots;
            for (const CreatorProbEntry& e : npcs.at(m.index)) {
                if (e.slotType == kFixedSlotType) {
                    EXPECT_TRUE(fixedSlots.insert(int(e.probability)).second)
                        << "two fixed NPCs share a slot in index " << m.index;
                } else {
                    drawWeight += e.probability;
                }
            }
            // The largest draw is 32767/32768: weights adding up to 1 always hit.
            EXPECT_GT(drawWeight, 32767.0f / 32768.0f) << "index " << m.index;
        }
        EXPECT_GT(modelWeight, 32767.0f / 32768.0f) << "creator " << creator;
    }
}

TEST_F(SampleData, ArenaCreatorOffersTwentyCandidatesOfEverySlotType) {
    const auto& models = NpcCreatorSystem::s_modelProbTable.at(4);
    ASSERT_EQ(models.size(), 1u);
    const auto& npcs = NpcCreatorSystem::s_creatorProbTable.at(models[0].index);
    EXPECT_EQ(npcs.size(), 20u);
    std::set<int> types;
    for (const CreatorProbEntry& e : npcs) types.insert(e.slotType);
    EXPECT_EQ(types, (std::set<int>{0, 1, 2, 3}));
}

TEST(SampleClass, DeclaresEveryPropertyAndRecordTheSystemsUse) {
    RecordingKernel k;
    k.resourcePath = TEST_RESOURCES_DIR;
    ASSERT_TRUE(OnCreateClassFromXml(&k, 9, "Struct/NPC/NpcCreator.xml"));
    EXPECT_EQ(k.Count("Echo"), 0u);

    std::map<std::string, int> props;
    for (const Call& c : k.Calls()) {
        if (c.op == "AddProperty" || c.op == "AddPropertySaveMode" ||
            c.op == "AddVisibleProperty" || c.op == "AddVisiblePropertySaveMode") {
            EXPECT_EQ(c.args[0], "9");
            EXPECT_TRUE(props.emplace(c.args[1], std::stoi(c.args[2])).second) << c.args[1];
        }
    }
    const std::map<std::string, int> wanted = {
        {"CreatorType", VTYPE_INT},
        {"SelectCount", VTYPE_INT},
        {"MaxSelectCount", VTYPE_INT},
        {"Invisible", VTYPE_INT},
        {"CantVisible", VTYPE_INT},
        {"RefreshTime", VTYPE_INT},
        {"RefreshModelTime", VTYPE_INT},
        {"Model", VTYPE_INT},
        {"ModelEx", VTYPE_INT},
        {"Index", VTYPE_INT},
        {"NpcConfig", VTYPE_INT},
        {"NPCDes", VTYPE_STRING},
        {"NoticeByWorldRefresh", VTYPE_INT},
        {"NoticeByWorldBeKilled", VTYPE_INT},
        {"CurNPCCount", VTYPE_INT},
        {"IsFighting", VTYPE_INT},
        {"FRTime", VTYPE_STRING},
    };
    EXPECT_EQ(props, wanted);

    std::map<std::string, std::vector<int>> cols;
    std::map<std::string, int> maxRows;
    for (const Call& c : k.Calls()) {
        if (c.op == "AddRecord" || c.op == "AddRecordSaveMode") {
            EXPECT_EQ(c.args[0], "9");
            maxRows[c.args[1]] = std::stoi(c.args[3]);
        }
        if (c.op == "SetRecordColType") cols[c.args[1]].push_back(std::stoi(c.args[3]));
    }
    EXPECT_EQ(cols["ModelInfoRec"],
              (std::vector<int>{VTYPE_INT, VTYPE_FLOAT, VTYPE_STRING, VTYPE_INT}));
    EXPECT_EQ(cols["NPCInfoRec"], (std::vector<int>{VTYPE_INT, VTYPE_INT, VTYPE_FLOAT, VTYPE_INT}));
    EXPECT_EQ(cols["AutoTeamRec"], (std::vector<int>{VTYPE_WIDESTR, VTYPE_INT}));
    // Room for every candidate the sample tables give one creator.
    EXPECT_GE(maxRows["ModelInfoRec"], 8);
    EXPECT_GE(maxRows["NPCInfoRec"], 64);
    EXPECT_GE(maxRows["AutoTeamRec"], 5);
}

TEST(SampleClass, CandidateRecordsAreNotSaved) {
    // They are rebuilt on every load; a saved copy would be appended to.
    RecordingKernel k;
    k.resourcePath = TEST_RESOURCES_DIR;
    ASSERT_TRUE(OnCreateClassFromXml(&k, 9, "Struct/NPC/NpcCreator.xml"));
    for (const Call* c : k.CallsOf("AddRecord")) {
        if (c->args[1] == "ModelInfoRec" || c->args[1] == "NPCInfoRec") {
            EXPECT_EQ(c->args[4], "false") << c->args[1];
        }
    }
    for (const Call* c : k.CallsOf("AddRecordSaveMode"))
        EXPECT_TRUE(c->args[1] != "ModelInfoRec" && c->args[1] != "NPCInfoRec") << c->args[1];
}

}  // namespace
