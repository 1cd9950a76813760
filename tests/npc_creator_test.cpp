// NPC creator system against a scripted kernel: resource tables, record
// filling, the lifecycle registrations, the encounter draw, model re-draws
// and notices. A small in-memory object store sits behind the recording
// kernel so that the exact sequence of kernel calls can be checked as well
// as the resulting state.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "NpcCreatorSystem.h"
#include "ObjectStoreKernel.h"
#include "RecordingKernel.h"
#include "TempResources.h"
#include "Utility.h"
#include "VarList.h"

namespace {

using recording_detail::Text;

// ---- fixtures ---------------------------------------------------------------------

class FakeTeam : public ITeamSystem {
public:
    bool inTeam = false;
    bool leader = false;
    int members = 0;
    int isTeamLeaderCalls = 0;

    bool IsTeamLeader(IKernel*, const ObjectId&) override {
        ++isTeamLeaderCalls;
        return leader;
    }
    const char16_t* GetTeamLeaderName(IKernel*, const ObjectId&) override { return u""; }
    bool IsInTeam(IKernel*, const ObjectId&) override { return inTeam; }
    int GetTeamMembers(IKernel*, const ObjectId&, IVarList& out) override {
        for (int i = 0; i < members; ++i) out.AddObject(ObjectId{uint32_t(100 + i), 1});
        return members;
    }
};

// The object store with the creator tests' own pieces: creators as the class
// definition makes them and the count script's answer.
class FakeWorld : public ObjectStoreKernel {
public:
    using ObjectStoreKernel::Add;
    ObjectId Add(uint32_t ident, const std::string& config, int configIndex) {
        return Add(ObjectId{ident, 7}, config, configIndex);
    }
    // A creator with the properties of the class definition, all 0 / "".
    ObjectId AddCreator(uint32_t ident, int configIndex, const std::string& config = "Creator") {
        const ObjectId id = Add(ident, config, configIndex);
        Obj& o = At(id);
        for (const char* p : {"CreatorType", "SelectCount", "MaxSelectCount", "Invisible",
                              "CantVisible", "RefreshTime", "RefreshModelTime", "Model", "ModelEx",
                              "Index", "NpcConfig", "CurNPCCount", "IsFighting"})
            o.props[p] = 0;
        o.props["NPCDes"] = std::string();
        o.recs["ModelInfoRec"].maxRows = 64;
        o.recs["NPCInfoRec"].maxRows = 256;
        return id;
    }
    // The script's answer to get_npc_count (none: the script fails).
    void ScriptAnswers(std::optional<int> count) {
        if (!count) {
            k.Always("RunScriptFunction", Reply(false));
            return;
        }
        CVarList result;
        result.AddInt(*count);
        k.Always("RunScriptFunction", Reply(true).Filling(result));
    }
    std::vector<std::string> Commands() const { return k.Texts({"Command"}); }
};

// Every test starts from clean process-wide state and a fresh generator.
class NpcCreatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        NpcCreatorSystem::s_modelProbTable.clear();
        NpcCreatorSystem::s_creatorProbTable.clear();
        NpcCreatorSystem::s_teamSystem = &team;
        ResetRandomState();
    }
    void TearDown() override {
        NpcCreatorSystem::s_modelProbTable.clear();
        NpcCreatorSystem::s_creatorProbTable.clear();
        NpcCreatorSystem::s_teamSystem = nullptr;
        NpcCreatorSystem::s_instance = nullptr;
    }
    void Load(const std::string& modelProb, const std::string& creatorProb) {
        res.Write("Npc\\ModelProb.ini", modelProb);
        res.Write("Npc\\CreatorProb.ini", creatorProb);
        world.k.resourcePath = res.Dir();
        NpcCreatorSystem::LoadResource(&world.k);
    }
    std::vector<std::string> Traces() const {
        std::vector<std::string> out;
        for (const Call* c : world.k.CallsOf("Trace")) out.push_back(c->args[0]);
        return out;
    }

    FakeTeam team;
    TempResources res;
    FakeWorld world;
    const ObjectId player{900, 3};
};

std::vector<int> ConfigsOf(const std::vector<CreatorProbEntry>& list) {
    std::vector<int> out;
    for (const CreatorProbEntry& e : list) out.push_back(e.npcConfig);
    return out;
}

// The 1001 list after its fixed head as (config, slot) pairs.
std::vector<std::pair<int, int>> Pairs(const IVarList& cmd) {
    std::vector<std::pair<int, int>> out;
    for (uint64_t i = 4; i + 1 < cmd.GetCount(); i += 2)
        out.emplace_back(cmd.IntVal(i), cmd.IntVal(i + 1));
    return out;
}

// ---- formation slots ---------------------------------------------------------

std::vector<int> FillOrder(int type) {
    std::vector<SpawnEntry> list;
    std::vector<int> order;
    for (int i = 0; i < kFormationSlots; ++i) {
        const int slot = NpcCreatorSystem::ChooseFormationSlot(nullptr, list, type);
        order.push_back(slot);
        list.push_back(SpawnEntry{1, slot});
    }
    return order;
}

TEST(ChooseFormationSlot, EachSlotTypeFillsTheFormationInItsPreferenceOrder) {
    EXPECT_EQ(FillOrder(0), (std::vector<int>{3, 0, 6, 4, 1, 7, 5, 2, 8}));
    EXPECT_EQ(FillOrder(1), (std::vector<int>{4, 1, 7, 5, 2, 8, 3, 0, 6}));
    EXPECT_EQ(FillOrder(2), (std::vector<int>{5, 2, 8, 4, 1, 7, 3, 0, 6}));
}

TEST(ChooseFormationSlot, AllNineTakenGivesTheSlotTypeItself) {
    std::vector<SpawnEntry> full;
    for (int s = 0; s < kFormationSlots; ++s) full.push_back(SpawnEntry{1, s});
    EXPECT_EQ(NpcCreatorSystem::ChooseFormationSlot(nullptr, full, 0), 0);
    EXPECT_EQ(NpcCreatorSystem::ChooseFormationSlot(nullptr, full, 1), 1);
    EXPECT_EQ(NpcCreatorSystem::ChooseFormationSlot(nullptr, full, 2), 2);
}

