// Stand-ins for the game's own scripts: host command hooks (owner "standin",
// priority kPriority, so scenario or plug-in hooks with lower numbers run
// first) answering what the rules plug-in sends to the host's scripts.
//   976 on NpcCreator: answers 1 (select allowed).
//   995 on NpcCreator: answers 1 (model re-draws allowed).
//   997 on NpcCreator: noted in the event log.
//   432 on player:     noted in the event log.
//   1001 on player:    starts a simulated fight: a "Fight" object whose
//       HelperInfo is the creator at args[1], with a "LeftTeam" child (class
//       FightTeam) holding one PkMemberInfo row [side 0, member, Name] for
//       the player and, when the player leads a team, one per other member;
//       every member's Fighting is set to the fight. A previous fight of the
//       player is ended first.
// Any of them can be taken out (Disable) or overridden by a hook of lower
// priority number that answers first.
#pragma once

#include <map>
#include <string>

#include "HostVarList.h"
#include "Kernel.h"
#include "ObjectId.h"

namespace host {

class Kernel;
class TeamSystem;

class StandInScripts {
public:
    static constexpr int kPriority = 100;
    static constexpr const char* kOwner = "standin";

    StandInScripts(Kernel& kernel, TeamSystem* team);

    void Install();
    // Removes the stand-in hook of commandId; false when there was none.
    bool Disable(int commandId);

    // What the scenario actions "fight won" / "fight returned" do: command
    // 1018 / 1019 from the player to itself; then, when endFight is set, the
    // fight ends (members' Fighting cleared, fight object destroyed).
    // Returns the command's answer.
    int FightWon(const ObjectId& player, bool endFight = true);
    int FightReturned(const ObjectId& player, bool endFight = true);
    // Clears Fighting of everybody in player's fight and destroys it.
    void EndFight(const ObjectId& player);
    // Creates the fight of command 1001; null when player is dead.
    ObjectId StartFight(const ObjectId& player, const ObjectId& creator);

    uint64_t FightsStarted() const { return m_fightsStarted; }

private:
    Kernel& m_kernel;
    TeamSystem* m_team;
    std::map<int, int> m_handles;  // command id -> hook handle
    uint64_t m_fightsStarted = 0;
    // Kept from fight to fight: only the scene, the creator and the
    // container change (CreateObject reads them before any hook runs).
    ObjectSpec m_fightSpec;
    ObjectSpec m_teamSpec;
};

}  // namespace host
