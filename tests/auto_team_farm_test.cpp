// Auto team farm system: its registrations against a recording kernel, and
// its sign-up, waiting and withdrawal flow against the reference host's
// in-memory kernel and team module.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AutoTeamFarmSystem.h"
#include "EventLog.h"
#include "HostVarList.h"
#include "Kernel.h"
#include "RecordingKernel.h"
#include "TeamSystem.h"
#include "VarList.h"

namespace {

using host::EventFilter;
using host::EventKind;
using host::HostVarList;
using host::Value;

constexpr const char* kWaitBeat = "AutoTeamFarmSystem::H_WaitLaunchFight";

// ---- registrations ------------------------------------------------------------------

TEST(AutoTeamFarmRegistration, AfterInitRegistersEightHandlersInOrder) {
    RecordingKernel kernel;
    AutoTeamFarmSystem module;
    EXPECT_TRUE(module.AfterInit(&kernel));
    const std::vector<std::string> expected = {
        "AddClassCallback(player, OnStore, fn, 3)",
        "AddClassCallback(player, OnLeave, fn, 3)",
        "AddCommandHook(player, 742, fn, 3)",
        "AddCommandHook(player, 1002, fn, 3)",
        "AddCommandHook(player, 141, fn, 5)",
        "AddCustomHook(150493, fn, 3)",
        "AddCustomHook(150497, fn, 3)",
        "DeclareHeartBeat(AutoTeamFarmSystem::H_WaitLaunchFight, fn)",
    };
    EXPECT_EQ(kernel.Texts(), expected);
}

TEST(AutoTeamFarmRegistration, AfterInitRegistersEvenWhenInitFoundNoTeamModule) {
    RecordingKernel kernel;
    AutoTeamFarmSystem module;
    EXPECT_FALSE(module.Init(&kernel));
    kernel.ClearCalls();
    EXPECT_TRUE(module.AfterInit(&kernel));
    EXPECT_EQ(kernel.Count("AddClassCallback") + kernel.Count("AddCommandHook") +
                  kernel.Count("AddCustomHook") + kernel.Count("DeclareHeartBeat"),
              8u);
}

// The 742 hook answers 0 for a signed-up player: a way to tell that the
// registered function is the guarded handler and not some other one.
TEST(AutoTeamFarmRegistration, RegisteredFightLockHookAnswersForSignedUpPlayer) {
    RecordingKernel kernel;
    AutoTeamFarmSystem module;
    module.AfterInit(&kernel);
    KernelCallback hook = kernel.CommandHook("player", 742);
    ASSERT_NE(hook, nullptr);

    const ObjectId player{1, 1};
    const ObjectId farm{2, 1};
    kernel.live = {player, farm};
    CVarList args;
    args.AddInt(742);
    EXPECT_EQ(hook(&kernel, player, player, args), 1);  // no AutoTeamFarm property

    kernel.Always("FindAttr", true);
    kernel.Always("QueryObject", farm);
    EXPECT_EQ(hook(&kernel, player, player, args), 0);
}

// ---- flow in the reference host ------------------------------------------------------

host::KernelOptions QuietOptions() {
    host::KernelOptions options;
    options.echoToTerminal = false;
    return options;
}

struct FarmRow {
    std::u16string name;
    int camp = 0;
    bool operator==(const FarmRow& o) const { return name == o.name && camp == o.camp; }
};

// One scene, one farm object and the host's team module; players are made by
// the tests. The farm object carries the sign-up record and just enough of
// the creator data for an encounter of one fixed NPC (config 500, slot 4).
class FarmFlow : public ::testing::Test {
protected:
    FarmFlow() : kernel(QuietOptions()), teams(kernel) {}

    void SetUp() override {
        teams.Install();
        kernel.RegisterModule("TeamSystem", &teams);
        DeclareFarmClass();
        ASSERT_TRUE(module.Init(&kernel));
        ASSERT_TRUE(module.AfterInit(&kernel));
        scene = kernel.CreateScene("scene", 1, 0);
        farm = MakeFarm(scene);
    }

    void TearDown() override {
        // The statics would otherwise point into this fixture.
        AutoTeamFarmSystem::s_instance = nullptr;
        NpcCreatorSystem::s_teamSystem = nullptr;
    }

