// The exact odds of a resource folder as players meet them: every creator
// with its models and their draw chances, every model index with its NPC
// table and per-draw chances, fixed NPCs and the formation they fill. The
// studio, `diff` and their reports all read this one model.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "DataChecker.h"

namespace tools {

struct ModelOdds {
    ModelRow row;
    int hits = 0;          // of the 32768 draw values
    double chance = 0.0;   // exact chance that one model draw takes this row
    bool getsNpcs = true;  // filling the creator's candidates reaches this row's index
};

struct CreatorOdds {
    int creator = 0;
    TableSection section;
    std::vector<ModelOdds> models;  // in table order
    double missChance = 0.0;        // a model draw takes no row
    float sum = 0.0f;
    int fillStopLine = 0;  // the first row whose index has no NPC section; 0 when none
};

struct NpcOdds {
    NpcRow row;
    bool fixed = false;   // slot type 3: always joins at fixedSlot
    int fixedSlot = 0;    // truncated toward zero, as the plug-in does
    int hits = 0;         // drawn rows only
    double chance = 0.0;  // exact chance that one draw takes this row
};

struct IndexOdds {
    int index = 0;
    TableSection section;
    std::vector<NpcOdds> npcs;                // in table order, fixed and drawn
    double missChance = 0.0;                  // a draw takes no drawn row (1 when there is none)
    float sum = 0.0f;                         // of the drawn rows' weights
    std::array<std::vector<int>, 9> fixedAt;  // slot -> NPC configs fixed there
};

struct OddsModel {
    bool modelFileFound = false;
    bool npcFileFound = false;
    std::vector<CreatorOdds> creators;  // by creator number
    std::map<int, IndexOdds> indexes;   // model index -> its NPC table
};

// The odds of tables read by LoadCandidateTables, with ComputeDrawOdds.
OddsModel BuildOddsModel(const CandidateTables& tables);
OddsModel LoadOddsModel(const std::string& dir);

// Exact chance that each formation slot is taken in an encounter of
// npcCount NPCs drawn from this index (fixed NPCs included), following the
// plug-in: the first draw that finds nothing ends drawing, later ones are
// repeated, and every drawn NPC takes the free slot its type ranks first.
std::array<double, 9> SlotChances(const IndexOdds& index, int npcCount);

// Slot a drawn NPC of slotType takes when the slots in takenMask are taken.
int ChooseSlot(unsigned takenMask, int slotType);

}  // namespace tools
