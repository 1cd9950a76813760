// The host modules ("TeamSystem", "EventTimeSystem"), the stand-in game
// scripts, and worlds running the real rules plug-in on their own threads.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "EventTimeSystem.h"
#include "HostVarList.h"
#include "Kernel.h"
#include "StandInScripts.h"
#include "TeamSystem.h"
#include "World.h"

using host::Event;
using host::EventFilter;
using host::EventKind;
using host::EventTimeSystem;
using host::HostVarList;
using host::Kernel;
using host::KernelOptions;
using host::ObjectSpec;
using host::StandInScripts;
using host::TeamSystem;
using host::World;
using host::WorldOptions;

namespace {

KernelOptions Quiet() {
    KernelOptions o;
    o.echoToTerminal = false;
    return o;
}

HostVarList TeamCommand(int id, const std::u16string& leader, const std::u16string& member) {
    HostVarList l;
    l.AddInt(id);
    l.AddWideStr(leader.c_str());
    l.AddWideStr(member.c_str());
    if (id == 140) {
        l.AddInt(0);
        l.AddInt(0);
    }
    return l;
}

class TeamTest : public ::testing::Test {
protected:
    void SetUp() override {
        kernel = std::make_unique<Kernel>(Quiet());
        team = std::make_unique<TeamSystem>(*kernel);
        team->Install();
        kernel->CreateScene("s", 1);
        for (const char16_t* n : {u"A", u"B", u"C", u"D", u"E", u"F", u"G"})
            players.push_back(kernel->CreatePlayer(n, 1));
    }
    std::vector<std::u16string> RecordNames(const ObjectId& p) {
        std::vector<std::u16string> names;
        for (int r = 0; r < kernel->GetRecordRows(p, "team"); ++r) {
            names.push_back(kernel->QueryRecordWideStr(p, "team", r, 0));
            EXPECT_EQ(kernel->QueryRecordObject(p, "team", r, 1),
                      kernel->FindPlayer(names.back().c_str()));
        }
        return names;
    }
    int Send(const HostVarList& msg) { return kernel->CommandByName(msg.WideStrVal(1), msg); }
    std::unique_ptr<Kernel> kernel;
    std::unique_ptr<TeamSystem> team;
    std::vector<ObjectId> players;
};

}  // namespace

TEST_F(TeamTest, Command140MakesATeamLedByTheNamedLeaderAndFillsEveryRecord) {
    const ObjectId a = players[0], b = players[1], c = players[2];
    EXPECT_FALSE(team->IsInTeam(kernel.get(), a));
    EXPECT_EQ(std::u16string(team->GetTeamLeaderName(kernel.get(), a)), u"");
    ASSERT_EQ(Send(TeamCommand(140, u"A", u"B")), 1);
    ASSERT_EQ(Send(TeamCommand(140, u"A", u"C")), 1);
    EXPECT_TRUE(team->IsTeamLeader(kernel.get(), a));
    EXPECT_FALSE(team->IsTeamLeader(kernel.get(), b));
    EXPECT_TRUE(team->IsInTeam(kernel.get(), c));
    EXPECT_EQ(std::u16string(team->GetTeamLeaderName(kernel.get(), c)), u"A");
    HostVarList members;
    EXPECT_EQ(team->GetTeamMembers(kernel.get(), b, members), 3);
    EXPECT_EQ(members.ObjectVal(0), a);
    EXPECT_EQ(members.ObjectVal(2), c);
    const std::vector<std::u16string> expected{u"A", u"B", u"C"};
    for (const ObjectId& p : {a, b, c}) EXPECT_EQ(RecordNames(p), expected);
    EXPECT_EQ(kernel->GetRecordRows(players[3], "team"), 0);
}