    void DeclareFarmClass() {
        kernel.DeclareProperty("NpcCreator", "SelectCount", VTYPE_INT, int32_t{100});
        kernel.DeclareProperty("NpcCreator", "Index", VTYPE_INT);
        kernel.DeclareProperty("NpcCreator", "Invisible", VTYPE_INT);
        kernel.DeclareProperty("NpcCreator", "CantVisible", VTYPE_INT);
        kernel.DeclareRecord("NpcCreator", "ModelInfoRec",
                             {VTYPE_INT, VTYPE_FLOAT, VTYPE_STRING, VTYPE_INT}, 16);
        kernel.DeclareRecord("NpcCreator", "NPCInfoRec",
                             {VTYPE_INT, VTYPE_INT, VTYPE_FLOAT, VTYPE_INT}, 16);
        kernel.DeclareRecord("NpcCreator", "AutoTeamRec", {VTYPE_WIDESTR, VTYPE_INT}, 64);
    }

    ObjectId MakeFarm(const ObjectId& where) {
        host::ObjectSpec objDef;
        objDef.className = "NpcCreator";
        objDef.config = "farm";
        objDef.configIndex = 50;
        objDef.scene = where;
        const ObjectId obj = kernel.CreateObject(objDef);
        kernel.AddRecordRowValues(
            obj, "ModelInfoRec", -1,
            HostVarList::Of({int32_t{1}, 1.0f, std::string("farm"), int32_t{0}}));
        kernel.AddRecordRowValues(obj, "NPCInfoRec", -1,
                                  HostVarList::Of({int32_t{0}, int32_t{500}, 4.0f, int32_t{3}}));
        return obj;
    }

    ObjectId Player(const std::u16string& name, int camp) {
        return kernel.CreatePlayer(name, camp, scene);
    }

    void SignUp(const ObjectId& player, const ObjectId& at) {
        kernel.ClientMessage(player, HostVarList::Of({int32_t{150493}, at}));
    }
    void Withdraw(const ObjectId& player) {
        kernel.ClientMessage(player, HostVarList::Of({int32_t{150497}}));
    }
    int SendCommand(const ObjectId& to, const HostVarList& args) {
        return kernel.Command(to, to, args);
    }

    std::vector<FarmRow> Rows(const ObjectId& at) {
        std::vector<std::vector<Value>> rows;
        kernel.GetRecord(at, "AutoTeamRec", rows);
        std::vector<FarmRow> out;
        for (const auto& r : rows) {
            out.push_back({std::get<std::u16string>(r.at(0)), std::get<int32_t>(r.at(1))});
        }
        return out;
    }
    ObjectId LinkOf(const ObjectId& player) { return kernel.QueryObject(player, "AutoTeamFarm"); }
    bool Waiting(const ObjectId& player) { return kernel.FindHeartBeat(player, kWaitBeat); }
    // Signed up in every respect: row (by name), link and heartbeat.
    void ExpectWaiting(const ObjectId& player, const ObjectId& at) {
        const std::u16string name = kernel.QueryWideStr(player, "Name");
        EXPECT_GE(kernel.FindRecordWideStr(at, "AutoTeamRec", 0, name.c_str()), 0);
        EXPECT_EQ(LinkOf(player), at);
        EXPECT_TRUE(Waiting(player));
        EXPECT_EQ(kernel.HeartbeatInterval(player, kWaitBeat), 1000);
    }
    // No trace at all of a sign-up.
    void ExpectNoTrace(const ObjectId& player, const ObjectId& at) {
        const std::u16string name = kernel.QueryWideStr(player, "Name");
        EXPECT_LT(kernel.FindRecordWideStr(at, "AutoTeamRec", 0, name.c_str()), 0);
        EXPECT_TRUE(LinkOf(player).IsNull());
        EXPECT_FALSE(Waiting(player));
    }

    std::vector<const host::Event*> Events(EventKind kind, int id, uint64_t from = 0) {
        EventFilter f = EventFilter::OfKind(kind);
        f.anyId = false;
        f.id = id;
        f.fromSeq = from;
        return kernel.log().Find(f);
    }
    uint64_t Mark() { return kernel.log().NextSeq(); }

