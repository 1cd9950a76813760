// Area boss system against a scripted kernel: initialisation and its INI
// table, the registrations, activity states, the refresh cycle, time points,
// the boss encounter and the two fight-result commands. A small object store
// behind the recording kernel keeps properties, records, children and
// attached heartbeats, so both the calls and the resulting state are checked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "AreaBossSystem.h"
#include "Kernel.h"
#include "ObjectStoreKernel.h"
#include "RecordingKernel.h"
#include "StandInScripts.h"
#include "TeamSystem.h"
#include "TempResources.h"
#include "Utility.h"
#include "VarList.h"

namespace {

using recording_detail::Text;

const char kRefreshBeat[] = "AreaBossSystem::WaitRefreshBossNPC";
const char kCheckBeat[] = "AreaBossSystem::PointTimeRefreshNPC";
const char kModelBeat[] = "NpcCreatorSystem::WaitRefreshModel";

// ---- fixtures ---------------------------------------------------------------------

class FakeTeam : public ITeamSystem {
public:
    bool inTeam = false;
    bool leader = false;
    int members = 0;

    bool IsTeamLeader(IKernel*, const ObjectId&) override { return leader; }
    const char16_t* GetTeamLeaderName(IKernel*, const ObjectId&) override { return u""; }
    bool IsInTeam(IKernel*, const ObjectId&) override { return inTeam; }
    int GetTeamMembers(IKernel*, const ObjectId&, IVarList& out) override {
        for (int i = 0; i < members; ++i) out.AddObject(ObjectId{uint32_t(900 + i), 1});
        return members;
    }
};

struct TimePointCall {
    int kind;
    std::string text;
    int param;
    CVarList args;
};

class FakeEventTime : public IEventTimeSystem {
public:
    std::vector<TimePointCall> calls;
    bool AddTimePointEvent(int kind, const char* timeText, int param,
                           const IVarList& args) override {
        calls.push_back(TimePointCall{kind, timeText, param, CVarList(args)});
        return true;
    }
};

// The object store with the boss tests' own answers: the scene every object
// is in, children, attached heartbeats, the creator hooks' permission and the
// count script.
class FakeWorld : public ObjectStoreKernel {
public:
    ObjectId scene;
    int permission = 1;               // answer of the creator's hooks to 976
    std::optional<int> scriptAnswer;  // get_npc_count; none: the script fails

    FakeWorld() {
        ServeChildren();
        ServeHeartBeats();
        k.On("GetScene", [this](Call&) -> std::optional<Reply> { return Reply(scene); });
        k.On("Command", [this](Call& c) -> std::optional<Reply> {
            return Reply(c.list->IntVal(0) == 976 ? permission : 1);
        });
        k.On("RunScriptFunction", [this](Call& c) -> std::optional<Reply> {
            if (!scriptAnswer) return Reply(false);
            c.out->AddInt(*scriptAnswer);
            return Reply(true);
        });
        scene = Add(ObjectId{1, 1}, "scene305", 305);
    }

    // A boss creator with every property of the class definition at 0 / "".
    ObjectId AddBoss(uint32_t ident, int number, int creatorType = 1) {
        const ObjectId id = Add(ObjectId{ident, 3}, "AreaBossNPCCreator", number);
        Obj& o = At(id);
        for (const char* p : {"CreatorType", "SelectCount", "MaxSelectCount", "Invisible",
                              "CantVisible", "RefreshTime", "RefreshModelTime", "Model", "ModelEx",
                              "Index", "NpcConfig", "CurNPCCount", "IsFighting"})
            o.props[p] = 0;
        o.props["NPCDes"] = std::string();
        o.props["FRTime"] = std::string();
        o.props["CreatorType"] = creatorType;
        o.recs["ModelInfoRec"];
        o.recs["NPCInfoRec"];
        return id;
    }
    // A player in a fight for creator, with a left team holding the player.
    ObjectId AddPlayerFighting(uint32_t ident, const ObjectId& creator) {
        const ObjectId player = Add(ObjectId{ident, 5}, "player", 0);
        const ObjectId fight = Add(ObjectId{ident + 1, 5}, "Fight", 0);
        const ObjectId team = Add(ObjectId{ident + 2, 5}, "FightTeam", 0);
        At(player).props["Fighting"] = fight;
        At(fight).props["HelperInfo"] = creator;
        At(fight).children[u"LeftTeam"] = team;
        At(team).recs["PkMemberInfo"].rows.push_back(Row{0, player});
        return player;
    }
    ObjectId LeftTeamOf(const ObjectId& player) {
        return At(std::get<ObjectId>(At(player).props.at("Fighting"))).children.at(u"LeftTeam");
    }

    bool HasBeat(const ObjectId& id, const char* name) { return At(id).beats.count(name) != 0; }
    int BeatMs(const ObjectId& id, const char* name) { return At(id).beats.at(name); }
    std::vector<std::string> Notices() const { return k.Texts({"SysInfoByWorld"}); }
};

// Puts every process-wide piece of the boss and creator systems back to its
// state at library load, and connects the fake host modules.
class AreaBossTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRandomState();
        AreaBossSystem::s_stateTable.clear();
        AreaBossSystem::s_checkFrequency = 10;
        AreaBossSystem::s_eventTimeSystem = &eventTime;
        NpcCreatorSystem::s_teamSystem = &team;
        NpcCreatorSystem::s_modelProbTable.clear();
        NpcCreatorSystem::s_creatorProbTable.clear();
    }
    void TearDown() override {
        AreaBossSystem::s_stateTable.clear();
        AreaBossSystem::s_checkFrequency = 10;
        AreaBossSystem::s_eventTimeSystem = nullptr;
        NpcCreatorSystem::s_teamSystem = nullptr;
        NpcCreatorSystem::s_modelProbTable.clear();
        NpcCreatorSystem::s_creatorProbTable.clear();
    }

    int Load(const ObjectId& creator) {
        return AreaBossSystem::OnAreaBossCreatorLoad(&w.k, creator, ObjectId{}, CVarList());
    }
    int Select(const ObjectId& creator, const ObjectId& player, int function = 1) {
        CVarList args;
        args.AddInt(function);
        return AreaBossSystem::OnAreaBossCreatorSelect(&w.k, creator, player, args);
    }
    int TimePoint(int kind, const ObjectId& creator) {
        CVarList args;
        args.AddInt(326);
        args.AddInt(kind);
        args.AddObject(creator);
        return AreaBossSystem::OnAreaBossTimePoint(&w.k, w.scene, ObjectId{}, args);
    }
    int Killed(const ObjectId& player) {
        return AreaBossSystem::OnAreaBossNpcKilled(&w.k, player, ObjectId{}, CVarList());
    }
    int Returned(const ObjectId& player) {
        return AreaBossSystem::OnAreaBossSelectReturned(&w.k, player, ObjectId{}, CVarList());
    }
    // A boss of number 12 whose records hold model 7001 (index 1200) with two
    // fixed NPCs and two weighted ones.
    ObjectId BossWithEncounter(uint32_t ident = 20) {
        const ObjectId boss = w.AddBoss(ident, 12);
        w.Set(boss, "Model", 7001);
        w.AddModelRow(boss, 7001, 1.0f, "boss", 1200);
        w.AddNpcRow(boss, 1200, 501, 4.0f, 3);
        w.AddNpcRow(boss, 1200, 502, 2.9f, 3);
        w.AddNpcRow(boss, 1200, 511, 0.5f, 0);
        w.AddNpcRow(boss, 1200, 512, 0.5f, 1);
        return boss;
    }

    FakeWorld w;
    FakeTeam team;
    FakeEventTime eventTime;
    AreaBossSystem module;
};