TEST_F(TeamTest, TeamsStopAtFiveMembers) {
    for (int i = 1; i < 5; ++i) Send(TeamCommand(140, u"A", std::u16string(1, char16_t(u'A' + i))));
    EXPECT_EQ(team->Members(players[0]).size(), 5u);
    Send(TeamCommand(140, u"A", u"F"));
    EXPECT_FALSE(team->IsInTeam(kernel.get(), players[5]));
    EXPECT_EQ(kernel->GetRecordRows(players[4], "team"), 5);
    EXPECT_GE(kernel->log().Count([] {
        EventFilter f = EventFilter::OfKind(EventKind::Host);
        f.contains = "full";
        return f;
    }()),
              1u);
}

TEST_F(TeamTest, JoinRefusesMembersOfOtherTeamsAndNonLeaders) {
    ASSERT_TRUE(team->Join(players[0], players[1]));
    ASSERT_TRUE(team->Join(players[2], players[3]));
    EXPECT_FALSE(team->Join(players[2], players[1]));  // B is taken
    EXPECT_FALSE(team->Join(players[1], players[4]));  // B does not lead
    EXPECT_FALSE(team->Join(players[4], players[4]));
    EXPECT_FALSE(team->Join(ObjectId{}, players[4]));
    EXPECT_EQ(team->TeamCount(), 2u);
    Send(TeamCommand(140, u"Nobody", u"E"));  // ignored, logged
    EXPECT_FALSE(team->IsInTeam(kernel.get(), players[4]));
}

TEST_F(TeamTest, Command142TakesAMemberOutAndUpdatesTheOthers) {
    const ObjectId a = players[0], b = players[1], c = players[2];
    team->Join(a, b);
    team->Join(a, c);
    HostVarList quit = TeamCommand(142, u"A", u"B");
    kernel->Command(b, a, quit);
    EXPECT_FALSE(team->IsInTeam(kernel.get(), b));
    EXPECT_EQ(kernel->GetRecordRows(b, "team"), 0);
    EXPECT_EQ(RecordNames(a), (std::vector<std::u16string>{u"A", u"C"}));
    EXPECT_EQ(RecordNames(c), (std::vector<std::u16string>{u"A", u"C"}));
}

TEST_F(TeamTest, Command141LeaderLeavingPassesTheLeadAndAPairDissolves) {
    const ObjectId a = players[0], b = players[1], c = players[2];
    team->Join(a, b);
    team->Join(a, c);
    kernel->Command(a, a, TeamCommand(141, u"A", u"A"));
    EXPECT_FALSE(team->IsInTeam(kernel.get(), a));
    EXPECT_TRUE(team->IsTeamLeader(kernel.get(), b));
    EXPECT_EQ(RecordNames(c), (std::vector<std::u16string>{u"B", u"C"}));
    kernel->Command(b, b, TeamCommand(141, u"B", u"B"));
    EXPECT_FALSE(team->IsInTeam(kernel.get(), c));  // one player is no team
    EXPECT_EQ(kernel->GetRecordRows(c, "team"), 0);
    EXPECT_EQ(team->TeamCount(), 0u);
}

TEST_F(TeamTest, LeaveCommandsOnlyActOnTheReceiversOwnTeam) {
    team->Join(players[0], players[1]);
    team->Join(players[2], players[3]);
    // D is named, but the command reaches A, who does not share D's team.
    kernel->Command(players[0], players[0], TeamCommand(142, u"A", u"D"));
    EXPECT_TRUE(team->IsInTeam(kernel.get(), players[3]));
}

TEST_F(TeamTest, ADestroyedPlayerLeavesItsTeam) {
    team->Join(players[0], players[1]);
    team->Join(players[0], players[2]);
    kernel->Destroy(players[0]);
    EXPECT_TRUE(team->IsTeamLeader(kernel.get(), players[1]));
    EXPECT_EQ(RecordNames(players[2]), (std::vector<std::u16string>{u"B", u"C"}));
}

// ---- event-time module -----------------------------------------------------------

