// The scenario functions over the event log: filters, marks, listings and
// the expectations.
#include <string>
#include <vector>

#include "Gbk.h"
#include "ScenarioApiSupport.h"
#include "World.h"

namespace host {
namespace scenario_api {

namespace {

// ---- the event log -----------------------------------------------------------

struct Expectation {
    EventFilter filter;
    bool hasTargetName = false;
    std::string targetName;  // UTF-8
    bool hasText = false;
    std::string text;  // exact line text (raw bytes)
    bool hasArgs = false;
    std::vector<LuaVal> args;
    bool prefix = false;
    int count = -1;
    bool last = false;
    std::string description;
};

Expectation ReadExpectation(lua_State* L, int index, const char* what, const char* fixedKind) {
    Expectation x;
    if (lua_isnoneornil(L, index)) {
        if (fixedKind != nullptr) {
            ParseEventKind(fixedKind, x.filter.kind);
            x.filter.anyKind = false;
            x.description = fixedKind;
        } else {
            x.description = "any event";
        }
        return x;
    }
    Fields f(L, index, what,
             {"kind", "id", "from", "to", "name", "text", "contains", "since", "target_name",
              "args", "prefix", "count", "last"});
    std::string kind = fixedKind != nullptr ? fixedKind : f.Str("kind", "");
    if (fixedKind != nullptr && f.Has("kind")) {
        throw ApiError(std::string(what) + ": kind is fixed to " + fixedKind);
    }
    if (!kind.empty()) {
        if (!ParseEventKind(kind, x.filter.kind)) {
            throw ApiError(std::string(what) + ": unknown event kind '" + kind +
                           "' (command, command_by_name, command_offline, custom, sysinfo, "
                           "sysinfo_world, property, heartbeat_add, heartbeat_remove, "
                           "class_event, trace, echo, host, note)");
        }
        x.filter.anyKind = false;
    }
    x.description = kind.empty() ? "event" : kind;
    if (f.Has("id")) {
        x.filter.anyId = false;
        x.filter.id = f.Int("id", 0);
        x.description += " id " + std::to_string(x.filter.id);
    }
    if (f.Has("from")) {
        x.filter.anySender = false;
        x.filter.sender = f.Obj("from");
        x.description += " from " + ObjText(x.filter.sender);
    }
    if (f.Has("to")) {
        x.filter.anyTarget = false;
        x.filter.target = f.Obj("to");
        x.description += " to " + ObjText(x.filter.target);
    }
    x.filter.name = f.Str("name", "");
    if (!x.filter.name.empty()) x.description += " name \"" + x.filter.name + "\"";
    if (f.Has("text")) {
        x.hasText = true;
        x.text = f.Str("text", "");
        x.description += " text \"" + x.text + "\"";
    }
    x.filter.contains = f.Str("contains", "");
    if (!x.filter.contains.empty()) x.description += " containing \"" + x.filter.contains + "\"";
    if (f.Has("since")) {
        int type = f.Push("since");
        int ok = 0;
        lua_Integer since = lua_tointegerx(L, -1, &ok);
        lua_pop(L, 1);
        if (type != LUA_TNUMBER || !ok || since < 0) {
            throw ApiError(f.Name("since") + ": a mark() value expected");
        }
        x.filter.fromSeq = uint64_t(since);
    }
    if (f.Has("target_name")) {
        x.hasTargetName = true;
        x.targetName = f.Str("target_name", "");
        x.description += " for \"" + x.targetName + "\"";
    }
    int argsType = f.Push("args");
    if (argsType != LUA_TNIL) {
        if (argsType != LUA_TTABLE) {
            lua_pop(L, 1);
            throw ApiError(f.Name("args") + ": table expected");
        }
        x.hasArgs = true;
        int t = lua_gettop(L);
        lua_Integer n = luaL_len(L, t);
        for (lua_Integer i = 1; i <= n; ++i) {
            lua_rawgeti(L, t, i);
            try {
                x.args.push_back(ReadLuaVal(L, -1, "args entry"));
            } catch (...) {
                lua_pop(L, 2);
                throw;
            }
            lua_pop(L, 1);
        }
    }
    lua_pop(L, 1);
    x.prefix = f.Bool("prefix", false);
    if (f.Has("count")) x.count = f.Int("count", 0);
    x.last = f.Bool("last", false);
    if (x.hasArgs) {
        x.description += " args [";
        for (size_t i = 0; i < x.args.size(); ++i) {
            x.description += (i ? ", " : "") + FormatLuaVal(x.args[i]);
        }
        x.description += x.prefix ? ", ...]" : "]";
    }
    return x;
}

bool ArgsMatch(const Expectation& x, const Event& e) {
    if (x.hasTargetName && Utf16ToUtf8(e.targetName) != x.targetName) return false;
    if (x.hasText && e.text != x.text) return false;
    if (!x.hasArgs) return true;
    std::vector<Value> payload = EventPayload(e);
    if (x.prefix ? payload.size() < x.args.size() : payload.size() != x.args.size()) {
        return false;
    }
    for (size_t i = 0; i < x.args.size(); ++i) {
        if (!Matches(x.args[i], payload[i])) return false;
    }
    return true;
}

struct Found {
    std::vector<Event> matches;
    std::vector<std::string> near;  // same kind and id, for failure messages
};

Found Search(ScenarioRunner& r, const Expectation& x, bool wantNear) {
    return r.world().Call([&](Kernel& k) {
        Found found;
        for (const Event* e : k.log().Find(x.filter)) {
            if (ArgsMatch(x, *e)) found.matches.push_back(*e);
        }
        if (wantNear) {
            EventFilter loose;
            loose.anyKind = x.filter.anyKind;
            loose.kind = x.filter.kind;
            loose.anyId = x.filter.anyId;
            loose.id = x.filter.id;
            loose.fromSeq = x.filter.fromSeq;
            for (const Event* e : k.log().Find(loose)) found.near.push_back(e->ToString());
        }
        return found;
    });
}

std::string Listing(const std::vector<std::string>& lines, const char* title) {
    constexpr size_t kShown = 12;
    if (lines.empty()) return std::string("\n  ") + title + ": none";
    std::string out = std::string("\n  ") + title + ":";
    size_t start = lines.size() > kShown ? lines.size() - kShown : 0;
    if (start > 0) out += "\n    ... " + std::to_string(start) + " earlier";
    for (size_t i = start; i < lines.size(); ++i) out += "\n    " + lines[i];
    return out;
}

int Expect(ScenarioRunner& r, lua_State* L, const char* fixedKind) {
    Expectation x = ReadExpectation(L, 1, "expectation", fixedKind);
    Found found = Search(r, x, true);
    bool ok = x.count >= 0 ? int(found.matches.size()) == x.count : !found.matches.empty();
    if (!ok) {
        std::string msg = "expected " +
                          (x.count >= 0 ? std::to_string(x.count) + " x " : std::string()) +
                          x.description + ", found " + std::to_string(found.matches.size());
        if (!found.matches.empty() && x.count >= 0) {
            std::vector<std::string> lines;
            for (const Event& e : found.matches) lines.push_back(e.ToString());
            msg += Listing(lines, "matching");
        } else {
            msg += Listing(found.near, "events of that kind and id");
        }
        r.Check(L, false, msg);
        lua_pushnil(L);
        return 1;
    }
    r.Check(L, true, "");
    if (found.matches.empty()) {
        lua_pushnil(L);
    } else {
        PushEvent(L, x.last ? found.matches.back() : found.matches.front());
    }
    return 1;
}

int ApiExpectEvent(ScenarioRunner& r, lua_State* L) {
    return Expect(r, L, nullptr);
}
int ApiExpectCommand(ScenarioRunner& r, lua_State* L) {
    return Expect(r, L, "command");
}
int ApiExpectCustom(ScenarioRunner& r, lua_State* L) {
    return Expect(r, L, "custom");
}

int ExpectNone(ScenarioRunner& r, lua_State* L, const char* fixedKind) {
    Expectation x = ReadExpectation(L, 1, "expectation", fixedKind);
    Found found = Search(r, x, false);
    if (found.matches.empty()) {
        lua_pushboolean(L, r.Check(L, true, ""));
        return 1;
    }
    std::vector<std::string> lines;
    for (const Event& e : found.matches) lines.push_back(e.ToString());
    lua_pushboolean(L, r.Check(L, false,
                               "expected no " + x.description + ", found " +
                                   std::to_string(lines.size()) + Listing(lines, "matching")));
    return 1;
}

int ApiExpectNoEvent(ScenarioRunner& r, lua_State* L) {
    return ExpectNone(r, L, nullptr);
}
int ApiExpectNoCommand(ScenarioRunner& r, lua_State* L) {
    return ExpectNone(r, L, "command");
}

int ApiEvents(ScenarioRunner& r, lua_State* L) {
    Expectation x = ReadExpectation(L, 1, "filter", nullptr);
    Found found = Search(r, x, false);
    lua_createtable(L, int(found.matches.size()), 0);
    for (size_t i = 0; i < found.matches.size(); ++i) {
        PushEvent(L, found.matches[i]);
        lua_rawseti(L, -2, lua_Integer(i + 1));
    }
    return 1;
}

int ApiCountEvents(ScenarioRunner& r, lua_State* L) {
    Expectation x = ReadExpectation(L, 1, "filter", nullptr);
    lua_pushinteger(L, lua_Integer(Search(r, x, false).matches.size()));
    return 1;
}

int ApiMark(ScenarioRunner& r, lua_State* L) {
    lua_pushinteger(L, lua_Integer(r.world().Call([](Kernel& k) { return k.log().NextSeq(); })));
    return 1;
}

int ApiDumpEvents(ScenarioRunner& r, lua_State* L) {
    Expectation x = ReadExpectation(L, 1, "filter", nullptr);
    for (const Event& e : Search(r, x, false).matches) r.Say(e.ToString());
    return 0;
}

const ApiEntry kEventsApi[] = {
    {"events", Entry<ApiEvents>},
    {"count_events", Entry<ApiCountEvents>},
    {"mark", Entry<ApiMark>},
    {"dump_events", Entry<ApiDumpEvents>},
    {"expect_event", Entry<ApiExpectEvent>},
    {"expect_command", Entry<ApiExpectCommand>},
    {"expect_custom", Entry<ApiExpectCustom>},
    {"expect_no_event", Entry<ApiExpectNoEvent>},
    {"expect_no_command", Entry<ApiExpectNoCommand>},
};

}  // namespace

void RegisterEventsApi(lua_State* L) {
    SetGlobals(L, kEventsApi);
}

}  // namespace scenario_api
}  // namespace host