std::vector<int> Ints(const IVarList& list, uint64_t from = 0) {
    std::vector<int> out;
    for (uint64_t i = from; i < list.GetCount(); ++i) out.push_back(list.IntVal(i));
    return out;
}

// ---- initialisation and configuration -----------------------------------------------

TEST_F(AreaBossTest, InitWithoutEventTimeModuleReportsFourLinesAndSkipsTheTable) {
    TempResources res;
    res.Write("Npc\\NpcCreatorRefresh.ini", "[AreaBoss]\nCheckFrequency=25\n");
    w.k.resourcePath = res.Dir();
    EXPECT_FALSE(module.Init(&w.k));
    EXPECT_EQ(AreaBossSystem::s_eventTimeSystem, nullptr);
    EXPECT_EQ(w.k.Ops({"FindModule"}),
              (std::vector<std::string>{"Echo", "Echo", "Trace", "Trace"}));
    const auto echo = w.k.CallsOf("Echo");
    EXPECT_EQ(echo[0]->args[0], "Not exist EventTimeSystem module!");
    EXPECT_THAT(echo[1]->args[0],
                ::testing::MatchesRegex("rules/AreaBossSystem\\.cpp \\([0-9]+\\)"));
    EXPECT_EQ(w.k.CallsOf("Trace")[0]->args[0], echo[0]->args[0]);
    EXPECT_EQ(w.k.CallsOf("Trace")[1]->args[0], echo[1]->args[0]);
    EXPECT_EQ(AreaBossSystem::s_checkFrequency, 10);
}

TEST_F(AreaBossTest, InitReadsCheckFrequencyFromTheTable) {
    TempResources res;
    res.Write("Npc\\NpcCreatorRefresh.ini", "; boss points\n[AreaBoss]\nCheckFrequency=25\n");
    w.k.resourcePath = res.Dir();
    w.k.modules[EVENT_TIME_SYSTEM_MODULE_NAME] = &eventTime;
    EXPECT_TRUE(module.Init(&w.k));
    EXPECT_EQ(AreaBossSystem::s_eventTimeSystem, &eventTime);
    EXPECT_EQ(AreaBossSystem::s_checkFrequency, 25);
    EXPECT_EQ(w.k.Count("Trace"), 0u);
}

TEST_F(AreaBossTest, MissingTableKeepsTenSecondsAndTracesThePathAsWritten) {
    TempResources res;  // empty directory
    w.k.resourcePath = res.Dir();
    w.k.modules[EVENT_TIME_SYSTEM_MODULE_NAME] = &eventTime;
    EXPECT_TRUE(module.Init(&w.k));
    EXPECT_EQ(AreaBossSystem::s_checkFrequency, 10);
    const auto trace = w.k.CallsOf("Trace");
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_NE(trace[0]->args[0].find("not found"), std::string::npos);
    EXPECT_EQ(trace[1]->args[0], res.Dir() + "Npc\\NpcCreatorRefresh.ini");
    EXPECT_EQ(w.k.Count("Echo"), 0u);
}

TEST_F(AreaBossTest, MissingKeyOrSectionMeansSixtySeconds) {
    for (const char* text : {"[AreaBoss]\nOther=5\n", "[Elsewhere]\nCheckFrequency=5\n", ""}) {
        TempResources res;
        res.Write("Npc\\NpcCreatorRefresh.ini", text);
        w.k.resourcePath = res.Dir();
        AreaBossSystem::s_checkFrequency = 10;
        EXPECT_TRUE(AreaBossSystem::LoadResource(&w.k)) << text;
        EXPECT_EQ(AreaBossSystem::s_checkFrequency, 60) << text;
    }
}

TEST_F(AreaBossTest, NonNumericOrNegativeFrequencyIsKeptAsRead) {
    TempResources res;
    w.k.resourcePath = res.Dir();
    res.Write("Npc\\NpcCreatorRefresh.ini", "[AreaBoss]\nCheckFrequency=often\n");
    AreaBossSystem::LoadResource(&w.k);
    EXPECT_EQ(AreaBossSystem::s_checkFrequency, 0);
    res.Write("Npc\\NpcCreatorRefresh.ini", "[areaboss]\ncheckfrequency=-5\n");
    AreaBossSystem::LoadResource(&w.k);
    EXPECT_EQ(AreaBossSystem::s_checkFrequency, -5);
}

