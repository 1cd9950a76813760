// The scenario runner: setup, the world it starts, the run and its summary.
#include "Scenario.h"

#include <cinttypes>
#include <cmath>
#include <cstring>
#include <exception>
#include <thread>
#include <utility>

#include "Gbk.h"
#include "InstallLayout.h"
#include "ScenarioApi.h"
#include "ScriptEngine.h"
#include "World.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace host {

namespace {

bool HasMeta(lua_State* L, int index, const char* meta) {
    if (!lua_getmetatable(L, index)) return false;
    luaL_getmetatable(L, meta);
    bool same = lua_rawequal(L, -1, -2);
    lua_pop(L, 2);
    return same;
}

// Value at [1] of a wrapper table, pushed.
void PushWrapped(lua_State* L, int index) {
    lua_rawgeti(L, index, 1);
}

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

bool IsIdPrefixed(const Event& e) {
    return e.kind == EventKind::Command || e.kind == EventKind::CommandByName ||
           e.kind == EventKind::CommandOffline || e.kind == EventKind::Custom;
}

std::string DirectoryOf(const std::string& file) {
    size_t slash = file.find_last_of('/');
    if (slash == std::string::npos) return "./";
    return file.substr(0, slash + 1);
}

}  // namespace

// ---- values ------------------------------------------------------------------

LuaVal ReadLuaVal(lua_State* L, int index, const char* what) {
    LuaVal v;
    switch (lua_type(L, index)) {
        case LUA_TNIL:
        case LUA_TNONE:
            v.kind = LuaVal::Nil;
            return v;
        case LUA_TBOOLEAN:
            v.kind = LuaVal::Bool;
            v.b = lua_toboolean(L, index) != 0;
            return v;
        case LUA_TNUMBER:
            if (lua_isinteger(L, index)) {
                v.kind = LuaVal::Int;
                v.i = lua_tointeger(L, index);
            } else {
                v.kind = LuaVal::Num;
                v.d = lua_tonumber(L, index);
            }
            return v;
        case LUA_TSTRING: {
            size_t len = 0;
            const char* s = lua_tolstring(L, index, &len);
            v.kind = LuaVal::Str;
            v.s.assign(s, len);
            return v;
        }
        case LUA_TUSERDATA:
            if (script::ToObjectId(L, index, v.id)) {
                v.kind = LuaVal::Obj;
                return v;
            }
            break;
        case LUA_TTABLE: {
            int abs = lua_absindex(L, index);
            if (HasMeta(L, abs, kAnyMeta)) {
                v.kind = LuaVal::Any;
                return v;
            }
            LuaVal::Kind kind = HasMeta(L, abs, kWideMeta)    ? LuaVal::Wide
                                : HasMeta(L, abs, kI64Meta)   ? LuaVal::I64
                                : HasMeta(L, abs, kFloatMeta) ? LuaVal::Float
                                                              : LuaVal::Nil;
            if (kind == LuaVal::Nil) break;
            PushWrapped(L, abs);
            LuaVal inner = ReadLuaVal(L, -1, what);
            lua_pop(L, 1);
            v.kind = kind;
            v.s = inner.s;
            v.i = inner.kind == LuaVal::Num ? int64_t(inner.d) : inner.i;
            v.d = inner.kind == LuaVal::Int ? double(inner.i) : inner.d;
            return v;
        }
        default:
            break;
    }
    throw ApiError(std::string(what) + ": a " + luaL_typename(L, index) +
                   " cannot be passed to the host");
}

namespace {

bool FitsInt32(int64_t i) {
    return i >= INT32_MIN && i <= INT32_MAX;
}

[[noreturn]] void Mismatch(const LuaVal& v, int type, const std::string& what) {
    throw ApiError(what + ": " + FormatLuaVal(v) + " does not fit a " + TypeName(type) + " value");
}

}  // namespace

