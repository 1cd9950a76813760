// `rulehost demo`: a small sample world run on the real plug-in, printed as a
// readable timeline. Creators load and refresh, players select and fight, an
// area boss opens on its activity state and at its time point, and five
// players of one camp form a farm team.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tools {

struct DemoOptions {
    std::string pluginPath;
    std::string resourceDir;
    // Creator numbers (sections of Npc/ModelProb.ini); 0 or empty picks
    // them from the data: the first three sections for ordinary creators,
    // the last one for the farm and the one before it for the area boss.
    std::vector<int> creators;
    int boss = 0;
    int farm = 0;
    bool verbose = false;  // also every heartbeat attach and property change
};

struct DemoSummary {
    int selects = 0;
    int encounters = 0;    // encounter lists sent (command 1001)
    int fightsWon = 0;     // command 1018
    int modelNotices = 0;  // world notice "80000"
    int killNotices = 0;   // world notice "80001"
    int bossOpenings = 0;  // the boss became visible
    bool bossOpenedOnActivity = false;
    bool bossOpenedAtTimePoint = false;
    int farmTeamSize = 0;
    bool farmEncounter = false;  // the farm team's leader got the encounter
    int logLines = 0;            // lines the plug-in wrote to its log (Trace)
    int64_t virtualMs = 0;
    size_t events = 0;
    double seconds = 0.0;
    std::vector<std::string> missing;  // parts of the demo that did not happen
};

// Runs the demo, printing the timeline and the summary to out. Returns false
// (with why) when the world cannot be started.
bool RunDemo(const DemoOptions& options, std::FILE* out, DemoSummary& summary, std::string& why);

}  // namespace tools
