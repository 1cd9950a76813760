// The module boundary: the creator list, creator ownership of modules, the
// modules' Init against present and missing host modules, and the rule-system
// operations the host's activity machinery calls.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "AreaBossSystem.h"
#include "AutoTeamFarmSystem.h"
#include "IModuleCreator.h"
#include "NpcCreatorSystem.h"
#include "RecordingKernel.h"

extern "C" uint32_t KvGameLogic_GetVersion();
extern "C" IModuleCreator* KvGameLogic_GetModuleCreator();

namespace {

using Strings = std::vector<std::string>;

std::vector<IModuleCreator*> CreatorList() {
    std::vector<IModuleCreator*> out;
    for (IModuleCreator* c = KvGameLogic_GetModuleCreator(); c != nullptr && out.size() < 16;
         c = c->m_pNext)
        out.push_back(c);
    return out;
}

IModuleCreator* CreatorNamed(const std::string& name) {
    for (IModuleCreator* c : CreatorList())
        if (name == c->GetName()) return c;
    return nullptr;
}

// "<path ending in sourceFile> (<decimal line>)".
bool IsLocationLine(const std::string& line, const std::string& sourceFile) {
    const std::string::size_type open = line.rfind(" (");
    if (open == std::string::npos || line.size() < open + 4 || line.back() != ')') return false;
    const std::string path = line.substr(0, open);
    const std::string number = line.substr(open + 2, line.size() - open - 3);
    if (path.size() < sourceFile.size() ||
        path.compare(path.size() - sourceFile.size(), sourceFile.size(), sourceFile) != 0)
        return false;
    return number.find_first_not_of("0123456789") == std::string::npos && number[0] != '0';
}

// ---- exports and the creator list -------------------------------------------

TEST(CreatorList, HasThreeCreatorsInReverseConstructionOrder) {
    const std::vector<IModuleCreator*> list = CreatorList();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_STREQ(list[0]->GetName(), "AutoTeamFarmSystem");
    EXPECT_STREQ(list[1]->GetName(), "AreaBossSystem");
    EXPECT_STREQ(list[2]->GetName(), "NpcCreatorSystem");
    EXPECT_EQ(list[2]->m_pNext, nullptr);
}

TEST(CreatorList, EveryCallReturnsTheSameHead) {
    IModuleCreator* head = KvGameLogic_GetModuleCreator();
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(KvGameLogic_GetModuleCreator(), head);
}

TEST(CreatorList, VersionIsFixed) {
    EXPECT_EQ(KvGameLogic_GetVersion(), 0x20010011u);
    EXPECT_EQ(KvGameLogic_GetVersion(), 536936465u);
}

TEST(CreatorList, CreateReturnsOneInstanceOfTheNamedClass) {
    IModuleCreator* npc = CreatorNamed("NpcCreatorSystem");
    IModuleCreator* boss = CreatorNamed("AreaBossSystem");
    IModuleCreator* farm = CreatorNamed("AutoTeamFarmSystem");
    ASSERT_TRUE(npc && boss && farm);

    IModule* npcModule = npc->Create();
    IModule* bossModule = boss->Create();
    IModule* farmModule = farm->Create();
    EXPECT_EQ(npc->Create(), npcModule);
    EXPECT_EQ(boss->Create(), bossModule);
    EXPECT_EQ(farm->Create(), farmModule);
    EXPECT_EQ(npc->m_pModule, npcModule);

    // The creator names the class it makes; the two subclasses are not plain
    // NPC creator systems.
    EXPECT_NE(dynamic_cast<AreaBossSystem*>(bossModule), nullptr);
    EXPECT_NE(dynamic_cast<AutoTeamFarmSystem*>(farmModule), nullptr);
    EXPECT_NE(dynamic_cast<NpcCreatorSystem*>(npcModule), nullptr);
    EXPECT_EQ(dynamic_cast<AreaBossSystem*>(npcModule), nullptr);
    EXPECT_EQ(dynamic_cast<AutoTeamFarmSystem*>(npcModule), nullptr);
    EXPECT_NE(npcModule, bossModule);
    EXPECT_NE(bossModule, farmModule);
}

// The host reads next-creator straight from the object, so the layout is
// (vtable pointer, next, module).
TEST(CreatorList, CreatorLayoutIsVtableNextModule) {
    IModuleCreator* head = KvGameLogic_GetModuleCreator();
    ASSERT_NE(head, nullptr);
    const char* base = reinterpret_cast<const char*>(head);
    EXPECT_EQ(reinterpret_cast<const char*>(&head->m_pNext) - base, long(sizeof(void*)));
    EXPECT_EQ(reinterpret_cast<const char*>(&head->m_pModule) - base, long(2 * sizeof(void*)));
    EXPECT_EQ(sizeof(IModuleCreator), 3 * sizeof(void*));
}

TEST(CreatorList, ModulesCarryNoInstanceData) {
    EXPECT_EQ(sizeof(NpcCreatorSystem), sizeof(void*));
    EXPECT_EQ(sizeof(AreaBossSystem), sizeof(void*));
    EXPECT_EQ(sizeof(AutoTeamFarmSystem), sizeof(void*));
}

// ---- creator ownership --------------------------------------------------------

struct LifeLog {
    std::vector<std::string> events;
};

class CountingModule : public IModule {
public:
    explicit CountingModule(LifeLog& log) : m_log(log) {}
    ~CountingModule() override { m_log.events.push_back("destroyed"); }
    bool Shut() override {
        m_log.events.push_back("Shut");
        return true;
    }

private:
    LifeLog& m_log;
};

class CountingCreator final : public IModuleCreator {
public:
    CountingCreator(IModuleCreator*& head, LifeLog& log) : IModuleCreator(head), m_log(log) {}
    const char* GetName() override { return "CountingModule"; }
    IModule* Create() override {
        m_log.events.push_back("Create");
        if (m_pModule == nullptr) m_pModule = new CountingModule(m_log);
        return m_pModule;
    }

private:
    LifeLog& m_log;
};

TEST(CreatorOwnership, ConstructorPushesInFrontOfTheHead) {
    LifeLog log;
    IModuleCreator* head = nullptr;
    CountingCreator first(head, log);
    EXPECT_EQ(head, &first);
    EXPECT_EQ(first.m_pNext, nullptr);
    EXPECT_EQ(first.m_pModule, nullptr);
    CountingCreator second(head, log);
    EXPECT_EQ(head, &second);
    EXPECT_EQ(second.m_pNext, &first);
}

TEST(CreatorOwnership, DestroyingTheCreatorShutsAndFreesItsModuleOnce) {
    LifeLog log;
    {
        IModuleCreator* head = nullptr;
        CountingCreator creator(head, log);
        IModule* a = creator.Create();
        IModule* b = creator.Create();
        EXPECT_EQ(a, b);
    }
    EXPECT_EQ(log.events, (Strings{"Create", "Create", "Shut", "destroyed"}));
}

TEST(CreatorOwnership, CreatorWithoutCreateCallsNothing) {
    LifeLog log;
    {
        IModuleCreator* head = nullptr;
        CountingCreator creator(head, log);
    }
    EXPECT_TRUE(log.events.empty());
}

TEST(CreatorOwnership, DefaultModuleOperationsSucceed) {
    struct PlainModule : IModule {};
    PlainModule module;
    RecordingKernel kernel;
    EXPECT_TRUE(module.Init(&kernel));
    EXPECT_TRUE(module.AfterInit(&kernel));
    EXPECT_TRUE(module.Shut());
    EXPECT_TRUE(kernel.Calls().empty());
}

// ---- Init against the kernel ---------------------------------------------------

class FakeTeamSystem : public ITeamSystem {
public:
    bool IsTeamLeader(IKernel*, const ObjectId&) override { return false; }
    const char16_t* GetTeamLeaderName(IKernel*, const ObjectId&) override { return u""; }
    bool IsInTeam(IKernel*, const ObjectId&) override { return false; }
    int GetTeamMembers(IKernel*, const ObjectId&, IVarList&) override { return 0; }
};

class FakeEventTimeSystem : public IEventTimeSystem {
public:
    bool AddTimePointEvent(int, const char*, int, const IVarList&) override { return true; }
};

// Saves and restores the process-wide module state the tests touch.
class ModuleInit : public ::testing::Test {
protected:
    void SetUp() override {
        m_npcInstance = NpcCreatorSystem::s_instance;
        m_team = NpcCreatorSystem::s_teamSystem;
        m_events = AreaBossSystem::s_eventTimeSystem;
        m_checkFrequency = AreaBossSystem::s_checkFrequency;
        m_farmInstance = AutoTeamFarmSystem::s_instance;
        m_stateTable = AreaBossSystem::s_stateTable;
        NpcCreatorSystem::s_instance = nullptr;
        NpcCreatorSystem::s_teamSystem = nullptr;
        AreaBossSystem::s_eventTimeSystem = nullptr;
        AutoTeamFarmSystem::s_instance = nullptr;
        kernel.resourcePath = TEST_RESOURCES_DIR;
    }
    void TearDown() override {
        NpcCreatorSystem::s_instance = m_npcInstance;
        NpcCreatorSystem::s_teamSystem = m_team;
        AreaBossSystem::s_eventTimeSystem = m_events;
        AreaBossSystem::s_checkFrequency = m_checkFrequency;
        AutoTeamFarmSystem::s_instance = m_farmInstance;
        AreaBossSystem::s_stateTable = m_stateTable;
    }

