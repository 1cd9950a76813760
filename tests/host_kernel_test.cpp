// The reference host's kernel: classes, declarations, objects, properties,
// records, hooks and their order, commands, players, scenes, logging and the
// module lifecycle; plus its variant list, event log and text conversions.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Extern.h"
#include "Gbk.h"
#include "HostVarList.h"
#include "Kernel.h"
#include "PluginLoader.h"
#include "VarList.h"

using host::Event;
using host::EventFilter;
using host::EventKind;
using host::HostVarList;
using host::Kernel;
using host::KernelOptions;
using host::ObjectSpec;
using host::Value;

namespace {

KernelOptions Quiet() {
    KernelOptions o;
    o.echoToTerminal = false;
    return o;
}

// Hooks are plain functions, as the plug-in's are; they report here.
struct Calls {
    std::vector<std::string> order;
    int answer[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    ObjectId destroyInHook;
    int recursions = 0;
    std::vector<ObjectId> selves, senders;
    std::vector<std::vector<Value>> args;
};
Calls g;
Kernel* gk = nullptr;

template <int N>
int Hook(IKernel*, const ObjectId& self, const ObjectId& sender, const IVarList& args) {
    g.order.push_back("h" + std::to_string(N));
    g.selves.push_back(self);
    g.senders.push_back(sender);
    g.args.push_back(host::ToValues(args));
    return g.answer[N];
}

int DestroyingHook(IKernel* k, const ObjectId& self, const ObjectId&, const IVarList&) {
    g.order.push_back("destroy");
    static_cast<Kernel*>(k)->Destroy(g.destroyInHook);
    // The id handed in is a copy: still readable, just no longer live.
    g.selves.push_back(self);
    return 1;
}

int RecursiveHook(IKernel* k, const ObjectId& self, const ObjectId&, const IVarList& args) {
    ++g.recursions;
    return k->Command(self, self, args);
}

int LengthOfNameHook(IKernel* k, const ObjectId& self, const ObjectId&, const IVarList&) {
    // A pointer taken before the row goes must stay readable during the callback.
    const char16_t* name = k->QueryRecordWideStr(self, "team", 0, 0);
    k->RemoveRecordRow(self, "team", 0);
    g.order.push_back(host::Utf16ToUtf8(name));
    return 1;
}

class KernelTest : public ::testing::Test {
protected:
    void SetUp() override {
        kernel = std::make_unique<Kernel>(Quiet());
        gk = kernel.get();
        g = Calls{};
        scene = kernel->CreateScene("scene1", 11);
        alice = kernel->CreatePlayer(u"Alice", 1, scene);
    }
    ObjectId MakeCreator(const std::string& cls = "NpcCreator", int number = 7) {
        ObjectSpec objDef;
        objDef.className = cls;
        objDef.config = cls;
        objDef.configIndex = number;
        objDef.scene = scene;
        return kernel->CreateObject(objDef);
    }
    size_t HostLines(const std::string& fragment) const {
        EventFilter f = EventFilter::OfKind(EventKind::Host);
        f.contains = fragment;
        return kernel->log().Count(f);
    }
    std::unique_ptr<Kernel> kernel;
    ObjectId scene, alice;
};

}  // namespace

// ---- classes and declarations ------------------------------------------------

TEST_F(KernelTest, BuiltinClassesFormTheExpectedTree) {
    const int boss = kernel->ClassIndex("AreaBossNPCCreator");
    ASSERT_GE(boss, 0);
    EXPECT_TRUE(kernel->IsA(boss, "NpcCreator"));
    EXPECT_FALSE(kernel->IsA(kernel->ClassIndex("NpcCreator"), "AreaBossNPCCreator"));
    const int player = kernel->ClassIndex("player");
    EXPECT_EQ(kernel->FindPropertyDecl(player, "Name")->type, VTYPE_WIDESTR);
    EXPECT_EQ(kernel->FindPropertyDecl(player, "Fighting")->type, VTYPE_OBJECT);
    const host::RecordDecl* team = kernel->FindRecordDecl(player, "team");
    ASSERT_NE(team, nullptr);
    EXPECT_EQ(team->colTypes, (std::vector<int>{VTYPE_WIDESTR, VTYPE_OBJECT}));
    EXPECT_GE(team->maxRows, 5);
    EXPECT_NE(kernel->FindRecordDecl(kernel->ClassIndex("FightTeam"), "PkMemberInfo"), nullptr);
    EXPECT_TRUE(kernel->GetClassInfo("NpcCreator")->properties.empty());
    EXPECT_EQ(kernel->DeclareClass("player"), -1);
    EXPECT_EQ(kernel->DeclareClass("Orphan", "NoSuchBase"), -1);
}

TEST_F(KernelTest, DeclarationsKeepTypeSaveModeAndVisibility) {
    const int c = kernel->ClassIndex("NpcCreator");
    EXPECT_TRUE(kernel->AddVisiblePropertySaveMode(c, "SelectCount", VTYPE_INT, "", true, false, 2,
                                                   "left"));
    EXPECT_TRUE(kernel->AddPropertySaveMode(c, "RefreshTime", VTYPE_INT, 3, ""));
    EXPECT_TRUE(kernel->AddProperty(c, "NPCDes", VTYPE_STRING, false, "text"));
    EXPECT_TRUE(kernel->AddRecordSaveMode(c, "ModelInfoRec", 4, 64, 2));
    EXPECT_TRUE(kernel->SetRecordColType(c, "ModelInfoRec", 1, VTYPE_FLOAT));
    EXPECT_TRUE(kernel->SetRecordVisible(c, "ModelInfoRec", "ModelInfoRec"));

    const host::PropertyDecl* p = kernel->FindPropertyDecl(c, "SelectCount");
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->visible);
    EXPECT_TRUE(p->isPublic);
    EXPECT_FALSE(p->isPrivate);
    EXPECT_EQ(p->saveMode, 2);
    EXPECT_EQ(p->description, "left");
    EXPECT_EQ(kernel->FindPropertyDecl(c, "RefreshTime")->saveMode, 3);
    EXPECT_FALSE(kernel->FindPropertyDecl(c, "NPCDes")->save);
    const host::RecordDecl* r = kernel->FindRecordDecl(c, "ModelInfoRec");
    EXPECT_EQ(r->saveMode, 2);
    EXPECT_TRUE(r->visible);
    EXPECT_EQ(r->colTypes, (std::vector<int>{0, VTYPE_FLOAT, 0, 0}));
}