    host::Kernel kernel;
    host::TeamSystem teams;
    AutoTeamFarmSystem module;
    ObjectId scene;
    ObjectId farm;
};

// A crafted sign-up may name an area boss point (its fights must go through
// its own select rules) or an object of another class that happens to carry
// the sign-up record: each is refused with one Trace line, nothing stored.
TEST_F(FarmFlow, SignUpAtABossPointOrANonCreatorIsRefusedWithOneTraceLine) {
    host::ObjectSpec bossDef;
    bossDef.className = "NpcCreator";
    bossDef.config = "AreaBossNPCCreator";
    bossDef.scene = scene;
    const ObjectId boss = kernel.CreateObject(bossDef);
    kernel.DeclareClass("Board");
    kernel.DeclareRecord("Board", "AutoTeamRec", {VTYPE_WIDESTR, VTYPE_INT}, 8);
    host::ObjectSpec boardDef;
    boardDef.className = "Board";
    boardDef.scene = scene;
    const ObjectId board = kernel.CreateObject(boardDef);

    for (const ObjectId& at : {boss, board}) {
        const ObjectId p = Player(at == boss ? u"Ann" : u"Bob", 1);
        const uint64_t from = Mark();
        SignUp(p, at);
        ExpectNoTrace(p, at);
        EventFilter f = EventFilter::OfKind(EventKind::Trace);
        f.fromSeq = from;
        f.contains = "sign-up refused";
        EXPECT_EQ(kernel.log().Count(f), 1u);
    }
    // An ordinary farm still takes the sign-up.
    const ObjectId cal = Player(u"Cal", 1);
    SignUp(cal, farm);
    ExpectWaiting(cal, farm);
}

// A full team of five signed up at the farm; the first is its leader.
class FullTeamFarm : public FarmFlow {
protected:
    void SetUp() override {
        FarmFlow::SetUp();
        const char16_t* names[] = {u"Ann", u"Bob", u"Cid", u"Dee", u"Eve"};
        for (const char16_t* name : names) {
            members.push_back(Player(name, 1));
            SignUp(members.back(), farm);
        }
    }
    std::vector<ObjectId> members;
};

// ---- sign-up ------------------------------------------------------------------------

TEST_F(FarmFlow, PlayerInTeamIsToldAndNotSignedUp) {
    const ObjectId ann = Player(u"Ann", 1);
    const ObjectId bob = Player(u"Bob", 1);
    ASSERT_TRUE(teams.Join(bob, ann));
    const uint64_t mark = Mark();
    SignUp(ann, farm);

    auto notices = Events(EventKind::SysInfo, 2, mark);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0]->target, ann);
    EXPECT_EQ(notices[0]->name, "91800");
    EXPECT_EQ(notices[0]->args.GetCount(), 0u);
    ExpectNoTrace(ann, farm);
    EXPECT_TRUE(Rows(farm).empty());
}

TEST_F(FarmFlow, FirstOfCampIsSignedUpWithoutTeamRequest) {
    const ObjectId ann = Player(u"Ann", 1);
    SignUp(ann, farm);
    ExpectWaiting(ann, farm);
    EXPECT_EQ(Rows(farm), (std::vector<FarmRow>{{u"Ann", 1}}));
    EXPECT_TRUE(Events(EventKind::CommandByName, 140).empty());
    EXPECT_TRUE(Events(EventKind::SysInfo, 2).empty());
}

TEST_F(FarmFlow, RefusalsAfterTheFirstAreSilent) {
    const ObjectId ann = Player(u"Ann", 1);
    SignUp(ann, farm);
    const ObjectId other = MakeFarm(scene);
    const uint64_t mark = Mark();

    SignUp(ann, farm);   // again at the same farm
    SignUp(ann, other);  // at a second farm while signed up
    EXPECT_EQ(Rows(farm).size(), 1u);
    EXPECT_TRUE(Rows(other).empty());
    EXPECT_EQ(LinkOf(ann), farm);
    EXPECT_TRUE(Events(EventKind::SysInfo, 2, mark).empty());
    EXPECT_TRUE(Events(EventKind::CommandByName, 140, mark).empty());
}

TEST_F(FarmFlow, NoSignUpInSceneOfTypeTwo) {
    const ObjectId closed = kernel.CreateScene("closed", 2, 2);
    const ObjectId closedFarm = MakeFarm(closed);
    const ObjectId ann = kernel.CreatePlayer(u"Ann", 1, closed);
    SignUp(ann, closedFarm);
    ExpectNoTrace(ann, closedFarm);
    EXPECT_TRUE(Events(EventKind::SysInfo, 2).empty());
}

