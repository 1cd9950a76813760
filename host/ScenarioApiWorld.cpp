// The scenario functions that set up and build the world: setup, start,
// lifecycle, scenes, objects, creators, players, teams, records and flags.
#include <cstring>
#include <string>
#include <vector>

#include "Gbk.h"
#include "ScenarioApiSupport.h"
#include "ScriptEngine.h"
#include "TeamSystem.h"
#include "World.h"

namespace host {
namespace scenario_api {

namespace {

// ---- setup and world ---------------------------------------------------------

int ApiSetup(ScenarioRunner& r, lua_State* L) {
    if (r.worldStarted()) throw ApiError("setup must come before the world is used");
    Fields f(L, 1, "setup",
             {"resources", "plugin", "stand_ins", "team_system", "event_time", "scripts"});
    auto& s = r.setup();
    s.resourceDir = f.Str("resources", s.resourceDir);
    s.pluginPath = f.Str("plugin", s.pluginPath);
    s.standInScripts = f.Bool("stand_ins", s.standInScripts);
    s.teamSystem = f.Bool("team_system", s.teamSystem);
    s.eventTimeSystem = f.Bool("event_time", s.eventTimeSystem);
    s.scriptEngine = f.Bool("scripts", s.scriptEngine);
    return 0;
}

int ApiStart(ScenarioRunner& r, lua_State*) {
    r.world();
    return 0;
}

int ApiModules(ScenarioRunner& r, lua_State* L) {
    const auto& modules = r.world().plugin().modules();
    lua_createtable(L, int(modules.size()), 0);
    for (size_t i = 0; i < modules.size(); ++i) {
        lua_pushstring(L, modules[i].name.c_str());
        lua_rawseti(L, -2, lua_Integer(i + 1));
    }
    return 1;
}

int ApiLifecycle(ScenarioRunner& r, lua_State* L) {
    const LifecycleReport& report = r.world().lifecycle();
    lua_createtable(L, 0, 4);
    lua_pushboolean(L, report.ok());
    lua_setfield(L, -2, "ok");
    for (auto [key, names] : {std::make_pair("init_failed", &report.initFailed),
                              std::make_pair("after_init_failed", &report.afterInitFailed),
                              std::make_pair("after_init_skipped", &report.afterInitSkipped)}) {
        lua_createtable(L, int(names->size()), 0);
        for (size_t i = 0; i < names->size(); ++i) {
            lua_pushstring(L, (*names)[i].c_str());
            lua_rawseti(L, -2, lua_Integer(i + 1));
        }
        lua_setfield(L, -2, key);
    }
    return 1;
}

// ---- building ----------------------------------------------------------------

int ApiScene(ScenarioRunner& r, lua_State* L) {
    Fields f(L, 1, "scene", {"config", "number", "type", "current"});
    std::string config = f.Str("config", "scene");
    int number = f.Int("number", 0);
    int type = f.Int("type", 0);
    bool current = f.Bool("current", true);
    ObjectId id = r.world().Call([&](Kernel& k) {
        ObjectId scene = k.CreateScene(config, number, type);
        if (scene.IsNull()) throw ApiError("cannot create scene " + config);
        if (current || k.CurrentScene().IsNull()) k.SetCurrentScene(scene);
        return scene;
    });
    script::PushObjectId(L, id);
    return 1;
}

int ApiSetScene(ScenarioRunner& r, lua_State* L) {
    ObjectId scene = ArgObj(L, 1, "scene");
    r.world().Run([&](Kernel& k) { k.SetCurrentScene(scene); });
    return 0;
}

ObjectId MakeObject(ScenarioRunner& r, lua_State* L, const char* what, const char* defaultClass) {
    Fields f(L, 1, what, {"class", "config", "number", "scene", "parent", "name", "props", "load"});
    ObjectSpec objDef;
    objDef.className = f.Str("class", defaultClass);
    objDef.config = f.Str("config", "");
    objDef.configIndex = f.Int("number", 0);
    objDef.scene = f.Obj("scene");
    objDef.parent = f.Obj("parent");
    objDef.childName = Utf8ToUtf16(f.Str("name", ""));
    objDef.raiseOnLoad = f.Bool("load", true);
    bool sceneGiven = f.Has("scene");
    auto props = ReadProps(f);
    if (objDef.className.empty()) throw ApiError(std::string(what) + ": class expected");
    return r.world().Call([&](Kernel& k) {
        int cls = k.ClassIndex(objDef.className);
        if (cls < 0) throw ApiError("unknown class " + objDef.className);
        if (!sceneGiven) objDef.scene = k.CurrentScene();
        for (const auto& [name, v] : props) {
            objDef.properties.emplace_back(name, Declared(k, cls, objDef.className, name, v));
        }
        ObjectId id = k.CreateObject(objDef);
        if (id.IsNull()) throw ApiError("cannot create an object of class " + objDef.className);
        return id;
    });
}

int ApiObject(ScenarioRunner& r, lua_State* L) {
    script::PushObjectId(L, MakeObject(r, L, "object", ""));
    return 1;
}

int ApiCreator(ScenarioRunner& r, lua_State* L) {
    script::PushObjectId(L, MakeObject(r, L, "creator", "NpcCreator"));
    return 1;
}

int ApiPlayer(ScenarioRunner& r, lua_State* L) {
    Fields f(L, 1, "player", {"name", "camp", "scene", "props"});
    std::u16string name = Utf8ToUtf16(f.Str("name", ""));
    if (name.empty()) throw ApiError("player: name expected");
    int camp = f.Int("camp", 0);
    ObjectId scene = f.Obj("scene");
    bool sceneGiven = f.Has("scene");
    auto props = ReadProps(f);
    ObjectId id = r.world().Call([&](Kernel& k) {
        ObjectId p = k.CreatePlayer(name, camp, sceneGiven ? scene : k.CurrentScene());
        if (p.IsNull()) throw ApiError("cannot create player " + Utf16ToUtf8(name));
        SetProps(k, p, props);
        return p;
    });
    script::PushObjectId(L, id);
    return 1;
}

TeamSystem& Team(ScenarioRunner& r) {
    TeamSystem* team = r.world().teamSystem();
    if (team == nullptr) throw ApiError("the world has no team system (setup{team_system=false})");
    return *team;
}

int ApiTeam(ScenarioRunner& r, lua_State* L) {
    ObjectId leader = ArgObj(L, 1, "leader");
    std::vector<ObjectId> members;
    for (int i = 2; i <= lua_gettop(L); ++i) members.push_back(ArgObj(L, i, "member"));
    TeamSystem& team = Team(r);
    r.world().Run([&](Kernel&) {
        for (const ObjectId& m : members) {
            if (!team.Join(leader, m)) {
                throw ApiError("cannot add " + ObjText(m) + " to the team of " + ObjText(leader));
            }
        }
    });
    return 0;
}

int ApiLeaveTeam(ScenarioRunner& r, lua_State* L) {
    ObjectId p = ArgObj(L, 1, "player");
    TeamSystem& team = Team(r);
    lua_pushboolean(L, r.world().Call([&](Kernel&) { return team.Leave(p); }));
    return 1;
}

int ApiDisband(ScenarioRunner& r, lua_State* L) {
    ObjectId p = ArgObj(L, 1, "player");
    TeamSystem& team = Team(r);
    lua_pushboolean(L, r.world().Call([&](Kernel&) { return team.Disband(p); }));
    return 1;
}

int ApiTeamMembers(ScenarioRunner& r, lua_State* L) {
    ObjectId p = ArgObj(L, 1, "player");
    TeamSystem& team = Team(r);
    std::vector<ObjectId> members = r.world().Call([&](Kernel&) { return team.Members(p); });
    lua_createtable(L, int(members.size()), 0);
    for (size_t i = 0; i < members.size(); ++i) {
        script::PushObjectId(L, members[i]);
        lua_rawseti(L, -2, lua_Integer(i + 1));
    }
    return 1;
}

int ApiTeamLeader(ScenarioRunner& r, lua_State* L) {
    ObjectId p = ArgObj(L, 1, "player");
    TeamSystem& team = Team(r);
    ObjectId leader = r.world().Call([&](Kernel&) { return team.Leader(p); });
    if (leader.IsNull()) {
        lua_pushnil(L);
    } else {
        script::PushObjectId(L, leader);
    }
    return 1;
}

int ApiOnlineElsewhere(ScenarioRunner& r, lua_State* L) {
    std::u16string name = Utf8ToUtf16(ArgStr(L, 1, "name"));
    bool on = OptBool(L, 2, true);
    r.world().Run([&](Kernel& k) { k.SetOnlineElsewhere(name, on); });
    return 0;
}

int ApiOfflinePlayer(ScenarioRunner& r, lua_State* L) {
    std::u16string name = Utf8ToUtf16(ArgStr(L, 1, "name"));
    ObjectId id = r.world().Call([&](Kernel& k) { return k.AddOfflinePlayer(name); });
    script::PushObjectId(L, id);
    return 1;
}

int ApiDestroy(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    lua_pushboolean(L, r.world().Call([&](Kernel& k) { return k.Destroy(obj); }));
    return 1;
}

// ---- records and flags -------------------------------------------------------

// Row values converted by the record's declared column types (untyped
// columns take the Lua value's own type).
HostVarList RowValues(Kernel& k, const ObjectId& obj, const std::string& rec,
                      const std::vector<LuaVal>& values) {
    if (!k.Exists(obj)) throw ApiError(ObjText(obj) + " does not exist");
    const RecordDecl* decl = k.FindRecordDecl(k.ClassOf(obj), rec);
    if (decl == nullptr) throw ApiError(k.ClassNameOf(obj) + " has no record " + rec);
    if (int(values.size()) != decl->cols) {
        throw ApiError("record " + rec + " has " + std::to_string(decl->cols) + " columns, " +
                       std::to_string(values.size()) + " values given");
    }
    HostVarList list;
    for (size_t c = 0; c < values.size(); ++c) {
        int type = c < decl->colTypes.size() ? decl->colTypes[c] : 0;
        std::string what = rec + " column " + std::to_string(c + 1);
        list.AddValue(type != 0 ? ToDeclared(values[c], type, what) : ToUntyped(values[c], what));
    }
    return list;
}

std::vector<LuaVal> ReadList(lua_State* L, int index, const char* what) {
    ArgTable(L, index, what);
    std::vector<LuaVal> values;
    lua_Integer n = lua_rawlen(L, index);
    for (lua_Integer i = 1; i <= n; ++i) {
        lua_rawgeti(L, index, i);
        try {
            values.push_back(ReadLuaVal(L, -1, what));
        } catch (...) {
            lua_pop(L, 1);
            throw;
        }
        lua_pop(L, 1);
    }
    return values;
}

int AddRow(ScenarioRunner& r, const ObjectId& obj, const std::string& rec,
           const std::vector<LuaVal>& values) {
    int row = r.world().Call([&](Kernel& k) {
        HostVarList list = RowValues(k, obj, rec, values);
        return k.AddRecordRowValues(obj, rec.c_str(), -1, list);
    });
    if (row < 0) throw ApiError("cannot add a row to " + rec + " (full?)");
    return row + 1;
}

int ApiAddRow(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    std::string rec = ArgStr(L, 2, "record");
    std::vector<LuaVal> values = ReadList(L, 3, "row");
    lua_pushinteger(L, AddRow(r, obj, rec, values));
    return 1;
}

int ApiRemoveRow(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    std::string rec = ArgStr(L, 2, "record");
    int row = ArgInt32(L, 3, "row");
    lua_pushboolean(L, r.world().Call([&](Kernel& k) {
        return row >= 1 && k.RemoveRecordRow(obj, rec.c_str(), row - 1);
    }));
    return 1;
}

int ApiFlag(ScenarioRunner& r, lua_State* L) {
    ObjectId scene;
    bool sceneGiven = false;
    if (!lua_isnoneornil(L, 1)) {
        Fields f(L, 1, "flag", {"scene"});
        sceneGiven = f.Has("scene");
        scene = f.Obj("scene");
    }
    ObjectId id = r.world().Call([&](Kernel& k) {
        ObjectSpec objDef;
        objDef.className = "Flag";
        objDef.config = "Flag";
        objDef.scene = sceneGiven ? scene : k.CurrentScene();
        ObjectId flag = k.CreateObject(objDef);
        if (flag.IsNull()) throw ApiError("cannot create a flag");
        return flag;
    });
    script::PushObjectId(L, id);
    return 1;
}

// Puts obj into the left team of player's current fight, as the fight
// script would for a teammate or a flag.
int ApiJoinFight(ScenarioRunner& r, lua_State* L) {
    ObjectId player = ArgObj(L, 1, "player");
    ObjectId obj = ArgObj(L, 2, "member");
    ObjectId left = r.world().Call([&](Kernel& k) {
        ObjectId fight = k.QueryObject(player, "Fighting");
        if (!k.Exists(fight)) throw ApiError(ObjText(player) + " is not fighting");
        ObjectId team = k.GetChild(fight, u"LeftTeam");
        if (!k.Exists(team)) throw ApiError("the fight of " + ObjText(player) + " has no LeftTeam");
        return team;
    });
    std::vector<LuaVal> row(3);
    row[0].kind = LuaVal::Int;
    row[1].kind = LuaVal::Obj;
    row[1].id = obj;
    row[2].kind = LuaVal::Wide;
    lua_pushinteger(L, AddRow(r, left, "PkMemberInfo", row));
    return 1;
}

const ApiEntry kWorldApi[] = {
    {"setup", Entry<ApiSetup>},
    {"start", Entry<ApiStart>},
    {"modules", Entry<ApiModules>},
    {"lifecycle", Entry<ApiLifecycle>},
    {"scene", Entry<ApiScene>},
    {"set_scene", Entry<ApiSetScene>},
    {"object", Entry<ApiObject>},
    {"creator", Entry<ApiCreator>},
    {"player", Entry<ApiPlayer>},
    {"team", Entry<ApiTeam>},
    {"leave_team", Entry<ApiLeaveTeam>},
    {"disband", Entry<ApiDisband>},
    {"team_members", Entry<ApiTeamMembers>},
    {"team_leader", Entry<ApiTeamLeader>},
    {"online_elsewhere", Entry<ApiOnlineElsewhere>},
    {"offline_player", Entry<ApiOfflinePlayer>},
    {"destroy", Entry<ApiDestroy>},
    {"add_row", Entry<ApiAddRow>},
    {"remove_row", Entry<ApiRemoveRow>},
    {"flag", Entry<ApiFlag>},
    {"join_fight", Entry<ApiJoinFight>},
};

}  // namespace

void RegisterWorldApi(lua_State* L) {
    SetGlobals(L, kWorldApi);
}

}  // namespace scenario_api
}  // namespace host