TEST(ChooseFormationSlot, TakenSlotsAreSkippedWhateverTypeTookThem) {
    // Slot 4 held by a fixed NPC: type 1 moves to its second choice, 1.
    std::vector<SpawnEntry> list{{500, 4}};
    EXPECT_EQ(NpcCreatorSystem::ChooseFormationSlot(nullptr, list, 1), 1);
    list.push_back({501, 3});
    EXPECT_EQ(NpcCreatorSystem::ChooseFormationSlot(nullptr, list, 0), 0);
}

TEST(ChooseFormationSlot, SlotTypesOutsideThePreferenceTableAreRefused) {
    const std::vector<SpawnEntry> empty;
    for (int type : {-1, 3, 4, INT_MAX, INT_MIN})
        EXPECT_EQ(NpcCreatorSystem::ChooseFormationSlot(nullptr, empty, type), -1) << type;
}

TEST(ChooseFormationSlot, ListedSlotsOutsideTheFormationMarkNothing) {
    const std::vector<SpawnEntry> odd{{1, -1}, {2, 9}, {3, INT_MAX}, {4, INT_MIN}};
    EXPECT_EQ(NpcCreatorSystem::ChooseFormationSlot(nullptr, odd, 0), 3);
    EXPECT_EQ(NpcCreatorSystem::ChooseFormationSlot(nullptr, odd, 2), 5);
}

// ---- wanted draws ---------------------------------------------------------------

TEST(WantedDraws, IsTheCountLessTheFixedEntriesAndNeverNegative) {
    RecordingKernel k;
    EXPECT_EQ(NpcCreatorSystem::WantedDraws(&k, 3, 1), 2);
    EXPECT_EQ(NpcCreatorSystem::WantedDraws(&k, 1, 2), 0);
    EXPECT_EQ(NpcCreatorSystem::WantedDraws(&k, 0, 0), 0);
    EXPECT_EQ(NpcCreatorSystem::WantedDraws(&k, INT_MIN, 5), 0);  // no wrap to a huge count
    EXPECT_EQ(NpcCreatorSystem::WantedDraws(&k, INT_MAX, -5), kMaxEncounterDraws);
    EXPECT_EQ(k.Count("Trace"), 2u);  // only the last call was capped
}

TEST(WantedDraws, AbsurdCountsAreCappedWithALogLine) {
    RecordingKernel k;
    EXPECT_EQ(NpcCreatorSystem::WantedDraws(&k, kMaxEncounterDraws, 0), kMaxEncounterDraws);
    EXPECT_EQ(k.Count("Trace"), 0u);
    EXPECT_EQ(NpcCreatorSystem::WantedDraws(&k, 2000000000, 1), kMaxEncounterDraws);
    ASSERT_EQ(k.Count("Trace"), 2u);
    EXPECT_NE(k.CallsOf("Trace")[0]->args[0].find("capped"), std::string::npos);
    EXPECT_EQ(k.CallsOf("Trace")[1]->args[0], "2000000000");
}

// ---- resources ------------------------------------------------------------------

TEST_F(NpcCreatorTest, BothFilesMissingLogsFourLinesAndLeavesTablesEmpty) {
    world.k.resourcePath = res.Dir();
    EXPECT_TRUE(NpcCreatorSystem::LoadResource(&world.k));
    EXPECT_EQ(Traces(),
              (std::vector<std::string>{"[Error]NpcCreatorSystem::LoadResource: No found file:",
                                        res.Dir() + "Npc\\ModelProb.ini",
                                        "[Error]NpcCreatorSystem::LoadResource: No found file:",
                                        res.Dir() + "Npc\\CreatorProb.ini"}));
    EXPECT_TRUE(NpcCreatorSystem::s_modelProbTable.empty());
    EXPECT_TRUE(NpcCreatorSystem::s_creatorProbTable.empty());
}

TEST_F(NpcCreatorTest, EntriesAreStoredPerSectionInFileOrder) {
    Load("[12]\na=1201,0.25,wolf,7\nb=1202,0.75,bear,8\n[3]\nx=5,1,spirit,9\n",
         "[7]\nn=30015,0.5,1\nm=30020,4,3\n");
    const auto& models = NpcCreatorSystem::s_modelProbTable;
    ASSERT_EQ(models.size(), 2u);
    const auto& twelve = models.at(12);
    ASSERT_EQ(twelve.size(), 2u);
    EXPECT_EQ(twelve[0].model, 1201);
    EXPECT_FLOAT_EQ(twelve[0].probability, 0.25f);
    EXPECT_EQ(twelve[0].description, "wolf");
    EXPECT_EQ(twelve[0].index, 7);
    EXPECT_EQ(twelve[1].description, "bear");
    EXPECT_EQ(models.at(3)[0].index, 9);
    const auto& seven = NpcCreatorSystem::s_creatorProbTable.at(7);
    ASSERT_EQ(seven.size(), 2u);
    EXPECT_EQ(seven[0].npcConfig, 30015);
    EXPECT_FLOAT_EQ(seven[0].probability, 0.5f);
    EXPECT_EQ(seven[0].slotType, 1);
    EXPECT_EQ(seven[1].slotType, kFixedSlotType);
    EXPECT_TRUE(Traces().empty());
}

TEST_F(NpcCreatorTest, WrongFieldCountIsLoggedAndOnlyThatEntrySkipped) {
    Load(
        "[12]\na=1201,0.25,wolf,7,9\nb=1202,0.5,bear,8,\nc=1203,0.5,big, bad wolf,9\n"
        "d=1204,1,,,boar,3\n",
        "[7]\nn=30015,0.5\nm=30020,4,3\n");
    const auto& twelve = NpcCreatorSystem::s_modelProbTable.at(12);
    ASSERT_EQ(twelve.size(), 2u);
    EXPECT_EQ(twelve[0].model, 1202);  // trailing comma: still four fields
    EXPECT_EQ(twelve[1].model, 1204);  // empty fields are dropped
    EXPECT_EQ(twelve[1].description, "boar");
    const std::string mismatch = "NpcCreatorSystem LoadNpcCreatorInfo error! data count not match";
    EXPECT_EQ(Traces(),
              (std::vector<std::string>{mismatch, "1201,0.25,wolf,7,9", mismatch,
                                        "1203,0.5,big, bad wolf,9", mismatch, "30015,0.5"}));
    EXPECT_EQ(ConfigsOf(NpcCreatorSystem::s_creatorProbTable.at(7)), std::vector<int>{30020});
}