TEST_F(KernelTest, RefusesDuplicateUnknownClassAndBadDeclarations) {
    const int c = kernel->ClassIndex("NpcCreator");
    const int boss = kernel->ClassIndex("AreaBossNPCCreator");
    ASSERT_TRUE(kernel->AddProperty(c, "Model", VTYPE_INT, true, ""));
    EXPECT_FALSE(kernel->AddProperty(c, "Model", VTYPE_INT, true, ""));     // duplicate
    EXPECT_FALSE(kernel->AddProperty(boss, "Model", VTYPE_INT, true, ""));  // inherited already
    EXPECT_FALSE(kernel->AddProperty(999, "X", VTYPE_INT, true, ""));       // unknown class
    EXPECT_FALSE(kernel->AddProperty(-1, "X", VTYPE_INT, true, ""));
    EXPECT_FALSE(kernel->AddProperty(c, "Bad", 0, true, ""));  // unknown type
    EXPECT_FALSE(kernel->AddProperty(c, "Bad", 9, true, ""));
    EXPECT_FALSE(kernel->AddPropertySaveMode(c, "Bad", VTYPE_INT, 7, ""));  // unknown mode
    EXPECT_FALSE(kernel->AddProperty(c, "", VTYPE_INT, true, ""));
    // A name on a derived class blocks the same name on its base.
    ASSERT_TRUE(kernel->AddProperty(boss, "BossOnly", VTYPE_INT, false, ""));
    EXPECT_FALSE(kernel->AddProperty(c, "BossOnly", VTYPE_INT, false, ""));

    EXPECT_TRUE(kernel->AddRecord(c, "Rec", 2, 4, false));
    EXPECT_FALSE(kernel->AddRecord(c, "Rec", 2, 4, false));
    EXPECT_FALSE(kernel->AddRecord(c, "NoCols", 0, 4, false));
    EXPECT_FALSE(kernel->AddRecord(c, "NoRows", 2, 0, false));
    EXPECT_FALSE(kernel->SetRecordColType(c, "Rec", 2, VTYPE_INT));   // past the columns
    EXPECT_FALSE(kernel->SetRecordColType(c, "Rec", 0, 0));           // no type
    EXPECT_FALSE(kernel->SetRecordColType(c, "Nope", 0, VTYPE_INT));  // no record
    EXPECT_TRUE(kernel->SetRecordColType(c, "Rec", 0, VTYPE_INT));
    EXPECT_TRUE(kernel->SetRecordColType(c, "Rec", 0, VTYPE_INT));      // same again is fine
    EXPECT_FALSE(kernel->SetRecordColType(c, "Rec", 0, VTYPE_STRING));  // retyping is not
    EXPECT_FALSE(kernel->SetRecordVisible(c, "Nope", "Nope"));
    EXPECT_GE(HostLines("refused"), 17u);
}

TEST_F(KernelTest, ObjectsSeeDeclarationsMadeOnTheirBaseAfterTheyExist) {
    const ObjectId boss = MakeCreator("AreaBossNPCCreator");
    EXPECT_FALSE(kernel->FindAttr(boss, "SelectCount"));
    ASSERT_TRUE(
        kernel->AddProperty(kernel->ClassIndex("NpcCreator"), "SelectCount", VTYPE_INT, true, ""));
    EXPECT_TRUE(kernel->FindAttr(boss, "SelectCount"));
    EXPECT_EQ(kernel->QueryInt(boss, "SelectCount"), 0);
    EXPECT_TRUE(kernel->SetInt(boss, "SelectCount", 3));
    EXPECT_EQ(kernel->QueryInt(boss, "SelectCount"), 3);
}

// ---- objects ---------------------------------------------------------------

TEST_F(KernelTest, StaleIdsNeverMatchAReusedSlot) {
    const ObjectId a = MakeCreator();
    EXPECT_TRUE(kernel->Exists(a));
    EXPECT_STREQ(kernel->GetConfig(a), "NpcCreator");
    EXPECT_EQ(kernel->GetConfigIndex(a), 7);
    ASSERT_TRUE(kernel->Destroy(a));
    EXPECT_FALSE(kernel->Exists(a));
    EXPECT_FALSE(kernel->Destroy(a));
    const ObjectId b = MakeCreator("NpcCreator", 8);
    EXPECT_EQ(b.ident, a.ident);    // the slot is reused ...
    EXPECT_NE(b.serial, a.serial);  // ... under a new serial
    EXPECT_FALSE(kernel->Exists(a));
    EXPECT_STREQ(kernel->GetConfig(a), "");
    EXPECT_EQ(kernel->GetConfigIndex(a), 0);
    EXPECT_FALSE(kernel->Exists(ObjectId{}));
    EXPECT_FALSE(kernel->Exists(ObjectId{9999, 1}));
}

TEST_F(KernelTest, CachedReadsFollowTheDeathReuseAndGrowthOfTheirObjectOnly) {
    // The test's own literals count as fixed texts, so reads go through the
    // kernel's lookup hits as a plug-in's would.
    kernel->SetFixedTextRanges(
        host::PluginLoader::ReadOnlyRangesAround(reinterpret_cast<const void*>(&RecursiveHook)));
    ASSERT_TRUE(kernel->DeclareProperty("NpcCreator", "Count", VTYPE_INT, int32_t{5}));
    ASSERT_TRUE(kernel->DeclareRecord("NpcCreator", "Rows", {VTYPE_INT}, 4));
    HostVarList row;
    row.AddInt(42);
    const ObjectId a = MakeCreator(), other = MakeCreator("NpcCreator", 8);
    for (const ObjectId& o : {a, other}) {
        ASSERT_TRUE(kernel->SetInt(o, "Count", 9));
        ASSERT_EQ(kernel->AddRecordRowValues(o, "Rows", -1, row), 0);
        ASSERT_EQ(kernel->QueryRecordInt(o, "Rows", 0, 0), 42);
    }
    ASSERT_TRUE(kernel->Destroy(a));
    // The dead id reads nothing; the new object in its slot starts afresh.
    EXPECT_EQ(kernel->QueryInt(a, "Count"), 0);
    EXPECT_EQ(kernel->QueryRecordInt(a, "Rows", 0, 0), 0);
    const ObjectId b = MakeCreator();
    ASSERT_EQ(b.ident, a.ident);
    EXPECT_EQ(kernel->QueryInt(b, "Count"), 5);
    EXPECT_EQ(kernel->GetRecordRows(b, "Rows"), 0);
    EXPECT_EQ(kernel->QueryRecordInt(b, "Rows", 0, 0), 0);
    // A declaration made later grows every object's storage; reads follow.
    ASSERT_TRUE(kernel->DeclareProperty("NpcCreator", "Later", VTYPE_INT, int32_t{3}));
    for (const ObjectId& o : {b, other}) EXPECT_EQ(kernel->QueryInt(o, "Later"), 3);
    EXPECT_EQ(kernel->QueryInt(other, "Count"), 9);
    EXPECT_EQ(kernel->QueryRecordInt(other, "Rows", 0, 0), 42);
    EXPECT_TRUE(kernel->SetInt(other, "Count", 10));
    EXPECT_EQ(kernel->QueryInt(other, "Count"), 10);
    kernel->SetFixedTextRanges({});
}

TEST_F(KernelTest, ChildrenAreFoundByWideNameAndDieWithTheirContainer) {
    ObjectSpec fight;
    fight.className = "Fight";
    const ObjectId f = kernel->CreateObject(fight);
    ObjectSpec left;
    left.className = "FightTeam";
    left.parent = f;
    left.childName = u"LeftTeam";
    const ObjectId l = kernel->CreateObject(left);
    EXPECT_EQ(kernel->GetChild(f, u"LeftTeam"), l);
    EXPECT_TRUE(kernel->GetChild(f, u"leftteam").IsNull());  // exact names
    EXPECT_TRUE(kernel->GetChild(f, u"RightTeam").IsNull());
    EXPECT_TRUE(kernel->GetChild(ObjectId{}, u"LeftTeam").IsNull());
    kernel->Destroy(f);
    EXPECT_FALSE(kernel->Exists(l));
}