TEST_F(AreaBossTest, AfterInitRegistersSevenHandlersInOrder) {
    EXPECT_TRUE(module.AfterInit(&w.k));
    EXPECT_EQ(w.k.Texts(), (std::vector<std::string>{
                               "AddClassCallback(AreaBossNPCCreator, OnLoad, fn, 2)",
                               "AddClassCallback(AreaBossNPCCreator, OnSelect, fn, 2)",
                               "AddCommandHook(player, 1018, fn, 3)",
                               "AddCommandHook(player, 1019, fn, 3)",
                               "AddCommandHook(BaseScene, 326, fn, 3)",
                               "DeclareHeartBeat(AreaBossSystem::WaitRefreshBossNPC, fn)",
                               "DeclareHeartBeat(AreaBossSystem::PointTimeRefreshNPC, fn)",
                           }));
    // What was registered is the guarded handler: it works on a live creator.
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "MaxSelectCount", 2);
    w.k.HeartBeat(kRefreshBeat)(&w.k, boss);
    EXPECT_EQ(w.Int(boss, "SelectCount"), 2);
}

TEST_F(AreaBossTest, ModuleOperationsAnswerOneAndShutSucceeds) {
    EXPECT_TRUE(module.Shut());
    EXPECT_EQ(module.ActivityHook1(nullptr), 1);
    EXPECT_EQ(module.ActivityHook2(nullptr), 1);
    EXPECT_EQ(module.ActivityHook3(nullptr), 1);
    EXPECT_EQ(module.ActivityHook4(nullptr), 1);
}

// ---- activity states -----------------------------------------------------------------

TEST_F(AreaBossTest, ActivityStateOfAnUnloadedNumberIsIgnored) {
    EXPECT_EQ(module.SetActivityState(nullptr, 1, "12"), 1);
    EXPECT_TRUE(AreaBossSystem::s_stateTable.empty());
    Load(w.AddBoss(20, 12));
    EXPECT_EQ(AreaBossSystem::s_stateTable.at(12), 0);
    module.SetActivityState(nullptr, 1, "12");
    EXPECT_EQ(AreaBossSystem::s_stateTable.at(12), 1);
}

TEST_F(AreaBossTest, ActivityKeyIsReadAsADecimalPrefix) {
    AreaBossSystem::s_stateTable = {{0, 0}, {12, 0}, {-3, 0}};
    module.SetActivityState(nullptr, 4, "12abc");
    module.SetActivityState(nullptr, 7, "  -3");
    module.SetActivityState(nullptr, 9, "boss");
    EXPECT_EQ(AreaBossSystem::s_stateTable, (std::map<int, int>{{-3, 7}, {0, 9}, {12, 4}}));
}

// ---- load and refresh --------------------------------------------------------------------

TEST_F(AreaBossTest, TypeOneCreatorLoadsVisibleWithFullCounts) {
    AreaBossSystem::s_checkFrequency = 30;
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "MaxSelectCount", 3);
    w.Set(boss, "IsFighting", 1);
    EXPECT_EQ(Load(boss), 1);
    EXPECT_EQ(w.Int(boss, "SelectCount"), 3);
    EXPECT_EQ(w.Int(boss, "CurNPCCount"), 3);
    EXPECT_EQ(w.Int(boss, "IsFighting"), 0);
    EXPECT_EQ(w.Int(boss, "Invisible"), 1);
    EXPECT_EQ(w.Int(boss, "CantVisible"), 0);
    EXPECT_EQ(w.BeatMs(boss, kCheckBeat), 30000);
    EXPECT_FALSE(w.HasBeat(boss, kRefreshBeat));
    EXPECT_EQ(AreaBossSystem::s_stateTable, (std::map<int, int>{{12, 0}}));
    EXPECT_TRUE(eventTime.calls.empty());
}

TEST_F(AreaBossTest, LoadFillsRecordsAndDrawsTheModel) {
    NpcCreatorSystem::s_modelProbTable[12] = {{7001, 1.0f, "ogre king", 1200}};
    NpcCreatorSystem::s_creatorProbTable[1200] = {{501, 4.0f, 3}, {511, 1.0f, 0}};
    const ObjectId boss = w.AddBoss(20, 12);
    Load(boss);
    EXPECT_EQ(w.Rows(boss, "ModelInfoRec").size(), 1u);
    EXPECT_EQ(w.Rows(boss, "NPCInfoRec").size(), 2u);
    EXPECT_EQ(w.Int(boss, "Model"), 7001);
    EXPECT_EQ(w.Int(boss, "Index"), 1200);
    EXPECT_EQ(w.Int(boss, "NpcConfig"), 501);
}

TEST_F(AreaBossTest, CheckHeartbeatNeedsTypeOneAndAPositiveFrequency) {
    for (int frequency : {0, -5}) {
        AreaBossSystem::s_checkFrequency = frequency;
        const ObjectId boss = w.AddBoss(uint32_t(40 - frequency), 12);
        Load(boss);
        EXPECT_FALSE(w.HasBeat(boss, kCheckBeat)) << frequency;
    }
    AreaBossSystem::s_checkFrequency = 30;
    const ObjectId other = w.AddBoss(50, 13, /*creatorType=*/2);
    Load(other);
    EXPECT_FALSE(w.HasBeat(other, kCheckBeat));
    EXPECT_EQ(w.Int(other, "CantVisible"), 0);
}

TEST_F(AreaBossTest, HugeCheckFrequencySaturatesInsteadOfWrapping) {
    AreaBossSystem::s_checkFrequency = 3000000;  // 3e9 ms does not fit an int
    const ObjectId boss = w.AddBoss(20, 12);
    Load(boss);
    EXPECT_EQ(w.BeatMs(boss, kCheckBeat), INT_MAX);
}

TEST_F(AreaBossTest, ReloadKeepsTheCheckHeartbeatAndTheActivityState) {
    const ObjectId boss = w.AddBoss(20, 12);
    Load(boss);
    module.SetActivityState(nullptr, 1, "12");
    w.k.ClearCalls();
    Load(boss);
    EXPECT_EQ(w.k.Count("AddHeartBeat"), 0u);
    EXPECT_EQ(AreaBossSystem::s_stateTable.at(12), 1);
}

TEST_F(AreaBossTest, TimePointIsRegisteredWithKindNineAndTheCreator) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "FRTime", std::string("20:30"));
    Load(boss);
    ASSERT_EQ(eventTime.calls.size(), 1u);
    EXPECT_EQ(eventTime.calls[0].kind, 9);
    EXPECT_EQ(eventTime.calls[0].text, "20:30");
    EXPECT_EQ(eventTime.calls[0].param, 0);
    ASSERT_EQ(eventTime.calls[0].args.GetCount(), 1u);
    EXPECT_EQ(eventTime.calls[0].args.ObjectVal(0), boss);
}

