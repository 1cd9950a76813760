// The host kit: the neutral answers of KernelBase and the loader's refusal of
// a plug-in built against another interface version.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "HostModuleBases.h"
#include "HostVarList.h"
#include "KernelBase.h"
#include "PluginLoader.h"

namespace {

using host::KernelBase;

// Renders an answer so one table can hold every operation.
std::string B(bool v) {
    return v ? "true" : "false";
}
std::string I(int v) {
    return std::to_string(v);
}
std::string S(const char* v) {
    return v == nullptr ? "null" : "\"" + std::string(v) + "\"";
}
std::string W(const char16_t* v) {
    return v == nullptr ? "null" : v[0] == 0 ? "u\"\"" : "u\"?\"";
}
std::string O(const ObjectId& v) {
    return v.IsNull() ? "null id" : "id";
}

TEST(HostKit, KernelBaseAnswersEveryOperationNeutrally) {
    const ObjectId obj{7, 1};
    host::HostVarList args = host::HostVarList::Of({int32_t(1)});
    host::HostVarList out = host::HostVarList::Of({int32_t(5)});
    auto beat = [](IKernel*, const ObjectId&) { return 1; };
    auto hook = [](IKernel*, const ObjectId&, const ObjectId&, const IVarList&) { return 1; };
    struct Row {
        const char* op;
        std::function<std::string(KernelBase&)> call;
        const char* expected;
    };
    const std::vector<Row> rows = {
        {"DeclareHeartBeat", [&](KernelBase& k) { return B(k.DeclareHeartBeat("b", beat)); },
         "false"},
        {"FindModule", [](KernelBase& k) { return k.FindModule("TeamSystem") ? "module" : "null"; },
         "null"},
        {"AddClassCallback",
         [&](KernelBase& k) { return B(k.AddClassCallback("c", "OnLoad", hook, 1)); }, "false"},
        {"AddCommandHook", [&](KernelBase& k) { return B(k.AddCommandHook("c", 1, hook, 1)); },
         "false"},
        {"AddCustomHook", [&](KernelBase& k) { return B(k.AddCustomHook(1, hook, 1)); }, "false"},
        {"GetScene", [](KernelBase& k) { return O(k.GetScene()); }, "null id"},
        {"GetResourcePath", [](KernelBase& k) { return S(k.GetResourcePath()); }, "\"\""},
        {"AddProperty", [](KernelBase& k) { return B(k.AddProperty(0, "p", 2, false, "")); },
         "false"},
        {"AddVisibleProperty",
         [](KernelBase& k) { return B(k.AddVisibleProperty(0, "p", 2, "", 0, 0, 0, "")); },
         "false"},
        {"FindAttr", [&](KernelBase& k) { return B(k.FindAttr(obj, "p")); }, "false"},
        {"SetInt", [&](KernelBase& k) { return B(k.SetInt(obj, "p", 1)); }, "false"},
        {"SetString", [&](KernelBase& k) { return B(k.SetString(obj, "p", "v")); }, "false"},
        {"SetObject", [&](KernelBase& k) { return B(k.SetObject(obj, "p", obj)); }, "false"},
        {"QueryInt", [&](KernelBase& k) { return I(k.QueryInt(obj, "p")); }, "0"},
        {"QueryString", [&](KernelBase& k) { return S(k.QueryString(obj, "p")); }, "\"\""},
        {"QueryWideStr", [&](KernelBase& k) { return W(k.QueryWideStr(obj, "p")); }, "u\"\""},
        {"QueryObject", [&](KernelBase& k) { return O(k.QueryObject(obj, "p")); }, "null id"},
        {"IncInt", [&](KernelBase& k) { return B(k.IncInt(obj, "p", 1)); }, "false"},
        {"AddRecord", [](KernelBase& k) { return B(k.AddRecord(0, "r", 2, 8, false)); }, "false"},
        {"SetRecordColType", [](KernelBase& k) { return B(k.SetRecordColType(0, "r", 0, 2)); },
         "false"},
        {"SetRecordVisible", [](KernelBase& k) { return B(k.SetRecordVisible(0, "r", "v")); },
         "false"},
        {"GetRecordRows", [&](KernelBase& k) { return I(k.GetRecordRows(obj, "r")); }, "-1"},
        {"AddRecordBlankRow", [&](KernelBase& k) { return I(k.AddRecordBlankRow(obj, "r", -1)); },
         "-1"},
        {"AddRecordRowValues",
         [&](KernelBase& k) { return I(k.AddRecordRowValues(obj, "r", -1, args)); }, "-1"},
        {"RemoveRecordRow", [&](KernelBase& k) { return B(k.RemoveRecordRow(obj, "r", 0)); },
         "false"},
        {"SetRecordRowValues",
         [&](KernelBase& k) { return B(k.SetRecordRowValues(obj, "r", 0, args)); }, "false"},
        {"QueryRecordInt", [&](KernelBase& k) { return I(k.QueryRecordInt(obj, "r", 0, 0)); }, "0"},
        {"QueryRecordFloat",
         [&](KernelBase& k) { return std::to_string(k.QueryRecordFloat(obj, "r", 0, 0)); },
         "0.000000"},
        {"QueryRecordString", [&](KernelBase& k) { return S(k.QueryRecordString(obj, "r", 0, 0)); },
         "\"\""},
        {"QueryRecordWideStr",
         [&](KernelBase& k) { return W(k.QueryRecordWideStr(obj, "r", 0, 0)); }, "u\"\""},
        {"QueryRecordObject", [&](KernelBase& k) { return O(k.QueryRecordObject(obj, "r", 0, 0)); },
         "null id"},
        {"FindRecordRowInt", [&](KernelBase& k) { return I(k.FindRecordRowInt(obj, "r", 0, 1)); },
         "-1"},
        {"FindRecordWideStr",
         [&](KernelBase& k) { return I(k.FindRecordWideStr(obj, "r", 0, u"n")); }, "-1"},
        {"GetConfig", [&](KernelBase& k) { return S(k.GetConfig(obj)); }, "\"\""},
        {"GetConfigIndex", [&](KernelBase& k) { return I(k.GetConfigIndex(obj)); }, "0"},
        {"Exists", [&](KernelBase& k) { return B(k.Exists(obj)); }, "false"},
        {"GetChild", [&](KernelBase& k) { return O(k.GetChild(obj, u"n")); }, "null id"},
        {"AddHeartBeat", [&](KernelBase& k) { return B(k.AddHeartBeat(obj, "b", 1000)); }, "false"},
        {"RemoveHeartBeat", [&](KernelBase& k) { return B(k.RemoveHeartBeat(obj, "b")); }, "false"},
        {"FindHeartBeat", [&](KernelBase& k) { return B(k.FindHeartBeat(obj, "b")); }, "false"},
        {"FindPlayer", [](KernelBase& k) { return O(k.FindPlayer(u"n")); }, "null id"},
        {"GetPlayerOnline", [](KernelBase& k) { return I(k.GetPlayerOnline(u"n")); }, "0"},
        {"QueryOfflinePlayer",
         [&](KernelBase& k) {
             return I(k.QueryOfflinePlayer(u"n", out)) + " " + I(int(out.GetCount()));
         },
         "0 1"},
        {"CheckOfflinePlayer", [&](KernelBase& k) { return I(k.CheckOfflinePlayer(u"n", obj)); },
         "0"},
        {"CommandOffline",
         [&](KernelBase& k) { return B(k.CommandOffline(u"n", obj, u"s", 1, args)); }, "false"},
        {"SysInfo", [&](KernelBase& k) { return B(k.SysInfo(obj, 2, "t", args)); }, "false"},
        {"SysInfoByWorld", [&](KernelBase& k) { return B(k.SysInfoByWorld(19, "t", args)); },
         "false"},
        {"Custom", [&](KernelBase& k) { return B(k.Custom(obj, obj, args)); }, "false"},
        {"Command", [&](KernelBase& k) { return I(k.Command(obj, obj, args)); }, "0"},
        {"CommandByName", [&](KernelBase& k) { return I(k.CommandByName(u"n", args)); }, "0"},
        {"GetNameId", [](KernelBase& k) { return I(k.GetNameId(u"n")); }, "0"},
        {"RunScriptFunction",
         [&](KernelBase& k) {
             return B(k.RunScriptFunction("s", "f", args, 1, out)) + " " + I(int(out.GetCount()));
         },
         "false 1"},
        {"AddPropertySaveMode",
         [](KernelBase& k) { return B(k.AddPropertySaveMode(0, "p", 2, 1, "")); }, "false"},
        {"AddVisiblePropertySaveMode",
         [](KernelBase& k) { return B(k.AddVisiblePropertySaveMode(0, "p", 2, "", 0, 0, 1, "")); },
         "false"},
        {"AddRecordSaveMode", [](KernelBase& k) { return B(k.AddRecordSaveMode(0, "r", 2, 8, 1)); },
         "false"},
    };
    KernelBase kernel;
    kernel.Trace("dropped");
    kernel.Echo("dropped");
    for (const Row& row : rows) EXPECT_EQ(row.call(kernel), row.expected) << row.op;

    host::TeamSystemBase team;
    EXPECT_FALSE(team.IsInTeam(&kernel, obj));
    EXPECT_FALSE(team.IsTeamLeader(&kernel, obj));
    EXPECT_EQ(W(team.GetTeamLeaderName(&kernel, obj)), "u\"\"");
    EXPECT_EQ(team.GetTeamMembers(&kernel, obj, out), 0);
    EXPECT_FALSE(host::EventTimeSystemBase().AddTimePointEvent(1, "08:00", 0, args));
}

TEST(HostKit, LoaderRefusesAnotherInterfaceVersionBeforeWalkingTheCreators) {
    struct Case {
        const char* path;
        bool loads;
    };
    for (const Case& c : {Case{TEST_MATCHING_PLUGIN, true}, Case{TEST_OTHER_PLUGIN, false}}) {
        unsetenv("GAMERULES_TEST_PLUGIN_CREATED");
        host::PluginLoader loader;
        EXPECT_EQ(loader.Load(c.path), c.loads) << c.path << ": " << loader.error();
        EXPECT_EQ(loader.loaded(), c.loads) << c.path;
        EXPECT_EQ(loader.modules().size(), c.loads ? 1u : 0u) << c.path;
        EXPECT_EQ(std::getenv("GAMERULES_TEST_PLUGIN_CREATED") != nullptr, c.loads) << c.path;
        if (c.loads) continue;
        EXPECT_NE(loader.error().find("0x20020001"), std::string::npos) << loader.error();
        EXPECT_NE(loader.error().find("0x20010011"), std::string::npos) << loader.error();
    }
}

}  // namespace
