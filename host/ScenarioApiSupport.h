// Shared by the sections of the scenario API (ScenarioApi*.cpp): the Lua
// entry wrapper, argument readers, option tables and property conversion.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ScenarioApi.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace host {
namespace scenario_api {

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

std::string ArgName(int index, const char* what);
ObjectId ArgObj(lua_State* L, int index, const char* what);
int64_t ArgInt(lua_State* L, int index, const char* what);
int ArgInt32(lua_State* L, int index, const char* what);
int OptInt32(lua_State* L, int index, const char* what, int def);
double ArgNum(lua_State* L, int index, const char* what);
std::string ArgStr(lua_State* L, int index, const char* what);
bool OptBool(lua_State* L, int index, bool def);
void ArgTable(lua_State* L, int index, const char* what);
std::vector<LuaVal> ReadRest(lua_State* L, int from);

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

std::string ObjText(const ObjectId& id);
// Properties of a props table, read on the scenario side.
std::vector<std::pair<std::string, LuaVal>> ReadProps(const Fields& f);
Value Declared(Kernel& k, int classIndex, const std::string& className, const std::string& name,
               const LuaVal& v);
void SetProps(Kernel& k, const ObjectId& obj,
              const std::vector<std::pair<std::string, LuaVal>>& props);
HostVarList BuildList(int id, const std::vector<LuaVal>& rest);

// ---- registration --------------------------------------------------------------

struct ApiEntry {
    const char* name;
    lua_CFunction fn;
};

// Sets each entry as a global function.
template <size_t N>
void SetGlobals(lua_State* L, const ApiEntry (&entries)[N]) {
    for (const ApiEntry& e : entries) {
        lua_pushcfunction(L, e.fn);
        lua_setglobal(L, e.name);
    }
}

// One per section, each in the file of its name.
void RegisterWorldApi(lua_State* L);
void RegisterActingApi(lua_State* L);
void RegisterReadingApi(lua_State* L);
void RegisterEventsApi(lua_State* L);
void RegisterChecksApi(lua_State* L);
// Metatables of the value wrappers and ANY (before the functions), and the
// helpers written in Lua (after them); ScenarioApiChecks.cpp.
void RegisterValueWrappers(lua_State* L);
void RunPrelude(lua_State* L);

}  // namespace scenario_api
}  // namespace host