TEST_F(AreaBossTest, TimePointWithoutEventTimeModuleIsOneTraceLine) {
    AreaBossSystem::s_eventTimeSystem = nullptr;
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "FRTime", std::string("20:30"));
    EXPECT_EQ(Load(boss), 1);
    const auto trace = w.k.CallsOf("Trace");
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_NE(trace[0]->args[0].find("20:30"), std::string::npos);
    // The rest of the load happened all the same.
    EXPECT_EQ(w.Int(boss, "CantVisible"), 0);
    EXPECT_TRUE(w.HasBeat(boss, kCheckBeat));
}

TEST_F(AreaBossTest, NoticeFlagAnnouncesTheLoadTwiceWithNumberAndScene) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "NoticeByWorldRefresh", 1);
    Load(boss);
    const std::string notice = "SysInfoByWorld(19, 80000, [\"12\", \"305\"])";
    EXPECT_EQ(w.Notices(), (std::vector<std::string>{notice, notice}));
}

TEST_F(AreaBossTest, RefreshWithoutNoticeFlagIsSilent) {
    const ObjectId boss = w.AddBoss(20, 12);
    AreaBossSystem::WaitRefreshBossNPC(&w.k, boss);
    w.Set(boss, "NoticeByWorldRefresh", 0);
    AreaBossSystem::WaitRefreshBossNPC(&w.k, boss);
    EXPECT_TRUE(w.Notices().empty());
}

TEST_F(AreaBossTest, RefreshNeverLowersACountAboveTheMaximum) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "SelectCount", 5);
    w.Set(boss, "MaxSelectCount", 3);
    AreaBossSystem::WaitRefreshBossNPC(&w.k, boss);
    EXPECT_EQ(w.Int(boss, "SelectCount"), 5);
    EXPECT_EQ(w.Int(boss, "CurNPCCount"), 3);
}

TEST_F(AreaBossTest, RefreshShowsOnlyACreatorThisModuleHid) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "Invisible", 0);
    w.Set(boss, "CantVisible", 1);
    AreaBossSystem::WaitRefreshBossNPC(&w.k, boss);
    EXPECT_EQ(w.Int(boss, "CantVisible"), 1);
}

// ---- activity checks -------------------------------------------------------------------

TEST_F(AreaBossTest, ActiveCheckAttachesTheRefreshWithTheCreatorsPeriod) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "RefreshTime", 45);
    AreaBossSystem::s_stateTable[12] = 1;
    AreaBossSystem::PointTimeRefreshNPC(&w.k, boss);
    EXPECT_EQ(w.BeatMs(boss, kRefreshBeat), 45000);
    // Visibility waits for the refresh itself.
    EXPECT_EQ(w.Int(boss, "CantVisible"), 0);
    EXPECT_EQ(w.k.Count("SetInt"), 0u);
}

TEST_F(AreaBossTest, ActiveCheckLeavesARunningRefreshAlone) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.At(boss).beats[kRefreshBeat] = 99000;
    AreaBossSystem::s_stateTable[12] = 2;
    AreaBossSystem::PointTimeRefreshNPC(&w.k, boss);
    EXPECT_EQ(w.BeatMs(boss, kRefreshBeat), 99000);
    EXPECT_EQ(w.k.Count("RemoveHeartBeat"), 0u);
}

TEST_F(AreaBossTest, RefreshPeriodBelowOneMeansSixtySeconds) {
    for (int period : {0, -7}) {
        const ObjectId boss = w.AddBoss(uint32_t(30 - period), 12);
        w.Set(boss, "RefreshTime", period);
        AreaBossSystem::s_stateTable[12] = 1;
        AreaBossSystem::PointTimeRefreshNPC(&w.k, boss);
        EXPECT_EQ(w.BeatMs(boss, kRefreshBeat), 60000) << period;
    }
}

TEST_F(AreaBossTest, InactiveCheckDetachesBothRefreshesAndHides) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.At(boss).beats = {{kRefreshBeat, 45000}, {kModelBeat, 60000}, {kCheckBeat, 10000}};
    AreaBossSystem::s_stateTable[12] = 0;
    AreaBossSystem::PointTimeRefreshNPC(&w.k, boss);
    EXPECT_EQ(w.At(boss).beats, (std::map<std::string, int>{{kCheckBeat, 10000}}));
    EXPECT_EQ(w.Int(boss, "Invisible"), 1);
    EXPECT_EQ(w.Int(boss, "CantVisible"), 1);
}

TEST_F(AreaBossTest, NumberMissingFromTheTableCountsAsInactive) {
    const ObjectId boss = w.AddBoss(20, 77);
    AreaBossSystem::s_stateTable[-1] = 1;
    AreaBossSystem::PointTimeRefreshNPC(&w.k, boss);
    EXPECT_EQ(w.Int(boss, "CantVisible"), 1);
    EXPECT_EQ(w.k.Count("RemoveHeartBeat"), 0u);  // nothing was attached
}

// ---- time points ---------------------------------------------------------------------------

TEST_F(AreaBossTest, TimePointOpensTheBossAndRestartsItsRefresh) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "FRTime", std::string("20:30"));
    w.Set(boss, "RefreshTime", 45);
    w.Set(boss, "MaxSelectCount", 3);
    w.Set(boss, "CurNPCCount", 1);
    w.Set(boss, "IsFighting", 1);
    w.Set(boss, "Invisible", 1);
    w.Set(boss, "CantVisible", 1);
    w.At(boss).beats[kRefreshBeat] = 45000;
    EXPECT_EQ(TimePoint(9, boss), 1);
    EXPECT_EQ(w.Int(boss, "CantVisible"), 0);
    EXPECT_EQ(w.Int(boss, "IsFighting"), 0);
    EXPECT_EQ(w.Int(boss, "SelectCount"), 3);
    EXPECT_EQ(w.Int(boss, "CurNPCCount"), 1);
    EXPECT_EQ(w.Int(boss, "Invisible"), 1);
    EXPECT_EQ(w.k.Texts({"RemoveHeartBeat", "AddHeartBeat"}),
              (std::vector<std::string>{
                  "RemoveHeartBeat(" + Text(boss) + ", " + kRefreshBeat + ")",
                  "AddHeartBeat(" + Text(boss) + ", " + kRefreshBeat + ", 45000)"}));
    EXPECT_EQ(w.Notices(),
              (std::vector<std::string>{"SysInfoByWorld(19, 80000, [\"12\", \"305\"])"}));
}

