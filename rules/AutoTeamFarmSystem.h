// Auto team farm system: same-camp players sign up at a farm object, the team
// module gathers them, and a full team's leader gets the farm's encounter.
#pragma once

#include <string>
#include <vector>

#include "NpcCreatorSystem.h"

class AutoTeamFarmSystem : public NpcCreatorSystem {
public:
    bool Init(IKernel* kernel) override;
    bool AfterInit(IKernel* kernel) override;
    bool Shut() override { return true; }

    bool CanJoin(IKernel* kernel, const ObjectId& player, const ObjectId& farm);
    void CollectSameCampNames(IKernel* kernel, const ObjectId& player, const ObjectId& farm,
                              std::vector<std::u16string>& names);
    void JoinFarm(IKernel* kernel, const ObjectId& player, const ObjectId& farm,
                  const std::vector<std::u16string>& names);
    void RemoveFromFarm(IKernel* kernel, const ObjectId& player);
    void QuitFarm(IKernel* kernel, const ObjectId& player);

    static int OnPlayerStore(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                             const IVarList& args);
    static int OnPlayerLeave(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                             const IVarList& args);
    static int OnCommand742(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                            const IVarList& args);
    static int OnCommand1002(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                             const IVarList& args);
    static int OnCommand141(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                            const IVarList& args);
    static int OnJoinRequest(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                             const IVarList& args);
    static int OnQuitRequest(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                             const IVarList& args);
    static int H_WaitLaunchFight(IKernel* kernel, const ObjectId& player);

    static AutoTeamFarmSystem* s_instance;
};
