// The two host modules the rule modules look up, with neutral answers: a host
// without teams or timed events registers these so every module's Init finds
// what it needs, and overrides only what it hosts.
#pragma once

#include "IHostModules.h"

namespace host {

// "TeamSystem" of a world without teams: every player stands alone (not in a
// team, not a leader, no leader name, no members).
class TeamSystemBase : public ITeamSystem {
public:
    bool IsTeamLeader(IKernel*, const ObjectId&) override { return false; }
    const char16_t* GetTeamLeaderName(IKernel*, const ObjectId&) override { return u""; }
    bool IsInTeam(IKernel*, const ObjectId&) override { return false; }
    int GetTeamMembers(IKernel*, const ObjectId&, IVarList&) override { return 0; }
};

// "EventTimeSystem" of a world without timed events: every time point is
// refused (false), so no command 326 ever arrives.
class EventTimeSystemBase : public IEventTimeSystem {
public:
    bool AddTimePointEvent(int, const char*, int, const IVarList&) override { return false; }
};

}  // namespace host