TEST_F(AreaBossTest, TimePointOfAnotherTypeOpensWithoutNotice) {
    const ObjectId boss = w.AddBoss(20, 13, /*creatorType=*/0);
    w.Set(boss, "FRTime", std::string("08:00"));
    w.Set(boss, "CantVisible", 1);
    TimePoint(9, boss);
    EXPECT_EQ(w.Int(boss, "CantVisible"), 0);
    EXPECT_TRUE(w.HasBeat(boss, kRefreshBeat));
    EXPECT_TRUE(w.Notices().empty());
}

TEST_F(AreaBossTest, TimePointsNotMeantForABossAreIgnored) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "FRTime", std::string("20:30"));
    w.Set(boss, "CantVisible", 1);
    const ObjectId creator = w.AddBoss(21, 12);
    w.At(creator).config = "NpcCreator";
    w.Set(creator, "FRTime", std::string("20:30"));
    const ObjectId longer = w.AddBoss(22, 12);
    w.At(longer).config = "AreaBossNPCCreatorX";
    w.Set(longer, "FRTime", std::string("20:30"));
    const ObjectId untimed = w.AddBoss(23, 12);
    w.Set(untimed, "CantVisible", 1);
    const ObjectId dead{99, 1};

    TimePoint(8, boss);
    TimePoint(10, boss);
    TimePoint(9, creator);
    TimePoint(9, longer);
    TimePoint(9, untimed);
    TimePoint(9, dead);
    AreaBossSystem::OnAreaBossTimePoint(&w.k, w.scene, ObjectId{}, CVarList());
    EXPECT_EQ(w.k.Count("SetInt"), 0u);
    EXPECT_EQ(w.k.Count("AddHeartBeat"), 0u);
    EXPECT_TRUE(w.Notices().empty());
}

// ---- select ------------------------------------------------------------------------------

TEST_F(AreaBossTest, SelectFunctionZeroSendsOnlyTheMenuMessage) {
    const ObjectId boss = BossWithEncounter();
    w.Set(boss, "SelectCount", 2);
    const ObjectId player = w.Add(ObjectId{60, 1}, "player", 0);
    EXPECT_EQ(Select(boss, player, 0), 1);
    EXPECT_EQ(w.k.Texts({"Custom", "Command", "SetInt"}),
              (std::vector<std::string>{"Custom(" + Text(player) + ", " + Text(player) +
                                        ", [50060, 90])"}));
}

TEST_F(AreaBossTest, RefusedPermissionChangesNothing) {
    const ObjectId boss = BossWithEncounter();
    w.Set(boss, "SelectCount", 2);
    const ObjectId player = w.Add(ObjectId{60, 1}, "player", 0);
    w.permission = 0;
    Select(boss, player);
    EXPECT_EQ(
        w.k.Texts({"Command", "SetInt", "Custom"}),
        (std::vector<std::string>{"Command(" + Text(player) + ", " + Text(boss) + ", [976])"}));
    EXPECT_EQ(w.Int(boss, "SelectCount"), 2);
}

TEST_F(AreaBossTest, NoFightLeftEndsAfterThePermissionQuestion) {
    const ObjectId player = w.Add(ObjectId{60, 1}, "player", 0);
    const ObjectId empty = BossWithEncounter(20);
    const ObjectId fighting = BossWithEncounter(21);
    w.Set(fighting, "SelectCount", 2);
    w.Set(fighting, "IsFighting", 1);
    Select(empty, player);
    Select(fighting, player);
    EXPECT_EQ(w.k.Count("Command"), 2u);  // the two 976 questions
    EXPECT_EQ(w.k.Count("SetInt"), 0u);
}

TEST_F(AreaBossTest, LastFightHidesTheBossAndStillSendsTheList) {
    const ObjectId boss = BossWithEncounter();
    w.Set(boss, "SelectCount", 1);
    const ObjectId player = w.Add(ObjectId{60, 1}, "player", 0);
    w.scriptAnswer = 2;
    Select(boss, player);
    EXPECT_EQ(w.Int(boss, "SelectCount"), 0);
    EXPECT_EQ(w.Int(boss, "Invisible"), 1);
    EXPECT_EQ(w.Int(boss, "CantVisible"), 1);
    EXPECT_EQ(w.Int(boss, "IsFighting"), 1);
    ASSERT_EQ(w.CommandsWithId(1001).size(), 1u);
    // A second select is refused while the last fight runs.
    Select(boss, player);
    EXPECT_EQ(w.CommandsWithId(1001).size(), 1u);
}

TEST_F(AreaBossTest, FightsLeftKeepTheBossOpen) {
    const ObjectId boss = BossWithEncounter();
    w.Set(boss, "SelectCount", 3);
    const ObjectId player = w.Add(ObjectId{60, 1}, "player", 0);
    Select(boss, player);
    EXPECT_EQ(w.Int(boss, "SelectCount"), 2);
    EXPECT_EQ(w.Int(boss, "CantVisible"), 0);
    EXPECT_EQ(w.Int(boss, "IsFighting"), 0);
}

