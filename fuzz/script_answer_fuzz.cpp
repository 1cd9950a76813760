// Arbitrary answers of the rules script "Rule\npc_creator.lua" through the
// host's Lua engine and the creator's encounter count: the input is decoded
// into a get_npc_count whose result has any type, size, nesting, error or
// count of values (or into a broken script), and a select must still send a
// sound encounter; a plain integer answer must come back as that count, held
// to the int range.
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "FuzzSupport.h"
#include "NpcCreatorSystem.h"
#include "ObjectStoreKernel.h"
#include "ScriptEngine.h"
#include "Utility.h"
#include "VarList.h"

namespace {

using fuzz::Bytes;
using fuzz::Check;

std::string Quoted(const std::string& bytes) {
    std::string s = "\"";
    for (unsigned char c : bytes) s += "\\" + std::to_string(c);
    return s + "\"";
}

std::string IntLiteral(int64_t v) {
    // The most negative integer has no positive literal to negate.
    return v == INT64_MIN ? "math.mininteger" : "(" + std::to_string(v) + ")";
}

// One Lua expression; depth bounds the nesting of tables.
std::string Value(Bytes& in, int depth) {
    static const char* const kNumbers[] = {"0.5",         "-0.5",         "(0/0)",   "math.huge",
                                           "-math.huge",  "2147483647.0", "2^31",    "-2^31",
                                           "(-2^31 - 1)", "2^53",         "1e300",   "-0.0",
                                           "3.0",         "(2^63)",       "math.pi", "1e-320"};
    const uint8_t op = in.Next();
    switch (op % 12) {
        case 0:
            return "nil";
        case 1:
            return (op & 0x10) != 0 ? "true" : "false";
        case 2:
            return IntLiteral(int8_t(in.Next()));
        case 3:
            return IntLiteral(in.Int64());
        case 4:
            return kNumbers[in.Next() % 16];
        case 5: {
            const size_t n = in.Next() % 24;
            std::string s;
            for (size_t i = 0; i < n; ++i) s += char(in.Next());
            return Quoted(s);
        }
        case 6: {
            if (depth >= 4) return "{}";
            std::string s = "{";
            const int n = in.Next() % 5;
            for (int i = 0; i < n; ++i) s += Value(in, depth + 1) + ",";
            return s + "}";
        }
        case 7:
            return "function() return 1 end";
        case 8:
            return "c";  // the creator's id as the script received it
        case 9:
            return "n";  // the team count
        case 10:
            return "string.rep(\"x\", " + std::to_string(int(in.Next()) * 997) + ")";
        default:
            return "setmetatable({}, {__tostring = function() error(\"deep\") end})";
    }
}

struct Script {
    std::string text;
    std::optional<int> exact;  // the count GetNpcCount must return
};

Script Build(Bytes& in) {
    Script out;
    const uint8_t form = in.Next();
    std::string body;
    switch (form % 8) {
        case 0:
        case 1: {
            // A single int answer, read back exactly.
            const int64_t v = (form % 8) == 0 ? int8_t(in.Next()) : in.Int64();
            // The engine holds integers outside the int range to its ends.
            out.exact = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : int(v);
            body = "return " + IntLiteral(v);
            break;
        }
        case 2:
        case 3: {
            const int n = in.Next() % 4;  // 0 values: a bare return
            body = "return ";
            for (int i = 0; i < n; ++i) body += (i != 0 ? ", " : "") + Value(in, 0);
            break;
        }
        case 4:
            body = "error(" + Value(in, 0) + ")";
            break;
        case 5:
            body = "while true do end";
            break;
        case 6:
            // Not a function at all, or no such function.
            out.text = (form & 0x80) != 0 ? "get_npc_count = " + Value(in, 0) + "\n" : "x = 1\n";
            return out;
        default:
            out.text = in.Rest();  // whatever the bytes say, likely broken Lua
            return out;
    }
    out.text = "function get_npc_count(c, p, n)\n  " + body + "\nend\n";
    return out;
}

const std::string& ResourceDir() {
    static const std::string dir = fuzz::MakeScratchFolder("script_answer_fuzz", "Rule");
    return dir;
}

host::ScriptEngine& Engine() {
    // Small limits keep a runaway answer cheap; the limits themselves are
    // what is under test, not their size.
    static host::ScriptEngine engine(ResourceDir(), host::ScriptLimits{200'000, 16u << 20});
    static const bool quiet = [] {
        engine.SetLog([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    return engine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in(data, size);
    const Script script = Build(in);
    fuzz::WriteFile(ResourceDir() + "Rule/npc_creator.lua", script.text.data(), script.text.size());
    host::ScriptEngine& engine = Engine();
    engine.Reload();

    ObjectStoreKernel world;
    world.k.On("RunScriptFunction", [&engine](Call& c) -> std::optional<Reply> {
        return Reply(engine.Call(c.args[0], c.args[1], *c.list, std::stoi(c.args[3]), *c.out));
    });
    NpcCreatorSystem::s_teamSystem = nullptr;
    ResetRandomState();

    // A creator with one fixed NPC and two weighted ones under index 7.
    const ObjectId c = world.Add(ObjectId{1, 7}, "Creator", 4);
    ObjectStoreKernel::Obj& o = world.At(c);
    for (const char* p : {"SelectCount", "Invisible", "CantVisible", "Index"}) o.props[p] = 0;
    o.props["SelectCount"] = 3;
    o.props["Index"] = 7;
    o.recs["ModelInfoRec"].rows.push_back({1201, 1.0f, std::string("wolf"), 7});
    o.recs["NPCInfoRec"].rows.push_back({7, 500, 4.9f, 3});
    o.recs["NPCInfoRec"].rows.push_back({7, 601, 0.5f, 0});
    o.recs["NPCInfoRec"].rows.push_back({7, 602, 0.5f, 2});
    const ObjectId player{900, 3};

    const int count = NpcCreatorSystem::GetNpcCount(&world.k, c, player);
    if (script.exact) Check(count == *script.exact);

    CVarList args;
    args.AddInt(1);
    NpcCreatorSystem::OnCreatorSelect(&world.k, c, player, args);
    const auto sent = world.CommandsWithId(1001);
    Check(sent.size() == 1);  // the fixed NPC always makes an encounter
    const IVarList& cmd = *sent[0]->list;
    Check(cmd.GetCount() >= 6 && (cmd.GetCount() - 4) % 2 == 0);
    const uint64_t pairs = (cmd.GetCount() - 4) / 2;
    Check(pairs <= 1 + uint64_t(kMaxEncounterDraws));
    Check(cmd.IntVal(3) >= 1 && uint64_t(cmd.IntVal(3)) >= pairs);
    for (uint64_t i = 5; i < cmd.GetCount(); i += 2)
        Check(cmd.IntVal(i) >= 0 && cmd.IntVal(i) < kFormationSlots);
    return 0;
}
