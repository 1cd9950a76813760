// The check of the rules script, "Rule\npc_creator.lua", and its get_npc_count.
#include <fmt/format.h>

#include <cstdlib>
#include <lua.hpp>
#include <memory>
#include <vector>

#include "ResourceCheckers.h"
#include "ScriptEngine.h"
#include "TextCodec.h"
#include "VarList.h"
#include "VarType.h"

namespace tools {
namespace check {

namespace {

// "path:12: message" from a Lua load error; 0 when no line is given.
int LuaErrorLine(const std::string& msg, std::string& rest) {
    // Lua reports "<chunkname>:<line>: <message>".
    size_t pos = 0;
    while ((pos = msg.find(':', pos)) != std::string::npos) {
        size_t end = pos + 1;
        while (end < msg.size() && msg[end] >= '0' && msg[end] <= '9') ++end;
        if (end > pos + 1 && end < msg.size() && msg[end] == ':') {
            rest = TrimBlanks(msg.substr(end + 1));
            return std::atoi(msg.c_str() + pos + 1);
        }
        pos = end;
    }
    rest = msg;
    return 0;
}

void StopRunawayChunk(lua_State* L, lua_Debug*) {
    luaL_error(L, "instruction budget exhausted");
}

// Allocator of the bare state: refuses to grow past 64 MiB, so a script
// that allocates without end fails its load instead of the checker.
struct CappedHeap {
    size_t used = 0;
    static constexpr size_t kCap = size_t(64) << 20;
};

void* CappedAlloc(void* ud, void* ptr, size_t oldSize, size_t newSize) {
    auto* heap = static_cast<CappedHeap*>(ud);
    const size_t old = ptr != nullptr ? oldSize : 0;
    if (newSize == 0) {
        std::free(ptr);
        heap->used -= old;
        return nullptr;
    }
    if (newSize > old && heap->used + (newSize - old) > CappedHeap::kCap) return nullptr;
    void* p = std::realloc(ptr, newSize);
    if (p != nullptr) heap->used = heap->used - old + newSize;
    return p;
}

// Runs the script's top level in a bare state (base, string, table and math
// libraries, an instruction budget) and tells whether it certainly defines
// no global get_npc_count. A top level that needs more than that is left to
// the host's engine, which answers the same question by calling it.
bool DefinesNoCountFunction(const std::string& bytes, const std::string& chunkName) {
    CappedHeap heap;
    std::unique_ptr<lua_State, void (*)(lua_State*)> state(lua_newstate(CappedAlloc, &heap),
                                                           lua_close);
    lua_State* L = state.get();
    if (L == nullptr) return false;
    static const luaL_Reg libs[] = {{LUA_GNAME, luaopen_base},
                                    {LUA_STRLIBNAME, luaopen_string},
                                    {LUA_TABLIBNAME, luaopen_table},
                                    {LUA_MATHLIBNAME, luaopen_math}};
    for (const auto& lib : libs) {
        luaL_requiref(L, lib.name, lib.func, 1);
        lua_pop(L, 1);
    }
    lua_sethook(L, StopRunawayChunk, LUA_MASKCOUNT, 1000000);
    if (luaL_loadbuffer(L, bytes.data(), bytes.size(), ("@" + chunkName).c_str()) != LUA_OK ||
        lua_pcall(L, 0, 0, 0) != LUA_OK) {
        return false;
    }
    lua_getglobal(L, "get_npc_count");
    return !lua_isfunction(L, -1);
}

}  // namespace

void CheckRulesScript(const std::string& dir, Reporter& r) {
    const std::string file = DisplayName(kRulesScript);
    const std::string path = OnDisk(dir, kRulesScript);
    std::string bytes;
    if (!ReadBytes(path, bytes)) {
        r.Add(file, 0, Severity::kError,
              "file not found: get_npc_count cannot be asked, so every encounter holds 1 NPC (or "
              "as many as the leader's team has members)");
        return;
    }
    {
        // Compile only: a syntax error is found without running anything.
        std::unique_ptr<lua_State, void (*)(lua_State*)> L(luaL_newstate(), lua_close);
        if (L &&
            luaL_loadbuffer(L.get(), bytes.data(), bytes.size(), ("@" + file).c_str()) != LUA_OK) {
            std::string rest;
            const char* m = lua_tostring(L.get(), -1);
            const int line = LuaErrorLine(m ? m : "", rest);
            r.Add(file, line, Severity::kError,
                  "the script does not load: " + rest +
                      "; every encounter falls back to 1 NPC (or the leader's team size)");
            return;
        }
    }
    if (DefinesNoCountFunction(bytes, file)) {
        r.Add(file, 0, Severity::kError,
              "the script has no function get_npc_count: every encounter falls back to 1 NPC (or "
              "the leader's team size)");
        return;
    }
    host::ScriptEngine engine(WithSlash(dir));
    std::vector<std::string> log;
    engine.SetLog([&log](const std::string& line) { log.push_back(line); });
    CVarList args;
    args.AddObject(ObjectId{1, 1});
    args.AddObject(ObjectId{2, 1});
    args.AddInt(3);
    CVarList results;
    if (!engine.Call(kRulesScript, "get_npc_count", args, 1, results)) {
        std::string why = log.empty() ? std::string("the call failed") : ToUtf8(log.front());
        r.Add(file, 0, Severity::kError,
              "get_npc_count cannot be called (" + why +
                  "): every encounter falls back to 1 NPC (or the leader's team size)");
        return;
    }
    if (results.GetCount() == 0) {
        r.Add(file, 0, Severity::kWarning,
              "get_npc_count returned nothing for a sample call (creator, player, 3): the plug-in "
              "then uses the team size");
    } else if (results.GetType(0) != VTYPE_INT) {
        r.Add(file, 0, Severity::kError,
              "get_npc_count returned a value that is not an integer for a sample call (creator, "
              "player, 3): the plug-in reads it as 0 and draws no NPC");
    }
}

}  // namespace check
}  // namespace tools