TEST_F(AreaBossTest, EncounterCommandsCarryTheModelIndexAndTheList) {
    const ObjectId boss = BossWithEncounter();
    w.Set(boss, "SelectCount", 3);
    const ObjectId player = w.Add(ObjectId{60, 1}, "player", 0);
    w.scriptAnswer = 4;
    Select(boss, player);
    const auto started = w.CommandsWithId(997);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0]->Text(),
              "Command(" + Text(boss) + ", " + Text(boss) + ", [997, 1200, " + Text(boss) + "])");
    const auto list = w.CommandsWithId(1001);
    ASSERT_EQ(list.size(), 1u);
    const CVarList& args = *list[0]->list;
    EXPECT_EQ(list[0]->args[0], Text(player));
    EXPECT_EQ(list[0]->args[1], Text(player));
    EXPECT_EQ(args.ObjectVal(1), boss);
    EXPECT_EQ(args.IntVal(2), 0);  // not in a team
    EXPECT_EQ(args.IntVal(3), 4);
    // Two fixed entries (slot 4, and 2.9 truncated to 2), then two draws.
    ASSERT_EQ(args.GetCount(), 12u);
    EXPECT_EQ(Ints(args, 4)[0], 501);
    EXPECT_EQ(Ints(args, 4)[1], 4);
    EXPECT_EQ(Ints(args, 4)[2], 502);
    EXPECT_EQ(Ints(args, 4)[3], 2);
    for (int i : {8, 10}) {
        const int config = args.IntVal(uint64_t(i));
        EXPECT_TRUE(config == 511 || config == 512) << config;
    }
    // The script was asked with the creator, the player and a count of 1.
    const auto script = w.k.CallsOf("RunScriptFunction");
    ASSERT_EQ(script.size(), 1u);
    EXPECT_EQ(script[0]->args[0], "Rule\\npc_creator.lua");
    EXPECT_EQ(script[0]->args[1], "get_npc_count");
    EXPECT_EQ(script[0]->args[2], "[" + Text(boss) + ", " + Text(player) + ", 1]");
}

TEST_F(AreaBossTest, ScriptAnswerBelowTheFixedCountDrawsNothing) {
    const ObjectId boss = BossWithEncounter();
    w.Set(boss, "SelectCount", 3);
    const ObjectId player = w.Add(ObjectId{60, 1}, "player", 0);
    w.scriptAnswer = 1;
    Select(boss, player);
    const auto list = w.CommandsWithId(1001);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(Ints(*list[0]->list, 2), (std::vector<int>{0, 2, 501, 4, 502, 2}));
}

TEST_F(AreaBossTest, ModelMissingFromTheRecordKeepsTheFightTaken) {
    const ObjectId boss = BossWithEncounter();
    w.Set(boss, "Model", 4242);
    w.Set(boss, "SelectCount", 2);
    const ObjectId player = w.Add(ObjectId{60, 1}, "player", 0);
    Select(boss, player);
    EXPECT_EQ(w.Int(boss, "SelectCount"), 1);
    EXPECT_TRUE(w.CommandsWithId(997).empty());
    EXPECT_TRUE(w.CommandsWithId(1001).empty());
}

TEST_F(AreaBossTest, UnreachableWeightsSendOnlyTheFixedEntries) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "Model", 7001);
    w.Set(boss, "SelectCount", 3);
    w.AddModelRow(boss, 7001, 1.0f, "boss", 1200);
    w.AddNpcRow(boss, 1200, 501, 4.0f, 3);
    w.AddNpcRow(boss, 1200, 511, 0.0f, 0);
    const ObjectId player = w.Add(ObjectId{60, 1}, "player", 0);
    w.scriptAnswer = 3;
    Select(boss, player);
    ASSERT_EQ(w.CommandsWithId(1001).size(), 1u);
    EXPECT_EQ(Ints(*w.CommandsWithId(1001)[0]->list, 2), (std::vector<int>{0, 3, 501, 4}));

    // Without fixed rows nothing is sent at all, and the fight stays taken.
    const ObjectId bare = w.AddBoss(21, 12);
    w.Set(bare, "Model", 7001);
    w.Set(bare, "SelectCount", 3);
    w.AddModelRow(bare, 7001, 1.0f, "boss", 1200);
    w.AddNpcRow(bare, 1200, 511, 0.0f, 0);
    Select(bare, player);
    EXPECT_EQ(w.CommandsWithId(1001).size(), 1u);
    EXPECT_EQ(w.Int(bare, "SelectCount"), 2);
}

TEST_F(AreaBossTest, TeamLeaderGetsTheLeaderFlagAndTheTeamSize) {
    const ObjectId boss = BossWithEncounter();
    w.Set(boss, "SelectCount", 3);
    const ObjectId player = w.Add(ObjectId{60, 1}, "player", 0);
    team.inTeam = true;
    team.leader = true;
    team.members = 3;
    Select(boss, player);
    EXPECT_EQ(w.k.CallsOf("RunScriptFunction")[0]->list->IntVal(2), 3);
    EXPECT_EQ(w.CommandsWithId(1001)[0]->list->IntVal(2), 1);
}

TEST_F(AreaBossTest, SelectWithoutTeamModuleCountsThePlayerAsAlone) {
    NpcCreatorSystem::s_teamSystem = nullptr;
    const ObjectId boss = BossWithEncounter();
    w.Set(boss, "SelectCount", 3);
    const ObjectId player = w.Add(ObjectId{60, 1}, "player", 0);
    EXPECT_EQ(Select(boss, player), 1);
    EXPECT_EQ(w.k.CallsOf("RunScriptFunction")[0]->list->IntVal(2), 1);
    ASSERT_EQ(w.CommandsWithId(1001).size(), 1u);
    EXPECT_EQ(w.CommandsWithId(1001)[0]->list->IntVal(2), 0);
}

TEST_F(AreaBossTest, AbsurdScriptAnswerIsCappedInDrawsAndSizeField) {
    const ObjectId boss = BossWithEncounter();
    w.Set(boss, "SelectCount", 3);
    const ObjectId player = w.Add(ObjectId{60, 1}, "player", 0);
    w.scriptAnswer = INT_MAX;
    Select(boss, player);
    ASSERT_EQ(w.CommandsWithId(1001).size(), 1u);
    const CVarList& args = *w.CommandsWithId(1001)[0]->list;
    EXPECT_EQ(args.IntVal(3), 2 + kMaxEncounterDraws);
    EXPECT_EQ(args.GetCount(), 4u + 2u * (2u + kMaxEncounterDraws));
    EXPECT_GE(w.k.Count("Trace"), 1u);
}

// ---- fight results --------------------------------------------------------------------------

TEST_F(AreaBossTest, LastKillHidesTheBoss) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "CurNPCCount", 1);
    const ObjectId player = w.AddPlayerFighting(60, boss);
    EXPECT_EQ(Killed(player), 1);
    EXPECT_EQ(w.Int(boss, "CurNPCCount"), 0);
    EXPECT_EQ(w.Int(boss, "Invisible"), 1);
    EXPECT_EQ(w.Int(boss, "CantVisible"), 1);
}

