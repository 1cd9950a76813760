// What a data change does to players: the exact odds of two folders side
// by side, creator by creator, model by model and NPC by NPC. `rulehost
// diff` prints it and the studio shows it against its baseline.
#pragma once

#include <string>
#include <vector>

#include "OddsModel.h"

namespace tools {

enum class DiffKind {
    kChance,         // an exact chance changed
    kField,          // a field players meet changed (description, index, slot, slot type)
    kAdded,          // a row only NEW has
    kRemoved,        // a row only OLD has
    kCandidates,     // a model index or a creator's model gained or lost NPC candidates
    kEncounterSize,  // the rules script answers another size for a team size
};
const char* DiffKindName(DiffKind kind);

struct DiffEntry {
    DiffKind kind = DiffKind::kChance;
    std::string file;  // where the row is written (OLD's for removed rows, NEW's otherwise)
    int line = 0;
    int creator = -1;     // the creator concerned, -1 for none
    int index = -1;       // the model index concerned, -1 for none
    std::string subject;  // UTF-8: "creator 1 model 1101 (Wolf pack)"
    double before = 0.0;  // chances, for kChance
    double after = 0.0;
    std::string beforeText;  // for the other kinds
    std::string afterText;
};

struct OddsDiff {
    std::vector<DiffEntry> entries;  // creators first, then model indexes, then sizes
    bool Changed() const { return !entries.empty(); }
};

// Encounter size the rules script answers per team size (1..5), as text
// ("3", "none", "2.5"); empty when the script cannot be asked.
using EncounterSizes = std::vector<std::string>;

OddsDiff DiffOdds(const OddsModel& before, const OddsModel& after,
                  const EncounterSizes& sizesBefore = {}, const EncounterSizes& sizesAfter = {});

// "60.000%"; chances are multiples of 1/32768, so three decimals tell any
// two of them apart.
std::string ChanceText(double chance);

std::string DiffLine(const DiffEntry& entry);
std::string DiffText(const OddsDiff& diff);
std::string DiffJson(const OddsDiff& diff, const std::string& oldDir, const std::string& newDir);
std::string DiffHtml(const OddsDiff& diff, const std::string& oldDir, const std::string& newDir);

}  // namespace tools
