// get_npc_count asked for team sizes 1 to 5 through the host's script engine.
#include "NpcCountProbe.h"

#include <fstream>
#include <string>

#include "DataChecker.h"
#include "ScriptEngine.h"
#include "TextCodec.h"
#include "VarList.h"
#include "VarType.h"

namespace tools {

namespace {

constexpr const char* kRulesScript = "Rule\\npc_creator.lua";
constexpr int kLargestTeam = 5;

// The first line of an engine report: the message without its traceback.
std::string FirstLine(const std::string& text) {
    const size_t eol = text.find('\n');
    return eol == std::string::npos ? text : text.substr(0, eol);
}

NpcCountAnswer Describe(int teamSize, bool called, const CVarList& results,
                        const std::string& failure) {
    NpcCountAnswer a;
    a.teamSize = teamSize;
    if (!called) {
        // The engine's report starts "script NAME: get_npc_count: "; the rest is the reason.
        std::string why = FirstLine(failure);
        const std::string prefix = std::string("script ") + kRulesScript + ": get_npc_count: ";
        if (why.compare(0, prefix.size(), prefix) == 0) why = why.substr(prefix.size());
        a.text = ToUtf8(why);
        if (a.text.empty()) a.text = "the call failed";
        return a;
    }
    if (results.GetCount() == 0) {
        a.text = "nothing";
        return a;
    }
    a.ok = true;
    switch (results.GetType(0)) {
        case VTYPE_INT:
            a.isInteger = true;
            a.value = results.IntVal(0);
            a.text = std::to_string(a.value);
            break;
        case VTYPE_INT64:
            a.isInteger = true;
            a.value = results.Int64Val(0);
            a.text = std::to_string(a.value);
            break;
        case VTYPE_FLOAT:
            a.text = ShortestFloatText(results.FloatVal(0));
            break;
        case VTYPE_STRING:
            a.text = "the string '" + ToUtf8(results.StringVal(0)) + "'";
            break;
        case VTYPE_OBJECT:
            a.text = "an object id";
            break;
        default:
            a.text = "a value of another type";
            break;
    }
    return a;
}

}  // namespace

std::string TeamSizeWho(int teamSize) {
    if (teamSize <= 1) return "a player alone";
    return "the leader of a team of " + std::to_string(teamSize);
}

std::vector<NpcCountAnswer> ProbeNpcCounts(const std::string& dir) {
    std::string path = WithSlash(dir) + "Rule/npc_creator.lua";
    if (!std::ifstream(path, std::ios::binary)) return {};
    host::ScriptEngine engine(WithSlash(dir));
    std::string lastLog;
    engine.SetLog([&lastLog](const std::string& line) { lastLog = line; });
    std::vector<NpcCountAnswer> answers;
    for (int team = 1; team <= kLargestTeam; ++team) {
        // The plug-in passes the creator, the selecting player and the count
        // it would otherwise use: 1 alone, the member count for a leader.
        CVarList args;
        args.AddObject(ObjectId{1, 1});
        args.AddObject(ObjectId{2, 1});
        args.AddInt(team);
        CVarList results;
        lastLog.clear();
        const bool called = engine.Call(kRulesScript, "get_npc_count", args, 1, results);
        answers.push_back(Describe(team, called, results, lastLog));
    }
    return answers;
}

}  // namespace tools