TEST_F(KernelTest, ObjectsOfClassIncludeDerivedClassesInCreationOrder) {
    const ObjectId a = MakeCreator();
    const ObjectId b = MakeCreator("AreaBossNPCCreator");
    kernel->Destroy(a);
    const ObjectId c = MakeCreator();  // reuses a's slot, but is younger than b
    EXPECT_EQ(kernel->ObjectsOfClass("NpcCreator"), (std::vector<ObjectId>{b, c}));
    EXPECT_EQ(kernel->ObjectsOfClass("AreaBossNPCCreator"), (std::vector<ObjectId>{b}));
    EXPECT_TRUE(kernel->ObjectsOfClass("Nope").empty());
}

// ---- properties ------------------------------------------------------------

TEST_F(KernelTest, WrongTypeReadsGiveDefaultsAndWrongTypeWritesFailLogged) {
    ASSERT_TRUE(kernel->SetInt(alice, "Camp", 4));
    EXPECT_STREQ(kernel->QueryString(alice, "Camp"), "");
    EXPECT_TRUE(kernel->QueryObject(alice, "Camp").IsNull());
    EXPECT_EQ(kernel->QueryInt(alice, "Name"), 0);
    EXPECT_EQ(kernel->QueryInt(alice, "NoSuch"), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(kernel->QueryWideStr(alice, "NoSuch")), "");

    EXPECT_FALSE(kernel->SetString(alice, "Camp", "5"));
    EXPECT_FALSE(kernel->SetObject(alice, "Camp", alice));
    EXPECT_FALSE(kernel->SetInt(alice, "Name", 3));
    EXPECT_FALSE(kernel->SetInt(alice, "NoSuch", 3));
    EXPECT_FALSE(kernel->SetInt(ObjectId{777, 3}, "Camp", 3));
    EXPECT_FALSE(kernel->IncInt(alice, "Name", 1));
    EXPECT_EQ(kernel->QueryInt(alice, "Camp"), 4);
    EXPECT_EQ(host::Utf16ToUtf8(kernel->QueryWideStr(alice, "Name")), "Alice");
    EXPECT_EQ(HostLines("refused"), 6u);
    EXPECT_FALSE(kernel->FindAttr(alice, "NoSuch"));
    EXPECT_TRUE(kernel->FindAttr(alice, "Camp"));
    EXPECT_FALSE(kernel->FindAttr(ObjectId{}, "Camp"));
}

TEST_F(KernelTest, IncIntSaturatesInsteadOfWrapping) {
    kernel->SetInt(alice, "Level", INT32_MAX - 1);
    EXPECT_TRUE(kernel->IncInt(alice, "Level", 5));
    EXPECT_EQ(kernel->QueryInt(alice, "Level"), INT32_MAX);
    kernel->SetInt(alice, "Level", INT32_MIN + 1);
    EXPECT_TRUE(kernel->IncInt(alice, "Level", -5));
    EXPECT_EQ(kernel->QueryInt(alice, "Level"), INT32_MIN);
    kernel->SetInt(alice, "Level", 10);
    kernel->IncInt(alice, "Level", -3);
    EXPECT_EQ(kernel->QueryInt(alice, "Level"), 7);
}

TEST_F(KernelTest, BoolPropertiesTakeIntsAsZeroOrOne) {
    ASSERT_TRUE(kernel->DeclareProperty("player", "Online", VTYPE_BOOL));
    EXPECT_TRUE(kernel->SetInt(alice, "Online", 42));
    EXPECT_EQ(kernel->QueryInt(alice, "Online"), 1);
    EXPECT_FALSE(kernel->SetString(alice, "Online", "yes"));
}

TEST_F(KernelTest, OnlyPropertyWritesThatChangeAValueAreLogged) {
    const uint64_t mark = kernel->log().NextSeq();
    kernel->SetInt(alice, "Level", 0);  // the default: no change
    kernel->SetInt(alice, "Level", 5);
    kernel->SetInt(alice, "Level", 5);
    kernel->SetInt(alice, "Level", 6);
    EventFilter f = EventFilter::OfKind(EventKind::Property);
    f.fromSeq = mark;
    const auto events = kernel->log().Find(f);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]->name, "Level");
    EXPECT_EQ(events[0]->sender, alice);
    EXPECT_EQ(events[0]->argsText, "[5]");
    EXPECT_EQ(events[1]->argsText, "[6]");
}

// ---- records -----------------------------------------------------------------

TEST_F(KernelTest, RecordRowsTypesAndLimits) {
    EXPECT_EQ(kernel->GetRecordRows(alice, "nope"), -1);
    EXPECT_EQ(kernel->GetRecordRows(ObjectId{}, "team"), -1);
    EXPECT_EQ(kernel->GetRecordRows(alice, "team"), 0);

    HostVarList good;
    good.AddWideStr(u"Bob");
    good.AddObject(alice);
    EXPECT_EQ(kernel->AddRecordRowValues(alice, "team", -1, good), 0);
    HostVarList swapped;
    swapped.AddObject(alice);
    swapped.AddWideStr(u"Bob");
    EXPECT_EQ(kernel->AddRecordRowValues(alice, "team", -1, swapped), -1);
    HostVarList shortRow;
    shortRow.AddWideStr(u"Bob");
    EXPECT_EQ(kernel->AddRecordRowValues(alice, "team", -1, shortRow), -1);
    EXPECT_EQ(kernel->AddRecordRowValues(alice, "team", 5, good), -1);  // past the end
    EXPECT_EQ(kernel->GetRecordRows(alice, "team"), 1);

    // Insert at the front; blank rows hold the column defaults.
    EXPECT_EQ(kernel->AddRecordBlankRow(alice, "team", 0), 0);
    EXPECT_EQ(kernel->QueryRecordWideStr(alice, "team", 0, 0), std::u16string());
    EXPECT_EQ(std::u16string(kernel->QueryRecordWideStr(alice, "team", 1, 0)), u"Bob");
    EXPECT_EQ(kernel->QueryRecordObject(alice, "team", 1, 1), alice);

    // Fill up to MaxRows; the next write fails and changes nothing.
    const int max = kernel->FindRecordDecl(kernel->ClassIndex("player"), "team")->maxRows;
    while (kernel->GetRecordRows(alice, "team") < max)
        ASSERT_GE(kernel->AddRecordRowValues(alice, "team", -1, good), 0);
    EXPECT_EQ(kernel->AddRecordRowValues(alice, "team", -1, good), -1);
    EXPECT_EQ(kernel->AddRecordBlankRow(alice, "team", -1), -1);
    EXPECT_EQ(kernel->GetRecordRows(alice, "team"), max);
    EXPECT_GE(HostLines("full"), 2u);
}

TEST_F(KernelTest, SetRowWithTheWrongTypeChangesNothing) {
    HostVarList row;
    row.AddWideStr(u"Bob");
    row.AddObject(alice);
    kernel->AddRecordRowValues(alice, "team", -1, row);
    HostVarList bad;
    bad.AddWideStr(u"Carl");
    bad.AddInt(3);
    EXPECT_FALSE(kernel->SetRecordRowValues(alice, "team", 0, bad));
    EXPECT_FALSE(kernel->SetRecordRowValues(alice, "team", 1, row));  // no row 1
    EXPECT_EQ(std::u16string(kernel->QueryRecordWideStr(alice, "team", 0, 0)), u"Bob");
    HostVarList fine;
    fine.AddWideStr(u"Carl");
    fine.AddObject(scene);
    EXPECT_TRUE(kernel->SetRecordRowValues(alice, "team", 0, fine));
    EXPECT_EQ(kernel->QueryRecordObject(alice, "team", 0, 1), scene);
}

