// The Lua engine for rules scripts: a restricted state, limits, calls and results.
#include "ScriptEngine.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "HostVarList.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace host {

namespace {

// Largest result count honoured; more would only grow the Lua stack.
constexpr int kMaxResults = 256;
// Instructions between two budget checks.
constexpr int kHookStep = 1000;
constexpr const char* kBudgetMessage = "instruction budget exceeded";
// Lua-to-Lua calls cost no C stack, so Lua itself stops a recursion only at
// a million stack slots, after a long time spent growing and collecting the
// stack. No rules script needs more than a few levels.
constexpr int kMaxCallDepth = 1000;
// Bytes one call may allocate in all. Below the engine's memory cap a script
// can churn through allocations (each refusal frees again after a full
// collection); this bounds that work as the instruction budget bounds plain
// loops.
constexpr size_t kAllocationBudget = 8u << 20;

// A converted result, held until every result converted cleanly so that a
// failure appends nothing.
struct ResultValue {
    int type = VTYPE_NONE;
    int i = 0;
    float f = 0;
    std::string s;
    ObjectId id;
};

}  // namespace

struct ScriptEngine::Impl {
    std::string resourceDir;
    ScriptLimits limits;
    LogFn log;
    lua_State* L = nullptr;

    size_t used = 0;
    bool capHit = false;               // the allocator refused during the current call
    bool enforceCap = false;           // off while the state is being built
    uint64_t executed = 0;             // instructions counted in the current call
    bool budgetHit = false;            // a limit stopped the current call (see stopReason)
    const char* stopReason = nullptr;  // which one: nullptr for the instruction budget
    size_t allocated = 0;              // bytes allocated in the current call
    bool allocationHit = false;

    static constexpr int kHandlerIndex = 1;     // script::Traceback, pushed once
    static constexpr int kObjectMetaIndex = 2;  // the ObjectId metatable, pushed once
    // The last script's environment and the last function name, also kept
    // on the stack (nil when there is none): pushing a stack slot is cheaper
    // than reading the registry.
    static constexpr int kLastEnvIndex = 3;
    static constexpr int kLastFunctionIndex = 4;
    int baseMetaRef = LUA_NOREF;                 // {__index = _G} for script environments
    int objectMetaRef = LUA_NOREF;               // the ObjectId metatable
    std::unordered_map<std::string, int> cache;  // normalised path -> env registry ref
    std::unordered_map<std::string, std::string> resolved;  // script name -> path
    static constexpr size_t kMaxResolved = 4096;
    // The rules call the same function of the same script again and again:
    // the last script's environment and the last function name (as a Lua
    // string) are kept by reference, so a repeated call hashes nothing.
    std::string lastScript;
    std::string lastKey;  // its resolved path
    int lastEnvRef = LUA_NOREF;
    std::string lastFunction;
    int lastFunctionRef = LUA_NOREF;
    std::vector<ResultValue> values;  // results of the current call

    explicit Impl(std::string dir, ScriptLimits lim) : resourceDir(std::move(dir)), limits(lim) {
        if (!resourceDir.empty() && resourceDir.back() != '/' && resourceDir.back() != '\\') {
            resourceDir += '/';
        }
        for (char& c : resourceDir) {
            if (c == '\\') c = '/';
        }
        L = lua_newstate(&Impl::Alloc, this);
        if (L == nullptr) return;
        *static_cast<Impl**>(lua_getextraspace(L)) = this;
        OpenRestrictedLibraries();
        script::RegisterObjectIdType(L);
        script::PushObjectIdMetatable(L);
        objectMetaRef = luaL_ref(L, LUA_REGISTRYINDEX);
        lua_newtable(L);
        lua_pushglobaltable(L);
        lua_setfield(L, -2, "__index");
        baseMetaRef = luaL_ref(L, LUA_REGISTRYINDEX);
        lua_gc(L, LUA_GCCOLLECT);
        // The traceback handler and the id metatable stay at the bottom of
        // the stack for every call; calls only ever pop back to the top they
        // found.
        lua_settop(L, 0);
        lua_pushcfunction(L, script::Traceback);
        lua_rawgeti(L, LUA_REGISTRYINDEX, objectMetaRef);  // at kObjectMetaIndex
        lua_pushnil(L);                                    // kLastEnvIndex
        lua_pushnil(L);                                    // kLastFunctionIndex
        enforceCap = true;
    }

