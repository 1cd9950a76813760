// The Lua functions a scenario calls. docs/scenarios.md is their manual.
#include "ScenarioApi.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "Gbk.h"
#include "ScriptEngine.h"
#include "StandInScripts.h"
#include "TeamSystem.h"
#include "World.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace host {

namespace {

constexpr const char* kHookOwner = "scenario";
constexpr int kDefaultHookPriority = 50;

using ApiFn = int (*)(ScenarioRunner& r, lua_State* L);

// Lua entry of every API function: runs it with the calling thread as the
// active state and turns an exception into a Lua error at the scenario line.
// lua_error is raised only after the catch block has ended, so no C++ object
// is skipped by Lua's longjmp.
template <ApiFn F>
int Entry(lua_State* L) {
    ScenarioRunner* r = ScenarioRunner::From(L);
    lua_State* previous = r->activeState();
    r->setActiveState(L);
    try {
        int n = F(*r, L);
        r->setActiveState(previous);
        return n;
    } catch (const std::exception& e) {
        std::string msg = r->Where(L) + ": " + e.what();
        lua_pushlstring(L, msg.data(), msg.size());
    }
    r->setActiveState(previous);
    return lua_error(L);
}

// ---- argument readers (throw ApiError, never raise Lua errors) ---------------

std::string ArgName(int index, const char* what) {
    return "argument " + std::to_string(index) + " (" + what + ")";
}

ObjectId ArgObj(lua_State* L, int index, const char* what) {
    ObjectId id;
    if (!script::ToObjectId(L, index, id)) {
        throw ApiError(ArgName(index, what) + ": object id expected, got " +
                       luaL_typename(L, index));
    }
    return id;
}

int64_t ArgInt(lua_State* L, int index, const char* what) {
    int ok = 0;
    lua_Integer n = lua_tointegerx(L, index, &ok);
    if (!ok || lua_type(L, index) != LUA_TNUMBER) {
        throw ApiError(ArgName(index, what) + ": integer expected, got " + luaL_typename(L, index));
    }
    return n;
}

int ArgInt32(lua_State* L, int index, const char* what) {
    int64_t n = ArgInt(L, index, what);
    if (n < INT32_MIN || n > INT32_MAX) {
        throw ApiError(ArgName(index, what) + ": " + std::to_string(n) +
                       " is outside the 32-bit range");
    }
    return int(n);
}

int OptInt32(lua_State* L, int index, const char* what, int def) {
    return lua_isnoneornil(L, index) ? def : ArgInt32(L, index, what);
}

double ArgNum(lua_State* L, int index, const char* what) {
    if (lua_type(L, index) != LUA_TNUMBER) {
        throw ApiError(ArgName(index, what) + ": number expected, got " + luaL_typename(L, index));
    }
    return lua_tonumber(L, index);
}

std::string ArgStr(lua_State* L, int index, const char* what) {
    if (lua_type(L, index) != LUA_TSTRING) {
        throw ApiError(ArgName(index, what) + ": string expected, got " + luaL_typename(L, index));
    }
    size_t len = 0;
    const char* s = lua_tolstring(L, index, &len);
    return std::string(s, len);
}

bool OptBool(lua_State* L, int index, bool def) {
    return lua_isnoneornil(L, index) ? def : lua_toboolean(L, index) != 0;
}

void ArgTable(lua_State* L, int index, const char* what) {
    if (!lua_istable(L, index)) {
        throw ApiError(ArgName(index, what) + ": table expected, got " + luaL_typename(L, index));
    }
}

std::vector<LuaVal> ReadRest(lua_State* L, int from) {
    std::vector<LuaVal> values;
    for (int i = from; i <= lua_gettop(L); ++i) {
        std::string what = "argument " + std::to_string(i);
        values.push_back(ReadLuaVal(L, i, what.c_str()));
    }
    return values;
}

// Fields of an option table, read raw. Unknown keys are refused so that a
// misspelt option is not silently ignored.
class Fields {
public:
    Fields(lua_State* L, int index, const char* what, std::set<std::string> known)
        : L_(L), t_(lua_absindex(L, index)), what_(what) {
        ArgTable(L, index, what);
        lua_pushnil(L);
        while (lua_next(L, t_) != 0) {
            lua_pop(L, 1);
            if (lua_type(L, -1) != LUA_TSTRING) {
                lua_pop(L, 1);
                throw ApiError(std::string(what) + ": keys must be names");
            }
            std::string key = lua_tostring(L, -1);
            if (known.count(key) == 0) {
                lua_pop(L, 1);
                throw ApiError(std::string(what) + ": unknown option '" + key + "'");
            }
        }
    }
    // Pushes the field; returns its Lua type.
    int Push(const char* key) const {
        lua_pushstring(L_, key);
        return lua_rawget(L_, t_);
    }
    bool Has(const char* key) const {
        int type = Push(key);
        lua_pop(L_, 1);
        return type != LUA_TNIL;
    }
    std::string Str(const char* key, const std::string& def) const {
        if (Push(key) == LUA_TNIL) {
            lua_pop(L_, 1);
            return def;
        }
        std::string v = Read(key, &ArgStr);
        return v;
    }
    int Int(const char* key, int def) const {
        if (Push(key) == LUA_TNIL) {
            lua_pop(L_, 1);
            return def;
        }
        return Read(key, &ArgInt32);
    }
    bool Bool(const char* key, bool def) const {
        int type = Push(key);
        bool v = type == LUA_TNIL ? def : lua_toboolean(L_, -1) != 0;
        lua_pop(L_, 1);
        return v;
    }
    ObjectId Obj(const char* key) const {
        if (Push(key) == LUA_TNIL) {
            lua_pop(L_, 1);
            return {};
        }
        return Read(key, &ArgObj);
    }
    lua_State* state() const { return L_; }
    int index() const { return t_; }
    std::string Name(const char* key) const { return std::string(what_) + "." + key; }

private:
    // Reads the pushed field with reader, popping it whether or not it throws.
    template <class T>
    T Read(const char* key, T (*reader)(lua_State*, int, const char*)) const {
        std::string name = Name(key);
        try {
            T v = reader(L_, -1, name.c_str());
            lua_pop(L_, 1);
            return v;
        } catch (...) {
            lua_pop(L_, 1);
            throw;
        }
    }