TEST_F(KernelTest, RecordQueriesOutOfRangeGiveDefaultsAndFindsGiveMinusOne) {
    const int c = kernel->ClassIndex("NpcCreator");
    kernel->AddRecord(c, "Nums", 2, 8, false);
    kernel->SetRecordColType(c, "Nums", 0, VTYPE_INT);
    kernel->SetRecordColType(c, "Nums", 1, VTYPE_FLOAT);
    const ObjectId cr = MakeCreator();
    for (int i = 0; i < 3; ++i) {
        CVarList row;
        row.AddInt(10 * i);
        row.AddFloat(0.5f * i);
        kernel->AddRecordRowValues(cr, "Nums", -1, row);
    }
    EXPECT_EQ(kernel->FindRecordRowInt(cr, "Nums", 0, 20), 2);
    EXPECT_EQ(kernel->FindRecordRowInt(cr, "Nums", 0, 25), -1);
    EXPECT_EQ(kernel->FindRecordRowInt(cr, "Nums", 1, 0), -1);  // a float column holds no ints
    EXPECT_EQ(kernel->FindRecordRowInt(cr, "Nums", 5, 0), -1);
    EXPECT_EQ(kernel->FindRecordRowInt(cr, "None", 0, 0), -1);
    EXPECT_FLOAT_EQ(kernel->QueryRecordFloat(cr, "Nums", 1, 1), 0.5f);
    EXPECT_EQ(kernel->QueryRecordInt(cr, "Nums", 1, 1), 0);  // wrong type
    EXPECT_EQ(kernel->QueryRecordInt(cr, "Nums", 3, 0), 0);  // no row 3
    EXPECT_EQ(kernel->QueryRecordInt(cr, "Nums", -1, 0), 0);
    EXPECT_EQ(kernel->QueryRecordInt(cr, "Nums", 0, 2), 0);  // no column 2
    EXPECT_STREQ(kernel->QueryRecordString(cr, "Nums", 0, 0), "");
    EXPECT_TRUE(kernel->RemoveRecordRow(cr, "Nums", 0));
    EXPECT_FALSE(kernel->RemoveRecordRow(cr, "Nums", 2));
    EXPECT_EQ(kernel->FindRecordRowInt(cr, "Nums", 0, 20), 1);
    EXPECT_EQ(kernel->FindRecordWideStr(alice, "team", 0, u"x"), -1);
}

TEST_F(KernelTest, TextFromARowRemovedInsideACallbackStaysReadable) {
    HostVarList row;
    row.AddWideStr(u"A fairly long member name that is not inline");
    row.AddObject(alice);
    kernel->AddRecordRowValues(alice, "team", -1, row);
    kernel->AddCommandHook("player", 900, LengthOfNameHook, 1);
    HostVarList msg;
    msg.AddInt(900);
    kernel->Command(alice, alice, msg);
    ASSERT_EQ(g.order.size(), 1u);
    EXPECT_EQ(g.order[0], "A fairly long member name that is not inline");
    EXPECT_EQ(kernel->GetRecordRows(alice, "team"), 0);
}

// ---- hooks, commands, class events ---------------------------------------------

TEST_F(KernelTest, HooksRunByPriorityThenRegistrationAcrossTheClassChain) {
    kernel->AddCommandHook("AreaBossNPCCreator", 976, Hook<0>, 5);
    kernel->AddCommandHook("NpcCreator", 976, Hook<1>, 3);
    kernel->AddCommandHook("AreaBossNPCCreator", 976, Hook<2>, 3);
    kernel->AddCommandHook("NpcCreator", 976, Hook<3>, 1);
    kernel->AddCommandHook("NpcCreator", 977, Hook<4>, 0);  // other id
    const ObjectId boss = MakeCreator("AreaBossNPCCreator");
    HostVarList msg;
    msg.AddInt(976);
    EXPECT_EQ(kernel->Command(alice, boss, msg), 1);
    EXPECT_EQ(g.order, (std::vector<std::string>{"h3", "h1", "h2", "h0"}));
    // A plain NpcCreator gets only the hooks of its own class.
    g.order.clear();
    kernel->Command(alice, MakeCreator(), msg);
    EXPECT_EQ(g.order, (std::vector<std::string>{"h3", "h1"}));
    EXPECT_EQ(g.selves.back().ident, kernel->ObjectsOfClass("NpcCreator").back().ident);
    EXPECT_EQ(g.senders.back(), alice);
}

TEST_F(KernelTest, CommandAnswersZeroWhenAnyHookDoesButRunsThemAll) {
    kernel->AddCommandHook("player", 742, Hook<0>, 1);
    kernel->AddCommandHook("player", 742, Hook<1>, 2);
    kernel->AddCommandHook("player", 742, Hook<2>, 3);
    g.answer[1] = 0;
    HostVarList msg;
    msg.AddInt(742);
    EXPECT_EQ(kernel->Command(alice, alice, msg), 0);
    EXPECT_EQ(g.order.size(), 3u);
    g.answer[1] = 5;  // any non-zero answer counts as yes
    EXPECT_EQ(kernel->Command(alice, alice, msg), 1);
    HostVarList other;
    other.AddInt(743);
    EXPECT_EQ(kernel->Command(alice, alice, other), 1);  // no hook: 1
    const Event* last = kernel->log().FindLast(EventFilter::CommandId(743));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->result, 1);
    EXPECT_EQ(last->sender, alice);
    EXPECT_EQ(last->target, alice);
}

TEST_F(KernelTest, CommandToADeadObjectIsNotDeliveredAndAnswersZero) {
    kernel->AddCommandHook("NpcCreator", 976, Hook<0>, 1);
    const ObjectId cr = MakeCreator();
    kernel->Destroy(cr);
    HostVarList msg;
    msg.AddInt(976);
    EXPECT_EQ(kernel->Command(alice, cr, msg), 0);
    EXPECT_TRUE(g.order.empty());
    EXPECT_EQ(HostLines("not delivered"), 1u);
    EXPECT_EQ(kernel->log().FindLast(EventFilter::CommandId(976))->result, 0);
}

TEST_F(KernelTest, AHookDestroyingItsTargetLeavesTheRestSafe) {
    const ObjectId cr = MakeCreator();
    g.destroyInHook = cr;
    kernel->AddCommandHook("NpcCreator", 976, DestroyingHook, 1);
    kernel->AddCommandHook("NpcCreator", 976, Hook<0>, 2);
    HostVarList msg;
    msg.AddInt(976);
    EXPECT_EQ(kernel->Command(alice, cr, msg), 1);
    EXPECT_EQ(g.order, (std::vector<std::string>{"destroy", "h0"}));
    EXPECT_EQ(g.selves[0], cr);
    EXPECT_EQ(g.selves[1], cr);  // the later hook still got the id, now dead
    EXPECT_FALSE(kernel->Exists(cr));
}