    ~Impl() {
        if (L != nullptr) {
            enforceCap = false;
            lua_close(L);
        }
        DropFreeBlocks();
    }

    static Impl* From(lua_State* L) { return *static_cast<Impl**>(lua_getextraspace(L)); }

    // Small blocks (most of what a call allocates: ids, short strings,
    // small tables) are kept on free lists by size class instead of going
    // back to malloc; the accounting below still counts the sizes Lua asked
    // for, so the caps behave exactly as without the lists.
    static constexpr size_t kClassBytes = 16;
    static constexpr size_t kClasses = 8;  // blocks up to 128 bytes
    static constexpr size_t kMaxFree = 512;
    struct FreeBlock {
        FreeBlock* next;
    };
    FreeBlock* freeLists[kClasses] = {};
    size_t freeCounts[kClasses] = {};

    static size_t ClassOf(size_t size) { return (size - 1) / kClassBytes; }
    void* TakeBlock(size_t size) {
        const size_t c = ClassOf(size);
        if (c >= kClasses) return std::malloc(size);
        if (FreeBlock* b = freeLists[c]) {
            freeLists[c] = b->next;
            --freeCounts[c];
            return b;
        }
        return std::malloc((c + 1) * kClassBytes);
    }
    void GiveBlock(void* p, size_t size) {
        const size_t c = ClassOf(size);
        if (c >= kClasses || freeCounts[c] >= kMaxFree) {
            std::free(p);
            return;
        }
        auto* b = static_cast<FreeBlock*>(p);
        b->next = freeLists[c];
        freeLists[c] = b;
        ++freeCounts[c];
    }
    void DropFreeBlocks() {
        for (size_t c = 0; c < kClasses; ++c) {
            while (FreeBlock* b = freeLists[c]) {
                freeLists[c] = b->next;
                std::free(b);
            }
            freeCounts[c] = 0;
        }
    }
    // realloc over the size classes: a block keeps its class's capacity, so
    // it moves only when the class changes.
    void* Resize(void* ptr, size_t old, size_t nsize) {
        if (ptr == nullptr) return TakeBlock(nsize);
        const size_t oc = ClassOf(old), nc = ClassOf(nsize);
        if (oc >= kClasses && nc >= kClasses) return std::realloc(ptr, nsize);
        if (oc == nc) return ptr;
        void* p = TakeBlock(nsize);
        if (p == nullptr) return nullptr;
        std::memcpy(p, ptr, std::min(old, nsize));
        GiveBlock(ptr, old);
        return p;
    }

    // The two calls Lua makes most, a fresh small block and the release of
    // one, served from the free lists without a call; everything else, and
    // every refusal, goes through AllocAny.
    static void* Alloc(void* ud, void* ptr, size_t osize, size_t nsize) {
        auto* self = static_cast<Impl*>(ud);
        if (ptr == nullptr) {  // osize is a type tag
            const size_t c = ClassOf(nsize);
            FreeBlock* b = c < kClasses ? self->freeLists[c] : nullptr;
            if (b != nullptr && self->Admits(nsize)) {
                if (self->enforceCap) self->allocated += nsize;
                self->freeLists[c] = b->next;
                --self->freeCounts[c];
                self->used += nsize;
                return b;
            }
        } else if (nsize == 0) {
            const size_t c = ClassOf(osize);
            if (c < kClasses && self->freeCounts[c] < kMaxFree) {
                auto* b = static_cast<FreeBlock*>(ptr);
                b->next = self->freeLists[c];
                self->freeLists[c] = b;
                ++self->freeCounts[c];
                self->used -= osize;
                return nullptr;
            }
        }
        return AllocAny(self, ptr, osize, nsize);
    }

    // True when a new block of size bytes passes both caps as AllocAny
    // checks them (AllocAny also records a refusal).
    bool Admits(size_t size) const {
        if (!enforceCap) return true;
        return (limits.memoryCap == 0 || used + size <= limits.memoryCap) &&
               allocated + size <= kAllocationBudget;
    }