TEST_F(NpcCreatorTest, FirstSectionOfANumberWinsAndEmptySectionsStayAsEmptyLists) {
    Load("[5]\nbad=1,2\n", "[7]\na=1,0.5,0\n[07]\nb=2,0.5,0\n[x]\nc=3,0.5,0\n");
    EXPECT_EQ(ConfigsOf(NpcCreatorSystem::s_creatorProbTable.at(7)), std::vector<int>{1});
    EXPECT_EQ(ConfigsOf(NpcCreatorSystem::s_creatorProbTable.at(0)), std::vector<int>{3});
    ASSERT_EQ(NpcCreatorSystem::s_modelProbTable.count(5), 1u);
    EXPECT_TRUE(NpcCreatorSystem::s_modelProbTable.at(5).empty());
}

TEST_F(NpcCreatorTest, SecondLoadAddsOnlyKeysNotYetPresent) {
    Load("[1]\na=1,1,one,1\n", "[1]\na=10,1,0\n");
    Load("[1]\na=2,1,two,2\n[2]\na=3,1,three,3\n", "[1]\na=20,1,0\n[2]\na=30,1,0\n");
    EXPECT_EQ(NpcCreatorSystem::s_modelProbTable.at(1)[0].model, 1);
    EXPECT_EQ(NpcCreatorSystem::s_modelProbTable.at(2)[0].model, 3);
    EXPECT_EQ(ConfigsOf(NpcCreatorSystem::s_creatorProbTable.at(1)), std::vector<int>{10});
    EXPECT_EQ(ConfigsOf(NpcCreatorSystem::s_creatorProbTable.at(2)), std::vector<int>{30});
}

TEST_F(NpcCreatorTest, SlotTypesOutsideZeroToThreeAreRefusedAtLoad) {
    Load("", "[7]\na=1,0.5,4\nb=2,0.5,-1\nc=3,0.5,2\nd=4,0.5,99999999999\ne=5,0.5,0\n");
    EXPECT_EQ(ConfigsOf(NpcCreatorSystem::s_creatorProbTable.at(7)), (std::vector<int>{3, 5}));
    const std::string line = "NpcCreatorSystem LoadNpcCreatorInfo error! slot type out of range";
    EXPECT_EQ(Traces(), (std::vector<std::string>{line, "1,0.5,4", line, "2,0.5,-1", line,
                                                  "4,0.5,99999999999"}));
}

TEST_F(NpcCreatorTest, FixedSlotsOutsideTheFormationAreRefusedAtLoad) {
    Load("", "[7]\na=1,9,3\nb=2,-1,3\nc=3,8.99,3\nd=4,-0.5,3\ne=5,nan,3\nf=6,1e30,3\ng=7,0,3\n");
    // 8.99 and -0.5 truncate to slots 8 and 0; "nan" is no decimal number
    // and reads as 0, slot 0.
    EXPECT_EQ(ConfigsOf(NpcCreatorSystem::s_creatorProbTable.at(7)),
              (std::vector<int>{3, 4, 5, 7}));
    const std::string line = "NpcCreatorSystem LoadNpcCreatorInfo error! fixed slot out of range";
    EXPECT_EQ(Traces(),
              (std::vector<std::string>{line, "1,9,3", line, "2,-1,3", line, "6,1e30,3"}));
}

// ---- lifecycle ----------------------------------------------------------------------

TEST_F(NpcCreatorTest, AfterInitRegistersSixHandlersInOrderThenLoadsTables) {
    world.k.resourcePath = res.Dir();
    NpcCreatorSystem module;
    EXPECT_TRUE(module.AfterInit(&world.k));
    const std::vector<std::string> regs = world.k.Texts(
        {"AddClassCallback", "AddCommandHook", "DeclareHeartBeat", "GetResourcePath"});
    EXPECT_EQ(regs, (std::vector<std::string>{
                        "AddClassCallback(NpcCreator, OnCreateClass, fn, 3)",
                        "AddClassCallback(NpcCreator, OnLoad, fn, 3)",
                        "AddClassCallback(NpcCreator, OnSelect, fn, 3)",
                        "AddCommandHook(player, 1018, fn, 3)",
                        "DeclareHeartBeat(NpcCreatorSystem::WaitRefreshNPC, fn)",
                        "DeclareHeartBeat(NpcCreatorSystem::WaitRefreshModel, fn)",
                        "GetResourcePath()",
                    }));
    EXPECT_NE(world.k.ClassCallback("NpcCreator", "OnSelect"), nullptr);
    EXPECT_NE(world.k.HeartBeat("NpcCreatorSystem::WaitRefreshModel"), nullptr);
}

TEST_F(NpcCreatorTest, InitWithoutTeamModuleFailsAfterFourLogLines) {
    NpcCreatorSystem module;
    EXPECT_FALSE(module.Init(&world.k));
    EXPECT_EQ(NpcCreatorSystem::s_instance, &module);
    EXPECT_EQ(NpcCreatorSystem::s_teamSystem, nullptr);
    EXPECT_EQ(world.k.Ops({"FindModule"}),
              (std::vector<std::string>{"Echo", "Echo", "Trace", "Trace"}));
    EXPECT_EQ(world.k.CallsOf("Echo")[0]->args[0], "Not exist TeamSystem module!");

    world.k.modules["TeamSystem"] = &team;
    EXPECT_TRUE(module.Init(&world.k));
    EXPECT_EQ(NpcCreatorSystem::s_teamSystem, &team);
}

// ---- record filling -----------------------------------------------------------------

TEST_F(NpcCreatorTest, CreatorWithoutModelSectionKeepsEmptyRecordsAndNpcConfig) {
    Load("[1]\na=1,1,one,5\n", "[5]\na=10,1,0\n");
    const ObjectId c = world.AddCreator(1, 2);
    world.Set(c, "NpcConfig", 77);
    NpcCreatorSystem::FillModelInfo(&world.k, c);
    NpcCreatorSystem::FillNpcInfo(&world.k, c);
    EXPECT_TRUE(world.Rows(c, "ModelInfoRec").empty());
    EXPECT_TRUE(world.Rows(c, "NPCInfoRec").empty());
    EXPECT_EQ(world.Int(c, "NpcConfig"), 77);
}