TEST(EventTimeText, AcceptsDailyTimesListsAndDelays) {
    std::vector<EventTimeSystem::TimePoint> p;
    std::string why;
    ASSERT_TRUE(EventTimeSystem::ParseTimeText("08:30", p, why));
    ASSERT_EQ(p.size(), 1u);
    EXPECT_FALSE(p[0].once);
    EXPECT_EQ(p[0].offsetMs, (8 * 60 + 30) * 60 * 1000LL);
    ASSERT_TRUE(EventTimeSystem::ParseTimeText(" 8:05 ; 23:59:59", p, why));
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].offsetMs, (8 * 60 + 5) * 60 * 1000LL);
    EXPECT_EQ(p[1].offsetMs, ((23 * 60 + 59) * 60 + 59) * 1000LL);
    ASSERT_TRUE(EventTimeSystem::ParseTimeText("+5", p, why));
    EXPECT_TRUE(p[0].once);
    EXPECT_EQ(p[0].offsetMs, 5000);
    ASSERT_TRUE(EventTimeSystem::ParseTimeText("00:00", p, why));
}

TEST(EventTimeText, RefusesEverythingElseWithAReason) {
    std::vector<EventTimeSystem::TimePoint> p;
    for (const char* bad :
         {"", " ", "24:00", "12:60", "12:00:60", "ab", "12", "1:2:3:4", "+0", "+-3", "+", "+12x",
          "+99999999999", "08:00;", ";08:00", "-01:00", "08:0a", "123:00", "08:00 pm"}) {
        std::string why;
        EXPECT_FALSE(EventTimeSystem::ParseTimeText(bad, p, why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
        EXPECT_TRUE(p.empty()) << bad;
    }
}

namespace {
class EventTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        kernel = std::make_unique<Kernel>(Quiet());
        module = std::make_unique<EventTimeSystem>(*kernel);
        scene1 = kernel->CreateScene("s1", 1);
        scene2 = kernel->CreateScene("s2", 2);
        ObjectSpec objDef;
        objDef.className = "AreaBossNPCCreator";
        creator = kernel->CreateObject(objDef);
    }
    std::vector<const Event*> Deliveries() const {
        return kernel->log().Find(EventFilter::CommandId(326));
    }
    std::unique_ptr<Kernel> kernel;
    std::unique_ptr<EventTimeSystem> module;
    ObjectId scene1, scene2, creator;
};
}  // namespace

TEST_F(EventTimeTest, DailyTimeDelivers326ToEverySceneWithKindAndArgs) {
    HostVarList args;
    args.AddObject(creator);
    ASSERT_TRUE(module->AddTimePointEvent(9, "01:00", 0, args));
    kernel->AdvanceTime(3600 * 1000 - 1);
    EXPECT_TRUE(Deliveries().empty());
    kernel->AdvanceTime(1);
    auto got = Deliveries();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0]->target, scene1);
    EXPECT_EQ(got[1]->target, scene2);
    EXPECT_EQ(got[0]->timeMs, 3600 * 1000);
    EXPECT_EQ(got[0]->args.IntVal(0), 326);
    EXPECT_EQ(got[0]->args.IntVal(1), 9);
    EXPECT_EQ(got[0]->args.ObjectVal(2), creator);
    EXPECT_EQ(got[0]->args.GetCount(), 3u);
    kernel->AdvanceTime(EventTimeSystem::kDayMs);  // and again the next day
    EXPECT_EQ(Deliveries().size(), 4u);
    EXPECT_EQ(Deliveries().back()->timeMs, 3600 * 1000 + EventTimeSystem::kDayMs);
    EXPECT_EQ(module->PendingCount(), 1u);
}

TEST_F(EventTimeTest, ATimePointAboutAnObjectInASceneGoesToThatSceneOnly) {
    ObjectSpec objDef;
    objDef.className = "AreaBossNPCCreator";
    objDef.scene = scene2;
    const ObjectId placed = kernel->CreateObject(objDef);
    HostVarList args;
    args.AddObject(placed);
    ASSERT_TRUE(module->AddTimePointEvent(9, "+2", 0, args));
    kernel->AdvanceTime(2000);
    const auto got = Deliveries();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0]->target, scene2);
    EXPECT_EQ(got[0]->sender, scene2);
    EXPECT_EQ(got[0]->args.ObjectVal(2), placed);
}