    [[gnu::noinline]] static void* AllocAny(Impl* self, void* ptr, size_t osize, size_t nsize) {
        size_t old = ptr != nullptr ? osize : 0;  // without ptr, osize is a type tag
        if (nsize == 0) {
            if (ptr != nullptr) self->GiveBlock(ptr, old);
            self->used -= old;
            return nullptr;
        }
        if (nsize > old && self->enforceCap && self->limits.memoryCap != 0 &&
            self->used - old + nsize > self->limits.memoryCap) {
            self->capHit = true;
            return nullptr;
        }
        if (nsize > old && self->enforceCap) {
            self->allocated += nsize - old;
            if (self->allocated > kAllocationBudget) {
                self->allocationHit = true;
                return nullptr;
            }
        }
        void* p = self->Resize(ptr, old, nsize);
        if (p == nullptr) {
            if (nsize > old) self->capHit = true;
            return nullptr;
        }
        self->used = self->used - old + nsize;
        return p;
    }

    static void CountHook(lua_State* L, lua_Debug*) {
        Impl* self = From(L);
        if (self->limits.instructionBudget == 0) return;
        self->executed += uint64_t(lua_gethookcount(L));
        lua_Debug deep;
        if (!self->budgetHit) {
            // The walk to the limit level stops at the bottom of the stack,
            // so shallow scripts pay only for the levels they use.
            if (lua_getstack(L, kMaxCallDepth, &deep)) {
                self->stopReason = "call depth limit";
            } else if (self->allocationHit) {
                self->stopReason = "allocation budget";
            }
        }
        if (self->budgetHit || self->stopReason != nullptr ||
            self->executed > self->limits.instructionBudget) {
            self->budgetHit = true;
            // From now on fire on every instruction, on this thread and the
            // main one, so a script that catches the error with pcall or a
            // coroutine cannot keep running.
            lua_sethook(L, &Impl::CountHook, LUA_MASKCOUNT, 1);
            if (L != self->L) lua_sethook(self->L, &Impl::CountHook, LUA_MASKCOUNT, 1);
            luaL_error(L, kBudgetMessage);
        }
    }

    static int Print(lua_State* L) {
        Impl* self = From(L);
        int n = lua_gettop(L);
        std::string line = "script print: ";
        for (int i = 1; i <= n; ++i) {
            size_t len = 0;
            const char* s = luaL_tolstring(L, i, &len);
            if (i > 1) line += '\t';
            line.append(s, len);
            lua_pop(L, 1);
        }
        if (self->log) self->log(line);
        return 0;
    }

    void OpenRestrictedLibraries() {
        luaL_requiref(L, LUA_GNAME, luaopen_base, 1);
        luaL_requiref(L, LUA_TABLIBNAME, luaopen_table, 1);
        luaL_requiref(L, LUA_STRLIBNAME, luaopen_string, 1);
        luaL_requiref(L, LUA_MATHLIBNAME, luaopen_math, 1);
        luaL_requiref(L, LUA_UTF8LIBNAME, luaopen_utf8, 1);
        luaL_requiref(L, LUA_COLIBNAME, luaopen_coroutine, 1);
        lua_pop(L, 6);

        // os: only the clock and calendar functions; nothing that touches
        // processes, files or the environment.
        luaL_requiref(L, LUA_OSLIBNAME, luaopen_os, 0);
        lua_newtable(L);
        for (const char* name : {"time", "clock", "date", "difftime"}) {
            lua_getfield(L, -2, name);
            lua_setfield(L, -2, name);
        }
        lua_setglobal(L, LUA_OSLIBNAME);
        lua_pop(L, 1);

        for (const char* name : {"dofile", "loadfile", "load", "require"}) {
            lua_pushnil(L);
            lua_setglobal(L, name);
        }
        lua_getglobal(L, LUA_STRLIBNAME);
        lua_pushnil(L);
        lua_setfield(L, -2, "dump");
        lua_pop(L, 1);

        lua_pushcfunction(L, &Impl::Print);
        lua_setglobal(L, "print");

        lua_getglobal(L, LUA_MATHLIBNAME);
        lua_getfield(L, -1, "randomseed");
        lua_pushinteger(L, 0);
        lua_call(L, 1, 0);
        lua_pop(L, 1);
    }