TEST_F(NpcCreatorTest, FillNpcInfoStopsAtTheFirstIndexMissingFromTheTable) {
    Load("[4]\na=1,0.3,five,5\nb=2,0.3,seven,7\nc=3,0.4,nine,9\n",
         "[5]\na=50,0.5,0\nb=51,0.5,1\n[9]\na=90,1,2\n");
    const ObjectId c = world.AddCreator(1, 4);
    NpcCreatorSystem::FillModelInfo(&world.k, c);
    NpcCreatorSystem::FillNpcInfo(&world.k, c);
    ASSERT_EQ(world.Rows(c, "ModelInfoRec").size(), 3u);
    EXPECT_EQ(world.Rows(c, "ModelInfoRec")[1], (FakeWorld::Row{2, 0.3f, std::string("seven"), 7}));
    const auto& npcs = world.Rows(c, "NPCInfoRec");
    ASSERT_EQ(npcs.size(), 2u);
    EXPECT_EQ(npcs[0], (FakeWorld::Row{5, 50, 0.5f, 0}));
    EXPECT_EQ(npcs[1], (FakeWorld::Row{5, 51, 0.5f, 1}));
}

TEST_F(NpcCreatorTest, RepeatedModelIndexGetsItsCandidatesTwice) {
    Load("[4]\na=1,0.5,a,5\nb=2,0.5,b,5\n", "[5]\na=50,0.5,0\nb=51,4,3\n");
    const ObjectId c = world.AddCreator(1, 4);
    NpcCreatorSystem::FillModelInfo(&world.k, c);
    NpcCreatorSystem::FillNpcInfo(&world.k, c);
    const auto& npcs = world.Rows(c, "NPCInfoRec");
    ASSERT_EQ(npcs.size(), 4u);
    EXPECT_EQ(std::get<int>(npcs[2][1]), 50);
    EXPECT_EQ(std::get<int>(npcs[3][1]), 51);
}

TEST_F(NpcCreatorTest, FillingStopsWhenTheRecordIsFull) {
    Load("[4]\na=1,0.5,a,5\nb=2,0.5,b,6\nc=3,0.5,c,7\n", "[5]\na=50,1,0\n");
    const ObjectId c = world.AddCreator(1, 4);
    world.At(c).recs["ModelInfoRec"].maxRows = 2;
    NpcCreatorSystem::FillModelInfo(&world.k, c);
    EXPECT_EQ(world.Rows(c, "ModelInfoRec").size(), 2u);
    EXPECT_EQ(world.k.Count("SetRecordRowValues"), 2u);  // never a write to row -1
}

TEST_F(NpcCreatorTest, ApplyNpcConfigTakesTheFirstRowOfTheIndex) {
    const ObjectId c = world.AddCreator(1, 4);
    world.AddNpcRow(c, 6, 60, 1, 0);
    world.AddNpcRow(c, 7, 71, 0.5f, 0);
    world.AddNpcRow(c, 7, 72, 0.5f, 0);
    world.AddNpcRow(c, 7, 73, 4, 3);
    EXPECT_EQ(NpcCreatorSystem::ApplyNpcConfig(&world.k, c, 7), 71);
    EXPECT_EQ(world.Int(c, "NpcConfig"), 71);
    EXPECT_EQ(NpcCreatorSystem::ApplyNpcConfig(&world.k, c, 8), 0);
    EXPECT_EQ(world.Int(c, "NpcConfig"), 71);
}

// ---- load of a creator ----------------------------------------------------------------

class CreatorLoadTest : public NpcCreatorTest {
protected:
    int AddedInterval(const char* beat) {
        for (const Call* c : world.k.CallsOf("AddHeartBeat"))
            if (c->args[1] == beat) return std::stoi(c->args[2]);
        return -1;
    }
    void LoadCreator(const ObjectId& c) {
        NpcCreatorSystem::OnCreatorLoad(&world.k, c, ObjectId{}, CVarList());
    }
};

TEST_F(CreatorLoadTest, PeriodsBelowOneMeanSixtySeconds) {
    const ObjectId c = world.AddCreator(1, 4);
    LoadCreator(c);
    EXPECT_EQ(AddedInterval("NpcCreatorSystem::WaitRefreshNPC"), 60000);
    EXPECT_EQ(AddedInterval("NpcCreatorSystem::WaitRefreshModel"), 60000);
}

TEST_F(CreatorLoadTest, ModelPeriodBelowOneFollowsTheRefreshPeriod) {
    const ObjectId c = world.AddCreator(1, 4);
    world.Set(c, "RefreshTime", 30);
    world.Set(c, "RefreshModelTime", -5);
    LoadCreator(c);
    EXPECT_EQ(AddedInterval("NpcCreatorSystem::WaitRefreshNPC"), 30000);
    EXPECT_EQ(AddedInterval("NpcCreatorSystem::WaitRefreshModel"), 30000);
}

TEST_F(CreatorLoadTest, HugePeriodsSaturateInsteadOfWrapping) {
    const ObjectId c = world.AddCreator(1, 4);
    world.Set(c, "RefreshTime", 3000000);  // 3e9 ms would wrap negative
    world.Set(c, "RefreshModelTime", INT_MAX);
    LoadCreator(c);
    EXPECT_EQ(AddedInterval("NpcCreatorSystem::WaitRefreshNPC"), INT_MAX);
    EXPECT_EQ(AddedInterval("NpcCreatorSystem::WaitRefreshModel"), INT_MAX);
}

TEST_F(CreatorLoadTest, CommandNinetyFiveAnsweredZeroKeepsTheModelStill) {
    const ObjectId c = world.AddCreator(1, 4);
    world.k.On("Command", [](Call& call) -> std::optional<Reply> {
        if (call.list->IntVal(0) == 995) return Reply(0);
        return std::nullopt;
    });
    LoadCreator(c);
    EXPECT_EQ(world.Commands(), std::vector<std::string>{"Command(id(1,7), id(1,7), [995])"});
    EXPECT_EQ(AddedInterval("NpcCreatorSystem::WaitRefreshNPC"), 60000);
    EXPECT_EQ(AddedInterval("NpcCreatorSystem::WaitRefreshModel"), -1);
}

TEST_F(CreatorLoadTest, ObjectCarryingBothHeartbeatsGetsNoMore) {
    const ObjectId c = world.AddCreator(1, 4);
    world.k.Always("FindHeartBeat", Reply(true));
    LoadCreator(c);
    EXPECT_EQ(world.k.Count("FindHeartBeat"), 2u);
    EXPECT_EQ(world.k.Count("AddHeartBeat"), 0u);
}