    lua_State* L_;
    int t_;
    const char* what_;
};

std::string ObjText(const ObjectId& id) {
    return "obj#" + std::to_string(id.ident) + ":" + std::to_string(id.serial);
}

// Properties of a props table, read on the scenario side.
std::vector<std::pair<std::string, LuaVal>> ReadProps(const Fields& f) {
    std::vector<std::pair<std::string, LuaVal>> props;
    lua_State* L = f.state();
    int type = f.Push("props");
    if (type == LUA_TNIL) {
        lua_pop(L, 1);
        return props;
    }
    if (type != LUA_TTABLE) {
        lua_pop(L, 1);
        throw ApiError(f.Name("props") + ": table expected");
    }
    int t = lua_gettop(L);
    lua_pushnil(L);
    while (lua_next(L, t) != 0) {
        if (lua_type(L, -2) != LUA_TSTRING) {
            lua_pop(L, 3);
            throw ApiError(f.Name("props") + ": property names must be strings");
        }
        std::string name = lua_tostring(L, -2);
        try {
            props.emplace_back(name, ReadLuaVal(L, -1, ("property " + name).c_str()));
        } catch (...) {
            lua_pop(L, 3);
            throw;
        }
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    // Table order is not defined; writes in name order replay identically.
    std::sort(props.begin(), props.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return props;
}

Value Declared(Kernel& k, int classIndex, const std::string& className, const std::string& name,
               const LuaVal& v) {
    const PropertyDecl* decl = k.FindPropertyDecl(classIndex, name);
    if (decl == nullptr) throw ApiError("class " + className + " has no property " + name);
    return ToDeclared(v, decl->type, "property " + name);
}

void SetProps(Kernel& k, const ObjectId& obj,
              const std::vector<std::pair<std::string, LuaVal>>& props) {
    int cls = k.ClassOf(obj);
    std::string className = k.ClassNameOf(obj);
    for (const auto& [name, v] : props) {
        if (!k.SetValue(obj, name, Declared(k, cls, className, name, v))) {
            throw ApiError("cannot set property " + name + " of " + ObjText(obj));
        }
    }
}

HostVarList BuildList(int id, const std::vector<LuaVal>& rest) {
    HostVarList list;
    list.AddInt(id);
    for (size_t i = 0; i < rest.size(); ++i) {
        list.AddValue(ToUntyped(rest[i], "value " + std::to_string(i + 1)));
    }
    return list;
}

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

// ---- acting ------------------------------------------------------------------

// Lua's own select('#', ...) / select(n, ...), which the scenario function
// of the same name still answers when its first argument is "#" or a number.
int BuiltinSelect(lua_State* L) {
    int n = lua_gettop(L);
    if (lua_type(L, 1) == LUA_TSTRING && std::strcmp(lua_tostring(L, 1), "#") == 0) {
        lua_pushinteger(L, n - 1);
        return 1;
    }
    int64_t i = ArgInt(L, 1, "index");
    if (i < 0) {
        i = n + i;
    } else if (i > n) {
        i = n;
    }
    if (i < 1) throw ApiError("bad argument #1 to 'select' (index out of range)");
    return n - int(i);
}

int ApiSelect(ScenarioRunner& r, lua_State* L) {
    if (lua_type(L, 1) == LUA_TNUMBER || lua_type(L, 1) == LUA_TSTRING) return BuiltinSelect(L);
    ObjectId player = ArgObj(L, 1, "player");
    ObjectId target = ArgObj(L, 2, "target");
    int fn = OptInt32(L, 3, "select function", 1);
    lua_pushinteger(L, r.world().Call([&](Kernel& k) { return k.Select(player, target, fn); }));
    return 1;
}

int ApiCommand(ScenarioRunner& r, lua_State* L) {
    ObjectId from = ArgObj(L, 1, "from");
    ObjectId to = ArgObj(L, 2, "to");
    int id = ArgInt32(L, 3, "command id");
    HostVarList list = BuildList(id, ReadRest(L, 4));
    lua_pushinteger(L, r.world().Call([&](Kernel& k) { return k.Command(from, to, list); }));
    return 1;
}

int ApiCustom(ScenarioRunner& r, lua_State* L) {
    ObjectId from = ArgObj(L, 1, "from");
    ObjectId to = ArgObj(L, 2, "to");
    int id = ArgInt32(L, 3, "message id");
    HostVarList list = BuildList(id, ReadRest(L, 4));
    lua_pushboolean(L, r.world().Call([&](Kernel& k) { return k.Custom(from, to, list); }));
    return 1;
}

int ApiClientMessage(ScenarioRunner& r, lua_State* L) {
    ObjectId player = ArgObj(L, 1, "player");
    int id = ArgInt32(L, 2, "message id");
    HostVarList list = BuildList(id, ReadRest(L, 3));
    lua_pushinteger(L, r.world().Call([&](Kernel& k) { return k.ClientMessage(player, list); }));
    return 1;
}

int ApiRaise(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    std::string event = ArgStr(L, 2, "event");
    ObjectId sender = lua_isnoneornil(L, 3) ? ObjectId{} : ArgObj(L, 3, "sender");
    HostVarList list;
    std::vector<LuaVal> rest = ReadRest(L, 4);
    for (size_t i = 0; i < rest.size(); ++i) {
        list.AddValue(ToUntyped(rest[i], "value " + std::to_string(i + 1)));
    }
    lua_pushinteger(
        L, r.world().Call([&](Kernel& k) { return k.RaiseClassEvent(obj, event, sender, list); }));
    return 1;
}

int ApiLoad(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    lua_pushinteger(L, r.world().Call([&](Kernel& k) { return k.Load(obj); }));
    return 1;
}

int ApiStore(ScenarioRunner& r, lua_State* L) {
    ObjectId p = ArgObj(L, 1, "player");
    int kind = OptInt32(L, 2, "store kind", 0);
    lua_pushinteger(L, r.world().Call([&](Kernel& k) { return k.Store(p, kind); }));
    return 1;
}

int ApiLeave(ScenarioRunner& r, lua_State* L) {
    ObjectId p = ArgObj(L, 1, "player");
    bool keep = OptBool(L, 2, false);
    lua_pushinteger(L, r.world().Call([&](Kernel& k) { return k.Leave(p, keep); }));
    return 1;
}

int FightResult(ScenarioRunner& r, lua_State* L, int commandId) {
    ObjectId p = ArgObj(L, 1, "player");
    bool endFight = OptBool(L, 2, true);
    StandInScripts* standIn = r.world().standIn();
    int answer = r.world().Call([&](Kernel& k) {
        if (standIn != nullptr) {
            return commandId == 1018 ? standIn->FightWon(p, endFight)
                                     : standIn->FightReturned(p, endFight);
        }
        HostVarList list;
        list.AddInt(commandId);
        return k.Command(p, p, list);
    });
    lua_pushinteger(L, answer);
    return 1;
}

int ApiFightWon(ScenarioRunner& r, lua_State* L) {
    return FightResult(r, L, 1018);
}
int ApiFightReturned(ScenarioRunner& r, lua_State* L) {
    return FightResult(r, L, 1019);
}

int ApiSetActivity(ScenarioRunner& r, lua_State* L) {
    std::string module = ArgStr(L, 1, "module");
    int state = ArgInt32(L, 2, "state");
    std::string key;
    if (lua_type(L, 3) == LUA_TNUMBER) {
        key = std::to_string(ArgInt(L, 3, "key"));
    } else {
        key = ArgStr(L, 3, "key");
    }
    IActivityRuleSystem* system = r.world().FindRuleSystem(module);
    if (system == nullptr) throw ApiError("no rule system named " + module);
    lua_pushinteger(
        L, r.world().Call([&](Kernel&) { return system->SetActivityState(nullptr, state, key); }));
    return 1;
}

void Advance(ScenarioRunner& r, int64_t ms) {
    if (ms < 0) throw ApiError("time cannot go backwards");
    r.world().Run([ms](Kernel& k) { k.AdvanceTime(ms); });
}

int ApiAdvance(ScenarioRunner& r, lua_State* L) {
    double seconds = ArgNum(L, 1, "seconds");
    if (!std::isfinite(seconds) || seconds > 1e12) throw ApiError("advance: bad duration");
    Advance(r, std::llround(seconds * 1000.0));
    return 0;
}

int ApiAdvanceMs(ScenarioRunner& r, lua_State* L) {
    Advance(r, ArgInt(L, 1, "milliseconds"));
    return 0;
}

int ApiNowMs(ScenarioRunner& r, lua_State* L) {
    lua_pushinteger(L, r.world().Call([](Kernel& k) { return k.Now(); }));
    return 1;
}

int HookOptions(lua_State* L, int index, bool& keepStandIn) {
    keepStandIn = false;
    if (lua_isnoneornil(L, index)) return kDefaultHookPriority;
    Fields f(L, index, "options", {"priority", "keep_standin"});
    keepStandIn = f.Bool("keep_standin", false);
    return f.Int("priority", kDefaultHookPriority);
}

void ArgFunction(lua_State* L, int index, const char* what) {
    if (!lua_isfunction(L, index)) {
        throw ApiError(ArgName(index, what) + ": function expected, got " +
                       luaL_typename(L, index));
    }
}

int ApiOnCommand(ScenarioRunner& r, lua_State* L) {
    std::string cls = ArgStr(L, 1, "class");
    int id = ArgInt32(L, 2, "command id");
    ArgFunction(L, 3, "handler");
    bool keep = false;
    int priority = HookOptions(L, 4, keep);
    HostHook hook =
        r.MakeHook(L, 3, "on_command(" + cls + ", " + std::to_string(id) + ")", 1, true);
    StandInScripts* standIn = r.world().standIn();
    int handle = r.world().Call([&](Kernel& k) {
        if (!keep && standIn != nullptr) standIn->Disable(id);
        return k.AddHostCommandHook(cls, id, hook, priority, kHookOwner);
    });
    if (handle == 0) throw ApiError("cannot hook command " + std::to_string(id) + " on " + cls);
    lua_pushinteger(L, handle);
    return 1;
}

int ApiOnCustom(ScenarioRunner& r, lua_State* L) {
    int id = ArgInt32(L, 1, "message id");
    ArgFunction(L, 2, "handler");
    bool keep = false;
    int priority = HookOptions(L, 3, keep);
    HostHook hook = r.MakeHook(L, 2, "on_custom(" + std::to_string(id) + ")", 1, true);
    int handle = r.world().Call(
        [&](Kernel& k) { return k.AddHostCustomHook(id, hook, priority, kHookOwner); });
    if (handle == 0) throw ApiError("cannot hook message " + std::to_string(id));
    lua_pushinteger(L, handle);
    return 1;
}

int ApiOnEvent(ScenarioRunner& r, lua_State* L) {
    std::string cls = ArgStr(L, 1, "class");
    std::string event = ArgStr(L, 2, "event");
    ArgFunction(L, 3, "handler");
    bool keep = false;
    int priority = HookOptions(L, 4, keep);
    HostHook hook = r.MakeHook(L, 3, "on_event(" + cls + ", " + event + ")", 1, false);
    int handle = r.world().Call(
        [&](Kernel& k) { return k.AddHostClassCallback(cls, event, hook, priority, kHookOwner); });
    if (handle == 0) throw ApiError("cannot hook " + event + " on " + cls);
    lua_pushinteger(L, handle);
    return 1;
}

int ApiRemoveHook(ScenarioRunner& r, lua_State* L) {
    int handle = ArgInt32(L, 1, "hook");
    lua_pushboolean(L, r.world().Call([&](Kernel& k) { return k.RemoveHook(handle); }));
    return 1;
}

int ApiDisableStandin(ScenarioRunner& r, lua_State* L) {
    int id = ArgInt32(L, 1, "command id");
    StandInScripts* standIn = r.world().standIn();
    bool done = standIn != nullptr && r.world().Call([&](Kernel&) { return standIn->Disable(id); });
    lua_pushboolean(L, done);
    return 1;
}

int ApiRunScript(ScenarioRunner& r, lua_State* L) {
    std::string script = ArgStr(L, 1, "script");
    std::string function = ArgStr(L, 2, "function");
    int count = ArgInt32(L, 3, "result count");
    HostVarList args;
    std::vector<LuaVal> rest = ReadRest(L, 4);
    for (size_t i = 0; i < rest.size(); ++i) {
        args.AddValue(ToUntyped(rest[i], "value " + std::to_string(i + 1)));
    }
    HostVarList results;
    bool ok = r.world().Call([&](Kernel& k) {
        return k.RunScriptFunction(script.c_str(), function.c_str(), args, count, results);
    });
    std::vector<Value> values = ToValues(results);
    if (!lua_checkstack(L, int(values.size()) + 2)) throw ApiError("too many results");
    lua_pushboolean(L, ok);
    for (const Value& v : values) PushValue(L, v);
    return 1 + int(values.size());
}

// ---- reading -----------------------------------------------------------------

int ApiGet(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    std::string name = ArgStr(L, 2, "property");
    Value v;
    bool found = r.world().Call([&](Kernel& k) { return k.GetValue(obj, name, v); });
    if (found) {
        PushValue(L, v);
    } else {
        lua_pushnil(L);
    }
    return 1;
}

int ApiSet(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    std::string name = ArgStr(L, 2, "property");
    std::vector<std::pair<std::string, LuaVal>> props;
    props.emplace_back(name, ReadLuaVal(L, 3, "value"));
    r.world().Run([&](Kernel& k) {
        if (!k.Exists(obj)) throw ApiError(ObjText(obj) + " does not exist");
        SetProps(k, obj, props);
    });
    return 0;
}

int ApiHas(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    std::string name = ArgStr(L, 2, "property");
    lua_pushboolean(L, r.world().Call([&](Kernel& k) { return k.FindAttr(obj, name.c_str()); }));
    return 1;
}

int ApiRecord(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    std::string rec = ArgStr(L, 2, "record");
    std::vector<std::vector<Value>> rows;
    bool found = r.world().Call([&](Kernel& k) { return k.GetRecord(obj, rec, rows); });
    if (!found) {
        lua_pushnil(L);
        return 1;
    }
    lua_createtable(L, int(rows.size()), 0);
    for (size_t i = 0; i < rows.size(); ++i) {
        lua_createtable(L, int(rows[i].size()), 0);
        for (size_t c = 0; c < rows[i].size(); ++c) {
            PushValue(L, rows[i][c]);
            lua_rawseti(L, -2, lua_Integer(c + 1));
        }
        lua_rawseti(L, -2, lua_Integer(i + 1));
    }
    return 1;
}

int ApiRows(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    std::string rec = ArgStr(L, 2, "record");
    lua_pushinteger(L,
                    r.world().Call([&](Kernel& k) { return k.GetRecordRows(obj, rec.c_str()); }));
    return 1;
}

int ApiExists(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    lua_pushboolean(L, r.world().Call([&](Kernel& k) { return k.Exists(obj); }));
    return 1;
}

int ApiConfigOf(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    std::string config = r.world().Call([&](Kernel& k) { return std::string(k.GetConfig(obj)); });
    lua_pushlstring(L, config.data(), config.size());
    return 1;
}

int ApiNumberOf(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    lua_pushinteger(L, r.world().Call([&](Kernel& k) { return k.GetConfigIndex(obj); }));
    return 1;
}

int ApiClassOf(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    std::string name = r.world().Call(
        [&](Kernel& k) { return k.Exists(obj) ? k.ClassNameOf(obj) : std::string(); });
    if (name.empty()) {
        lua_pushnil(L);
    } else {
        lua_pushstring(L, name.c_str());
    }
    return 1;
}

int ApiChild(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "container");
    std::u16string name = Utf8ToUtf16(ArgStr(L, 2, "name"));
    ObjectId child = r.world().Call([&](Kernel& k) { return k.GetChild(obj, name.c_str()); });
    if (child.IsNull()) {
        lua_pushnil(L);
    } else {
        script::PushObjectId(L, child);
    }
    return 1;
}

int ApiHeartbeat(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    std::string name = ArgStr(L, 2, "heartbeat");
    int interval = r.world().Call([&](Kernel& k) { return k.HeartbeatInterval(obj, name); });
    if (interval <= 0) {
        lua_pushnil(L);
    } else {
        lua_pushinteger(L, interval);
    }
    return 1;
}

int ApiHeartbeatDue(ScenarioRunner& r, lua_State* L) {
    ObjectId obj = ArgObj(L, 1, "object");
    std::string name = ArgStr(L, 2, "heartbeat");
    int64_t due = r.world().Call([&](Kernel& k) { return k.HeartbeatDue(obj, name); });
    if (due < 0) {
        lua_pushnil(L);
    } else {
        lua_pushinteger(L, due);
    }
    return 1;
}

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

// ---- the event log -----------------------------------------------------------

struct Expectation {
    EventFilter filter;
    bool hasTargetName = false;
    std::string targetName;  // UTF-8
    bool hasText = false;
    std::string text;  // exact line text (raw bytes)
    bool hasArgs = false;
    std::vector<LuaVal> args;
    bool prefix = false;
    int count = -1;
    bool last = false;
    std::string description;
};

Expectation ReadExpectation(lua_State* L, int index, const char* what, const char* fixedKind) {
    Expectation x;
    if (lua_isnoneornil(L, index)) {
        if (fixedKind != nullptr) {
            ParseEventKind(fixedKind, x.filter.kind);
            x.filter.anyKind = false;
            x.description = fixedKind;
        } else {
            x.description = "any event";
        }
        return x;
    }
    Fields f(L, index, what,
             {"kind", "id", "from", "to", "name", "text", "contains", "since", "target_name",
              "args", "prefix", "count", "last"});
    std::string kind = fixedKind != nullptr ? fixedKind : f.Str("kind", "");
    if (fixedKind != nullptr && f.Has("kind")) {
        throw ApiError(std::string(what) + ": kind is fixed to " + fixedKind);
    }
    if (!kind.empty()) {
        if (!ParseEventKind(kind, x.filter.kind)) {
            throw ApiError(std::string(what) + ": unknown event kind '" + kind +
                           "' (command, command_by_name, command_offline, custom, sysinfo, "
                           "sysinfo_world, property, heartbeat_add, heartbeat_remove, "
                           "class_event, trace, echo, host, note)");
        }
        x.filter.anyKind = false;
    }
    x.description = kind.empty() ? "event" : kind;
    if (f.Has("id")) {
        x.filter.anyId = false;
        x.filter.id = f.Int("id", 0);
        x.description += " id " + std::to_string(x.filter.id);
    }
    if (f.Has("from")) {
        x.filter.anySender = false;
        x.filter.sender = f.Obj("from");
        x.description += " from " + ObjText(x.filter.sender);
    }
    if (f.Has("to")) {
        x.filter.anyTarget = false;
        x.filter.target = f.Obj("to");
        x.description += " to " + ObjText(x.filter.target);
    }
    x.filter.name = f.Str("name", "");
    if (!x.filter.name.empty()) x.description += " name \"" + x.filter.name + "\"";
    if (f.Has("text")) {
        x.hasText = true;
        x.text = f.Str("text", "");
        x.description += " text \"" + x.text + "\"";
    }
    x.filter.contains = f.Str("contains", "");
    if (!x.filter.contains.empty()) x.description += " containing \"" + x.filter.contains + "\"";
    if (f.Has("since")) {
        int type = f.Push("since");
        int ok = 0;
        lua_Integer since = lua_tointegerx(L, -1, &ok);
        lua_pop(L, 1);
        if (type != LUA_TNUMBER || !ok || since < 0) {
            throw ApiError(f.Name("since") + ": a mark() value expected");
        }
        x.filter.fromSeq = uint64_t(since);
    }
    if (f.Has("target_name")) {
        x.hasTargetName = true;
        x.targetName = f.Str("target_name", "");
        x.description += " for \"" + x.targetName + "\"";
    }
    int argsType = f.Push("args");
    if (argsType != LUA_TNIL) {
        if (argsType != LUA_TTABLE) {
            lua_pop(L, 1);
            throw ApiError(f.Name("args") + ": table expected");
        }
        x.hasArgs = true;
        int t = lua_gettop(L);
        lua_Integer n = luaL_len(L, t);
        for (lua_Integer i = 1; i <= n; ++i) {
            lua_rawgeti(L, t, i);
            try {
                x.args.push_back(ReadLuaVal(L, -1, "args entry"));
            } catch (...) {
                lua_pop(L, 2);
                throw;
            }
            lua_pop(L, 1);
        }
    }
    lua_pop(L, 1);
    x.prefix = f.Bool("prefix", false);
    if (f.Has("count")) x.count = f.Int("count", 0);
    x.last = f.Bool("last", false);
    if (x.hasArgs) {
        x.description += " args [";
        for (size_t i = 0; i < x.args.size(); ++i) {
            x.description += (i ? ", " : "") + FormatLuaVal(x.args[i]);
        }
        x.description += x.prefix ? ", ...]" : "]";
    }
    return x;
}

bool ArgsMatch(const Expectation& x, const Event& e) {
    if (x.hasTargetName && Utf16ToUtf8(e.targetName) != x.targetName) return false;
    if (x.hasText && e.text != x.text) return false;
    if (!x.hasArgs) return true;
    std::vector<Value> payload = EventPayload(e);
    if (x.prefix ? payload.size() < x.args.size() : payload.size() != x.args.size()) {
        return false;
    }
    for (size_t i = 0; i < x.args.size(); ++i) {
        if (!Matches(x.args[i], payload[i])) return false;
    }
    return true;
}

struct Found {
    std::vector<Event> matches;
    std::vector<std::string> near;  // same kind and id, for failure messages
};

Found Search(ScenarioRunner& r, const Expectation& x, bool wantNear) {
    return r.world().Call([&](Kernel& k) {
        Found found;
        for (const Event* e : k.log().Find(x.filter)) {
            if (ArgsMatch(x, *e)) found.matches.push_back(*e);
        }
        if (wantNear) {
            EventFilter loose;
            loose.anyKind = x.filter.anyKind;
            loose.kind = x.filter.kind;
            loose.anyId = x.filter.anyId;
            loose.id = x.filter.id;
            loose.fromSeq = x.filter.fromSeq;
            for (const Event* e : k.log().Find(loose)) found.near.push_back(e->ToString());
        }
        return found;
    });
}

std::string Listing(const std::vector<std::string>& lines, const char* title) {
    constexpr size_t kShown = 12;
    if (lines.empty()) return std::string("\n  ") + title + ": none";
    std::string out = std::string("\n  ") + title + ":";
    size_t start = lines.size() > kShown ? lines.size() - kShown : 0;
    if (start > 0) out += "\n    ... " + std::to_string(start) + " earlier";
    for (size_t i = start; i < lines.size(); ++i) out += "\n    " + lines[i];
    return out;
}

int Expect(ScenarioRunner& r, lua_State* L, const char* fixedKind) {
    Expectation x = ReadExpectation(L, 1, "expectation", fixedKind);
    Found found = Search(r, x, true);
    bool ok = x.count >= 0 ? int(found.matches.size()) == x.count : !found.matches.empty();
    if (!ok) {
        std::string msg = "expected " +
                          (x.count >= 0 ? std::to_string(x.count) + " x " : std::string()) +
                          x.description + ", found " + std::to_string(found.matches.size());
        if (!found.matches.empty() && x.count >= 0) {
            std::vector<std::string> lines;
            for (const Event& e : found.matches) lines.push_back(e.ToString());
            msg += Listing(lines, "matching");
        } else {
            msg += Listing(found.near, "events of that kind and id");
        }
        r.Check(L, false, msg);
        lua_pushnil(L);
        return 1;
    }
    r.Check(L, true, "");
    if (found.matches.empty()) {
        lua_pushnil(L);
    } else {
        PushEvent(L, x.last ? found.matches.back() : found.matches.front());
    }
    return 1;
}

int ApiExpectEvent(ScenarioRunner& r, lua_State* L) {
    return Expect(r, L, nullptr);
}
int ApiExpectCommand(ScenarioRunner& r, lua_State* L) {
    return Expect(r, L, "command");
}
int ApiExpectCustom(ScenarioRunner& r, lua_State* L) {
    return Expect(r, L, "custom");
}

int ExpectNone(ScenarioRunner& r, lua_State* L, const char* fixedKind) {
    Expectation x = ReadExpectation(L, 1, "expectation", fixedKind);
    Found found = Search(r, x, false);
    if (found.matches.empty()) {
        lua_pushboolean(L, r.Check(L, true, ""));
        return 1;
    }
    std::vector<std::string> lines;
    for (const Event& e : found.matches) lines.push_back(e.ToString());
    lua_pushboolean(L, r.Check(L, false,
                               "expected no " + x.description + ", found " +
                                   std::to_string(lines.size()) + Listing(lines, "matching")));
    return 1;
}

int ApiExpectNoEvent(ScenarioRunner& r, lua_State* L) {
    return ExpectNone(r, L, nullptr);
}
int ApiExpectNoCommand(ScenarioRunner& r, lua_State* L) {
    return ExpectNone(r, L, "command");
}

int ApiEvents(ScenarioRunner& r, lua_State* L) {
    Expectation x = ReadExpectation(L, 1, "filter", nullptr);
    Found found = Search(r, x, false);
    lua_createtable(L, int(found.matches.size()), 0);
    for (size_t i = 0; i < found.matches.size(); ++i) {
        PushEvent(L, found.matches[i]);
        lua_rawseti(L, -2, lua_Integer(i + 1));
    }
    return 1;
}

int ApiCountEvents(ScenarioRunner& r, lua_State* L) {
    Expectation x = ReadExpectation(L, 1, "filter", nullptr);
    lua_pushinteger(L, lua_Integer(Search(r, x, false).matches.size()));
    return 1;
}

int ApiMark(ScenarioRunner& r, lua_State* L) {
    lua_pushinteger(L, lua_Integer(r.world().Call([](Kernel& k) { return k.log().NextSeq(); })));
    return 1;
}

int ApiDumpEvents(ScenarioRunner& r, lua_State* L) {
    Expectation x = ReadExpectation(L, 1, "filter", nullptr);
    for (const Event& e : Search(r, x, false).matches) r.Say(e.ToString());
    return 0;
}

// ---- checks and helpers ------------------------------------------------------

int ApiCheck(ScenarioRunner& r, lua_State* L) {
    bool ok = lua_toboolean(L, 1) != 0;
    std::string msg = lua_type(L, 2) == LUA_TSTRING ? lua_tostring(L, 2) : "check failed";
    lua_pushboolean(L, r.Check(L, ok, msg));
    return 1;
}

int ApiFail(ScenarioRunner& r, lua_State* L) {
    std::string msg = lua_type(L, 1) == LUA_TSTRING ? lua_tostring(L, 1) : "failed";
    r.Check(L, false, msg);
    return 0;
}

int ApiSayRaw(ScenarioRunner& r, lua_State* L) {
    r.Say(ArgStr(L, 1, "text"));
    return 0;
}

int ApiGbk(ScenarioRunner&, lua_State* L) {
    std::string s = Utf8ToGbk(ArgStr(L, 1, "text"));
    lua_pushlstring(L, s.data(), s.size());
    return 1;
}

int ApiUtf8(ScenarioRunner&, lua_State* L) {
    std::string s = GbkToUtf8(ArgStr(L, 1, "text"));
    lua_pushlstring(L, s.data(), s.size());
    return 1;
}

// wide("text"), i64(n), float(n): values with a type the plain Lua value
// would not give.
int MakeWrapper(lua_State* L, const char* meta) {
    lua_createtable(L, 1, 0);
    lua_pushvalue(L, 1);
    lua_rawseti(L, -2, 1);
    luaL_setmetatable(L, meta);
    return 1;
}

int ApiWide(ScenarioRunner&, lua_State* L) {
    ArgStr(L, 1, "text");
    return MakeWrapper(L, kWideMeta);
}

int ApiI64(ScenarioRunner&, lua_State* L) {
    ArgInt(L, 1, "integer");
    return MakeWrapper(L, kI64Meta);
}

int ApiFloat(ScenarioRunner&, lua_State* L) {
    ArgNum(L, 1, "number");
    return MakeWrapper(L, kFloatMeta);
}

// Kind of a wrapper ("wide", "i64", "float") or nil; used by the Lua helpers.
int ApiWrapperKind(ScenarioRunner&, lua_State* L) {
    if (lua_istable(L, 1) && lua_getmetatable(L, 1)) {
        for (auto [meta, name] :
             {std::make_pair(kWideMeta, "wide"), std::make_pair(kI64Meta, "i64"),
              std::make_pair(kFloatMeta, "float")}) {
            luaL_getmetatable(L, meta);
            bool same = lua_rawequal(L, -1, -2);
            lua_pop(L, 1);
            if (same) {
                lua_pushstring(L, name);
                return 1;
            }
        }
    }
    lua_pushnil(L);
    return 1;
}

int WrapperToString(lua_State* L) {
    const char* kind = "?";
    if (lua_getmetatable(L, 1)) {
        lua_getfield(L, -1, "__name");
        if (lua_isstring(L, -1)) kind = lua_tostring(L, -1) + std::strlen("scenario.");
    }
    lua_rawgeti(L, 1, 1);
    const char* inner = luaL_tolstring(L, -1, nullptr);
    lua_pushfstring(L, lua_type(L, -2) == LUA_TSTRING ? "%s(\"%s\")" : "%s(%s)", kind, inner);
    return 1;
}

// Helpers written in Lua: deep comparison and readable values.
constexpr const char* kPrelude = R"lua(
local __check, __say, __wrapper_kind = __check, __say, __wrapper_kind
local ANY = ANY

local function describe(v, depth)
  depth = depth or 0
  if rawequal(v, ANY) then return "*" end
  if type(v) == "string" then return string.format("%q", v) end
  if type(v) ~= "table" then return tostring(v) end
  if __wrapper_kind(v) then return tostring(v) end
  if depth > 4 then return "{...}" end
  local parts, n = {}, #v
  for i = 1, n do parts[#parts + 1] = describe(v[i], depth + 1) end
  local keys = {}
  for k in pairs(v) do
    if not (math.type(k) == "integer" and k >= 1 and k <= n) then keys[#keys + 1] = k end
  end
  table.sort(keys, function(a, b) return tostring(a) < tostring(b) end)
  for _, k in ipairs(keys) do
    local name = type(k) == "string" and k or ("[" .. describe(k, depth + 1) .. "]")
    parts[#parts + 1] = name .. "=" .. describe(v[k], depth + 1)
  end
  return "{" .. table.concat(parts, ", ") .. "}"
end

local function as_float32(x)
  return (string.unpack("f", string.pack("f", x)))
end

local function unwrap(v)
  if type(v) == "table" and __wrapper_kind(v) then return v[1] end
  return v
end

local function same(actual, expected)
  if rawequal(expected, ANY) then return true end
  actual, expected = unwrap(actual), unwrap(expected)
  if actual == expected then return true end
  if type(actual) == "number" and type(expected) == "number" and
     (math.type(actual) == "float" or math.type(expected) == "float") then
    -- Host floats are 32-bit: compare at that precision.
    return as_float32(actual) == as_float32(expected)
  end
  if type(actual) ~= "table" or type(expected) ~= "table" then return false end
  for k, v in pairs(expected) do
    if not same(actual[k], v) then return false end
  end
  for k in pairs(actual) do
    if expected[k] == nil then return false end
  end
  return true
end

local builtin_load, load_object = __builtin_load, load
__builtin_load = nil
-- load(obj) raises "OnLoad"; load(text or function, ...) is Lua's own load.
function load(what, ...)
  if type(what) == "string" or type(what) == "function" then return builtin_load(what, ...) end
  return load_object(what, ...)
end

function describe_value(v) return describe(v) end
function same_value(actual, expected) return same(actual, expected) end

function check_eq(actual, expected, msg)
  if same(actual, expected) then return __check(true) end
  return __check(false, (msg and (tostring(msg) .. ": ") or "") .. "expected " ..
                 describe(expected) .. ", got " .. describe(actual))
end

function check_ne(actual, unexpected, msg)
  if not same(actual, unexpected) then return __check(true) end
  return __check(false, (msg and (tostring(msg) .. ": ") or "") .. "expected anything but " ..
                 describe(unexpected))
end

function check_near(actual, expected, tolerance, msg)
  tolerance = tolerance or 1e-6
  if type(actual) == "number" and math.abs(actual - expected) <= tolerance then
    return __check(true)
  end
  return __check(false, (msg and (tostring(msg) .. ": ") or "") .. "expected " ..
                 describe(expected) .. " within " .. tostring(tolerance) .. ", got " ..
                 describe(actual))
end

function say(...)
  local parts = {}
  for i = 1, select("#", ...) do
    local v = select(i, ...)
    parts[i] = type(v) == "table" and describe(v) or tostring(v)
  end
  __say(table.concat(parts, " "))
end
)lua";

struct ApiEntry {
    const char* name;
    lua_CFunction fn;
};

const ApiEntry kApi[] = {
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
    {"select", Entry<ApiSelect>},
    {"command", Entry<ApiCommand>},
    {"custom", Entry<ApiCustom>},
    {"client_message", Entry<ApiClientMessage>},
    {"raise", Entry<ApiRaise>},
    {"load", Entry<ApiLoad>},
    {"store", Entry<ApiStore>},
    {"leave", Entry<ApiLeave>},
    {"fight_won", Entry<ApiFightWon>},
    {"fight_returned", Entry<ApiFightReturned>},
    {"set_activity", Entry<ApiSetActivity>},
    {"advance", Entry<ApiAdvance>},
    {"advance_ms", Entry<ApiAdvanceMs>},
    {"now_ms", Entry<ApiNowMs>},
    {"on_command", Entry<ApiOnCommand>},
    {"on_custom", Entry<ApiOnCustom>},
    {"on_event", Entry<ApiOnEvent>},
    {"remove_hook", Entry<ApiRemoveHook>},
    {"disable_standin", Entry<ApiDisableStandin>},
    {"run_script", Entry<ApiRunScript>},
    {"get", Entry<ApiGet>},
    {"set", Entry<ApiSet>},
    {"has", Entry<ApiHas>},
    {"record", Entry<ApiRecord>},
    {"rows", Entry<ApiRows>},
    {"exists", Entry<ApiExists>},
    {"config_of", Entry<ApiConfigOf>},
    {"number_of", Entry<ApiNumberOf>},
    {"class_of", Entry<ApiClassOf>},
    {"child", Entry<ApiChild>},
    {"heartbeat", Entry<ApiHeartbeat>},
    {"heartbeat_due", Entry<ApiHeartbeatDue>},
    {"add_row", Entry<ApiAddRow>},
    {"remove_row", Entry<ApiRemoveRow>},
    {"flag", Entry<ApiFlag>},
    {"join_fight", Entry<ApiJoinFight>},
    {"events", Entry<ApiEvents>},
    {"count_events", Entry<ApiCountEvents>},
    {"mark", Entry<ApiMark>},
    {"dump_events", Entry<ApiDumpEvents>},
    {"expect_event", Entry<ApiExpectEvent>},
    {"expect_command", Entry<ApiExpectCommand>},
    {"expect_custom", Entry<ApiExpectCustom>},
    {"expect_no_event", Entry<ApiExpectNoEvent>},
    {"expect_no_command", Entry<ApiExpectNoCommand>},
    {"check", Entry<ApiCheck>},
    {"fail", Entry<ApiFail>},
    {"gbk", Entry<ApiGbk>},
    {"utf8_of_gbk", Entry<ApiUtf8>},
    {"wide", Entry<ApiWide>},
    {"i64", Entry<ApiI64>},
    {"float", Entry<ApiFloat>},
    {"__check", Entry<ApiCheck>},
    {"__say", Entry<ApiSayRaw>},
    {"__wrapper_kind", Entry<ApiWrapperKind>},
};

}  // namespace

void RegisterScenarioApi(lua_State* L) {
    for (const char* meta : {kWideMeta, kI64Meta, kFloatMeta}) {
        luaL_newmetatable(L, meta);
        lua_pushcfunction(L, WrapperToString);
        lua_setfield(L, -2, "__tostring");
        lua_pop(L, 1);
    }
    luaL_newmetatable(L, kAnyMeta);
    lua_pushstring(L, "*");
    lua_pushcclosure(
        L,
        [](lua_State* S) -> int {
            lua_pushvalue(S, lua_upvalueindex(1));
            return 1;
        },
        1);
    lua_setfield(L, -2, "__tostring");
    lua_pop(L, 1);
    lua_newtable(L);
    luaL_setmetatable(L, kAnyMeta);
    lua_setglobal(L, "ANY");

    // Lua's own load stays reachable: the scenario load wraps it (prelude).
    lua_getglobal(L, "load");
    lua_setglobal(L, "__builtin_load");
    for (const ApiEntry& e : kApi) {
        lua_pushcfunction(L, e.fn);
        lua_setglobal(L, e.name);
    }
    if (luaL_loadbufferx(L, kPrelude, std::strlen(kPrelude), "=scenario", "t") != LUA_OK ||
        lua_pcall(L, 0, 0, 0) != LUA_OK) {
        // A broken prelude is a build fault; report it where it will be seen.
        std::fprintf(stderr, "scenario prelude: %s\n", lua_tostring(L, -1));
        lua_pop(L, 1);
    }
}

}  // namespace host