    // Resource-relative name to a path under the resource directory; false
    // for names that would leave it.
    bool ResolvePath(const std::string& script, std::string& key, std::string& err) const {
        key = script;
        std::replace(key.begin(), key.end(), '\\', '/');
        if (key.empty()) {
            err = "empty script name";
            return false;
        }
        if (key.front() == '/') {
            err = "script name must be relative to the resource directory";
            return false;
        }
        for (size_t start = 0; start <= key.size();) {
            size_t end = key.find('/', start);
            if (end == std::string::npos) end = key.size();
            if (key.compare(start, end - start, "..") == 0) {
                err = "script name must not leave the resource directory";
                return false;
            }
            start = end + 1;
        }
        return true;
    }

    // The path of a script name, worked out once per name (names come from
    // resource files, so there are few; past kMaxResolved they are not kept).
    const std::string* Resolved(const std::string& script, std::string& scratch, std::string& err) {
        auto it = resolved.find(script);
        if (it != resolved.end()) return &it->second;
        if (!ResolvePath(script, scratch, err)) return nullptr;
        if (resolved.size() >= kMaxResolved) return &scratch;
        return &resolved.emplace(script, scratch).first->second;
    }

    void ResetLimits() {
        executed = 0;
        budgetHit = false;
        stopReason = nullptr;
        allocated = 0;
        allocationHit = false;
        capHit = false;
        if (limits.instructionBudget != 0) {
            int step = int(std::min<uint64_t>(kHookStep, limits.instructionBudget));
            lua_sethook(L, &Impl::CountHook, LUA_MASKCOUNT, step);
        } else {
            lua_sethook(L, nullptr, 0, 0);
        }
    }

    std::string DescribeFailure(int status) {
        if (budgetHit && stopReason != nullptr &&
            std::strcmp(stopReason, "call depth limit") == 0) {
            return "call depth limit of " + std::to_string(kMaxCallDepth) +
                   " levels exceeded (stack overflow)";
        }
        if (allocationHit && !capHit) {
            return "memory cap: allocation budget of " + std::to_string(kAllocationBudget) +
                   " bytes per call exceeded";
        }
        if (capHit || status == LUA_ERRMEM) {
            return "memory cap of " + std::to_string(limits.memoryCap) + " bytes exceeded";
        }
        std::string msg = lua_isstring(L, -1) ? lua_tostring(L, -1) : "unknown error";
        if (budgetHit) {
            return "instruction budget of " + std::to_string(limits.instructionBudget) +
                   " exceeded: " + msg;
        }
        return msg;
    }

    // No last environment: the stack no longer holds it either, so it can
    // be collected.
    void DropLastEnv() {
        lastEnvRef = LUA_NOREF;
        lua_pushnil(L);
        lua_replace(L, kLastEnvIndex);
    }

    void Forget(std::string key) {  // a copy: key may be lastKey
        DropLastEnv();
        lastScript.clear();
        lastKey.clear();
        auto it = cache.find(key);
        if (it == cache.end()) return;
        luaL_unref(L, LUA_REGISTRYINDEX, it->second);
        cache.erase(it);
    }

    // Pushes the environment of the script, loading and running it once.
    // handler is the stack index of the traceback function.
    bool PushEnvironment(const std::string& script, const std::string& key, int handler,
                         std::string& err) {
        auto it = cache.find(key);
        if (it != cache.end()) {
            lua_rawgeti(L, LUA_REGISTRYINDEX, it->second);
            return true;
        }
        std::ifstream in(resourceDir + key, std::ios::binary);
        if (!in) {
            err = "cannot open " + resourceDir + key;
            return false;
        }
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string chunkName = "@" + script;
        int status = luaL_loadbufferx(L, text.data(), text.size(), chunkName.c_str(), "t");
        if (status != LUA_OK) {
            err = DescribeFailure(status);
            lua_pop(L, 1);
            return false;
        }
        lua_newtable(L);  // the script's own globals
        lua_rawgeti(L, LUA_REGISTRYINDEX, baseMetaRef);
        lua_setmetatable(L, -2);
        lua_pushvalue(L, -1);
        lua_setfield(L, -2, "_G");
        lua_pushvalue(L, -1);
        lua_insert(L, -3);  // env, chunk, env
        lua_setupvalue(L, -2, 1);
        status = lua_pcall(L, 0, 0, handler);
        if (status != LUA_OK || capHit) {
            err = "loading failed: " + DescribeFailure(status);
            lua_pop(L, status != LUA_OK ? 2 : 1);
            return false;
        }
        lua_pushvalue(L, -1);
        cache[key] = luaL_ref(L, LUA_REGISTRYINDEX);
        return true;
    }

