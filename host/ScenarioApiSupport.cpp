// Argument readers and property conversion shared by the scenario API's
// sections (declared in ScenarioApiSupport.h).
#include "ScenarioApiSupport.h"

#include <algorithm>
#include <string>
#include <vector>

#include "ScriptEngine.h"

namespace host {
namespace scenario_api {

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

}  // namespace scenario_api
}  // namespace host