TEST_F(FarmFlow, DeadOrMissingFarmObjectIsIgnored) {
    const ObjectId ann = Player(u"Ann", 1);
    const ObjectId gone = MakeFarm(scene);
    kernel.Destroy(gone);
    SignUp(ann, gone);
    kernel.ClientMessage(ann, HostVarList::Of({int32_t{150493}}));  // no index 1
    EXPECT_TRUE(LinkOf(ann).IsNull());
    EXPECT_FALSE(Waiting(ann));
}

// The farm object comes from the client; an object without the sign-up
// record must not be written into or used as a farm.
TEST_F(FarmFlow, ObjectWithoutSignUpRecordIsRefused) {
    const ObjectId ann = Player(u"Ann", 1);
    const ObjectId bob = Player(u"Bob", 1);
    SignUp(bob, ann);  // another player as the "farm"
    SignUp(bob, scene);
    EXPECT_TRUE(LinkOf(bob).IsNull());
    EXPECT_FALSE(Waiting(bob));
    EXPECT_EQ(kernel.GetRecordRows(scene, "AutoTeamRec"), -1);
}

TEST_F(FarmFlow, SecondOfCampAsksFirstPlayerByName) {
    const ObjectId ann = Player(u"Ann", 1);
    const ObjectId bob = Player(u"Bob", 1);
    SignUp(ann, farm);
    SignUp(bob, farm);

    auto requests = Events(EventKind::CommandByName, 140);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]->targetName, u"Ann");
    const HostVarList& a = requests[0]->args;
    ASSERT_EQ(a.GetCount(), 5u);
    EXPECT_EQ(a.GetType(0), VTYPE_INT);
    EXPECT_EQ(a.IntVal(0), 140);
    EXPECT_EQ(std::u16string(a.WideStrVal(1)), u"Ann");
    EXPECT_EQ(std::u16string(a.WideStrVal(2)), u"Bob");
    EXPECT_EQ(a.GetType(3), VTYPE_INT);
    EXPECT_EQ(a.IntVal(3), 0);
    EXPECT_EQ(a.GetType(4), VTYPE_INT);
    EXPECT_EQ(a.IntVal(4), 0);

    ExpectWaiting(bob, farm);
    EXPECT_EQ(Rows(farm), (std::vector<FarmRow>{{u"Ann", 1}, {u"Bob", 1}}));
    EXPECT_EQ(teams.Leader(bob), ann);  // the host's team module acted on it
}

TEST_F(FarmFlow, RequestGoesToLeaderOfEarliestSameCampPlayer) {
    const ObjectId ann = Player(u"Ann", 1);
    const ObjectId kim = Player(u"Kim", 1);  // never signs up
    const ObjectId bob = Player(u"Bob", 1);
    SignUp(ann, farm);
    ASSERT_TRUE(teams.Join(kim, ann));
    SignUp(bob, farm);

    auto requests = Events(EventKind::CommandByName, 140);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]->targetName, u"Kim");
    EXPECT_EQ(std::u16string(requests[0]->args.WideStrVal(1)), u"Kim");
    EXPECT_EQ(std::u16string(requests[0]->args.WideStrVal(2)), u"Bob");
}

TEST_F(FarmFlow, DifferentCampsAreNeverPaired) {
    const ObjectId ann = Player(u"Ann", 1);
    const ObjectId bob = Player(u"Bob", 2);
    const ObjectId cid = Player(u"Cid", 2);
    SignUp(ann, farm);
    SignUp(bob, farm);
    ExpectWaiting(bob, farm);
    EXPECT_TRUE(Events(EventKind::CommandByName, 140).empty());

    SignUp(cid, farm);  // pairs with Bob, not with the earlier Ann
    auto requests = Events(EventKind::CommandByName, 140);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]->targetName, u"Bob");
    EXPECT_FALSE(teams.Leader(ann) == bob || teams.Leader(ann) == cid);
}

TEST_F(FarmFlow, NamesAreComparedExactly) {
    const ObjectId ann = Player(u"Ann", 1);
    const ObjectId lower = Player(u"ann", 1);
    const ObjectId longer = Player(u"Ann ", 1);
    SignUp(ann, farm);
    SignUp(lower, farm);
    SignUp(longer, farm);
    EXPECT_EQ(Rows(farm), (std::vector<FarmRow>{{u"Ann", 1}, {u"ann", 1}, {u"Ann ", 1}}));
    EXPECT_EQ(LinkOf(lower), farm);
    EXPECT_EQ(LinkOf(longer), farm);
}

