#include "AutoTeamFarmSystem.h"

#include "Guard.h"
#include "Utility.h"

bool AutoTeamFarmSystem::Init(IKernel* kernel) {
    try {
        s_teamSystem = static_cast<ITeamSystem*>(kernel->FindModule(TEAM_SYSTEM_MODULE_NAME));
        if (s_teamSystem == nullptr) {
            REPORT_ERROR(kernel, std::string("Not exist ") + TEAM_SYSTEM_MODULE_NAME + " module!");
            return false;
        }
        s_instance = this;
        return true;
    } catch (...) {
    }
    return false;
}

bool AutoTeamFarmSystem::AfterInit(IKernel* kernel) {
    (void)kernel;
    return true;
}
