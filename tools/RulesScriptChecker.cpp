// The check of the rules script, "Rule\npc_creator.lua", and its get_npc_count.
#include <fmt/format.h>

#include <cstdlib>
#include <lua.hpp>
#include <memory>
#include <vector>

#include "NpcCountProbe.h"
#include "ResourceCheckers.h"
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

constexpr long long kFormationSlots = 9;

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
// definedAt gets the line where a Lua get_npc_count begins, 0 when unknown.
bool DefinesNoCountFunction(const std::string& bytes, const std::string& chunkName,
                            int& definedAt) {
    definedAt = 0;
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
    if (!lua_isfunction(L, -1)) return true;
    lua_Debug info{};
    if (lua_getinfo(L, ">S", &info) != 0 && info.linedefined > 0) definedAt = info.linedefined;
    return false;
}

// "for a player alone and the leaders of teams of 2 to 4" / "for every team size".
std::string ForWhom(const std::vector<NpcCountAnswer>& answers, size_t asked) {
    if (answers.size() == asked && asked > 1) return "for every team size";
    bool alone = false;
    std::vector<int> teams;
    for (const auto& a : answers) {
        if (a.teamSize <= 1) {
            alone = true;
        } else {
            teams.push_back(a.teamSize);
        }
    }
    std::string out = alone ? "for a player alone" : "for";
    if (teams.empty()) return out;
    out += alone ? " and " : " ";
    if (teams.size() == 1) return out + TeamSizeWho(teams.front());
    out += "the leaders of teams of ";
    if (teams.size() > 2 && teams.back() - teams.front() == int(teams.size()) - 1) {
        return out + fmt::format("{} to {}", teams.front(), teams.back());
    }
    for (size_t i = 0; i < teams.size(); ++i) {
        if (i > 0) out += i + 1 == teams.size() ? " and " : ", ";
        out += std::to_string(teams[i]);
    }
    return out;
}

// "11 for the leader of a team of 4 and 12 for the leader of a team of 5", or "0 for every
// team size" when every team size got the same answer.
std::string AnswersText(const std::vector<NpcCountAnswer>& answers, size_t asked) {
    bool same = true;
    for (const auto& a : answers) same = same && a.text == answers.front().text;
    if (same) return answers.front().text + " " + ForWhom(answers, asked);
    std::string out;
    for (size_t i = 0; i < answers.size(); ++i) {
        if (i > 0) out += i + 1 == answers.size() ? " and " : ", ";
        out += answers[i].text + " for " + TeamSizeWho(answers[i].teamSize);
    }
    return out;
}

// The answers of get_npc_count for team sizes 1 to 5, each kind of wrong answer one finding.
void CheckNpcCountAnswers(const std::string& dir, const std::string& file, int line, Reporter& r) {
    const std::vector<NpcCountAnswer> answers = ProbeNpcCounts(dir);
    std::vector<NpcCountAnswer> failed, nothing, fraction, tooMany, none;
    for (const auto& a : answers) {
        if (!a.ok) {
            (a.text == "nothing" ? nothing : failed).push_back(a);
        } else if (!a.isInteger) {
            fraction.push_back(a);
        } else if (a.value > kFormationSlots) {
            tooMany.push_back(a);
        } else if (a.value <= 0) {
            none.push_back(a);
        }
    }
    const size_t n = answers.size();
    if (!failed.empty()) {
        r.Add(file, line, Severity::kError, "npc-count-error",
              fmt::format("get_npc_count fails {} ({}): those encounters fall back to 1 NPC (or "
                          "the leader's team size)",
                          ForWhom(failed, n), failed.front().text));
    }
    if (!nothing.empty()) {
        r.Add(file, line, Severity::kWarning, "npc-count-nothing",
              fmt::format("get_npc_count returns nothing {}: the plug-in then uses the team size",
                          ForWhom(nothing, n)));
    }
    if (!fraction.empty()) {
        r.Add(file, line, Severity::kError, "npc-count-not-integer",
              fmt::format("get_npc_count answers {}: not an integer, so the plug-in reads it as "
                          "0 and draws no NPC",
                          AnswersText(fraction, n)));
    }
    if (!tooMany.empty()) {
        r.Add(file, line, Severity::kWarning, "npc-count-above-nine",
              fmt::format("get_npc_count answers {}: more NPCs than the {} formation slots, so "
                          "the extra ones are sent for slots already taken",
                          AnswersText(tooMany, n), kFormationSlots));
    }
    if (!none.empty()) {
        r.Add(file, line, Severity::kWarning, "npc-count-not-positive",
              fmt::format("get_npc_count answers {}: no NPC is drawn, so such a select sends "
                          "only the model's fixed NPCs, or nothing",
                          AnswersText(none, n)));
    }
}

}  // namespace

void CheckRulesScript(const std::string& dir, Reporter& r) {
    const std::string file = DisplayName(kRulesScript);
    const std::string path = OnDisk(dir, kRulesScript);
    std::string bytes;
    if (!ReadBytes(path, bytes)) {
        r.Add(file, 0, Severity::kError, "missing-file",
              "file not found: get_npc_count cannot be asked, so every encounter holds 1 NPC (or "
              "as many as the leader's team has members)");
        return;
    }
    if (FindEncodingProblem(bytes).unreadable) {
        ReportEncoding(file, bytes,
                       "the script does not load and every encounter falls back to 1 NPC (or the "
                       "leader's team size)",
                       "", r);
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
            r.Add(file, line, Severity::kError, "script-syntax-error",
                  "the script does not load: " + rest +
                      "; every encounter falls back to 1 NPC (or the leader's team size)");
            return;
        }
    }
    int definedAt = 0;
    if (DefinesNoCountFunction(bytes, file, definedAt)) {
        r.Add(file, 0, Severity::kError, "script-without-get-npc-count",
              "the script has no function get_npc_count: every encounter falls back to 1 NPC (or "
              "the leader's team size)");
        return;
    }
    CheckNpcCountAnswers(dir, file, definedAt, r);
}

}  // namespace check
}  // namespace tools