// The earliest same-camp name belongs to a player who is gone without a
// leave event. The stopped join must leave nothing behind, so the newcomer
// can sign up once that player is back.
TEST_F(FarmFlow, StoppedJoinLeavesNoTraceAndLaterSignUpSucceeds) {
    const ObjectId ann = Player(u"Ann", 1);
    SignUp(ann, farm);
    kernel.Destroy(ann);

    const ObjectId bob = Player(u"Bob", 1);
    SignUp(bob, farm);
    ExpectNoTrace(bob, farm);
    EXPECT_EQ(Rows(farm), (std::vector<FarmRow>{{u"Ann", 1}}));
    EXPECT_TRUE(Events(EventKind::CommandByName, 140).empty());

    const ObjectId annAgain = Player(u"Ann", 1);
    SignUp(bob, farm);
    ExpectWaiting(bob, farm);
    EXPECT_EQ(Rows(farm), (std::vector<FarmRow>{{u"Ann", 1}, {u"Bob", 1}}));
    EXPECT_EQ(teams.Leader(bob), annAgain);
}

// ---- waiting for a full team ----------------------------------------------------------

TEST_F(FarmFlow, FourTeamRowsKeepWaiting) {
    std::vector<ObjectId> players;
    for (const char16_t* name : {u"Ann", u"Bob", u"Cid", u"Dee"}) {
        players.push_back(Player(name, 1));
        SignUp(players.back(), farm);
    }
    ASSERT_EQ(kernel.GetRecordRows(players[3], "team"), 4);
    kernel.AdvanceTime(5000);
    for (const ObjectId& p : players) EXPECT_TRUE(Waiting(p));
    EXPECT_TRUE(Events(EventKind::Command, 1001).empty());
}

TEST_F(FullTeamFarm, FullTeamStartsEncounterForLeaderOncePerMember) {
    ASSERT_EQ(kernel.GetRecordRows(members[4], "team"), 5);
    kernel.AdvanceTime(1000);

    auto encounters = Events(EventKind::Command, 1001);
    ASSERT_EQ(encounters.size(), members.size());  // one per member's heartbeat
    for (const host::Event* e : encounters) {
        EXPECT_EQ(e->target, members[0]);
        EXPECT_EQ(e->args.ObjectVal(1), farm);
        EXPECT_EQ(e->args.IntVal(2), 1);  // the leader flag
    }
    for (const ObjectId& p : members) {
        EXPECT_FALSE(Waiting(p));
        EXPECT_EQ(LinkOf(p), farm);  // starting the fight keeps the sign-up
    }
    EXPECT_EQ(Rows(farm).size(), 5u);

    kernel.AdvanceTime(3000);
    EXPECT_EQ(Events(EventKind::Command, 1001).size(), members.size());
}

TEST_F(FarmFlow, ClearedLinkDropsHeartbeatWithoutEncounter) {
    const ObjectId ann = Player(u"Ann", 1);
    SignUp(ann, farm);
    kernel.SetObject(ann, "AutoTeamFarm", ObjectId{});
    kernel.AdvanceTime(1000);
    EXPECT_FALSE(Waiting(ann));
    EXPECT_TRUE(Events(EventKind::Command, 1001).empty());
}

TEST_F(FullTeamFarm, VanishedFarmObjectDropsHeartbeats) {
    kernel.Destroy(farm);
    kernel.AdvanceTime(1000);
    for (const ObjectId& p : members) EXPECT_FALSE(Waiting(p));
    EXPECT_TRUE(Events(EventKind::Command, 1001).empty());
}

// ---- withdrawal -----------------------------------------------------------------------

TEST_F(FullTeamFarm, MemberWithdrawalTellsLeaderWith142) {
    const uint64_t mark = Mark();
    Withdraw(members[2]);

    auto notices = Events(EventKind::Command, 142, mark);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0]->sender, members[2]);
    EXPECT_EQ(notices[0]->target, members[0]);
    const HostVarList& a = notices[0]->args;
    ASSERT_EQ(a.GetCount(), 3u);
    EXPECT_EQ(std::u16string(a.WideStrVal(1)), u"Ann");
    EXPECT_EQ(std::u16string(a.WideStrVal(2)), u"Cid");
    EXPECT_TRUE(Events(EventKind::Command, 141, mark).empty());

    ExpectNoTrace(members[2], farm);
    EXPECT_EQ(Rows(farm).size(), 4u);
    EXPECT_FALSE(teams.Leader(members[2]) == members[0]);  // the team module let him go
}

