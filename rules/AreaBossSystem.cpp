#include "AreaBossSystem.h"

#include "Guard.h"
#include "Utility.h"

bool AreaBossSystem::Init(IKernel* kernel) {
    try {
        s_eventTimeSystem =
            static_cast<IEventTimeSystem*>(kernel->FindModule(EVENT_TIME_SYSTEM_MODULE_NAME));
        if (s_eventTimeSystem == nullptr) {
            REPORT_ERROR(kernel,
                         std::string("Not exist ") + EVENT_TIME_SYSTEM_MODULE_NAME + " module!");
            return false;
        }
        LoadResource(kernel);
        return true;
    } catch (...) {
    }
    return false;
}

bool AreaBossSystem::AfterInit(IKernel* kernel) {
    (void)kernel;
    return true;
}

bool AreaBossSystem::LoadResource(IKernel* kernel) {
    (void)kernel;
    return false;
}

int AreaBossSystem::SetActivityState(void*, int state, const std::string& key) {
    auto it = s_stateTable.find(StringToInt(key));
    if (it != s_stateTable.end()) it->second = state;
    return 1;
}
