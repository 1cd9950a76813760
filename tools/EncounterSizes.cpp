// Asks a folder's rules script for the encounter size of every team size,
// with the arguments the plug-in passes (creator, player, team count).
#include "EncounterSizes.h"

#include <fmt/format.h>

#include <fstream>

#include "DataChecker.h"
#include "ScriptEngine.h"
#include "TextCodec.h"
#include "VarList.h"
#include "VarType.h"

namespace tools {

EncounterSizes EncounterSizesOf(const std::string& dir) {
    EncounterSizes out;
    if (!std::ifstream(WithSlash(dir) + "Rule/npc_creator.lua")) return out;
    host::ScriptEngine engine(WithSlash(dir));
    engine.SetLog([](const std::string&) {});
    for (int team = 1; team <= 5; ++team) {
        CVarList args;
        args.AddObject(ObjectId{1, 1});
        args.AddObject(ObjectId{2, 1});
        args.AddInt(team);
        CVarList results;
        if (!engine.Call("Rule\\npc_creator.lua", "get_npc_count", args, 1, results) ||
            results.GetCount() == 0) {
            // The plug-in then falls back to the team count.
            out.push_back(fmt::format("{} (no answer: the team count)", team));
        } else if (results.GetType(0) == VTYPE_INT) {
            out.push_back(std::to_string(results.IntVal(0)));
        } else if (results.GetType(0) == VTYPE_FLOAT) {
            out.push_back(ShortestFloatText(results.FloatVal(0)) +
                          " (not a whole number: read as 0)");
        } else {
            out.push_back("not a number (read as 0)");
        }
    }
    return out;
}

}  // namespace tools