TEST_F(CreatorLoadTest, CountersAreRaisedNeverLoweredAndHiddenCreatorsShown) {
    const ObjectId a = world.AddCreator(1, 4);
    world.Set(a, "SelectCount", 5);
    world.Set(a, "MaxSelectCount", 3);
    world.Set(a, "Invisible", 1);
    world.Set(a, "CantVisible", 1);
    LoadCreator(a);
    EXPECT_EQ(world.Int(a, "SelectCount"), 5);
    EXPECT_EQ(world.Int(a, "CantVisible"), 0);
    EXPECT_EQ(world.Int(a, "Invisible"), 1);

    const ObjectId b = world.AddCreator(2, 4);
    world.Set(b, "SelectCount", -2);
    world.Set(b, "MaxSelectCount", 3);
    world.Set(b, "Invisible", 2);
    world.Set(b, "CantVisible", 1);
    LoadCreator(b);
    EXPECT_EQ(world.Int(b, "SelectCount"), 3);
    EXPECT_EQ(world.Int(b, "CantVisible"), 1);  // only Invisible exactly 1 shows it
}

TEST_F(CreatorLoadTest, LoadFillsRecordsDrawsTheModelAndCopiesItToModelEx) {
    Load("[4]\na=1401,1,arena,40\n", "[40]\na=300,0.5,0\nb=301,0.5,1\n");
    const ObjectId c = world.AddCreator(1, 4);
    LoadCreator(c);
    EXPECT_EQ(world.Rows(c, "ModelInfoRec").size(), 1u);
    EXPECT_EQ(world.Rows(c, "NPCInfoRec").size(), 2u);
    EXPECT_EQ(world.Int(c, "Model"), 1401);
    EXPECT_EQ(world.Int(c, "ModelEx"), 1401);
    EXPECT_EQ(world.Int(c, "Index"), 40);
    EXPECT_EQ(world.Int(c, "NpcConfig"), 300);
    EXPECT_EQ(world.Str(c, "NPCDes"), "arena");
}

TEST_F(CreatorLoadTest, AreaBossCreatorsAreLeftToTheirOwnSystem) {
    Load("[4]\na=1401,1,arena,40\n", "[40]\na=300,0.5,0\n");
    const ObjectId boss = world.AddCreator(1, 4, "AreaBossNPCCreator");
    LoadCreator(boss);
    EXPECT_TRUE(world.Rows(boss, "ModelInfoRec").empty());
    EXPECT_EQ(world.k.Count("AddHeartBeat"), 0u);

    // Only the exact config text counts.
    const ObjectId other = world.AddCreator(2, 4, "AreaBossNPCCreator2");
    LoadCreator(other);
    EXPECT_EQ(world.Rows(other, "ModelInfoRec").size(), 1u);
}

// ---- select -------------------------------------------------------------------------

class SelectTest : public NpcCreatorTest {
protected:
    // The index-7 creator: one fixed NPC at 4.9 and two weighted NPCs of type 0.
    ObjectId IndexSevenCreator() {
        const ObjectId c = world.AddCreator(1, 4);
        world.Set(c, "Index", 7);
        world.Set(c, "SelectCount", 3);
        world.AddModelRow(c, 1201, 1, "wolf", 7);
        world.AddNpcRow(c, 7, 500, 4.9f, 3);
        world.AddNpcRow(c, 7, 601, 0.5f, 0);
        world.AddNpcRow(c, 7, 602, 0.5f, 0);
        return c;
    }
    void Select(const ObjectId& c, int function = 1) {
        CVarList args;
        args.AddInt(function);
        NpcCreatorSystem::OnCreatorSelect(&world.k, c, player, args);
    }
    const IVarList* Encounter() {
        const auto cmds = world.CommandsWithId(1001);
        return cmds.empty() ? nullptr : &*cmds.back()->list;
    }
};

TEST_F(SelectTest, IndexSevenEncounterPlacesFixedThenDrawnNpcs) {
    const ObjectId c = IndexSevenCreator();
    world.ScriptAnswers(3);
    Select(c);
    // Draws 41/32768 and 18467/32768: the first and then the second weighted row.
    EXPECT_EQ(world.Commands(),
              (std::vector<std::string>{"Command(id(900,3), id(1,7), [976])",
                                        "Command(id(1,7), id(1,7), [997, 7, id(1,7)])",
                                        "Command(id(900,3), id(900,3), [1001, id(1,7), 0, 3, "
                                        "500, 4, 601, 3, 602, 0])"}));
}

TEST_F(SelectTest, DrawsReachRowsPastManyCandidates) {
    const ObjectId c = world.AddCreator(1, 4);
    world.Set(c, "Index", 7);
    world.Set(c, "SelectCount", 3);
    world.AddModelRow(c, 1201, 1, "wolf", 7);
    // 33 light rows, then 7 heavy ones: the second and third draws land
    // among the rows read last.
    for (int r = 0; r < 40; ++r) world.AddNpcRow(c, 7, 1000 + r, r < 33 ? 0.001f : 0.1f, 0);
    world.ScriptAnswers(3);
    Select(c);
    // Draws 0.00125, 0.564 and 0.193.
    ASSERT_EQ(world.Commands().size(), 3u);
    EXPECT_EQ(world.Commands()[2],
              "Command(id(900,3), id(900,3), [1001, id(1,7), 0, 3, 1001, 3, 1038, 0, 1034, 6])");
}

TEST_F(SelectTest, ScriptReceivesCreatorPlayerAndTeamCount) {
    const ObjectId c = IndexSevenCreator();
    world.ScriptAnswers(3);
    Select(c);
    EXPECT_EQ(world.k.Texts({"RunScriptFunction"}),
              std::vector<std::string>{"RunScriptFunction(Rule\\npc_creator.lua, get_npc_count, "
                                       "[id(1,7), id(900,3), 1], 1)"});
}

TEST_F(SelectTest, LeaderOfFourCountsFourAndSetsTheLeaderFlag) {
    team.inTeam = team.leader = true;
    team.members = 4;
    const ObjectId c = IndexSevenCreator();
    world.ScriptAnswers(std::nullopt);  // no script: the team size is the count
    Select(c);
    EXPECT_EQ(world.k.CallsOf("RunScriptFunction")[0]->list->IntVal(2), 4);
    const IVarList* cmd = Encounter();
    ASSERT_NE(cmd, nullptr);
    EXPECT_EQ(cmd->IntVal(2), 1);
    EXPECT_EQ(cmd->IntVal(3), 4);
    EXPECT_EQ(Pairs(*cmd).size(), 4u);
}