    // The four lines of a missing-module report, in order.
    void ExpectMissingModuleReport(const std::string& moduleName, const std::string& sourceFile) {
        const std::string message = "Not exist " + moduleName + " module!";
        EXPECT_EQ(kernel.Ops(), (Strings{"FindModule", "Echo", "Echo", "Trace", "Trace"}));
        const std::vector<const Call*> echo = kernel.CallsOf("Echo");
        const std::vector<const Call*> trace = kernel.CallsOf("Trace");
        ASSERT_EQ(echo.size(), 2u);
        ASSERT_EQ(trace.size(), 2u);
        EXPECT_EQ(echo[0]->args, Strings{message});
        EXPECT_EQ(trace[0]->args, Strings{message});
        const std::string& location = echo[1]->args.at(0);
        EXPECT_TRUE(IsLocationLine(location, sourceFile)) << location;
        EXPECT_EQ(trace[1]->args, echo[1]->args);
    }

    RecordingKernel kernel;
    FakeTeamSystem team;
    FakeEventTimeSystem events;

private:
    NpcCreatorSystem* m_npcInstance = nullptr;
    ITeamSystem* m_team = nullptr;
    IEventTimeSystem* m_events = nullptr;
    int m_checkFrequency = 0;
    AutoTeamFarmSystem* m_farmInstance = nullptr;
    std::map<int, int> m_stateTable;
};

TEST_F(ModuleInit, NpcCreatorSystemWithoutTeamModuleReportsAndStillStoresInstance) {
    NpcCreatorSystem module;
    EXPECT_FALSE(module.Init(&kernel));
    ExpectMissingModuleReport("TeamSystem", "NpcCreatorSystem.cpp");
    EXPECT_EQ(kernel.CallsOf("FindModule").at(0)->args, Strings{"TeamSystem"});
    EXPECT_EQ(NpcCreatorSystem::s_instance, &module);
    EXPECT_EQ(NpcCreatorSystem::s_teamSystem, nullptr);
}

TEST_F(ModuleInit, NpcCreatorSystemFindsTeamModuleSilently) {
    kernel.modules["TeamSystem"] = &team;
    NpcCreatorSystem module;
    EXPECT_TRUE(module.Init(&kernel));
    EXPECT_EQ(kernel.Ops(), Strings{"FindModule"});
    EXPECT_EQ(NpcCreatorSystem::s_teamSystem, &team);
    EXPECT_EQ(NpcCreatorSystem::s_instance, &module);
}

TEST_F(ModuleInit, AutoTeamFarmWithoutTeamModuleLeavesInstanceUnset) {
    AutoTeamFarmSystem module;
    EXPECT_FALSE(module.Init(&kernel));
    ExpectMissingModuleReport("TeamSystem", "AutoTeamFarmSystem.cpp");
    EXPECT_EQ(AutoTeamFarmSystem::s_instance, nullptr);
    // It does not run its base class's Init either.
    EXPECT_EQ(NpcCreatorSystem::s_instance, nullptr);
}

TEST_F(ModuleInit, AutoTeamFarmWithTeamModuleStoresBothPointers) {
    kernel.modules["TeamSystem"] = &team;
    AutoTeamFarmSystem module;
    EXPECT_TRUE(module.Init(&kernel));
    EXPECT_EQ(kernel.Ops(), Strings{"FindModule"});
    EXPECT_EQ(AutoTeamFarmSystem::s_instance, &module);
    EXPECT_EQ(NpcCreatorSystem::s_teamSystem, &team);
    EXPECT_EQ(NpcCreatorSystem::s_instance, nullptr);
}

TEST_F(ModuleInit, AreaBossWithoutEventTimeModuleReportsAndReadsNoResource) {
    kernel.modules["TeamSystem"] = &team;
    AreaBossSystem::s_checkFrequency = 10;
    AreaBossSystem module;
    EXPECT_FALSE(module.Init(&kernel));
    ExpectMissingModuleReport("EventTimeSystem", "AreaBossSystem.cpp");
    EXPECT_EQ(kernel.CallsOf("FindModule").at(0)->args, Strings{"EventTimeSystem"});
    EXPECT_EQ(kernel.Count("GetResourcePath"), 0u);
    EXPECT_EQ(AreaBossSystem::s_checkFrequency, 10);
    EXPECT_EQ(AreaBossSystem::s_eventTimeSystem, nullptr);
}

TEST_F(ModuleInit, AreaBossWithEventTimeModuleLogsNothingAndNeverLooksUpTheTeam) {
    kernel.modules["EventTimeSystem"] = &events;
    NpcCreatorSystem::s_teamSystem = &team;  // stored by the other modules
    AreaBossSystem module;
    EXPECT_TRUE(module.Init(&kernel));
    EXPECT_EQ(kernel.Count("Echo"), 0u);
    EXPECT_EQ(kernel.Count("Trace"), 0u);
    const std::vector<const Call*> lookups = kernel.CallsOf("FindModule");
    ASSERT_EQ(lookups.size(), 1u);
    EXPECT_EQ(lookups[0]->args, Strings{"EventTimeSystem"});
    EXPECT_EQ(AreaBossSystem::s_eventTimeSystem, &events);
    EXPECT_EQ(NpcCreatorSystem::s_teamSystem, &team);
    EXPECT_EQ(NpcCreatorSystem::s_instance, nullptr);
}

TEST_F(ModuleInit, NullKernelIsRefusedWithoutStoringAnything) {
    NpcCreatorSystem npc;
    AreaBossSystem boss;
    AutoTeamFarmSystem farm;
    IModule* modules[] = {&npc, &boss, &farm};
    for (IModule* m : modules) EXPECT_FALSE(m->Init(nullptr));
    EXPECT_EQ(NpcCreatorSystem::s_instance, nullptr);
    EXPECT_EQ(AutoTeamFarmSystem::s_instance, nullptr);
    EXPECT_EQ(AreaBossSystem::s_eventTimeSystem, nullptr);
}

TEST_F(ModuleInit, ShutSucceedsWithoutInit) {
    NpcCreatorSystem npc;
    AreaBossSystem boss;
    AutoTeamFarmSystem farm;
    IModule* modules[] = {&npc, &boss, &farm};
    for (IModule* m : modules) EXPECT_TRUE(m->Shut());
}

// ---- rule-system operations ----------------------------------------------------

TEST_F(ModuleInit, EveryRuleOperationReturnsOne) {
    NpcCreatorSystem npc;
    AreaBossSystem boss;
    AutoTeamFarmSystem farm;
    IActivityRuleSystem* systems[] = {&npc, &boss, &farm};
    int context = 0;
    for (IActivityRuleSystem* s : systems) {
        EXPECT_EQ(s->SetActivityState(&context, 1, "12"), 1);
        EXPECT_EQ(s->SetActivityState(nullptr, -5, ""), 1);
        EXPECT_EQ(s->ActivityHook1(&context), 1);
        EXPECT_EQ(s->ActivityHook2(nullptr), 1);
        EXPECT_EQ(s->ActivityHook3(&context), 1);
        EXPECT_EQ(s->ActivityHook4(nullptr), 1);
    }
}

TEST_F(ModuleInit, OnlyTheAreaBossSystemChangesActivityStates) {
    AreaBossSystem::s_stateTable = {{12, 0}};
    NpcCreatorSystem npc;
    AutoTeamFarmSystem farm;
    IActivityRuleSystem* others[] = {&npc, &farm};
    for (IActivityRuleSystem* s : others) s->SetActivityState(nullptr, 1, "12");
    EXPECT_EQ(AreaBossSystem::s_stateTable, (std::map<int, int>{{12, 0}}));
}

TEST_F(ModuleInit, AreaBossKeyIsReadUpToTheFirstNonDigit) {
    AreaBossSystem::s_stateTable = {{12, 0}, {7, 0}};
    AreaBossSystem boss;
    IActivityRuleSystem& system = boss;
    EXPECT_EQ(system.SetActivityState(nullptr, 1, "12abc"), 1);
    EXPECT_EQ(AreaBossSystem::s_stateTable, (std::map<int, int>{{7, 0}, {12, 1}}));
    EXPECT_EQ(system.SetActivityState(nullptr, 3, "  +7"), 1);
    EXPECT_EQ(system.SetActivityState(nullptr, 0, "12"), 1);
    EXPECT_EQ(AreaBossSystem::s_stateTable, (std::map<int, int>{{7, 3}, {12, 0}}));
}

TEST_F(ModuleInit, AreaBossUnknownKeyAddsNoEntry) {
    AreaBossSystem::s_stateTable = {{12, 0}};
    AreaBossSystem boss;
    EXPECT_EQ(boss.SetActivityState(nullptr, 1, "13"), 1);
    EXPECT_EQ(boss.SetActivityState(nullptr, 1, "abc"), 1);  // names creator 0
    EXPECT_EQ(boss.SetActivityState(nullptr, 1, "99999999999"), 1);
    EXPECT_EQ(AreaBossSystem::s_stateTable, (std::map<int, int>{{12, 0}}));
}

TEST_F(ModuleInit, AreaBossKeyWithoutDigitsAddressesCreatorZero) {
    AreaBossSystem::s_stateTable = {{0, 0}, {-4, 0}};
    AreaBossSystem boss;
    boss.SetActivityState(nullptr, 2, "abc");
    boss.SetActivityState(nullptr, 5, "-4x");
    EXPECT_EQ(AreaBossSystem::s_stateTable, (std::map<int, int>{{-4, 5}, {0, 2}}));
}

}  // namespace
