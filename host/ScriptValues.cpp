// Lua values of the host: the ObjectId userdata type, wide texts, the
// traceback handler and lists pushed as call arguments.
#include <climits>
#include <cstring>
#include <string>

#include "HostVarList.h"
#include "ScriptEngine.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace host {

namespace script {

namespace {

constexpr const char* kObjectIdMeta = "host.ObjectId";
// The same metatable, also kept under this address in the registry: pushing
// it by a light key is much cheaper than the lookup by name, and ids are
// pushed and read on every script call.
const char kObjectIdKey = 0;

int ObjectIdToString(lua_State* L) {
    ObjectId id;
    ToObjectId(L, 1, id);
    lua_pushfstring(L, "obj#%I:%I", static_cast<lua_Integer>(id.ident),
                    static_cast<lua_Integer>(id.serial));
    return 1;
}

int ObjectIdEq(lua_State* L) {
    ObjectId a, b;
    lua_pushboolean(L, ToObjectId(L, 1, a) && ToObjectId(L, 2, b) && a == b);
    return 1;
}

int ObjectIdIsNull(lua_State* L) {
    ObjectId id;
    if (!ToObjectId(L, 1, id)) return luaL_error(L, "is_null expects an object id");
    lua_pushboolean(L, id.IsNull());
    return 1;
}

int ObjectIdIndex(lua_State* L) {
    ObjectId id;
    ToObjectId(L, 1, id);
    const char* key = lua_tostring(L, 2);
    if (key == nullptr) return 0;
    if (std::strcmp(key, "ident") == 0) {
        lua_pushinteger(L, id.ident);
    } else if (std::strcmp(key, "serial") == 0) {
        lua_pushinteger(L, id.serial);
    } else if (std::strcmp(key, "is_null") == 0) {
        lua_pushcfunction(L, ObjectIdIsNull);
    } else {
        return 0;
    }
    return 1;
}

}  // namespace

void RegisterObjectIdType(lua_State* L) {
    if (luaL_newmetatable(L, kObjectIdMeta)) {
        lua_pushcfunction(L, ObjectIdToString);
        lua_setfield(L, -2, "__tostring");
        lua_pushcfunction(L, ObjectIdEq);
        lua_setfield(L, -2, "__eq");
        lua_pushcfunction(L, ObjectIdIndex);
        lua_setfield(L, -2, "__index");
        lua_pushboolean(L, 0);
        lua_setfield(L, -2, "__metatable");  // scripts cannot swap it
        lua_pushvalue(L, -1);
        lua_rawsetp(L, LUA_REGISTRYINDEX, &kObjectIdKey);
        // The metatable marks itself: a light key no script can make, found
        // in this small table faster than in the registry.
        lua_pushboolean(L, 1);
        lua_rawsetp(L, -2, &kObjectIdKey);
    }
    lua_pop(L, 1);
}

void PushObjectIdMetatable(lua_State* L) {
    lua_rawgetp(L, LUA_REGISTRYINDEX, &kObjectIdKey);
}

void PushObjectId(lua_State* L, const ObjectId& id) {
    auto* p = static_cast<ObjectId*>(lua_newuserdatauv(L, sizeof(ObjectId), 0));
    *p = id;
    lua_rawgetp(L, LUA_REGISTRYINDEX, &kObjectIdKey);
    lua_setmetatable(L, -2);
}

bool ToObjectId(lua_State* L, int index, ObjectId& id) {
    // A full userdata whose metatable carries the mark: only
    // RegisterObjectIdType's metatable does, so this is what luaL_testudata
    // would check, without looking the metatable up.
    if (lua_type(L, index) != LUA_TUSERDATA) return false;
    auto* p = static_cast<ObjectId*>(lua_touserdata(L, index));
    if (p == nullptr || !lua_getmetatable(L, index)) return false;
    const bool same = lua_rawgetp(L, -1, &kObjectIdKey) == LUA_TBOOLEAN;
    lua_pop(L, 2);
    if (!same) return false;
    id = *p;
    return true;
}

std::string WideToUtf8(const char16_t* text) {
    return Utf16ToUtf8(text);
}

std::u16string Utf8ToWide(const std::string& text) {
    return Utf8ToUtf16(text);
}

int Traceback(lua_State* L) {
    const char* msg = lua_tostring(L, 1);
    if (msg == nullptr) {
        if (luaL_callmeta(L, 1, "__tostring") && lua_type(L, -1) == LUA_TSTRING) {
            msg = lua_tostring(L, -1);
        } else {
            msg = lua_pushfstring(L, "(error object is a %s value)", luaL_typename(L, 1));
        }
    }
    luaL_traceback(L, L, msg, 1);
    return 1;
}

int PushVarList(lua_State* L, const IVarList& list) {
    return PushValues(L, list, 0);
}

int PushValues(lua_State* L, const IVarList& list, int objectMetaIndex) {
    uint64_t count = list.GetCount();
    if (count > static_cast<uint64_t>(INT_MAX - 16) || !lua_checkstack(L, int(count) + 4)) {
        return -1;
    }
    for (uint64_t i = 0; i < count; ++i) {
        switch (list.GetType(i)) {
            case VTYPE_INT:
                lua_pushinteger(L, list.IntVal(i));
                break;
            case VTYPE_INT64:
                lua_pushinteger(L, list.Int64Val(i));
                break;
            case VTYPE_FLOAT:
                lua_pushnumber(L, list.FloatVal(i));
                break;
            case VTYPE_STRING:
                lua_pushstring(L, list.StringVal(i));
                break;
            case VTYPE_WIDESTR: {
                std::string s = WideToUtf8(list.WideStrVal(i));
                lua_pushlstring(L, s.data(), s.size());
                break;
            }
            case VTYPE_OBJECT:
                if (objectMetaIndex == 0) {
                    PushObjectId(L, list.ObjectVal(i));
                } else {
                    auto* p = static_cast<ObjectId*>(lua_newuserdatauv(L, sizeof(ObjectId), 0));
                    *p = list.ObjectVal(i);
                    lua_pushvalue(L, objectMetaIndex);
                    lua_setmetatable(L, -2);
                }
                break;
            case VTYPE_USERDATA: {
                uint64_t size = 0;
                const void* data = list.UserDataVal(i, size);
                lua_pushlstring(L, static_cast<const char*>(data), data ? size_t(size) : 0);
                break;
            }
            default:
                lua_pushnil(L);
                break;
        }
    }
    return int(count);
}

}  // namespace script

}  // namespace host