TEST_F(EventTimeTest, ATimeAlreadyReachedTodayFirstFiresTomorrow) {
    kernel->AdvanceTime(2 * 3600 * 1000);  // 02:00
    ASSERT_TRUE(module->AddTimePointEvent(9, "02:00;03:00", 0, HostVarList()));
    kernel->AdvanceTime(3600 * 1000);
    auto got = Deliveries();
    ASSERT_EQ(got.size(), 2u);  // 03:00, one per scene
    EXPECT_EQ(got[0]->timeMs, 3 * 3600 * 1000);
    kernel->AdvanceTime(EventTimeSystem::kDayMs);
    got = Deliveries();
    ASSERT_EQ(got.size(), 6u);  // 02:00 and 03:00 of the next day
    EXPECT_EQ(got[2]->timeMs, EventTimeSystem::kDayMs + 2 * 3600 * 1000);
}

TEST_F(EventTimeTest, DelayFiresOnceAndBadTextIsRefusedLogged) {
    ASSERT_TRUE(module->AddTimePointEvent(4, "+30", 77, HostVarList()));
    EXPECT_FALSE(module->AddTimePointEvent(4, "25:00", 0, HostVarList()));
    EXPECT_FALSE(module->AddTimePointEvent(4, nullptr, 0, HostVarList()));
    kernel->AdvanceTime(10 * 60 * 1000);
    EXPECT_EQ(Deliveries().size(), 2u);
    EXPECT_EQ(Deliveries()[0]->timeMs, 30000);
    EXPECT_EQ(module->PendingCount(), 0u);
    EXPECT_EQ(module->Deliveries(), 1u);
    EventFilter refused = EventFilter::OfKind(EventKind::Host);
    refused.contains = "time point refused";
    EXPECT_EQ(kernel->log().Count(refused), 2u);
}

TEST_F(EventTimeTest, WithoutScenesTheDeliveryIsLoggedAndDropped) {
    kernel->Destroy(scene1);
    kernel->Destroy(scene2);
    ASSERT_TRUE(module->AddTimePointEvent(9, "+1", 0, HostVarList()));
    kernel->AdvanceTime(1000);
    EXPECT_TRUE(Deliveries().empty());
    EventFilter f = EventFilter::OfKind(EventKind::Host);
    f.contains = "no scene";
    EXPECT_EQ(kernel->log().Count(f), 1u);
}

// ---- stand-in game scripts --------------------------------------------------------

namespace {
class StandInTest : public ::testing::Test {
protected:
    void SetUp() override {
        kernel = std::make_unique<Kernel>(Quiet());
        team = std::make_unique<TeamSystem>(*kernel);
        team->Install();
        standIn = std::make_unique<StandInScripts>(*kernel, team.get());
        standIn->Install();
        scene = kernel->CreateScene("s", 1);
        a = kernel->CreatePlayer(u"A", 1);
        b = kernel->CreatePlayer(u"B", 1);
        ObjectSpec objDef;
        objDef.className = "NpcCreator";
        objDef.config = "NpcCreator";
        creator = kernel->CreateObject(objDef);
    }
    int Send(const ObjectId& from, const ObjectId& to, std::vector<host::Value> values) {
        return kernel->Command(from, to, HostVarList::Of(values));
    }
    std::unique_ptr<Kernel> kernel;
    std::unique_ptr<TeamSystem> team;
    std::unique_ptr<StandInScripts> standIn;
    ObjectId scene, a, b, creator;
};
}  // namespace