TEST_F(KernelTest, HooksAddedOrRemovedDuringADispatchWaitForTheNextOne) {
    int added = 0;
    int victim = 0;
    const int remover = kernel->AddHostCommandHook(
        "player", 500,
        [&](Kernel& k, const ObjectId&, const ObjectId&, const IVarList&) {
            g.order.push_back("remover");
            k.RemoveHook(victim);
            if (added == 0)
                added = k.AddHostCommandHook(
                    "player", 500,
                    [](Kernel&, const ObjectId&, const ObjectId&, const IVarList&) {
                        g.order.push_back("late");
                        return 1;
                    },
                    0);
            return 1;
        },
        1);
    victim = kernel->AddHostCommandHook(
        "player", 500,
        [](Kernel&, const ObjectId&, const ObjectId&, const IVarList&) {
            g.order.push_back("victim");
            return 1;
        },
        2);
    ASSERT_GT(remover, 0);
    HostVarList msg;
    msg.AddInt(500);
    kernel->Command(alice, alice, msg);
    EXPECT_EQ(g.order, (std::vector<std::string>{"remover"}));
    g.order.clear();
    kernel->Command(alice, alice, msg);
    EXPECT_EQ(g.order, (std::vector<std::string>{"late", "remover"}));
    EXPECT_FALSE(kernel->RemoveHook(victim));
}

TEST_F(KernelTest, HostHooksCanBeDisabledAndRemovedByOwner) {
    const int h = kernel->AddHostCommandHook(
        "player", 600, [](Kernel&, const ObjectId&, const ObjectId&, const IVarList&) { return 0; },
        1, "standin");
    kernel->AddHostCommandHook(
        "player", 601, [](Kernel&, const ObjectId&, const ObjectId&, const IVarList&) { return 0; },
        1, "standin");
    HostVarList msg;
    msg.AddInt(600);
    EXPECT_EQ(kernel->Command(alice, alice, msg), 0);
    EXPECT_TRUE(kernel->SetHookEnabled(h, false));
    EXPECT_EQ(kernel->Command(alice, alice, msg), 1);
    EXPECT_EQ(kernel->RemoveHostHooks("standin", 600), 1);
    EXPECT_EQ(kernel->CommandHookCount("player", 601), 1u);
    EXPECT_EQ(kernel->RemoveHostHooks("standin"), 1);
    EXPECT_EQ(kernel->CommandHookCount("player", 601), 0u);
    EXPECT_EQ(kernel->AddHostCommandHook("NoClass", 1, nullptr, 1), 0);
}

TEST_F(KernelTest, AHookLoopStopsAtTheDepthLimit) {
    kernel->AddCommandHook("player", 800, RecursiveHook, 1);
    HostVarList msg;
    msg.AddInt(800);
    EXPECT_EQ(kernel->Command(alice, alice, msg), 0);
    EXPECT_EQ(g.recursions, Kernel::kMaxDispatchDepth);
    EXPECT_EQ(HostLines("nested"), 1u);
    EXPECT_EQ(kernel->DispatchDepth(), 0);
    // The kernel is usable afterwards.
    HostVarList plain;
    plain.AddInt(801);
    EXPECT_EQ(kernel->Command(alice, alice, plain), 1);
}

TEST_F(KernelTest, ClassCallbacksReachDerivedClassesButOnCreateClassOnlyItsOwn) {
    kernel->AddClassCallback("NpcCreator", "OnLoad", Hook<0>, 3);
    kernel->AddClassCallback("AreaBossNPCCreator", "OnLoad", Hook<1>, 2);
    kernel->AddClassCallback("NpcCreator", "OnCreateClass", Hook<2>, 3);
    kernel->AddClassCallback("AreaBossNPCCreator", "OnCreateClass", Hook<3>, 3);
    EXPECT_FALSE(kernel->AddClassCallback("NoSuchClass", "OnLoad", Hook<0>, 1));

    kernel->CreateClasses();
    ASSERT_EQ(g.order, (std::vector<std::string>{"h2", "h3"}));
    EXPECT_EQ(g.args[0], (std::vector<Value>{int32_t{kernel->ClassIndex("NpcCreator")}}));
    EXPECT_EQ(g.args[1], (std::vector<Value>{int32_t{kernel->ClassIndex("AreaBossNPCCreator")}}));
    kernel->CreateClasses();  // each class is created once
    EXPECT_EQ(g.order.size(), 2u);

    g.order.clear();
    MakeCreator("AreaBossNPCCreator");  // raises OnLoad
    EXPECT_EQ(g.order, (std::vector<std::string>{"h1", "h0"}));
    g.order.clear();
    MakeCreator("NpcCreator");
    EXPECT_EQ(g.order, (std::vector<std::string>{"h0"}));
}

TEST_F(KernelTest, SelectStoreAndLeaveCarryTheirArguments) {
    kernel->AddClassCallback("NpcCreator", "OnSelect", Hook<0>, 1);
    kernel->AddClassCallback("player", "OnStore", Hook<1>, 1);
    kernel->AddClassCallback("player", "OnLeave", Hook<2>, 1);
    const ObjectId cr = MakeCreator();
    EXPECT_EQ(kernel->Select(alice, cr, 3), 1);
    EXPECT_EQ(g.selves[0], cr);
    EXPECT_EQ(g.senders[0], alice);
    EXPECT_EQ(g.args[0], (std::vector<Value>{int32_t{3}}));
    kernel->Store(alice, 0);
    EXPECT_EQ(g.args[1], (std::vector<Value>{int32_t{0}}));
    kernel->Leave(alice);
    EXPECT_EQ(g.order.back(), "h2");
    EXPECT_FALSE(kernel->Exists(alice));
    EXPECT_EQ(kernel->Select(alice, cr, 1), -1);  // a gone player selects nothing
    const ObjectId bob = kernel->CreatePlayer(u"Bob", 1);
    kernel->Destroy(cr);
    EXPECT_EQ(kernel->Select(bob, cr, 1), -1);  // nor can a gone creator be selected
    EXPECT_EQ(g.order.size(), 3u);
}

// Lookups remember their last hits: many (class, command) keys share the
// few hit slots, and an event name may come again at the same address with
// other text. Each dispatch must still reach exactly its own hooks.
TEST_F(KernelTest, RememberedHookLookupsNeverMixUpCommandsOrEventNames) {
    std::vector<std::string> ran;
    auto note = [&ran](std::string what) {
        return [&ran, what](Kernel&, const ObjectId&, const ObjectId&, const IVarList&) {
            ran.push_back(what);
            return 1;
        };
    };
    const ObjectId cr = MakeCreator();
    const struct {
        const char* cls;
        ObjectId target;
    } classes[] = {{"player", alice}, {"NpcCreator", cr}};
    for (int id = 900; id < 940; ++id)
        for (const auto& c : classes)
            kernel->AddHostCommandHook(c.cls, id, note(c.cls + std::to_string(id)), 1);
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : classes) {
            for (int id = 939; id >= 900; --id) {
                ran.clear();
                HostVarList msg;
                msg.AddInt(id);
                kernel->Command(alice, c.target, msg);
                EXPECT_EQ(ran, std::vector<std::string>{c.cls + std::to_string(id)});
            }
        }
    }
    kernel->AddHostClassCallback("NpcCreator", "OnAlpha", note("alpha"), 1);
    kernel->AddHostClassCallback("NpcCreator", "OnBravo", note("bravo"), 1);
    std::string event = "OnAlpha";
    for (const char* name : {"OnAlpha", "OnBravo", "OnAlpha"}) {
        event.assign(name);  // same length: the text changes in place
        ran.clear();
        kernel->RaiseClassEvent(cr, event, alice, HostVarList());
        EXPECT_EQ(ran,
                  std::vector<std::string>{name == std::string("OnAlpha") ? "alpha" : "bravo"});
    }
}