Value ToDeclared(const LuaVal& v, int type, const std::string& what) {
    switch (type) {
        case VTYPE_BOOL:
            if (v.kind == LuaVal::Bool) return v.b;
            if (v.kind == LuaVal::Int && (v.i == 0 || v.i == 1)) return v.i == 1;
            break;
        case VTYPE_INT:
            if (v.kind == LuaVal::Bool) return int32_t(v.b ? 1 : 0);
            if ((v.kind == LuaVal::Int || v.kind == LuaVal::I64) && FitsInt32(v.i)) {
                return int32_t(v.i);
            }
            if (v.kind == LuaVal::Num && std::floor(v.d) == v.d && v.d >= INT32_MIN &&
                v.d <= INT32_MAX) {
                return int32_t(v.d);
            }
            break;
        case VTYPE_INT64:
            if (v.kind == LuaVal::Int || v.kind == LuaVal::I64) return int64_t(v.i);
            break;
        case VTYPE_FLOAT:
            if (v.kind == LuaVal::Int) return float(v.i);
            if (v.kind == LuaVal::Num || v.kind == LuaVal::Float) return float(v.d);
            break;
        case VTYPE_STRING:
            if (v.kind == LuaVal::Str) return v.s;
            break;
        case VTYPE_WIDESTR:
            if (v.kind == LuaVal::Str || v.kind == LuaVal::Wide) return Utf8ToUtf16(v.s);
            break;
        case VTYPE_OBJECT:
            if (v.kind == LuaVal::Obj) return v.id;
            break;
        case VTYPE_USERDATA:
            if (v.kind == LuaVal::Str) return std::vector<uint8_t>(v.s.begin(), v.s.end());
            break;
        default:
            throw ApiError(what + ": declared with unknown type " + std::to_string(type));
    }
    Mismatch(v, type, what);
}

Value ToUntyped(const LuaVal& v, const std::string& what) {
    switch (v.kind) {
        case LuaVal::Bool:
            return int32_t(v.b ? 1 : 0);
        case LuaVal::Int:
            if (FitsInt32(v.i)) return int32_t(v.i);
            return int64_t(v.i);
        case LuaVal::I64:
            return int64_t(v.i);
        case LuaVal::Num:
        case LuaVal::Float:
            return float(v.d);
        case LuaVal::Str:
            return v.s;
        case LuaVal::Wide:
            return Utf8ToUtf16(v.s);
        case LuaVal::Obj:
            return v.id;
        case LuaVal::Nil:
        case LuaVal::Any:
            break;
    }
    throw ApiError(what + ": " + FormatLuaVal(v) + " cannot be sent");
}

bool Matches(const LuaVal& e, const Value& a) {
    switch (e.kind) {
        case LuaVal::Any:
            return true;
        case LuaVal::Nil:
            return TypeOf(a) == VTYPE_NONE;
        case LuaVal::Bool:
            if (auto* b = std::get_if<bool>(&a)) return *b == e.b;
            if (auto* i = std::get_if<int32_t>(&a)) return *i == (e.b ? 1 : 0);
            return false;
        case LuaVal::Int:
        case LuaVal::I64:
            if (auto* i = std::get_if<int32_t>(&a)) return *i == e.i;
            if (auto* l = std::get_if<int64_t>(&a)) return *l == e.i;
            if (auto* f = std::get_if<float>(&a)) return double(*f) == double(e.i);
            return false;
        case LuaVal::Num:
        case LuaVal::Float:
            if (auto* f = std::get_if<float>(&a)) return *f == float(e.d);
            if (auto* i = std::get_if<int32_t>(&a)) return double(*i) == e.d;
            return false;
        case LuaVal::Str:
        case LuaVal::Wide:
            if (auto* s = std::get_if<std::string>(&a)) return *s == e.s;
            if (auto* w = std::get_if<std::u16string>(&a)) return Utf16ToUtf8(*w) == e.s;
            return false;
        case LuaVal::Obj:
            if (auto* id = std::get_if<ObjectId>(&a)) return *id == e.id;
            return false;
    }
    return false;
}

