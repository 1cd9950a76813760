// Host modules that the rule systems look up by name with IKernel::FindModule
// and cast to these interfaces. The host implements them; frozen ABI.
#pragma once

#include "IModule.h"
#include "IVarList.h"
#include "ObjectId.h"

class IKernel;

#define TEAM_SYSTEM_MODULE_NAME "TeamSystem"
#define EVENT_TIME_SYSTEM_MODULE_NAME "EventTimeSystem"

// "TeamSystem": team membership. Every operation takes the kernel and a player.
class ITeamSystem : public IModule {
public:
    virtual bool IsTeamLeader(IKernel* kernel, const ObjectId& player) = 0;
    // Wide Name of the leader of the player's team; empty without a team.
    // The text stays valid until the next call into the team module.
    virtual const char16_t* GetTeamLeaderName(IKernel* kernel, const ObjectId& player) = 0;
    virtual bool IsInTeam(IKernel* kernel, const ObjectId& player) = 0;
    // Fills members with the members' object ids and returns their count
    // (0 without a team).
    virtual int GetTeamMembers(IKernel* kernel, const ObjectId& player, IVarList& members) = 0;
};

// "EventTimeSystem": time points that come back, when due, as command 326 on
// scene objects with kind at index 1 and the given arguments after it.
class IEventTimeSystem : public IModule {
public:
    // Schedules the time point described by timeText; false when the text is
    // not understood. param is passed through unread.
    virtual bool AddTimePointEvent(int kind, const char* timeText, int param, const IVarList& args) = 0;
};
