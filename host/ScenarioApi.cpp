// The Lua functions a scenario calls, registered section by section (one
// file each: ScenarioApiWorld, -Acting, -Reading, -Events, -Checks).
// docs/scenarios.md is their manual.
#include "ScenarioApi.h"

#include "ScenarioApiSupport.h"

namespace host {

void RegisterScenarioApi(lua_State* L) {
    scenario_api::RegisterValueWrappers(L);
    // Lua's own load stays reachable: the scenario load wraps it (prelude).
    lua_getglobal(L, "load");
    lua_setglobal(L, "__builtin_load");
    scenario_api::RegisterWorldApi(L);
    scenario_api::RegisterActingApi(L);
    scenario_api::RegisterReadingApi(L);
    scenario_api::RegisterEventsApi(L);
    scenario_api::RegisterChecksApi(L);
    scenario_api::RunPrelude(L);
}

}  // namespace host