TEST_F(StandInTest, PermissionCommandsAnswerYesAndCanBeOverridden) {
    EXPECT_EQ(Send(a, creator, {int32_t{976}}), 1);
    EXPECT_EQ(Send(creator, creator, {int32_t{995}}), 1);
    EXPECT_EQ(kernel->CommandHookCount("NpcCreator", 976), 1u);
    EXPECT_TRUE(standIn->Disable(976));
    EXPECT_FALSE(standIn->Disable(976));
    EXPECT_EQ(kernel->CommandHookCount("NpcCreator", 976), 0u);
    kernel->AddHostCommandHook(
        "NpcCreator", 976,
        [](Kernel&, const ObjectId&, const ObjectId&, const IVarList&) { return 0; }, 1,
        "scenario");
    EXPECT_EQ(Send(a, creator, {int32_t{976}}), 0);
}

TEST_F(StandInTest, Command997IsNotedInTheLog) {
    Send(creator, creator, {int32_t{997}, int32_t{101}, creator});
    EventFilter f = EventFilter::OfKind(EventKind::Note);
    f.name = "encounter_chosen";
    const Event* e = kernel->log().FindFirst(f);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->sender, creator);
    EXPECT_NE(e->text.find("101"), std::string::npos);
}

TEST_F(StandInTest, Command1001StartsAFightForTheWholeTeamOfALeader) {
    team->Join(a, b);
    Send(a, a,
         {int32_t{1001}, creator, int32_t{1}, int32_t{2}, int32_t{30001}, int32_t{3},
          int32_t{30002}, int32_t{0}});
    const ObjectId fight = kernel->QueryObject(a, "Fighting");
    ASSERT_TRUE(kernel->Exists(fight));
    EXPECT_EQ(kernel->ClassNameOf(fight), "Fight");
    EXPECT_EQ(kernel->QueryObject(fight, "HelperInfo"), creator);
    EXPECT_EQ(kernel->QueryObject(b, "Fighting"), fight);
    const ObjectId left = kernel->GetChild(fight, u"LeftTeam");
    ASSERT_TRUE(kernel->Exists(left));
    ASSERT_EQ(kernel->GetRecordRows(left, "PkMemberInfo"), 2);
    EXPECT_EQ(kernel->QueryRecordObject(left, "PkMemberInfo", 0, 1), a);
    EXPECT_EQ(kernel->QueryRecordObject(left, "PkMemberInfo", 1, 1), b);
    EXPECT_EQ(standIn->FightsStarted(), 1u);
}

TEST_F(StandInTest, AMemberWhoIsNotTheLeaderFightsAlone) {
    team->Join(a, b);
    Send(b, b, {int32_t{1001}, creator, int32_t{0}, int32_t{1}, int32_t{30001}, int32_t{4}});
    const ObjectId left = kernel->GetChild(kernel->QueryObject(b, "Fighting"), u"LeftTeam");
    EXPECT_EQ(kernel->GetRecordRows(left, "PkMemberInfo"), 1);
    EXPECT_TRUE(kernel->QueryObject(a, "Fighting").IsNull());
}

TEST_F(StandInTest, FightWonSends1018ThenEndsTheFight) {
    ObjectId fightSeen;
    kernel->AddHostCommandHook(
        "player", 1018,
        [&](Kernel& k, const ObjectId& self, const ObjectId&, const IVarList&) {
            fightSeen = k.QueryObject(self, "Fighting");
            return 1;
        },
        3);
    const ObjectId fight = standIn->StartFight(a, creator);
    EXPECT_EQ(standIn->FightWon(a), 1);
    EXPECT_EQ(fightSeen, fight);  // the hook still saw the fight
    EXPECT_FALSE(kernel->Exists(fight));
    EXPECT_TRUE(kernel->QueryObject(a, "Fighting").IsNull());
    // A new fight replaces an old one instead of leaking it.
    const ObjectId first = standIn->StartFight(a, creator);
    const ObjectId second = standIn->StartFight(a, creator);
    EXPECT_FALSE(kernel->Exists(first));
    EXPECT_EQ(kernel->QueryObject(a, "Fighting"), second);
    EXPECT_EQ(standIn->FightReturned(a, false), 1);
    EXPECT_TRUE(kernel->Exists(second));
    EXPECT_TRUE(standIn->StartFight(ObjectId{}, creator).IsNull());
}