std::string FormatLuaVal(const LuaVal& v) {
    char buf[64];
    switch (v.kind) {
        case LuaVal::Nil:
            return "nil";
        case LuaVal::Any:
            return "*";
        case LuaVal::Bool:
            return v.b ? "true" : "false";
        case LuaVal::Int:
            return std::to_string(v.i);
        case LuaVal::I64:
            return std::to_string(v.i) + "L";
        case LuaVal::Num:
        case LuaVal::Float:
            std::snprintf(buf, sizeof buf, "%.9g", v.d);
            return buf;
        case LuaVal::Str:
            return Quote(v.s);
        case LuaVal::Wide:
            return "u" + Quote(v.s);
        case LuaVal::Obj:
            std::snprintf(buf, sizeof buf, "obj#%" PRIu32 ":%" PRIu32, v.id.ident, v.id.serial);
            return buf;
    }
    return "?";
}

void PushValue(lua_State* L, const Value& v) {
    switch (TypeOf(v)) {
        case VTYPE_BOOL:
            lua_pushboolean(L, std::get<bool>(v));
            break;
        case VTYPE_INT:
            lua_pushinteger(L, std::get<int32_t>(v));
            break;
        case VTYPE_FLOAT:
            lua_pushnumber(L, std::get<float>(v));
            break;
        case VTYPE_STRING: {
            const std::string& s = std::get<std::string>(v);
            lua_pushlstring(L, s.data(), s.size());
            break;
        }
        case VTYPE_WIDESTR: {
            std::string s = Utf16ToUtf8(std::get<std::u16string>(v));
            lua_pushlstring(L, s.data(), s.size());
            break;
        }
        case VTYPE_OBJECT:
            script::PushObjectId(L, std::get<ObjectId>(v));
            break;
        case VTYPE_USERDATA: {
            const auto& bytes = std::get<std::vector<uint8_t>>(v);
            lua_pushlstring(L, reinterpret_cast<const char*>(bytes.data()), bytes.size());
            break;
        }
        case VTYPE_INT64:
            lua_pushinteger(L, std::get<int64_t>(v));
            break;
        default:
            lua_pushnil(L);
            break;
    }
}

std::vector<Value> EventPayload(const Event& e) {
    std::vector<Value> values = ToValues(e.args);
    if (IsIdPrefixed(e) && !values.empty()) {
        const auto* first = std::get_if<int32_t>(&values.front());
        if (first != nullptr && *first == e.id) values.erase(values.begin());
    }
    return values;
}

void PushEvent(lua_State* L, const Event& e) {
    lua_createtable(L, 0, 14);
    lua_pushinteger(L, lua_Integer(e.seq));
    lua_setfield(L, -2, "seq");
    lua_pushinteger(L, e.timeMs);
    lua_setfield(L, -2, "time_ms");
    lua_pushstring(L, EventKindName(e.kind));
    lua_setfield(L, -2, "kind");
    script::PushObjectId(L, e.sender);
    lua_setfield(L, -2, "from");
    script::PushObjectId(L, e.target);
    lua_setfield(L, -2, "to");
    std::string targetName = Utf16ToUtf8(e.targetName);
    lua_pushlstring(L, targetName.data(), targetName.size());
    lua_setfield(L, -2, "target_name");
    lua_pushinteger(L, e.id);
    lua_setfield(L, -2, "id");
    lua_pushinteger(L, e.result);
    lua_setfield(L, -2, "result");
    lua_pushlstring(L, e.name.data(), e.name.size());
    lua_setfield(L, -2, "name");
    lua_pushlstring(L, e.text.data(), e.text.size());
    lua_setfield(L, -2, "text");
    std::vector<Value> payload = EventPayload(e);
    lua_createtable(L, int(payload.size()), 0);
    for (size_t i = 0; i < payload.size(); ++i) {
        PushValue(L, payload[i]);
        lua_rawseti(L, -2, lua_Integer(i + 1));
    }
    lua_setfield(L, -2, "args");
    std::string line = e.ToString();
    lua_pushlstring(L, line.data(), line.size());
    lua_setfield(L, -2, "line");
}

// ---- the runner --------------------------------------------------------------