TEST_F(FullTeamFarm, LeaderWithdrawalTells141ToHimselfAndIsRemovedOnce) {
    // A host hook between the farm's 141 hook (5) and the team module's (10)
    // sees the leader already removed by the farm's hook.
    bool removedBeforeTeam = false;
    kernel.AddHostCommandHook(
        "player", 141,
        [&](host::Kernel& k, const ObjectId&, const ObjectId&, const IVarList&) {
            removedBeforeTeam = k.QueryObject(members[0], "AutoTeamFarm").IsNull();
            return 1;
        },
        6);
    const uint64_t mark = Mark();
    Withdraw(members[0]);

    auto notices = Events(EventKind::Command, 141, mark);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0]->sender, members[0]);
    EXPECT_EQ(notices[0]->target, members[0]);
    EXPECT_EQ(std::u16string(notices[0]->args.WideStrVal(1)), u"Ann");
    EXPECT_EQ(std::u16string(notices[0]->args.WideStrVal(2)), u"Ann");
    EXPECT_TRUE(Events(EventKind::Command, 142, mark).empty());
    EXPECT_TRUE(removedBeforeTeam);

    ExpectNoTrace(members[0], farm);
    EXPECT_EQ(Rows(farm),
              (std::vector<FarmRow>{{u"Bob", 1}, {u"Cid", 1}, {u"Dee", 1}, {u"Eve", 1}}));
    EXPECT_EQ(Events(EventKind::HeartbeatRemove, 0, mark).size(), 1u);
}

TEST_F(FarmFlow, WithdrawalOutsideTeamSendsNothing) {
    const ObjectId ann = Player(u"Ann", 1);
    SignUp(ann, farm);
    const uint64_t mark = Mark();
    Withdraw(ann);
    EXPECT_TRUE(Events(EventKind::Command, 141, mark).empty());
    EXPECT_TRUE(Events(EventKind::Command, 142, mark).empty());
    ExpectNoTrace(ann, farm);
    EXPECT_TRUE(Rows(farm).empty());
}

// The leader test is exact: a member whose name is the leader's name cut
// short is no leader.
TEST_F(FarmFlow, MemberWithLeaderNamePrefixSends142) {
    const ObjectId bob = Player(u"Bob", 1);
    const ObjectId bo = Player(u"Bo", 1);
    SignUp(bob, farm);
    SignUp(bo, farm);
    ASSERT_EQ(teams.Leader(bo), bob);
    const uint64_t mark = Mark();
    Withdraw(bo);
    EXPECT_EQ(Events(EventKind::Command, 142, mark).size(), 1u);
    EXPECT_TRUE(Events(EventKind::Command, 141, mark).empty());
}

TEST_F(FarmFlow, LeavingPlayerWithdraws) {
    const ObjectId ann = Player(u"Ann", 1);
    const ObjectId bob = Player(u"Bob", 1);
    SignUp(ann, farm);
    SignUp(bob, farm);
    const uint64_t mark = Mark();
    kernel.Leave(bob);
    EXPECT_EQ(Events(EventKind::Command, 142, mark).size(), 1u);
    EXPECT_EQ(Rows(farm), (std::vector<FarmRow>{{u"Ann", 1}}));
}

TEST_F(FarmFlow, WithdrawalWhenNotSignedUpDoesNothing) {
    const ObjectId ann = Player(u"Ann", 1);
    const ObjectId bob = Player(u"Bob", 1);
    ASSERT_TRUE(teams.Join(ann, bob));
    const uint64_t mark = Mark();
    Withdraw(bob);
    EXPECT_TRUE(Events(EventKind::Command, 142, mark).empty());
    EXPECT_EQ(teams.Leader(bob), ann);
}

// ---- other ways out -------------------------------------------------------------------

TEST_F(FarmFlow, StoreKindDecidesRemoval) {
    const ObjectId ann = Player(u"Ann", 1);
    SignUp(ann, farm);
    kernel.Store(ann, 1);
    ExpectWaiting(ann, farm);

    const uint64_t mark = Mark();
    kernel.Store(ann, 0);
    ExpectNoTrace(ann, farm);
    EXPECT_TRUE(Events(EventKind::Command, 141, mark).empty());
    EXPECT_TRUE(Events(EventKind::Command, 142, mark).empty());
}

