#include "NpcCreatorSystem.h"

#include "Guard.h"
#include "Utility.h"

bool NpcCreatorSystem::Init(IKernel* kernel) {
    try {
        s_instance = this;
        s_teamSystem = static_cast<ITeamSystem*>(kernel->FindModule(TEAM_SYSTEM_MODULE_NAME));
        if (s_teamSystem != nullptr) return true;
        REPORT_ERROR(kernel, std::string("Not exist ") + TEAM_SYSTEM_MODULE_NAME + " module!");
    } catch (...) {
    }
    return false;
}

bool NpcCreatorSystem::AfterInit(IKernel* kernel) {
    (void)kernel;
    return true;
}
