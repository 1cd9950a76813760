// The check of each resource file, as run by CheckResources: each reports what the plug-in
// would silently do with the mistakes in its file.
#pragma once

#include <string>

#include "CheckReporting.h"

namespace tools {
namespace check {

// "Npc\ModelProb.ini" and "Npc\CreatorProb.ini": reads both tables as the plug-in fills them;
// with r, reports what their reader and conversions make of every row.
CandidateTables ReadTables(const std::string& dir, Reporter* r);
// The draw odds of each creator's models and each model index's NPCs.
void CheckModelWeights(const CandidateTables& t, Reporter& r);
void CheckNpcWeights(const CandidateTables& t, Reporter& r);
// Model indexes without NPC sections, and NPC sections no model uses.
void CheckCrossReferences(const CandidateTables& t, Reporter& r);

// "Npc\NpcCreatorRefresh.ini": the area boss check frequency.
void CheckRefreshFile(const std::string& dir, Reporter& r);

// "Struct/NPC/NpcCreator.xml": the properties and records the rule systems use.
void CheckClassFile(const std::string& dir, const CandidateTables& tables, Reporter& r);

// "Rule\npc_creator.lua": get_npc_count as the plug-in calls it.
void CheckRulesScript(const std::string& dir, Reporter& r);

}  // namespace check
}  // namespace tools