// ---- worlds and the real plug-in ---------------------------------------------------

namespace {

WorldOptions PluginWorld() {
    WorldOptions o;
    o.pluginPath = TEST_PLUGIN_PATH;
    o.resourceDir = TEST_RESOURCES_DIR;
    o.quiet = true;
    return o;
}

// A fixed series of actions on the real plug-in; returns the event log lines.
std::vector<std::string> PlayScript(World& w) {
    return w.Call([](Kernel& k) {
        const ObjectId scene = k.CreateScene("scene1", 11);
        ObjectSpec objDef;
        objDef.className = "NpcCreator";
        objDef.config = "NpcCreator";
        objDef.configIndex = 2;
        objDef.scene = scene;
        objDef.properties = {{"MaxSelectCount", int32_t{50}}, {"RefreshTime", int32_t{30}}};
        const ObjectId creator = k.CreateObject(objDef);
        const ObjectId p = k.CreatePlayer(u"Hero", 1, scene);
        for (int i = 0; i < 6; ++i) {
            k.Select(p, creator, 1);
            k.AdvanceTime(45000);
        }
        std::vector<std::string> lines;
        for (const Event& e : k.log().events()) lines.push_back(e.ToString());
        return lines;
    });
}

}  // namespace

TEST(World, CallsRunOnTheWorldsOwnThread) {
    WorldOptions o;
    o.quiet = true;
    o.scriptEngine = false;
    World w(o);
    ASSERT_TRUE(w.Start());
    const auto t1 = w.Call([](Kernel&) { return std::this_thread::get_id(); });
    const auto t2 = w.Call([](Kernel&) { return std::this_thread::get_id(); });
    EXPECT_EQ(t1, t2);
    EXPECT_NE(t1, std::this_thread::get_id());
    EXPECT_THROW(w.Call([](Kernel&) -> int { throw std::runtime_error("boom"); }),
                 std::runtime_error);
    EXPECT_EQ(w.Call([](Kernel& k) { return k.FindModule("TeamSystem") != nullptr; }), true);
    w.Stop();
    EXPECT_FALSE(w.running());
    w.Stop();  // twice is harmless
    EXPECT_THROW(w.Call([](Kernel&) { return 1; }), std::logic_error);
}

TEST(World, ACallerThreadWorldRunsOnItsStarterAndRefusesOtherThreads) {
    WorldOptions o;
    o.quiet = true;
    o.scriptEngine = false;
    o.callerThread = true;
    World w(o);
    ASSERT_TRUE(w.Start());
    EXPECT_EQ(w.Call([](Kernel&) { return std::this_thread::get_id(); }),
              std::this_thread::get_id());
    int refused = 0;
    std::thread([&] {
        for (auto attempt :
             {+[](World& x) { x.Call([](Kernel&) {}); }, +[](World& x) { x.Stop(); }})
            try {
                attempt(w);
            } catch (const std::logic_error&) {
                ++refused;
            }
    }).join();
    EXPECT_EQ(refused, 2);
    EXPECT_TRUE(w.running());
    // Not from inside a Call either: the kernel is still in use there.
    EXPECT_THROW(w.Call([&w](Kernel&) { w.Stop(); }), std::logic_error);
    EXPECT_TRUE(w.running());
    EXPECT_EQ(w.Call([](Kernel& k) { return k.FindModule("TeamSystem") != nullptr; }), true);
    w.Stop();
    EXPECT_FALSE(w.running());
    EXPECT_THROW(w.Call([](Kernel&) { return 1; }), std::logic_error);
}

namespace {
struct InProcessModule : IModule {
    std::thread::id initThread;
    bool afterInit = false;
    bool Init(IKernel* k) override {
        initThread = std::this_thread::get_id();
        return k->FindModule("EventTimeSystem") != nullptr;
    }
    bool AfterInit(IKernel*) override {
        afterInit = true;
        return true;
    }
};
}  // namespace