TEST_F(SelectTest, MemberWhoDoesNotLeadCountsOneWithoutLeaderFlag) {
    team.inTeam = true;
    team.members = 4;
    const ObjectId c = IndexSevenCreator();
    world.ScriptAnswers(std::nullopt);
    Select(c);
    EXPECT_EQ(world.k.CallsOf("RunScriptFunction")[0]->list->IntVal(2), 1);
    ASSERT_NE(Encounter(), nullptr);
    EXPECT_EQ(Encounter()->IntVal(2), 0);
    EXPECT_EQ(Encounter()->IntVal(3), 1);
}

TEST_F(SelectTest, PlayerOutsideATeamIsNeverAskedAboutLeadership) {
    team.leader = true;  // inconsistent module: leader but not in a team
    const ObjectId c = IndexSevenCreator();
    world.ScriptAnswers(3);
    Select(c);
    EXPECT_EQ(team.isTeamLeaderCalls, 0);
    EXPECT_EQ(Encounter()->IntVal(2), 0);
}

TEST_F(SelectTest, MissingTeamModuleMeansNoTeam) {
    NpcCreatorSystem::s_teamSystem = nullptr;
    const ObjectId c = IndexSevenCreator();
    world.ScriptAnswers(std::nullopt);
    Select(c);
    EXPECT_EQ(world.k.CallsOf("RunScriptFunction")[0]->list->IntVal(2), 1);
    ASSERT_NE(Encounter(), nullptr);
    EXPECT_EQ(Encounter()->IntVal(2), 0);
    EXPECT_EQ(NpcCreatorSystem::LeaderFlag(&world.k, player), 0);
}

TEST_F(SelectTest, SelectCountRunsBelowZeroAndHidesTheCreatorButStillDraws) {
    const ObjectId c = IndexSevenCreator();
    world.Set(c, "SelectCount", 1);
    world.ScriptAnswers(1);
    Select(c);
    EXPECT_EQ(world.Int(c, "SelectCount"), 0);
    EXPECT_EQ(world.Int(c, "Invisible"), 0);
    EXPECT_EQ(world.Int(c, "CantVisible"), 0);
    Select(c);
    EXPECT_EQ(world.Int(c, "SelectCount"), -1);
    EXPECT_EQ(world.Int(c, "Invisible"), 1);
    EXPECT_EQ(world.Int(c, "CantVisible"), 1);
    EXPECT_EQ(world.CommandsWithId(1001).size(), 2u);
}

TEST_F(SelectTest, SelectCountAtTheIntLimitDoesNotWrap) {
    const ObjectId c = IndexSevenCreator();
    world.Set(c, "SelectCount", INT_MIN);
    world.ScriptAnswers(1);
    Select(c);
    EXPECT_EQ(world.Int(c, "SelectCount"), INT_MIN);
    EXPECT_EQ(world.Int(c, "CantVisible"), 1);
}

TEST_F(SelectTest, FewerWantedThanFixedSendsAllFixedWithoutDrawing) {
    const ObjectId c = IndexSevenCreator();
    world.AddNpcRow(c, 7, 501, 2.2f, 3);
    world.ScriptAnswers(1);
    Select(c);
    const IVarList* cmd = Encounter();
    ASSERT_NE(cmd, nullptr);
    EXPECT_EQ(cmd->IntVal(3), 2);
    EXPECT_EQ(Pairs(*cmd), (std::vector<std::pair<int, int>>{{500, 4}, {501, 2}}));
    EXPECT_EQ(RandomDraw(), 41);  // the generator was not touched
}

TEST_F(SelectTest, UnreachableWeightsEndDrawingButTheSizeFieldCountsTheWanted) {
    const ObjectId c = IndexSevenCreator();
    auto& rows = world.Rows(c, "NPCInfoRec");
    rows[1][2] = 0.1f;
    rows[2][2] = 0.2f;
    world.ScriptAnswers(4);
    RandomDraw();  // the next draw is 18467/32768 = 0.56
    Select(c);
    const IVarList* cmd = Encounter();
    ASSERT_NE(cmd, nullptr);
    EXPECT_EQ(cmd->IntVal(3), 4);
    EXPECT_EQ(Pairs(*cmd), (std::vector<std::pair<int, int>>{{500, 4}}));
    EXPECT_EQ(RandomDraw(), 6334);  // exactly one draw was made
}

TEST_F(SelectTest, NothingFixedAndNothingDrawnSendsNothing) {
    const ObjectId c = IndexSevenCreator();
    world.Rows(c, "NPCInfoRec").erase(world.Rows(c, "NPCInfoRec").begin());
    world.Rows(c, "NPCInfoRec")[0][2] = 0.0f;
    world.Rows(c, "NPCInfoRec")[1][2] = 0.0f;
    world.ScriptAnswers(3);
    Select(c);
    EXPECT_EQ(Encounter(), nullptr);
    EXPECT_EQ(world.CommandsWithId(997).size(), 1u);
}

TEST_F(SelectTest, LaterMissesAreDrawnAgain) {
    const ObjectId c = world.AddCreator(1, 4);
    world.Set(c, "Index", 7);
    world.AddModelRow(c, 1, 1, "m", 7);
    world.AddNpcRow(c, 7, 601, 0.5f, 2);  // draws below 0.5 only
    world.ScriptAnswers(3);
    // Sequence: 0.0013 hit, 0.564 miss, 0.193 hit, 0.809 miss, 0.585 miss, 0.480 hit.
    Select(c);
    const IVarList* cmd = Encounter();
    ASSERT_NE(cmd, nullptr);
    EXPECT_EQ(Pairs(*cmd), (std::vector<std::pair<int, int>>{{601, 5}, {601, 2}, {601, 8}}));
    EXPECT_EQ(RandomDraw(), 11478);  // the seventh value: six draws were made
}

