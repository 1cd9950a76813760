// The plug-in's two exports and its creator list.
//
// Every process-wide object of the rule systems is defined in this one file
// so that their construction order is the order written here: the area boss
// state table, then the three creators (each pushing itself in front of the
// list, so the list reads AutoTeamFarm -> AreaBoss -> NpcCreator), then the
// two probability tables. Static destruction runs in reverse.
#include <new>

#include "AreaBossSystem.h"
#include "AutoTeamFarmSystem.h"
#include "IModuleCreator.h"
#include "NpcCreatorSystem.h"

#define GAMELOGIC_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
IModuleCreator* g_creatorHead = nullptr;

template <typename Module>
class ModuleCreator final : public IModuleCreator {
public:
    ModuleCreator(IModuleCreator*& head, const char* name) : IModuleCreator(head), m_name(name) {}
    const char* GetName() override { return m_name; }
    IModule* Create() override {
        // Out of memory must not unwind into the host: it gets null, the field
        // stays null, and a later call may try again.
        if (m_pModule == nullptr) m_pModule = new (std::nothrow) Module();
        return m_pModule;
    }

private:
    const char* m_name;
};
}  // namespace

NpcCreatorSystem* NpcCreatorSystem::s_instance = nullptr;
ITeamSystem* NpcCreatorSystem::s_teamSystem = nullptr;
IEventTimeSystem* AreaBossSystem::s_eventTimeSystem = nullptr;
int AreaBossSystem::s_checkFrequency = 10;
AutoTeamFarmSystem* AutoTeamFarmSystem::s_instance = nullptr;

std::map<int, int> AreaBossSystem::s_stateTable;

using NpcCreatorSystemModuleCreator = ModuleCreator<NpcCreatorSystem>;
using AreaBossSystemModuleCreator = ModuleCreator<AreaBossSystem>;
using AutoTeamFarmSystemModuleCreator = ModuleCreator<AutoTeamFarmSystem>;

static NpcCreatorSystemModuleCreator g_npcCreatorSystemCreator(g_creatorHead, "NpcCreatorSystem");
static AreaBossSystemModuleCreator g_areaBossSystemCreator(g_creatorHead, "AreaBossSystem");
static AutoTeamFarmSystemModuleCreator g_autoTeamFarmSystemCreator(g_creatorHead,
                                                                   "AutoTeamFarmSystem");

ModelProbMap NpcCreatorSystem::s_modelProbTable;
CreatorProbMap NpcCreatorSystem::s_creatorProbTable;

GAMELOGIC_EXPORT uint32_t KvGameLogic_GetVersion() { return kGameLogicInterfaceVersion; }

GAMELOGIC_EXPORT IModuleCreator* KvGameLogic_GetModuleCreator() { return g_creatorHead; }