TEST(World, ModulesHandedInAreDrivenOnTheWorldThread) {
    InProcessModule m;
    WorldOptions o;
    o.quiet = true;
    o.scriptEngine = false;
    o.extraModules = {{"InProcess", &m}};
    World w(o);
    ASSERT_TRUE(w.Start());
    EXPECT_TRUE(w.lifecycle().ok());
    EXPECT_TRUE(m.afterInit);
    EXPECT_EQ(m.initThread, w.Call([](Kernel&) { return std::this_thread::get_id(); }));
    EXPECT_EQ(w.FindModule("InProcess"), &m);
    EXPECT_EQ(w.Call([](Kernel& k) { return k.FindModule("InProcess"); }), &m);
    EXPECT_EQ(w.FindModule("TeamSystem"), nullptr);  // host modules are the kernel's
}

TEST(World, AMissingPluginFailsTheStartWithAReason) {
    WorldOptions o = PluginWorld();
    o.pluginPath = "/nonexistent/libgamerules.so";
    World w(o);
    EXPECT_FALSE(w.Start());
    EXPECT_NE(w.error().find("/nonexistent/libgamerules.so"), std::string::npos);
    EXPECT_FALSE(w.running());
    o.privatePluginCopy = false;
    World direct(o);
    EXPECT_FALSE(direct.Start());
    EXPECT_NE(direct.error().find("cannot load"), std::string::npos);
}

TEST(World, RealPluginGoesThroughItsLifecycleAndDeclaresNpcCreator) {
    World w(PluginWorld());
    ASSERT_TRUE(w.Start()) << w.error();
    EXPECT_TRUE(w.lifecycle().ok());
    ASSERT_EQ(w.plugin().modules().size(), 3u);
    EXPECT_NE(w.FindModule("NpcCreatorSystem"), nullptr);
    ASSERT_NE(w.FindRuleSystem("AreaBossSystem"), nullptr);
    EXPECT_EQ(w.Call([&](Kernel&) {
        return w.FindRuleSystem("AreaBossSystem")->SetActivityState(nullptr, 1, "12");
    }),
              1);
    w.Run([](Kernel& k) {
        const int c = k.ClassIndex("NpcCreator");
        EXPECT_NE(k.FindPropertyDecl(c, "SelectCount"), nullptr);
        EXPECT_EQ(k.FindPropertyDecl(c, "SelectCount")->saveMode, 2);
        const host::RecordDecl* rec = k.FindRecordDecl(c, "AutoTeamRec");
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(rec->colTypes, (std::vector<int>{VTYPE_WIDESTR, VTYPE_INT}));
        // Inherited by the area boss class.
        EXPECT_NE(k.FindPropertyDecl(k.ClassIndex("AreaBossNPCCreator"), "FRTime"), nullptr);
    });
    const std::string loaded = w.loadedPluginPath();
    EXPECT_NE(loaded, TEST_PLUGIN_PATH);  // a private copy
    EXPECT_TRUE(World::IsLibraryLoaded(loaded));
    w.Stop();
    EXPECT_TRUE(w.pluginUnloaded());
    EXPECT_FALSE(World::IsLibraryLoaded(loaded));
}

TEST(World, LoadingTheSharedFileDirectlyAlsoUnloadsAtStop) {
    WorldOptions o = PluginWorld();
    o.privatePluginCopy = false;
    World w(o);
    ASSERT_TRUE(w.Start()) << w.error();
    EXPECT_EQ(w.loadedPluginPath(), TEST_PLUGIN_PATH);
    EXPECT_TRUE(World::IsLibraryLoaded(TEST_PLUGIN_PATH));
    w.Stop();
    EXPECT_TRUE(w.pluginUnloaded());
    EXPECT_FALSE(World::IsLibraryLoaded(TEST_PLUGIN_PATH));
}