TEST_F(AreaBossTest, KillWithBossesLeftOnlyCounts) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "CurNPCCount", 3);
    const ObjectId player = w.AddPlayerFighting(60, boss);
    Killed(player);
    EXPECT_EQ(w.Int(boss, "CurNPCCount"), 2);
    EXPECT_EQ(w.Int(boss, "Invisible"), 0);
    EXPECT_EQ(w.Int(boss, "CantVisible"), 0);
}

TEST_F(AreaBossTest, KillsOutsideABossFightAreIgnored) {
    const ObjectId other = w.AddBoss(20, 13, /*creatorType=*/0);
    w.Set(other, "CurNPCCount", 1);
    Killed(w.AddPlayerFighting(60, other));
    EXPECT_EQ(w.Int(other, "CurNPCCount"), 1);

    const ObjectId boss = w.AddBoss(21, 12);
    w.Set(boss, "CurNPCCount", 1);
    const ObjectId player = w.AddPlayerFighting(70, boss);
    w.At(std::get<ObjectId>(w.At(player).props["Fighting"])).props.erase("HelperInfo");
    Killed(player);
    Killed(w.Add(ObjectId{80, 1}, "player", 0));  // in no fight
    EXPECT_EQ(w.Int(boss, "CurNPCCount"), 1);
    EXPECT_EQ(w.k.Count("IncInt"), 0u);
}

TEST_F(AreaBossTest, SoloReturnGivesTheFightBack) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "MaxSelectCount", 2);
    w.Set(boss, "Invisible", 1);
    w.Set(boss, "CantVisible", 1);
    w.Set(boss, "IsFighting", 1);
    const ObjectId player = w.AddPlayerFighting(60, boss);
    const ObjectId flag = w.Add(ObjectId{90, 1}, "Flag", 0);
    w.Rows(w.LeftTeamOf(player), "PkMemberInfo").push_back(FakeWorld::Row{0, flag});
    w.Rows(w.LeftTeamOf(player), "PkMemberInfo").push_back(FakeWorld::Row{0, ObjectId{}});
    EXPECT_TRUE(AreaBossSystem::IsSoloFighter(&w.k, player));
    EXPECT_EQ(Returned(player), 1);
    EXPECT_EQ(w.Int(boss, "SelectCount"), 1);
    EXPECT_EQ(w.Int(boss, "CantVisible"), 0);
    EXPECT_EQ(w.Int(boss, "IsFighting"), 0);
    EXPECT_EQ(w.Int(boss, "Invisible"), 1);
}

TEST_F(AreaBossTest, ReturnWithASecondPlayerChangesNothing) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "MaxSelectCount", 2);
    w.Set(boss, "CantVisible", 1);
    w.Set(boss, "IsFighting", 1);
    const ObjectId player = w.AddPlayerFighting(60, boss);
    const ObjectId mate = w.Add(ObjectId{91, 1}, "player", 0);
    w.Rows(w.LeftTeamOf(player), "PkMemberInfo").push_back(FakeWorld::Row{0, mate});
    EXPECT_FALSE(AreaBossSystem::IsSoloFighter(&w.k, player));
    Returned(player);
    EXPECT_EQ(w.Int(boss, "SelectCount"), 0);
    EXPECT_EQ(w.Int(boss, "CantVisible"), 1);
    EXPECT_EQ(w.Int(boss, "IsFighting"), 1);
}

TEST_F(AreaBossTest, ReturnAtTheMaximumOnlyEndsTheFight) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "MaxSelectCount", 2);
    w.Set(boss, "SelectCount", 2);
    w.Set(boss, "CantVisible", 1);
    w.Set(boss, "IsFighting", 1);
    Returned(w.AddPlayerFighting(60, boss));
    EXPECT_EQ(w.Int(boss, "SelectCount"), 2);
    EXPECT_EQ(w.Int(boss, "CantVisible"), 1);
    EXPECT_EQ(w.Int(boss, "IsFighting"), 0);
}

TEST_F(AreaBossTest, ReturnThatLeavesTheCountAtZeroKeepsTheFightRunning) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "MaxSelectCount", 2);
    w.Set(boss, "SelectCount", -1);
    w.Set(boss, "CantVisible", 1);
    w.Set(boss, "IsFighting", 1);
    Returned(w.AddPlayerFighting(60, boss));
    EXPECT_EQ(w.Int(boss, "SelectCount"), 0);
    EXPECT_EQ(w.Int(boss, "CantVisible"), 1);
    EXPECT_EQ(w.Int(boss, "IsFighting"), 1);
}

TEST_F(AreaBossTest, ReturnWithoutLeftTeamOrBossChangesNothing) {
    const ObjectId boss = w.AddBoss(20, 12);
    w.Set(boss, "MaxSelectCount", 2);
    const ObjectId player = w.AddPlayerFighting(60, boss);
    w.At(std::get<ObjectId>(w.At(player).props["Fighting"])).children.clear();
    EXPECT_FALSE(AreaBossSystem::IsSoloFighter(&w.k, player));
    Returned(player);
    const ObjectId other = w.AddBoss(21, 13, /*creatorType=*/2);
    w.Set(other, "MaxSelectCount", 2);
    Returned(w.AddPlayerFighting(70, other));
    EXPECT_EQ(w.Int(boss, "SelectCount"), 0);
    EXPECT_EQ(w.Int(other, "SelectCount"), 0);
    EXPECT_EQ(w.k.Count("SetInt"), 0u);
}

// ---- in the reference host -----------------------------------------------------------

host::KernelOptions QuietOptions() {
    host::KernelOptions options;
    options.echoToTerminal = false;
    options.resourceDir = TEST_RESOURCES_DIR;
    return options;
}

// Both creator modules on the sample data in the host kernel, with its team
// module and stand-in fight scripts; time points go to the fake module.
class BossInHost : public ::testing::Test {
protected:
    BossInHost() : kernel(QuietOptions()), teams(kernel), standIn(kernel, &teams) {}