ScenarioRunner::ScenarioRunner(const ScenarioOptions& options)
    : m_options(options),
      m_dir(DirectoryOf(options.file)),
      m_out(options.out != nullptr ? options.out : stdout),
      m_err(options.err != nullptr ? options.err : stderr) {}

ScenarioRunner::~ScenarioRunner() {
    // Run releases both on its thread; this is for a runner that never ran.
    Release();
}

void ScenarioRunner::Release() {
    // The world goes first: its hooks refer to the Lua state.
    m_world.reset();
    if (L != nullptr) lua_close(L);
    L = nullptr;
    m_active = nullptr;
}

ScenarioRunner* ScenarioRunner::From(lua_State* L) {
    return *static_cast<ScenarioRunner**>(lua_getextraspace(L));
}

std::string ScenarioRunner::RelativeToScenario(const std::string& path) const {
    if (path.empty() || path.front() == '/') return path;
    return m_dir + path;
}

World& ScenarioRunner::world() {
    if (!m_world) StartWorld();
    return *m_world;
}

Kernel& ScenarioRunner::kernel() {
    return world().kernel();
}

void ScenarioRunner::StartWorld() {
    if (m_worldFailed) throw ApiError("the world could not be started");
    WorldOptions wo;
    if (!m_options.pluginPath.empty()) {
        wo.pluginPath = m_options.pluginPath;
    } else if (!m_setup.pluginPath.empty()) {
        wo.pluginPath = RelativeToScenario(m_setup.pluginPath);
    } else {
        wo.pluginPath = DefaultPluginPath();
    }
    if (!m_options.resourceDir.empty()) {
        wo.resourceDir = m_options.resourceDir;
    } else if (!m_setup.resourceDir.empty()) {
        wo.resourceDir = RelativeToScenario(m_setup.resourceDir);
    } else {
        wo.resourceDir = DefaultResourceDir();
    }
    wo.quiet = m_options.quiet;
    wo.traceToTerminal = !m_options.quiet;
    wo.logFilePath = m_options.logFile;
    wo.teamSystem = m_setup.teamSystem;
    wo.eventTimeSystem = m_setup.eventTimeSystem;
    wo.standInScripts = m_setup.standInScripts;
    wo.scriptEngine = m_setup.scriptEngine;
    // The scenario runs on the world's thread (see Run): no handoff per call.
    wo.callerThread = true;
    auto world = std::make_unique<World>(wo);
    if (!world->Start()) {
        m_worldFailed = true;
        std::string why = world->error();
        world->Stop();
        throw ApiError("the world could not be started: " + why);
    }
    const std::string problems =
        LoadingProblemsLine(world->startupTraceLines(), world->options().resourceDir);
    if (!problems.empty()) std::fprintf(m_err, "%s\n", problems.c_str());
    if (!m_options.quiet) {
        const LifecycleReport& report = world->lifecycle();
        for (const std::string& name : report.initFailed) {
            std::fprintf(m_err, "note: Init of %s returned false\n", name.c_str());
        }
        for (const std::string& name : report.afterInitFailed) {
            std::fprintf(m_err, "note: AfterInit of %s returned false\n", name.c_str());
        }
    }
    m_world = std::move(world);
}

std::string ScenarioRunner::Where(lua_State* L) const {
    lua_Debug ar;
    for (int level = 0; lua_getstack(L, level, &ar) != 0; ++level) {
        if (lua_getinfo(L, "Sl", &ar) == 0) continue;
        if (ar.currentline > 0 && ar.source != nullptr && ar.source[0] == '@') {
            return std::string(ar.source + 1) + ":" + std::to_string(ar.currentline);
        }
    }
    return m_options.file;
}

bool ScenarioRunner::Check(lua_State* L, bool ok, const std::string& message) {
    ++m_checks;
    if (!ok) Fail(L, message);
    return ok;
}

void ScenarioRunner::Fail(lua_State* L, const std::string& message) {
    std::string line = Where(L) + ": " + message;
    std::fprintf(m_err, "%s\n", line.c_str());
    std::fflush(m_err);
    m_failures.push_back(std::move(line));
}