TEST_F(FarmFlow, StoreWithoutKindRemoves) {
    const ObjectId ann = Player(u"Ann", 1);
    const ObjectId bob = Player(u"Bob", 1);
    SignUp(ann, farm);
    SignUp(bob, farm);
    kernel.RaiseClassEvent(ann, "OnStore", ann, HostVarList());
    kernel.RaiseClassEvent(bob, "OnStore", bob, HostVarList::Of({std::string("1")}));
    ExpectNoTrace(ann, farm);
    ExpectNoTrace(bob, farm);
}

TEST_F(FarmFlow, Command1002RemovesReceiver) {
    const ObjectId ann = Player(u"Ann", 1);
    const ObjectId bob = Player(u"Bob", 1);
    SignUp(ann, farm);
    SignUp(bob, farm);
    const uint64_t mark = Mark();
    SendCommand(bob, HostVarList::Of({int32_t{1002}}));
    ExpectNoTrace(bob, farm);
    ExpectWaiting(ann, farm);
    EXPECT_TRUE(Events(EventKind::Command, 142, mark).empty());
}

TEST_F(FarmFlow, Command141RemovesNamedPlayerNotReceiver) {
    const ObjectId ann = Player(u"Ann", 1);
    const ObjectId bob = Player(u"Bob", 1);
    SignUp(ann, farm);
    SignUp(bob, farm);
    SendCommand(ann,
                HostVarList::Of({int32_t{141}, std::u16string(u"Ann"), std::u16string(u"Bob")}));
    ExpectNoTrace(bob, farm);
    ExpectWaiting(ann, farm);

    SendCommand(ann,
                HostVarList::Of({int32_t{141}, std::u16string(u"Ann"), std::u16string(u"Nobody")}));
    ExpectWaiting(ann, farm);
}

TEST_F(FarmFlow, Command742AnsweredZeroOnlyWhileSignedUp) {
    const ObjectId ann = Player(u"Ann", 1);
    const HostVarList ask = HostVarList::Of({int32_t{742}});
    EXPECT_EQ(SendCommand(ann, ask), 1);
    SignUp(ann, farm);
    EXPECT_EQ(SendCommand(ann, ask), 0);
    EXPECT_EQ(LinkOf(ann), farm);  // asking changes nothing
    kernel.Destroy(farm);          // a link to a vanished farm is no sign-up
    EXPECT_EQ(SendCommand(ann, ask), 1);
}

TEST_F(FarmFlow, SignUpAgainAfterRemoval) {
    const ObjectId ann = Player(u"Ann", 1);
    SignUp(ann, farm);
    Withdraw(ann);
    SignUp(ann, farm);
    ExpectWaiting(ann, farm);
    EXPECT_EQ(Rows(farm), (std::vector<FarmRow>{{u"Ann", 1}}));
}

// ---- after a failed Init ----------------------------------------------------------------

// Without a team module everybody counts as being in no team; nothing may
// dereference the missing module or the unset instance pointer.
TEST_F(FarmFlow, HandlersWorkWithoutTeamModule) {
    kernel.UnregisterModule("TeamSystem");
    AutoTeamFarmSystem::s_instance = nullptr;
    AutoTeamFarmSystem failed;
    ASSERT_FALSE(failed.Init(&kernel));
    ASSERT_EQ(AutoTeamFarmSystem::s_instance, nullptr);

    const ObjectId ann = Player(u"Ann", 1);
    const ObjectId bob = Player(u"Bob", 1);
    SignUp(ann, farm);
    SignUp(bob, farm);
    ExpectWaiting(ann, farm);
    ExpectWaiting(bob, farm);

    // Five team rows but no module to name a leader: the wait ends quietly.
    for (int i = 0; i < 5; ++i) {
        kernel.AddRecordRowValues(ann, "team", -1, HostVarList::Of({std::u16string(u"x"), ann}));
    }
    kernel.AdvanceTime(1000);
    EXPECT_FALSE(Waiting(ann));
    EXPECT_TRUE(Events(EventKind::Command, 1001).empty());

    const uint64_t mark = Mark();
    Withdraw(bob);  // in no team as far as the farm can tell: nothing sent
    EXPECT_TRUE(Events(EventKind::Command, 142, mark).empty());
    EXPECT_TRUE(Events(EventKind::Command, 141, mark).empty());
    ExpectNoTrace(bob, farm);
    EXPECT_EQ(SendCommand(ann, HostVarList::Of({int32_t{742}})), 0);
}

}  // namespace
