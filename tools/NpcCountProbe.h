// Asks the rules script's get_npc_count for the encounter size of every team size, through the
// reference host's real script engine, as the plug-in would ask it.
#pragma once

#include <string>
#include <vector>

namespace tools {

struct NpcCountAnswer {
    int teamSize = 1;        // 1: a player alone; 2..5: the leader of a team of that many members
    bool ok = false;         // the call ran and returned a value
    bool isInteger = false;  // the value is a Lua integer (or a float with an integral value)
    long long value = 0;     // the value when isInteger
    std::string text;        // the value, or the error / limit that stopped the script, as UTF-8
};

// Runs get_npc_count of "Rule\npc_creator.lua" in the resource directory dir through the
// reference host's real script engine, with the same arguments the plug-in passes, for a
// player alone and for team leaders of 2 to 5 members. Returns five answers (team sizes 1..5);
// an empty vector when the script file cannot be read.
std::vector<NpcCountAnswer> ProbeNpcCounts(const std::string& dir);

// "a player alone" or "the leader of a team of N".
std::string TeamSizeWho(int teamSize);

}  // namespace tools
