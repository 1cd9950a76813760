// Area boss system: boss points that open on activity states and time points,
// offer a limited number of fights per period and hide when those are used up.
#pragma once

#include <map>

#include "NpcCreatorSystem.h"

class AreaBossSystem : public NpcCreatorSystem {
public:
    bool Init(IKernel* kernel) override;
    bool AfterInit(IKernel* kernel) override;
    bool Shut() override { return true; }

    int SetActivityState(void* context, int state, const std::string& key) override;
    int ActivityHook1(void*) override { return 1; }
    int ActivityHook2(void*) override { return 1; }

    static bool LoadResource(IKernel* kernel);

    static int OnAreaBossCreatorLoad(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                                     const IVarList& args);
    static int OnAreaBossCreatorSelect(IKernel* kernel, const ObjectId& self,
                                       const ObjectId& sender, const IVarList& args);
    static int OnAreaBossNpcKilled(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                                   const IVarList& args);
    static int OnAreaBossSelectReturned(IKernel* kernel, const ObjectId& self,
                                        const ObjectId& sender, const IVarList& args);
    static int OnAreaBossTimePoint(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                                   const IVarList& args);
    static int WaitRefreshBossNPC(IKernel* kernel, const ObjectId& creator);
    static int PointTimeRefreshNPC(IKernel* kernel, const ObjectId& creator);
    static void AnnounceAreaBoss(IKernel* kernel, const ObjectId& creator);
    static bool IsSoloFighter(IKernel* kernel, const ObjectId& player);

    static IEventTimeSystem* s_eventTimeSystem;
    static int s_checkFrequency;
    static std::map<int, int> s_stateTable;  // AreaBossStateTable
};