    void SetUp() override {
        ResetRandomState();
        AreaBossSystem::s_stateTable.clear();
        NpcCreatorSystem::s_modelProbTable.clear();
        NpcCreatorSystem::s_creatorProbTable.clear();
        teams.Install();
        standIn.Install();
        kernel.RegisterModule("TeamSystem", &teams);
        kernel.RegisterModule("EventTimeSystem", &eventTime);
        ASSERT_TRUE(
            kernel.RunLifecycle({{"NpcCreatorSystem", &npc}, {"AreaBossSystem", &boss}}).ok());
        scene = kernel.CreateScene("boss_field", 305, 0);
        kernel.SetCurrentScene(scene);
    }
    void TearDown() override {
        NpcCreatorSystem::s_instance = nullptr;
        NpcCreatorSystem::s_teamSystem = nullptr;
        AreaBossSystem::s_eventTimeSystem = nullptr;
        AreaBossSystem::s_checkFrequency = 10;
        AreaBossSystem::s_stateTable.clear();
        NpcCreatorSystem::s_modelProbTable.clear();
        NpcCreatorSystem::s_creatorProbTable.clear();
    }

    ObjectId Boss(int maxSelectCount) {
        host::ObjectSpec objDef;
        objDef.className = "AreaBossNPCCreator";
        objDef.config = "AreaBossNPCCreator";
        objDef.configIndex = 12;
        objDef.scene = scene;
        objDef.properties = {{"CreatorType", int32_t{1}}, {"MaxSelectCount", maxSelectCount}};
        return kernel.CreateObject(objDef);
    }
    ObjectId Member(const std::string& config) {
        host::ObjectSpec objDef;
        objDef.className = "Flag";
        objDef.config = config;
        objDef.scene = scene;
        return kernel.CreateObject(objDef);
    }
    // Takes the last fight of a boss of two, so the point is hidden and
    // fighting, and puts extra members into the player's left team.
    void LastFightWith(const ObjectId& bossPoint, const ObjectId& player,
                       const std::vector<ObjectId>& extra) {
        kernel.SetInt(bossPoint, "SelectCount", 1);
        kernel.Select(player, bossPoint, 1);
        ASSERT_EQ(kernel.QueryInt(bossPoint, "IsFighting"), 1);
        const ObjectId fight = kernel.QueryObject(player, "Fighting");
        ASSERT_EQ(kernel.QueryObject(fight, "HelperInfo"), bossPoint);
        const ObjectId left = kernel.GetChild(fight, u"LeftTeam");
        for (const ObjectId& m : extra)
            kernel.AddRecordRowValues(left, "PkMemberInfo", -1,
                                      host::HostVarList::Of({int32_t{0}, m, std::u16string()}));
    }

    host::Kernel kernel;
    host::TeamSystem teams;
    host::StandInScripts standIn;
    FakeEventTime eventTime;
    NpcCreatorSystem npc;
    AreaBossSystem boss;
    ObjectId scene;
};

TEST_F(BossInHost, SampleTableSetsTheCheckPeriod) {
    const ObjectId point = Boss(2);
    EXPECT_EQ(AreaBossSystem::s_checkFrequency, 30);
    EXPECT_EQ(kernel.HeartbeatInterval(point, kCheckBeat), 30000);
    EXPECT_EQ(kernel.QueryInt(point, "SelectCount"), 2);
    EXPECT_EQ(kernel.QueryInt(point, "CantVisible"), 0);
}

TEST_F(BossInHost, ReturnWithOnlyFlagsBesideThePlayerGivesTheFightBack) {
    const ObjectId point = Boss(2);
    const ObjectId player = kernel.CreatePlayer(u"Ann", 1, scene);
    LastFightWith(point, player, {Member("Flag"), Member("Flag")});
    kernel.Command(player, player, host::HostVarList::Of({int32_t{1019}}));
    EXPECT_EQ(kernel.QueryInt(point, "SelectCount"), 1);
    EXPECT_EQ(kernel.QueryInt(point, "CantVisible"), 0);
    EXPECT_EQ(kernel.QueryInt(point, "IsFighting"), 0);
    EXPECT_EQ(kernel.QueryInt(point, "Invisible"), 1);
}

TEST_F(BossInHost, MemberOfAnotherConfigIsNoFlag) {
    const ObjectId point = Boss(2);
    const ObjectId player = kernel.CreatePlayer(u"Ann", 1, scene);
    const ObjectId gone = Member("Flag");
    LastFightWith(point, player, {Member("Flag"), gone, Member("FlagPole")});
    kernel.Destroy(gone);  // a dead member is skipped, whatever it was
    EXPECT_FALSE(AreaBossSystem::IsSoloFighter(&kernel, player));
    kernel.Command(player, player, host::HostVarList::Of({int32_t{1019}}));
    EXPECT_EQ(kernel.QueryInt(point, "SelectCount"), 0);
    EXPECT_EQ(kernel.QueryInt(point, "IsFighting"), 1);
}

TEST_F(BossInHost, KillsInTheHostCountDownAndHide) {
    const ObjectId point = Boss(2);
    const ObjectId ann = kernel.CreatePlayer(u"Ann", 1, scene);
    kernel.Select(ann, point, 1);
    standIn.FightWon(ann);
    EXPECT_EQ(kernel.QueryInt(point, "CurNPCCount"), 1);
    EXPECT_EQ(kernel.QueryInt(point, "CantVisible"), 0);
    kernel.Select(ann, point, 1);
    standIn.FightWon(ann);
    EXPECT_EQ(kernel.QueryInt(point, "CurNPCCount"), 0);
    EXPECT_EQ(kernel.QueryInt(point, "CantVisible"), 1);
}

TEST_F(BossInHost, InactivePointHidesAndActivePointOpensOnTheClock) {
    const ObjectId point = Boss(2);
    kernel.AdvanceTime(30000);
    EXPECT_EQ(kernel.QueryInt(point, "CantVisible"), 1);
    boss.SetActivityState(nullptr, 1, "12");
    kernel.AdvanceTime(30000);
    EXPECT_EQ(kernel.HeartbeatInterval(point, kRefreshBeat), 60000);  // RefreshTime 0
    kernel.AdvanceTime(59999);
    EXPECT_EQ(kernel.QueryInt(point, "CantVisible"), 1);
    kernel.AdvanceTime(1);
    EXPECT_EQ(kernel.QueryInt(point, "CantVisible"), 0);
}

}  // namespace