// A log that is off keeps nothing, yet every event still takes its number:
// seq numbers after it are what they would have been.
TEST_F(KernelTest, ADisabledLogStillNumbersEveryEvent) {
    ASSERT_TRUE(kernel->AddPropertySaveMode(kernel->ClassIndex("NpcCreator"), "SelectCount",
                                            VTYPE_INT, 0, ""));
    const ObjectId cr = MakeCreator();
    auto act = [&](int value) {
        HostVarList msg;
        msg.AddInt(742);
        kernel->Command(alice, cr, msg);
        kernel->Select(alice, cr, 1);
        kernel->SetInt(cr, "SelectCount", value);
    };
    const uint64_t before = kernel->log().NextSeq();
    act(5);
    const uint64_t logged = kernel->log().NextSeq() - before;
    EXPECT_EQ(logged, 3u);  // the command, the select and the property change
    const size_t held = kernel->log().size();
    kernel->log().SetEnabled(false);
    act(6);
    kernel->log().SetEnabled(true);
    EXPECT_EQ(kernel->log().NextSeq() - before, 2 * logged);
    EXPECT_EQ(kernel->log().size(), held);
}

TEST_F(KernelTest, CustomHooksSeeTheTargetAsSelf) {
    kernel->AddCustomHook(150493, Hook<0>, 3);
    const ObjectId farm = MakeCreator();
    HostVarList msg;
    msg.AddInt(150493);
    msg.AddObject(farm);
    EXPECT_EQ(kernel->ClientMessage(alice, msg), 1);
    EXPECT_EQ(g.selves[0], alice);
    EXPECT_EQ(g.senders[0], alice);
    HostVarList out;
    out.AddInt(50060);
    out.AddInt(90);
    EXPECT_TRUE(kernel->Custom(farm, alice, out));
    EXPECT_EQ(g.order.size(), 1u);  // nobody hooks 50060
    EXPECT_FALSE(kernel->Custom(farm, ObjectId{}, out));
    EventFilter f = EventFilter::OfKind(EventKind::Custom);
    f.anyId = false;
    f.id = 50060;
    const auto sent = kernel->log().Find(f);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0]->argsText, "[50060, 90]");
    EXPECT_EQ(sent[0]->target, alice);
}

// ---- players, delivery by name -------------------------------------------------

TEST_F(KernelTest, CommandByNameReachesPlayersHereAndRecordsOthers) {
    kernel->AddCommandHook("player", 140, Hook<0>, 1);
    g.answer[0] = 0;
    HostVarList msg;
    msg.AddInt(140);
    EXPECT_EQ(kernel->CommandByName(u"Alice", msg), 1);  // delivered, whatever the answer
    EXPECT_EQ(g.selves[0], alice);
    EXPECT_EQ(g.senders[0], alice);  // no callback running: the player itself

    kernel->SetOnlineElsewhere(u"Zed", true);
    EXPECT_EQ(kernel->GetPlayerOnline(u"Zed"), 1);
    EXPECT_EQ(kernel->GetPlayerOnline(u"Alice"), 0);  // here, not elsewhere
    EXPECT_EQ(kernel->CommandByName(u"Zed", msg), 1);
    EXPECT_EQ(kernel->CommandByName(u"Nobody", msg), 0);
    const auto byName = kernel->log().Find(EventFilter::OfKind(EventKind::CommandByName));
    ASSERT_EQ(byName.size(), 3u);
    EXPECT_EQ(byName[0]->result, 1);
    EXPECT_EQ(byName[1]->result, 2);
    EXPECT_EQ(byName[1]->targetName, u"Zed");
    EXPECT_EQ(byName[2]->result, 0);
    EXPECT_EQ(g.order.size(), 1u);
}

TEST_F(KernelTest, OfflinePlayersThroughTheNamedDeliveryHelper) {
    const ObjectId off = kernel->AddOfflinePlayer(u"Sleeper");
    EXPECT_FALSE(kernel->Exists(off));
    EXPECT_EQ(kernel->AddOfflinePlayer(u"Sleeper"), off);
    HostVarList info;
    EXPECT_EQ(kernel->QueryOfflinePlayer(u"Sleeper", info), 1);
    EXPECT_EQ(info.ObjectVal(0), off);
    EXPECT_EQ(kernel->CheckOfflinePlayer(u"Sleeper", off), 1);
    EXPECT_EQ(kernel->CheckOfflinePlayer(u"Sleeper", alice), 0);
    HostVarList none;
    EXPECT_EQ(kernel->QueryOfflinePlayer(u"Ghost", none), 0);
    EXPECT_TRUE(none.IsEmpty());
    EXPECT_EQ(kernel->GetNameId(u"Alice"), kernel->GetNameId(u"Alice"));
    EXPECT_NE(kernel->GetNameId(u"Alice"), kernel->GetNameId(u"Sleeper"));
    EXPECT_EQ(kernel->GetNameId(u""), 0);

    // The plug-in's helper picks the offline way and the host records it.
    CVarList msg;
    msg.AddInt(142);
    msg.AddWideStr(u"Sleeper");
    EXPECT_TRUE(CommandToPlayerName(kernel.get(), alice, u"Sleeper", msg));
    const Event* e = kernel->log().FindLast(EventFilter::OfKind(EventKind::CommandOffline));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->targetName, u"Sleeper");
    EXPECT_EQ(e->target, off);
    EXPECT_EQ(e->result, 1);
    EXPECT_NE(e->text.find("Alice"), std::string::npos);
    EXPECT_FALSE(kernel->CommandOffline(u"Sleeper", alice, u"", 0, msg));
    EXPECT_FALSE(CommandToPlayerName(kernel.get(), alice, u"Ghost", msg));
}

TEST_F(KernelTest, GetSceneFollowsTheObjectWhoseCallbackRuns) {
    const ObjectId other = kernel->CreateScene("scene2", 12);
    EXPECT_EQ(kernel->GetScene(), scene);  // the first scene became current
    const ObjectId bob = kernel->CreatePlayer(u"Bob", 1, other);
    ObjectId seen;
    kernel->AddHostCommandHook(
        "player", 700,
        [&](Kernel& k, const ObjectId&, const ObjectId&, const IVarList&) {
            seen = k.GetScene();
            return 1;
        },
        1);
    HostVarList msg;
    msg.AddInt(700);
    kernel->Command(alice, bob, msg);
    EXPECT_EQ(seen, other);
    kernel->Command(bob, alice, msg);
    EXPECT_EQ(seen, scene);
    kernel->SetCurrentScene(other);
    EXPECT_EQ(kernel->GetScene(), other);
    EXPECT_EQ(kernel->SceneOf(other), other);
}

