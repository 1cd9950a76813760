// The scenario's checks and helpers: check, fail, say, text conversion, the
// value wrappers wide(), i64(), float() and ANY, and the Lua prelude.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "Gbk.h"
#include "ScenarioApiSupport.h"

namespace host {
namespace scenario_api {

namespace {

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

const ApiEntry kChecksApi[] = {
    {"check", Entry<ApiCheck>},  {"fail", Entry<ApiFail>},
    {"gbk", Entry<ApiGbk>},      {"utf8_of_gbk", Entry<ApiUtf8>},
    {"wide", Entry<ApiWide>},    {"i64", Entry<ApiI64>},
    {"float", Entry<ApiFloat>},  {"__check", Entry<ApiCheck>},
    {"__say", Entry<ApiSayRaw>}, {"__wrapper_kind", Entry<ApiWrapperKind>},
};

}  // namespace

void RegisterChecksApi(lua_State* L) {
    SetGlobals(L, kChecksApi);
}

// Metatables of wide(), i64(), float() and the ANY value.
void RegisterValueWrappers(lua_State* L) {
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
}

void RunPrelude(lua_State* L) {
    if (luaL_loadbufferx(L, kPrelude, std::strlen(kPrelude), "=scenario", "t") != LUA_OK ||
        lua_pcall(L, 0, 0, 0) != LUA_OK) {
        // A broken prelude is a build fault; report it where it will be seen.
        std::fprintf(stderr, "scenario prelude: %s\n", lua_tostring(L, -1));
        lua_pop(L, 1);
    }
}

}  // namespace scenario_api
}  // namespace host