TEST(World, ASelectRunsTheEncounterThroughTheStandInScripts) {
    World w(PluginWorld());
    ASSERT_TRUE(w.Start()) << w.error();
    w.Run([](Kernel& k) {
        const ObjectId scene = k.CreateScene("scene1", 11);
        ObjectSpec objDef;
        objDef.className = "NpcCreator";
        objDef.config = "NpcCreator";
        objDef.configIndex = 1;
        objDef.scene = scene;
        objDef.properties = {{"MaxSelectCount", int32_t{3}}, {"NoticeByWorldBeKilled", int32_t{1}}};
        const ObjectId creator = k.CreateObject(objDef);
        EXPECT_EQ(k.QueryInt(creator, "SelectCount"), 3);
        EXPECT_GT(k.GetRecordRows(creator, "ModelInfoRec"), 0);
        const ObjectId p = k.CreatePlayer(u"Hero", 1, scene);
        k.Select(p, creator, 1);
        const Event* list = k.log().FindLast(EventFilter::CommandId(1001));
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->target, p);
        EXPECT_EQ(list->args.ObjectVal(1), creator);
        EXPECT_EQ(list->args.IntVal(3), 3);  // the rules script: 2 + a team of one
        const ObjectId fight = k.QueryObject(p, "Fighting");
        ASSERT_TRUE(k.Exists(fight));
        EXPECT_EQ(k.QueryObject(fight, "HelperInfo"), creator);
        EXPECT_EQ(k.QueryInt(creator, "SelectCount"), 2);
    });
    w.Stop();
}

TEST(World, WithoutTheTeamModuleFailedInitsAreReportedAndTheirHandlersNeverRun) {
    WorldOptions o = PluginWorld();
    o.teamSystem = false;
    World w(o);
    ASSERT_TRUE(w.Start()) << w.error();
    const auto& failed = w.lifecycle().initFailed;
    EXPECT_NE(std::find(failed.begin(), failed.end(), "NpcCreatorSystem"), failed.end());
    EXPECT_NE(std::find(failed.begin(), failed.end(), "AutoTeamFarmSystem"), failed.end());
    EXPECT_EQ(std::find(failed.begin(), failed.end(), "AreaBossSystem"), failed.end());
    w.Run([](Kernel& k) {
        EventFilter f = EventFilter::OfKind(EventKind::Echo);
        f.contains = "Not exist TeamSystem module!";
        EXPECT_EQ(k.log().Count(f), 2u);
        // A sign-up message reaches no handler and breaks nothing.
        const ObjectId scene = k.CreateScene("s", 1);
        const ObjectId p = k.CreatePlayer(u"Hero", 1, scene);
        HostVarList msg;
        msg.AddInt(150493);
        msg.AddObject(scene);
        EXPECT_EQ(k.ClientMessage(p, msg), 0);
    });
    w.Stop();
}

TEST(World, TheSameActionsReplayDrawForDrawInFreshWorlds) {
    std::vector<std::string> first, second;
    {
        World w(PluginWorld());
        ASSERT_TRUE(w.Start()) << w.error();
        first = PlayScript(w);
    }
    {
        World w(PluginWorld());
        ASSERT_TRUE(w.Start()) << w.error();
        second = PlayScript(w);
    }
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first, second);
    size_t encounters = 0;
    for (const std::string& l : first)
        if (l.find("command") != std::string::npos && l.find("[1001,") != std::string::npos)
            ++encounters;
    EXPECT_EQ(encounters, 6u);
}

TEST(World, WorldsRunningAtOnceKeepTheirOwnPluginState) {
    World a(PluginWorld()), b(PluginWorld());
    ASSERT_TRUE(a.Start()) << a.error();
    ASSERT_TRUE(b.Start()) << b.error();
    EXPECT_NE(a.loadedPluginPath(), b.loadedPluginPath());
    std::vector<std::string> la, lb;
    std::thread ta([&] { la = PlayScript(a); });
    std::thread tb([&] { lb = PlayScript(b); });
    ta.join();
    tb.join();
    EXPECT_EQ(la, lb);
}
