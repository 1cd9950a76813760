// `rulehost simulate`: Monte Carlo of one creator's encounters through the
// real plug-in running in a host world, so what it counts is what players
// get. Every sample is one model re-draw of the creator (its model heartbeat)
// followed by one select by a player who leads a team of the given size.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DataChecker.h"

namespace tools {

struct SimulateOptions {
    std::string pluginPath;
    std::string resourceDir;
    int creator = 0;
    int64_t selects = 100000;
    int teamSize = 1;
    std::string commandLine;  // as typed, for the report's header
    // Called on the calling thread between batches of selects.
    std::function<void(int64_t done, int64_t total)> progress;
};

struct ModelStat {
    ModelRow row;
    double drawChance = 0.0;     // exact chance that one model draw takes this row
    double expectedShare = 0.0;  // long-run share of selects showing it (misses keep the model)
    int64_t count = 0;           // selects that found this model shown
};

struct NpcStat {
    int npcConfig = 0;
    int64_t appearances = 0;  // entries in all encounters sent
    int64_t selectsWith = 0;  // encounters holding it at least once
    bool fixed = false;       // joins as a fixed NPC in some model of the creator
};

// A draw that the data rules out, whatever the random numbers do.
struct ImpossibleDraw {
    std::string file;
    int line = 0;
    std::string what;  // UTF-8
};

struct SimulationResult {
    bool ok = false;
    std::string error;  // when !ok
    SimulateOptions options;
    double seconds = 0.0;     // wall-clock time of the selects
    double cpuSeconds = 0.0;  // CPU time the world thread spent on them

    std::vector<ModelStat> models;  // in table order
    double modelMissChance = 0.0;   // chance that a model draw takes no row
    int64_t otherModel = 0;         // selects showing a model not in the table (class default)

    int64_t nothingSent = 0;                  // selects that sent no encounter
    std::map<int, int64_t> encounterSizes;    // NPCs sent -> selects (0 included)
    std::map<int, int64_t> sizeFields;        // size field of the encounter list -> encounters
    std::vector<NpcStat> npcs;                // by config id
    std::array<int64_t, 9> slotEncounters{};  // encounters with the slot taken
    int64_t slotCollisions = 0;               // entries sent for a slot already taken
    int64_t slotOutOfRange = 0;               // entries with a slot outside 0 to 8
    int64_t encountersSent = 0;

    std::vector<ImpossibleDraw> impossible;  // from the tables (exact)
    std::vector<int> configsNotSeen;         // candidates of reachable models never sent

    // What the odds promise for NPCs (exact per draw), beside what was seen.
    // Drawn: each config's share of the NPCs drawn by weight; fixed: the
    // share of selects that show a model it joins.
    int64_t drawnEntries = 0;                  // entries drawn by weight (not fixed)
    std::map<int, int64_t> drawnCounts;        // config -> entries drawn by weight
    std::map<int, double> expectedDrawShare;   // config -> expected share of drawnEntries
    std::map<int, double> expectedFixedShare;  // config -> expected share of selects

    size_t startupTraceLines = 0;  // lines the plug-in logged while starting
    // Draws that can never happen or selects that sent nothing: the data
    // has a problem (the command then exits 1).
    bool FoundProblem() const { return !impossible.empty() || nothingSent > 0; }
};

SimulationResult RunSimulation(const SimulateOptions& options);

// Renderings of a result.
std::string SimulationTable(const SimulationResult& result);
std::string SimulationJson(const SimulationResult& result);
std::string SimulationHtml(const SimulationResult& result);

}  // namespace tools