TEST_F(SelectTest, DrawsReadEachCandidateCellOnceForTheWholeCall) {
    const ObjectId c = world.AddCreator(1, 4);
    for (int i = 0; i < 10; ++i) world.AddNpcRow(c, 7, 700 + i, 0.1f, i % 3);
    world.AddNpcRow(c, 8, 800, 1.0f, 0);
    std::vector<SpawnEntry> list;
    NpcCreatorSystem::DrawEntries(&world.k, c, 7, 6, list);
    ASSERT_EQ(list.size(), 6u);
    // At most index, type, weight and config of each of the 11 rows.
    EXPECT_LE(world.k.Count("QueryRecordInt") + world.k.Count("QueryRecordFloat"), 44u);
    EXPECT_EQ(world.k.Count("GetRecordRows"), 1u);
    // The same draws as walking the record afresh every time: 41, 18467,
    // 6334, 26500, 19169, 15724 /32768 pick rows 0, 5, 1, 8, 5, 4.
    std::vector<int> configs;
    for (const SpawnEntry& e : list) configs.push_back(e.npcConfig);
    EXPECT_EQ(configs, (std::vector<int>{700, 705, 701, 708, 705, 704}));
}

TEST_F(SelectTest, AbsurdScriptCountIsCappedAndLogged) {
    const ObjectId c = IndexSevenCreator();
    world.ScriptAnswers(2000000000);
    Select(c);
    const IVarList* cmd = Encounter();
    ASSERT_NE(cmd, nullptr);
    EXPECT_EQ(cmd->IntVal(3), 1 + kMaxEncounterDraws);
    EXPECT_EQ(Pairs(*cmd).size(), size_t(1 + kMaxEncounterDraws));
    // Past nine NPCs the formation is full and the slot falls back to the type.
    EXPECT_EQ(Pairs(*cmd).back().second, 0);
    ASSERT_EQ(Traces().size(), 2u);
    EXPECT_EQ(Traces()[1], "2000000000");
}

TEST_F(SelectTest, SixtyFourBitScriptAnswerIsHeldToTheIntRange) {
    const ObjectId c = IndexSevenCreator();
    CVarList result;
    result.AddInt64(int64_t(1) << 40);
    world.k.Always("RunScriptFunction", Reply(true).Filling(result));
    EXPECT_EQ(NpcCreatorSystem::GetNpcCount(&world.k, c, player), INT_MAX);
}

TEST_F(SelectTest, BadRowsWrittenIntoTheRecordAreSkippedWhenDrawing) {
    const ObjectId c = world.AddCreator(1, 4);
    world.Set(c, "Index", 7);
    world.AddModelRow(c, 1, 1, "m", 7);
    world.AddNpcRow(c, 7, 700, 12.0f, 3);  // fixed slot past the formation
    world.AddNpcRow(c, 7, 701, -3.0f, 3);  // and before it
    world.AddNpcRow(c, 7, 702, 0.9f, 7);   // no preference row for type 7
    world.AddNpcRow(c, 7, 703, 0.9f, -1);
    world.AddNpcRow(c, 7, 704, 1.0f, 1);
    world.ScriptAnswers(2);
    Select(c);
    const IVarList* cmd = Encounter();
    ASSERT_NE(cmd, nullptr);
    EXPECT_EQ(Pairs(*cmd), (std::vector<std::pair<int, int>>{{704, 4}, {704, 1}}));
    EXPECT_EQ(cmd->IntVal(3), 2);
    // Each bad fixed row is named once, the bad slot types once per select.
    EXPECT_EQ(Traces().size(), 6u);
}

TEST_F(SelectTest, ModelIndexWithoutModelRowEndsQuietlyAfterTheCounter) {
    const ObjectId c = IndexSevenCreator();
    world.Set(c, "Index", 8);
    world.ScriptAnswers(3);
    Select(c);
    EXPECT_EQ(world.Int(c, "SelectCount"), 2);
    EXPECT_EQ(world.Commands(), std::vector<std::string>{"Command(id(900,3), id(1,7), [976])"});
    EXPECT_EQ(world.k.Count("RunScriptFunction"), 0u);
}

TEST_F(SelectTest, DeadCreatorChangesNothing) {
    const ObjectId c = IndexSevenCreator();
    world.k.live.erase(c);
    world.ScriptAnswers(3);
    NpcCreatorSystem::SelectCreator(&world.k, c, player, CVarList());
    EXPECT_EQ(world.Int(c, "SelectCount"), 3);
    EXPECT_TRUE(world.Commands().empty());
}

TEST_F(SelectTest, FunctionZeroOpensThePanelOnly) {
    const ObjectId c = IndexSevenCreator();
    Select(c, 0);
    EXPECT_EQ(world.k.Texts({"Custom", "Command"}),
              (std::vector<std::string>{"Custom(id(900,3), id(900,3), [50060, 90])",
                                        "Command(id(900,3), id(900,3), [432, 90])"}));
    EXPECT_EQ(world.Int(c, "SelectCount"), 3);
}

TEST_F(SelectTest, RefusedPermissionOrBossCreatorBuildsNothing) {
    const ObjectId c = IndexSevenCreator();
    world.ScriptAnswers(3);
    world.k.Then("Command", Reply(0));
    Select(c);
    EXPECT_EQ(world.Int(c, "SelectCount"), 3);
    world.Set(c, "CreatorType", 1);
    Select(c);
    EXPECT_EQ(world.Int(c, "SelectCount"), 3);
    EXPECT_EQ(world.k.Count("Command"), 2u);  // two permission questions, nothing more
}

// ---- model draw and notices --------------------------------------------------------------

class PickModelTest : public NpcCreatorTest {
protected:
    ObjectId ThreeModels() {
        const ObjectId c = world.AddCreator(1, 4);
        world.AddModelRow(c, 11, 0.2f, "first", 1);
        world.AddModelRow(c, 22, 0.3f, "second", 2);
        world.AddModelRow(c, 33, 0.5f, "third", 3);
        world.AddNpcRow(c, 2, 220, 1, 0);
        world.AddNpcRow(c, 3, 330, 1, 0);
        return c;
    }
    std::vector<std::string> Notices() const { return world.k.Texts({"SysInfoByWorld"}); }
};

TEST_F(PickModelTest, RunningSumMustExceedTheDraw) {
    const ObjectId c = ThreeModels();
    for (int i = 0; i < 5; ++i) RandomDraw();  // the sixth draw is 15724/32768 = 0.48
    NpcCreatorSystem::PickModel(&world.k, c);
    EXPECT_EQ(world.Int(c, "Model"), 22);
    EXPECT_EQ(world.Int(c, "ModelEx"), 22);
    EXPECT_EQ(world.Int(c, "Index"), 2);
    EXPECT_EQ(world.Int(c, "NpcConfig"), 220);
    EXPECT_EQ(world.Str(c, "NPCDes"), "second");
}