    bool ConvertResult(int index, ResultValue& v, std::string& err) {
        switch (lua_type(L, index)) {
            case LUA_TBOOLEAN:
                v.type = VTYPE_INT;
                v.i = lua_toboolean(L, index) ? 1 : 0;
                return true;
            case LUA_TNUMBER: {
                if (lua_isinteger(L, index)) {
                    lua_Integer n = lua_tointeger(L, index);
                    v.type = VTYPE_INT;
                    if (n > INT_MAX || n < INT_MIN) {
                        v.i = n > INT_MAX ? INT_MAX : INT_MIN;
                        if (log) {
                            log("script result " + std::to_string(n) +
                                " is outside the 32-bit range; saturated to " +
                                std::to_string(v.i));
                        }
                    } else {
                        v.i = int(n);
                    }
                    return true;
                }
                double d = lua_tonumber(L, index);
                if (std::floor(d) == d && d >= double(INT_MIN) && d <= double(INT_MAX)) {
                    v.type = VTYPE_INT;
                    v.i = int(d);
                } else {
                    v.type = VTYPE_FLOAT;
                    v.f = float(d);
                }
                return true;
            }
            case LUA_TSTRING:
                v.type = VTYPE_STRING;
                v.s = lua_tostring(L, index);  // up to an embedded zero, like the list
                return true;
            case LUA_TUSERDATA:
                if (script::ToObjectId(L, index, v.id)) {
                    v.type = VTYPE_OBJECT;
                    return true;
                }
                break;
            default:
                break;
        }
        err = std::string("result of unsupported type ") + luaL_typename(L, index);
        return false;
    }