void ScenarioRunner::Say(const std::string& line) {
    std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
}

namespace {

struct HookCall {
    int ref;
    const ObjectId* self;
    const ObjectId* sender;
    const IVarList* args;
    int defaultAnswer;
    int answer;
    bool payloadOnly;  // commands and messages: args without the id, id as args.id
};

// Runs inside lua_pcall on the world thread: every Lua error ends here.
int HookTrampoline(lua_State* L) {
    auto* call = static_cast<HookCall*>(lua_touserdata(L, 1));
    lua_rawgeti(L, LUA_REGISTRYINDEX, call->ref);
    script::PushObjectId(L, *call->self);
    script::PushObjectId(L, *call->sender);
    {
        std::vector<Value> values = ToValues(*call->args);
        size_t first = 0;
        lua_createtable(L, int(values.size()), 1);
        if (call->payloadOnly && !values.empty()) {
            PushValue(L, values.front());
            lua_setfield(L, -2, "id");
            first = 1;
        }
        for (size_t i = first; i < values.size(); ++i) {
            PushValue(L, values[i]);
            lua_rawseti(L, -2, lua_Integer(i - first + 1));
        }
    }
    lua_call(L, 3, 1);
    if (lua_isinteger(L, -1)) {
        lua_Integer n = lua_tointeger(L, -1);
        call->answer = n > INT32_MAX ? INT32_MAX : n < INT32_MIN ? INT32_MIN : int(n);
    } else if (lua_isboolean(L, -1)) {
        call->answer = lua_toboolean(L, -1) ? 1 : 0;
    } else if (lua_isnumber(L, -1)) {
        call->answer = int(lua_tonumber(L, -1));
    } else {
        call->answer = call->defaultAnswer;
    }
    return 0;
}

}  // namespace

HostHook ScenarioRunner::MakeHook(lua_State* L, int index, const std::string& what,
                                  int defaultAnswer, bool payloadOnly) {
    lua_pushvalue(L, index);
    int ref = luaL_ref(L, LUA_REGISTRYINDEX);
    return [this, ref, what, defaultAnswer, payloadOnly](
               Kernel&, const ObjectId& self, const ObjectId& sender, const IVarList& args) {
        return InvokeHook(ref, what, defaultAnswer, payloadOnly, self, sender, args);
    };
}

int ScenarioRunner::InvokeHook(int ref, const std::string& what, int defaultAnswer,
                               bool payloadOnly, const ObjectId& self, const ObjectId& sender,
                               const IVarList& args) {
    lua_State* T = m_active != nullptr ? m_active : L;
    if (!lua_checkstack(T, 8)) {
        m_failures.push_back(what + ": Lua stack exhausted");
        return defaultAnswer;
    }
    HookCall call{ref, &self, &sender, &args, defaultAnswer, defaultAnswer, payloadOnly};
    int top = lua_gettop(T);
    lua_pushcfunction(T, script::Traceback);
    lua_pushcfunction(T, HookTrampoline);
    lua_pushlightuserdata(T, &call);
    if (lua_pcall(T, 1, 0, top + 1) != LUA_OK) {
        std::string msg = lua_tostring(T, -1) != nullptr ? lua_tostring(T, -1) : "error";
        std::string line = msg + "\n  (raised by the " + what + " handler)";
        std::fprintf(m_err, "%s\n", line.c_str());
        m_failures.push_back(std::move(line));
    }
    lua_settop(T, top);
    return call.answer;
}

ScenarioResult ScenarioRunner::Run() {
    // The whole run, world start to world stop, happens on a fresh thread:
    // the world is driven by the thread that starts it, and the plug-in's
    // per-thread random state must start afresh for every scenario, however
    // many a process runs.
    ScenarioResult result;
    std::exception_ptr error;
    std::thread thread([this, &result, &error] {
        try {
            result = RunHere();
        } catch (...) {
            error = std::current_exception();
        }
        Release();
    });
    thread.join();
    if (error) std::rethrow_exception(error);
    return result;
}