TEST_F(PickModelTest, SumEqualToTheDrawIsNotEnough) {
    const ObjectId c = world.AddCreator(1, 4);
    world.AddModelRow(c, 11, 41.0f / 32768.0f, "exact", 1);  // the first draw is 41/32768
    world.AddModelRow(c, 22, 1, "next", 2);
    NpcCreatorSystem::PickModel(&world.k, c);
    EXPECT_EQ(world.Int(c, "Model"), 22);
}

TEST_F(PickModelTest, AppliesInOrderDescriptionModelCopyIndexConfig) {
    const ObjectId c = ThreeModels();
    RandomDraw();  // 0.56: the third row
    NpcCreatorSystem::PickModel(&world.k, c);
    EXPECT_EQ(
        world.k.Texts({"SetInt", "SetString"}),
        (std::vector<std::string>{"SetString(id(1,7), NPCDes, third)", "SetInt(id(1,7), Model, 33)",
                                  "SetInt(id(1,7), ModelEx, 33)", "SetInt(id(1,7), Index, 3)",
                                  "SetInt(id(1,7), NpcConfig, 330)"}));
}

TEST_F(PickModelTest, SameModelWithDescriptionChangesNothingButStillAnnounces) {
    const ObjectId c = ThreeModels();
    world.Set(c, "Model", 11);
    world.Set(c, "NPCDes", std::string("kept"));
    world.Set(c, "Index", 9);
    world.Set(c, "NoticeByWorldRefresh", 1);
    NpcCreatorSystem::PickModel(&world.k, c);  // 0.0013: the first row, model 11
    EXPECT_EQ(world.Str(c, "NPCDes"), "kept");
    EXPECT_EQ(world.Int(c, "Index"), 9);
    EXPECT_EQ(world.k.Count("SetInt") + world.k.Count("SetString"), 0u);
    EXPECT_EQ(Notices().size(), 1u);
}

TEST_F(PickModelTest, SameModelWithEmptyDescriptionIsApplied) {
    const ObjectId c = ThreeModels();
    world.Set(c, "Model", 11);
    NpcCreatorSystem::PickModel(&world.k, c);
    EXPECT_EQ(world.Str(c, "NPCDes"), "first");
    EXPECT_EQ(world.Int(c, "Index"), 1);
}

TEST_F(PickModelTest, RefreshNoticeOnlyWhenTheFlagIsPresentAndPositive) {
    const ObjectId scene = world.Add(50, "scene", 1003);
    world.k.Always("GetScene", Reply(scene));
    const ObjectId c = ThreeModels();
    world.At(c).props.erase("NoticeByWorldRefresh");
    NpcCreatorSystem::PickModel(&world.k, c);
    EXPECT_TRUE(Notices().empty());
    world.Set(c, "NoticeByWorldRefresh", 0);
    NpcCreatorSystem::PickModel(&world.k, c);
    EXPECT_TRUE(Notices().empty());
    world.Set(c, "NoticeByWorldRefresh", 2);
    NpcCreatorSystem::PickModel(&world.k, c);
    EXPECT_EQ(Notices(), std::vector<std::string>{"SysInfoByWorld(19, 80000, [\"4\", \"1003\"])"});
}

TEST_F(PickModelTest, EmptyModelRecordStillAnnounces) {
    const ObjectId c = world.AddCreator(1, 4);
    world.Set(c, "NoticeByWorldRefresh", 1);
    world.Set(c, "Model", 5);
    NpcCreatorSystem::WaitRefreshModel(&world.k, c);
    EXPECT_EQ(world.Int(c, "Model"), 5);
    EXPECT_EQ(Notices(), std::vector<std::string>{"SysInfoByWorld(19, 80000, [\"4\", \"0\"])"});
}

TEST_F(PickModelTest, WaitRefreshNpcRestoresCountAndVisibility) {
    const ObjectId c = world.AddCreator(1, 4);
    world.Set(c, "SelectCount", -1);
    world.Set(c, "MaxSelectCount", 3);
    world.Set(c, "Invisible", 1);
    world.Set(c, "CantVisible", 1);
    EXPECT_EQ(NpcCreatorSystem::WaitRefreshNPC(&world.k, c), 1);
    EXPECT_EQ(world.Int(c, "SelectCount"), 3);
    EXPECT_EQ(world.Int(c, "CantVisible"), 0);
    EXPECT_EQ(world.Int(c, "Invisible"), 1);
    world.Set(c, "SelectCount", 8);
    NpcCreatorSystem::WaitRefreshNPC(&world.k, c);
    EXPECT_EQ(world.Int(c, "SelectCount"), 8);
}

class KillNoticeTest : public NpcCreatorTest {
protected:
    void SetUp() override {
        NpcCreatorTest::SetUp();
        creator = world.AddCreator(1, 4);
        world.Set(creator, "NPCDes", std::string("Bandit chief"));
        fight = world.Add(60, "Fight", 0);
        world.Set(fight, "HelperInfo", creator);
        world.Add(player, "player", 0);
        world.At(player).props["Fighting"] = fight;
        world.At(player).props["Name"] = std::u16string(u"Hero");
    }
    void Kill() { NpcCreatorSystem::OnCreatorNpcKilled(&world.k, player, ObjectId{}, CVarList()); }
    std::vector<std::string> Notices() const { return world.k.Texts({"SysInfoByWorld"}); }

    ObjectId creator, fight;
};

TEST_F(KillNoticeTest, AnnouncedOnlyForFlagExactlyOne) {
    Kill();  // flag absent
    world.Set(creator, "NoticeByWorldBeKilled", 2);
    Kill();
    world.Set(creator, "NoticeByWorldBeKilled", 0);
    Kill();
    EXPECT_TRUE(Notices().empty());
    world.Set(creator, "NoticeByWorldBeKilled", 1);
    Kill();
    EXPECT_EQ(Notices(),
              std::vector<std::string>{"SysInfoByWorld(19, 80001, [\"Bandit chief\", u\"Hero\"])"});
}

TEST_F(KillNoticeTest, FightWithoutCreatorOrDeadCreatorIsIgnored) {
    world.Set(creator, "NoticeByWorldBeKilled", 1);
    world.At(fight).props.erase("HelperInfo");
    Kill();
    world.Set(fight, "HelperInfo", creator);
    world.k.live.erase(creator);
    Kill();
    EXPECT_TRUE(Notices().empty());
}

}  // namespace