TEST_F(KernelTest, NoticesAreRecordedWithKindTextAndArguments) {
    CVarList args;
    args.AddInt(7);
    args.AddInt(11);
    EXPECT_TRUE(kernel->SysInfoByWorld(19, "80000", args));
    EXPECT_TRUE(kernel->SysInfo(alice, 2, "91800", CVarList()));
    EXPECT_FALSE(kernel->SysInfo(ObjectId{}, 2, "91800", CVarList()));
    const Event* w = kernel->log().FindFirst(EventFilter::OfKind(EventKind::SysInfoByWorld));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->id, 19);
    EXPECT_EQ(w->name, "80000");
    EXPECT_EQ(w->args.IntVal(1), 11);
    const Event* one = kernel->log().FindFirst(EventFilter::OfKind(EventKind::SysInfo));
    EXPECT_EQ(one->sender, alice);
    EXPECT_EQ(one->name, "91800");
    EXPECT_TRUE(one->args.IsEmpty());
}

// ---- logging, resources, scripts ---------------------------------------------------

TEST(KernelLogging, EchoShowsGbkAsUtf8AndKeepsRawBytesInTheLogs) {
    std::FILE* term = std::tmpfile();
    char path[] = "/tmp/hostkernel-log-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    KernelOptions o;
    o.terminal = term;
    o.logFilePath = path;
    {
        Kernel k(o);
        k.Echo("\xC4\xE3\xBA\xC3 ok");  // GBK
        k.Trace("trace only");
        const Event* e = k.log().FindFirst(EventFilter::OfKind(EventKind::Echo));
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->text, "\xC4\xE3\xBA\xC3 ok");
        k.SetEchoToTerminal(false);
        k.Echo("silenced");
    }
    std::rewind(term);
    char buf[256] = {0};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, term);
    std::fclose(term);
    EXPECT_EQ(std::string(buf, n), "\xE4\xBD\xA0\xE5\xA5\xBD ok\n");
    std::FILE* f = std::fopen(path, "rb");
    ASSERT_NE(f, nullptr);
    const size_t m = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    std::remove(path);
    const std::string file(buf, m);
    EXPECT_NE(file.find("\xC4\xE3\xBA\xC3 ok"), std::string::npos);
    EXPECT_NE(file.find("trace only"), std::string::npos);
    EXPECT_NE(file.find("silenced"), std::string::npos);
}

TEST(KernelResources, ResourcePathAlwaysEndsInASeparator) {
    KernelOptions o = Quiet();
    o.resourceDir = "/data/res";
    EXPECT_STREQ(Kernel(o).GetResourcePath(), "/data/res/");
    o.resourceDir = "/data/res/";
    EXPECT_STREQ(Kernel(o).GetResourcePath(), "/data/res/");
}

TEST(KernelScripts, WithoutAnEngineScriptsFailLoggedAndWithOneTheyAreDelegated) {
    Kernel k(Quiet());
    HostVarList args, results;
    EXPECT_FALSE(k.RunScriptFunction("Rule\\npc_creator.lua", "get_npc_count", args, 1, results));
    EXPECT_EQ(k.log().Count(EventFilter::OfKind(EventKind::Host)), 1u);
    std::string seenScript;
    k.SetScriptRunner([&](const std::string& script, const std::string& fn, const IVarList&,
                          int count, IVarList& out) {
        seenScript = script + ":" + fn;
        for (int i = 0; i < count; ++i) out.AddInt(4);
        return true;
    });
    EXPECT_TRUE(k.RunScriptFunction("Rule\\npc_creator.lua", "get_npc_count", args, 1, results));
    EXPECT_EQ(seenScript, "Rule\\npc_creator.lua:get_npc_count");
    EXPECT_EQ(results.IntVal(0), 4);
}

// ---- module lifecycle ----------------------------------------------------------------

namespace {
std::vector<std::string> g_lifecycle;
struct FakeModule : IModule {
    std::string name;
    bool initOk = true;
    explicit FakeModule(std::string n, bool ok = true) : name(std::move(n)), initOk(ok) {}
    bool Init(IKernel* k) override {
        g_lifecycle.push_back("Init " + name);
        return initOk && k->FindModule("TeamSystem") != nullptr;
    }
    bool AfterInit(IKernel* k) override {
        g_lifecycle.push_back("AfterInit " + name);
        k->AddClassCallback("NpcCreator", "OnCreateClass", Created, 3);
        return true;
    }
    static int Created(IKernel*, const ObjectId&, const ObjectId&, const IVarList& args) {
        g_lifecycle.push_back("OnCreateClass " + std::to_string(args.IntVal(0)));
        return 1;
    }
};
}  // namespace

TEST(KernelLifecycle, EveryInitThenEveryAfterInitThenClassesAndFailedInitsAreSkipped) {
    Kernel k(Quiet());
    FakeModule team("TeamSystem"), a("A"), b("B", false), c("C");
    k.RegisterModule("TeamSystem", &team);
    g_lifecycle.clear();
    const host::LifecycleReport r = k.RunLifecycle({{"A", &a}, {"B", &b}, {"C", &c}});
    const std::string created = "OnCreateClass " + std::to_string(k.ClassIndex("NpcCreator"));
    EXPECT_EQ(g_lifecycle, (std::vector<std::string>{"Init A", "Init B", "Init C", "AfterInit A",
                                                     "AfterInit C", created, created}));
    EXPECT_EQ(r.initFailed, (std::vector<std::string>{"B"}));
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(k.FindModule("C"), &c);
    EXPECT_EQ(k.FindModule("Nope"), nullptr);
    EXPECT_EQ(k.FindModule(nullptr), nullptr);
    EXPECT_FALSE(k.RegisterModule("C", &a));
}

// ---- variant list ----------------------------------------------------------------------

