// A stand-in plug-in with one creator whose version export answers
// TEST_PLUGIN_VERSION, for the loader's version check. Its creator marks the
// process environment when asked for a module, so a test sees whether the
// loader walked the list.
#include <cstdlib>

#include "IModuleCreator.h"

namespace {

IModuleCreator* g_head = nullptr;

class StandInModule : public IModule {};

class StandInCreator : public IModuleCreator {
public:
    StandInCreator() : IModuleCreator(g_head) {}
    const char* GetName() override { return "StandInModule"; }
    IModule* Create() override {
        setenv("GAMERULES_TEST_PLUGIN_CREATED", "1", 1);
        if (m_pModule == nullptr) m_pModule = new StandInModule;
        return m_pModule;
    }
};

StandInCreator g_creator;

}  // namespace

extern "C" __attribute__((visibility("default"))) uint32_t KvGameLogic_GetVersion() {
    return TEST_PLUGIN_VERSION;
}
extern "C" __attribute__((visibility("default"))) IModuleCreator* KvGameLogic_GetModuleCreator() {
    return g_head;
}