ScenarioResult ScenarioRunner::RunHere() {
    ScenarioResult result;
    L = luaL_newstate();
    if (L == nullptr) {
        result.exitCode = 3;
        result.summary = "ERROR " + m_options.file + ": no memory for a Lua state";
        std::fprintf(m_err, "%s\n", result.summary.c_str());
        return result;
    }
    *static_cast<ScenarioRunner**>(lua_getextraspace(L)) = this;
    m_active = L;
    luaL_openlibs(L);
    // A fixed seed: math.random in a scenario replays like everything else.
    lua_getglobal(L, "math");
    lua_getfield(L, -1, "randomseed");
    lua_pushinteger(L, 0);
    lua_call(L, 1, 0);
    lua_pop(L, 1);
    // require finds helper files next to the scenario.
    lua_getglobal(L, "package");
    std::string path = m_dir + "?.lua;";
    lua_getfield(L, -1, "path");
    path += lua_tostring(L, -1) != nullptr ? lua_tostring(L, -1) : "";
    lua_pop(L, 1);
    lua_pushstring(L, path.c_str());
    lua_setfield(L, -2, "path");
    lua_pop(L, 1);
    script::RegisterObjectIdType(L);
    RegisterScenarioApi(L);

    lua_pushcfunction(L, script::Traceback);
    int status = luaL_loadfilex(L, m_options.file.c_str(), "t");
    if (status != LUA_OK) {
        const char* msg = lua_tostring(L, -1);
        std::string line = std::string(msg != nullptr ? msg : "cannot load");
        if (status == LUA_ERRFILE) line = m_options.file + ": " + line;
        std::fprintf(m_err, "%s\n", line.c_str());
        m_failures.push_back(line);
        result.exitCode = 3;
    } else {
        status = lua_pcall(L, 0, 0, -2);
        if (status != LUA_OK) {
            const char* msg = lua_tostring(L, -1);
            std::string line = msg != nullptr ? msg : "error";
            std::fprintf(m_err, "%s\n", line.c_str());
            m_failures.push_back(line);
            result.exitCode = m_worldFailed ? 3 : 1;
        }
    }
    lua_settop(L, 0);
    Finish(result);
    return result;
}

void ScenarioRunner::Finish(ScenarioResult& result) {
    if (m_world) {
        if (!m_options.eventsFile.empty()) {
            std::FILE* f = std::fopen(m_options.eventsFile.c_str(), "wb");
            if (f == nullptr) {
                std::string line = m_options.eventsFile + ": cannot write the event log";
                std::fprintf(m_err, "%s\n", line.c_str());
                m_failures.push_back(line);
            } else {
                m_world->Run([f](Kernel& k) { k.log().WriteTo(f); });
                std::fclose(f);
            }
        }
        m_world->Run([&result](Kernel& k) {
            result.events = k.log().size();
            result.virtualMs = k.Now();
        });
        m_world->Stop();
    }
    result.checks = m_checks;
    result.failures = m_failures;
    if (result.exitCode == 0 && !m_failures.empty()) result.exitCode = 1;

    std::string name = m_options.file;
    char tail[160];
    std::snprintf(tail, sizeof tail, "%d check%s, %zu events, virtual time %.3f s", m_checks,
                  m_checks == 1 ? "" : "s", result.events, double(result.virtualMs) / 1000.0);
    if (result.exitCode == 0) {
        result.summary = "PASS " + name + ": " + tail;
    } else if (result.exitCode == 3) {
        result.summary = "ERROR " + name + ": could not be loaded or started";
    } else {
        result.summary = "FAIL " + name + ": " + std::to_string(m_failures.size()) + " failure" +
                         (m_failures.size() == 1 ? "" : "s") + "; " + tail;
    }
    std::fflush(m_err);
    std::fprintf(m_out, "%s\n", result.summary.c_str());
    std::fflush(m_out);
}

ScenarioResult RunScenario(const ScenarioOptions& options) {
    ScenarioRunner runner(options);
    return runner.Run();
}

}  // namespace host