TEST(HostVarList, ReadsOfAnotherTypeOrPastTheEndGiveDefaults) {
    HostVarList l;
    l.AddInt(5);
    l.AddString("abc");
    l.AddWideStr(u"名");
    l.AddObject(ObjectId{3, 4});
    l.AddInt64(-9);
    l.AddFloat(1.5f);
    EXPECT_EQ(l.GetCount(), 6u);
    EXPECT_EQ(l.IntVal(1), 0);
    EXPECT_STREQ(l.StringVal(0), "");
    EXPECT_EQ(l.Int64Val(0), 0);
    EXPECT_EQ(l.Int64Val(4), -9);
    EXPECT_EQ(l.IntVal(4), 0);  // no conversion between int widths
    EXPECT_TRUE(l.ObjectVal(9).IsNull());
    EXPECT_EQ(l.GetType(9), 0);
    EXPECT_EQ(l.GetTypeWord(9), 0u);
    uint64_t size = 7;
    EXPECT_EQ(l.UserDataVal(0, size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(host::FormatVarList(l), "[5, \"abc\", u\"名\", obj#3:4, -9L, 1.5]");
}

TEST(HostVarList, SetsChangeOnlyEntriesOfTheSameTypeAndKeepTheTag) {
    HostVarList l;
    l.AddTaggedInt(3, 1);
    l.AddString("x");
    EXPECT_TRUE(l.SetInt(0, 9));
    EXPECT_EQ(l.GetTag(0), 3);
    EXPECT_EQ(l.IntVal(0), 9);
    EXPECT_FALSE(l.SetInt(1, 9));
    EXPECT_FALSE(l.SetString(0, "y"));
    EXPECT_FALSE(l.SetObject(5, ObjectId{}));
    EXPECT_TRUE(l.SetString(1, l.StringVal(1)));  // from its own text
    EXPECT_STREQ(l.StringVal(1), "x");
}

TEST(HostVarList, TextPointersSurviveLaterAppends) {
    HostVarList l;
    l.AddWideStr(u"short");
    l.AddString("s");
    const char16_t* w = l.WideStrVal(0);
    const char* s = l.StringVal(1);
    for (int i = 0; i < 1000; ++i) l.AddInt(i);
    EXPECT_EQ(l.WideStrVal(0), w);
    EXPECT_EQ(l.StringVal(1), s);
    EXPECT_EQ(std::u16string(w), u"short");
    EXPECT_EQ(l.IntVal(1001), 999);
    HostVarList moved(std::move(l));
    EXPECT_EQ(moved.WideStrVal(0), w);  // a move keeps the entries where they are
}

TEST(HostVarList, CopyRuleDropsTagsAndAppendChecksTheRange) {
    CVarList src;
    src.AddTaggedInt(2, 1);
    src.AddTaggedString(5, "a");
    src.AddObject(ObjectId{1, 1});
    src.AddUserData("xyz", 3);
    HostVarList copy(src);
    EXPECT_EQ(copy.GetCount(), 4u);
    EXPECT_EQ(copy.GetTag(0), 0);
    EXPECT_EQ(copy.GetTag(1), 0);
    uint64_t size = 0;
    const void* p = copy.UserDataVal(3, size);
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(std::memcmp(p, "xyz", 3), 0);
    HostVarList part;
    EXPECT_FALSE(part.Append(src, 2, 3));
    EXPECT_FALSE(part.Append(src, 4, 0));
    EXPECT_TRUE(part.IsEmpty());
    EXPECT_TRUE(part.Append(src, 1, 3));
    EXPECT_EQ(part.GetCount(), 3u);
    EXPECT_STREQ(part.StringVal(0), "a");
    EXPECT_TRUE(part.Concat(part));  // appending itself doubles it
    EXPECT_EQ(part.GetCount(), 6u);
    EXPECT_EQ(part.ObjectVal(4), (ObjectId{1, 1}));
    part.Clear();
    EXPECT_TRUE(part.IsEmpty());
    part.AddInt(3);
    EXPECT_EQ(part.IntVal(0), 3);
    EXPECT_FALSE(part.AddValue(Value{}));
}

TEST(TextConversion, Utf16AndUtf8RoundTripAndRepairBrokenInput) {
    const std::u16string text = u"Alice \u540d \U0001F600";
    EXPECT_EQ(host::Utf8ToUtf16(host::Utf16ToUtf8(text)), text);
    EXPECT_EQ(host::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(host::Utf8ToUtf16("a\xC3"), u"a\uFFFD");          // truncated sequence
    EXPECT_EQ(host::Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
    EXPECT_EQ(host::Utf16ToUtf8(static_cast<const char16_t*>(nullptr)), "");
}

TEST(TextConversion, CutShortSequenceGivesOneReplacementButBadFormsOneEach) {
    // A valid start cut short by the next byte: one U+FFFD, and that byte kept.
    EXPECT_EQ(host::Utf8ToUtf16("\xE4\xB8"
                                "A\xF0\x9F\x98"
                                "B"),
              u"\uFFFDA\uFFFDB");
    // A surrogate, an overlong form and a value past U+10FFFF cannot begin to
    // be valid after their lead byte: one U+FFFD per byte, nothing swallowed.
    EXPECT_EQ(host::Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(host::Utf8ToUtf16("\xE0\x80\xAF"
                                "C"),
              u"\uFFFD\uFFFD\uFFFDC");
    EXPECT_EQ(host::Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(host::Utf8ToUtf16("\xF4\x8F\xBF\xBF"), u"\U0010FFFF");
}

TEST(TextConversion, GbkToUtf8ReplacesInvalidBytes) {
    EXPECT_EQ(host::GbkToUtf8("plain"), "plain");
    EXPECT_EQ(host::GbkToUtf8("\xC4\xE3\xBA\xC3"), "\xE4\xBD\xA0\xE5\xA5\xBD");
    EXPECT_EQ(host::GbkToUtf8("ab\xC4"), "ab\xEF\xBF\xBD");  // cut in the middle
    EXPECT_EQ(host::Utf8ToGbk("\xE4\xBD\xA0\xE5\xA5\xBD"), "\xC4\xE3\xBA\xC3");
    EXPECT_EQ(host::Utf8ToGbk("x\xF0\x9F\x98\x80y"), "x?y");  // not in GBK
}

// ---- event log -------------------------------------------------------------------------

TEST(EventLog, FiltersCapacityAndLookupBySeq) {
    host::EventLog log;
    for (int i = 0; i < 10; ++i) {
        Event e;
        e.kind = i % 2 ? EventKind::Command : EventKind::Note;
        e.id = i;
        e.text = "n" + std::to_string(i);
        log.Add(std::move(e));
    }
    EXPECT_EQ(log.Count(EventFilter::OfKind(EventKind::Command)), 5u);
    EXPECT_EQ(log.Count(EventFilter::CommandId(3)), 1u);
    EventFilter text;
    text.contains = "n7";
    EXPECT_EQ(log.FindFirst(text)->id, 7);
    EventFilter from;
    from.fromSeq = 8;
    EXPECT_EQ(log.Count(from), 2u);
    ASSERT_NE(log.Get(4), nullptr);
    EXPECT_EQ(log.Get(4)->id, 4);
    EXPECT_EQ(log.Get(10), nullptr);

    log.SetCapacity(6);
    Event more;
    more.kind = EventKind::Note;
    log.Add(more);  // over capacity: the oldest are dropped
    EXPECT_LE(log.size(), 6u);
    EXPECT_EQ(log.Get(0), nullptr);
    EXPECT_EQ(log.events().back().seq, 10u);
    EXPECT_EQ(log.NextSeq(), 11u);

    log.SetEnabled(false);
    log.Add(more);
    EXPECT_EQ(log.events().back().seq, 10u);
    host::EventKind k;
    EXPECT_TRUE(host::ParseEventKind("sysinfo_world", k));
    EXPECT_EQ(k, EventKind::SysInfoByWorld);
    EXPECT_FALSE(host::ParseEventKind("bogus", k));
}

TEST_F(KernelTest, EventLinesShowTimeKindAndArguments) {
    kernel->AdvanceTime(12500);
    HostVarList msg;
    msg.AddInt(1001);
    msg.AddObject(alice);
    kernel->Command(alice, alice, msg);
    const Event* e = kernel->log().FindLast(EventFilter::CommandId(1001));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->timeMs, 12500);
    const std::string expected = "[12.500s] command obj#" + std::to_string(alice.ident) + ":" +
                                 std::to_string(alice.serial) + " -> obj#" +
                                 std::to_string(alice.ident) + ":" + std::to_string(alice.serial) +
                                 " [1001, obj#" + std::to_string(alice.ident) + ":" +
                                 std::to_string(alice.serial) + "] = 1";
    EXPECT_EQ(e->ToString(), expected);
}
