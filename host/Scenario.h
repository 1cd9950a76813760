// Scenario runner: `rulehost run FILE.lua`.
//
// A scenario is a Lua file that builds a world (scenes, creators, players,
// teams), acts on it (selects, commands, fight results, activity states, the
// virtual clock) and checks what happened (properties, records, the event
// log). The world runs the real rules plug-in on its own logic thread, so a
// scenario replays identically every time. docs/scenarios.md documents the
// Lua API.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace host {

struct ScenarioOptions {
    std::string file;          // the scenario
    std::string pluginPath;    // empty: setup{plugin=} or the built plug-in
    std::string resourceDir;   // empty: setup{resources=} or the project's resources
    std::string logFile;       // Trace and Echo lines (raw bytes) appended here
    std::string eventsFile;    // the whole event log written here at the end
    bool quiet = false;        // no Echo / host lines on the terminal
    std::FILE* out = nullptr;  // summary, say(), dump_events(); null = stdout
    std::FILE* err = nullptr;  // failure lines; null = stderr
};

struct ScenarioResult {
    // 0 every check passed; 1 a check failed or the scenario raised an
    // error; 3 the scenario or the plug-in could not be loaded or started.
    int exitCode = 0;
    int checks = 0;
    std::vector<std::string> failures;  // "FILE:LINE: message" (may span lines)
    size_t events = 0;                  // events in the log at the end
    int64_t virtualMs = 0;              // virtual clock at the end
    std::string summary;                // the one-line summary printed last
};

ScenarioResult RunScenario(const ScenarioOptions& options);

}  // namespace host
