// The scenario functions that read the world: properties, records,
// objects, children and heartbeats.
#include <string>
#include <vector>

#include "Gbk.h"
#include "ScenarioApiSupport.h"
#include "ScriptEngine.h"
#include "World.h"

namespace host {
namespace scenario_api {

namespace {

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

const ApiEntry kReadingApi[] = {
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
};

}  // namespace

void RegisterReadingApi(lua_State* L) {
    SetGlobals(L, kReadingApi);
}

}  // namespace scenario_api
}  // namespace host
