// The scenario functions that act on the world: select, commands, messages,
// class events, fight results, the clock, hooks and script calls.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "ScenarioApiSupport.h"
#include "ScriptEngine.h"
#include "StandInScripts.h"
#include "World.h"

namespace host {
namespace scenario_api {

namespace {

// Owner and default priority of the hooks a scenario installs.
constexpr const char* kHookOwner = "scenario";
constexpr int kDefaultHookPriority = 50;

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

const ApiEntry kActingApi[] = {
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
};

}  // namespace

void RegisterActingApi(lua_State* L) {
    SetGlobals(L, kActingApi);
}

}  // namespace scenario_api
}  // namespace host