    bool CallImpl(std::string_view script, std::string_view function, const IVarList& args,
                  int resultCount, IVarList& results, std::string& err) {
        if (L == nullptr) {
            err = "script engine unavailable (the Lua state could not be created)";
            return false;
        }
        const bool sameScript = lastEnvRef != LUA_NOREF && script == lastScript;
        std::string name, scratch;  // only for another script than the last
        const std::string* resolvedKey = &lastKey;
        if (!sameScript) {
            name.assign(script.data(), script.size());
            resolvedKey = Resolved(name, scratch, err);
            if (resolvedKey == nullptr) return false;
        }
        const std::string& key = *resolvedKey;

        struct StackGuard {
            lua_State* L;
            int top;
            ~StackGuard() { lua_settop(L, top); }
        } guard{L, lua_gettop(L)};

        ResetLimits();
        if (!lua_checkstack(L, 8)) {
            err = "Lua stack exhausted";
            return false;
        }
        const int handler = kHandlerIndex;
        if (sameScript) {
            lua_pushvalue(L, kLastEnvIndex);
        } else {
            if (!PushEnvironment(name, key, handler, err)) {
                if (capHit) Forget(key);
                return false;
            }
            auto it = cache.find(key);
            if (it != cache.end()) {
                lastScript = std::move(name);
                lastKey = key;
                lastEnvRef = it->second;
                lua_pushvalue(L, -1);
                lua_replace(L, kLastEnvIndex);
            }
        }
        // Only the script's own functions count, not the library's.
        if (lastFunctionRef != LUA_NOREF && function == lastFunction) {
            lua_pushvalue(L, kLastFunctionIndex);
        } else {
            lua_pushlstring(L, function.data(), function.size());
            lua_pushvalue(L, -1);
            luaL_unref(L, LUA_REGISTRYINDEX, lastFunctionRef);
            lastFunctionRef = luaL_ref(L, LUA_REGISTRYINDEX);
            lua_pushvalue(L, -1);
            lua_replace(L, kLastFunctionIndex);
            lastFunction.assign(lastFunctionRef != LUA_NOREF ? function : std::string_view());
        }
        if (lua_rawget(L, -2) != LUA_TFUNCTION) {
            err = "function '" + std::string(function) + "' not found";
            return false;
        }
        int nargs = script::PushValues(L, args, kObjectMetaIndex);
        if (nargs < 0) {
            err = "too many arguments (" + std::to_string(args.GetCount()) + ")";
            return false;
        }
        int nres = std::clamp(resultCount, 0, kMaxResults);
        if (!lua_checkstack(L, nres)) {
            err = "Lua stack exhausted";
            return false;
        }
        int base = lua_gettop(L) - nargs;  // index of the function
        int status = lua_pcall(L, nargs, nres, handler);
        if (status != LUA_OK || capHit || allocationHit) {
            err = DescribeFailure(status);
            if (capHit || allocationHit) {
                // The script's globals may be what holds the memory: start it
                // afresh next time rather than failing every later call.
                Forget(key);
                lua_settop(L, guard.top);
                lua_gc(L, LUA_GCCOLLECT);
            }
            return false;
        }

        values.clear();
        for (int i = 0; i < nres; ++i) {
            int index = base + i;
            if (lua_isnil(L, index)) {
                for (int j = i + 1; j < nres; ++j) {
                    if (!lua_isnil(L, base + j) && log) {
                        log("script " + std::string(script) + ": " + std::string(function) +
                            ": result " + std::to_string(j + 1) + " follows a nil and was dropped");
                        break;
                    }
                }
                break;
            }
            values.emplace_back();
            if (!ConvertResult(index, values.back(), err)) {
                err = "result " + std::to_string(i + 1) + ": " + err;
                return false;
            }
        }
        for (const ResultValue& v : values) {
            switch (v.type) {
                case VTYPE_INT:
                    results.AddInt(v.i);
                    break;
                case VTYPE_FLOAT:
                    results.AddFloat(v.f);
                    break;
                case VTYPE_STRING:
                    results.AddString(v.s.c_str());
                    break;
                case VTYPE_OBJECT:
                    results.AddObject(v.id);
                    break;
                default:
                    break;
            }
        }
        return true;
    }
};

ScriptEngine::ScriptEngine(std::string resourceDir, ScriptLimits limits)
    : m_impl(std::make_unique<Impl>(std::move(resourceDir), limits)) {}

ScriptEngine::~ScriptEngine() = default;

void ScriptEngine::SetLog(LogFn log) {
    m_impl->log = std::move(log);
}

bool ScriptEngine::Call(const std::string& script, const std::string& function,
                        const IVarList& args, int resultCount, IVarList& results) {
    return Run(script, function, args, resultCount, results);
}

bool ScriptEngine::Call(const char* script, const char* function, const IVarList& args,
                        int resultCount, IVarList& results) {
    return Run(script != nullptr ? script : "", function != nullptr ? function : "", args,
               resultCount, results);
}

bool ScriptEngine::Run(std::string_view script, std::string_view function, const IVarList& args,
                       int resultCount, IVarList& results) {
    std::string err;
    if (m_impl->CallImpl(script, function, args, resultCount, results, err)) return true;
    if (m_impl->log) {
        m_impl->log("script " + std::string(script) + ": " + std::string(function) + ": " + err);
    }
    return false;
}

void ScriptEngine::Reload() {
    if (m_impl->L == nullptr) return;
    for (auto& [key, ref] : m_impl->cache) luaL_unref(m_impl->L, LUA_REGISTRYINDEX, ref);
    m_impl->cache.clear();
    m_impl->DropLastEnv();
    m_impl->lastScript.clear();
    m_impl->lastKey.clear();
    lua_gc(m_impl->L, LUA_GCCOLLECT);
}

size_t ScriptEngine::MemoryInUse() const {
    return m_impl->used;
}

}  // namespace host
